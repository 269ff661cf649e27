// Server replies: the input, cut at CR LF, is read as the lines of one reply
// and as EHLO capability lines. A reply ends at its first final or bad line
// and never takes more lines than its cap; a final line's code is its three
// digits; EHLO lines set only capability bits, and AUTH bits only for a
// user. The last line, as a CRAM-MD5 challenge, gives a response of the
// user name and 32 hex digits or a refusal.
#include <string>
#include <vector>

#include "fuzz.h"
#include "mail/session.h"
#include "smtp/proto.h"
#include "support/encode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput in(data, size);
    const uint32_t no_mask = in.byte() & 1 ? MAILF_NO_CRAM_MD5 | MAILF_NO_LOGIN : 0;
    std::string text = in.rest();
    std::vector<std::string> lines;
    for (size_t at = 0;;) {
        size_t end = text.find("\r\n", at);
        lines.push_back(text.substr(at, end == std::string::npos ? std::string::npos : end - at));
        if (end == std::string::npos)
            break;
        at = end + 2;
    }

    SmtpReplyState st{};
    size_t taken = 0;
    for (const std::string &line : lines) {
        const char *error = nullptr;
        int kind = smtp_reply_feed(&st, line.data(), line.size(), &error);
        taken++;
        FUZZ_CHECK(taken <= SMTP_REPLY_LINES_MAX + 1);
        if (kind == SMTP_LINE_BAD) {
            FUZZ_CHECK(error && *error);
            break;
        }
        FUZZ_CHECK(line.size() >= 3 && st.code == std::stoi(line.substr(0, 3)));
        if (kind == SMTP_LINE_FINAL)
            break;
        FUZZ_CHECK(kind == SMTP_LINE_MORE && line[3] == '-');
    }

    for (int have_user = 0; have_user < 2; have_user++) {
        SmtpEhloOffer offer{};
        for (const std::string &line : lines)
            smtp_ehlo_parse_line(&offer, line.data(), line.size(), have_user, no_mask);
        FUZZ_CHECK((offer.flags & ~uint32_t(MAILF_AUTH_MASK | MAILF_SERVER_DSN)) == 0);
        FUZZ_CHECK((offer.flags2 & ~uint32_t(MAILF2_SERVER_SMTPUTF8)) == 0);
        FUZZ_CHECK(have_user || (offer.flags & MAILF_AUTH_MASK) == 0);
        FUZZ_CHECK((offer.flags & (MAILF_AUTH_CRAM_MD5 | MAILF_AUTH_LOGIN)) == 0 || !no_mask);
    }

    const std::string &challenge = lines.back();
    SecretText response;
    const char *error = nullptr;
    if (smtp_sasl_cram_md5("user", "password", challenge.data(), challenge.size(), &response, &error)) {
        std::string decoded(b64_decoded_max(response.size()), '\0');
        decoded.resize(b64_decode(response.data(), static_cast<ptrdiff_t>(response.size()),
                                  reinterpret_cast<unsigned char *>(decoded.data())));
        FUZZ_CHECK(decoded.size() == 5 + 32 && decoded.compare(0, 5, "user ") == 0);
        FUZZ_CHECK(decoded.find_first_not_of("0123456789abcdef", 5) == std::string::npos);
    } else {
        FUZZ_CHECK(error && *error && response.size() == 0);
    }
    return 0;
}
