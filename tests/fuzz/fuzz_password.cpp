// Encrypted passwords, the text a configuration file or a command line
// holds: any text decrypts to a clean password or to nothing at all, and a
// clean password encrypts (bound or not) to a text that gives it back.
#include <string>

#include "cli/password.h"
#include "fuzz.h"

namespace {

// This computer's identifier, fixed so that bound texts read back.
int fixed_guid(char *out, size_t size)
{
    static const char guid[] = "3d1219c7-c4c5-404a-aa1f-6d2a48adfda4";
    if (size < sizeof guid)
        return 0;
    memcpy(out, guid, sizeof guid);
    return 1;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    pw_machine_guid = fixed_guid;
    // The input as a text: "$" is put in front of half of them, so that the
    // engine reaches the decryption quickly.
    std::string text(reinterpret_cast<const char *>(data), size);
    text = text.substr(0, text.find('\0'));
    for (const std::string &t : {text, "$" + text}) {
        char out[PW_OUT_SIZE];
        memset(out, 'x', sizeof out);
        int r = pw_decrypt(t.c_str(), out);
        FUZZ_CHECK(r >= PW_CIPHER_FAILED && r <= PW_DECRYPTED);
        if (r == PW_DECRYPTED)
            FUZZ_CHECK(strlen(out) <= PW_PASSWORD_MAX && pw_text_ok(out, strlen(out)));
        else
            FUZZ_CHECK(out[0] == 0);
    }

    // The input as a password: what can be a password round-trips, the
    // rest is refused with a reason and no text.
    for (int bind = 0; bind <= 1; bind++) {
        char enc[PW_OUT_SIZE], back[PW_OUT_SIZE];
        const char *why = nullptr;
        int made = pw_encrypt(reinterpret_cast<const char *>(data), size, bind, enc, &why);
        FUZZ_CHECK(made == (size <= PW_PASSWORD_MAX && pw_text_ok(reinterpret_cast<const char *>(data), size)));
        if (!made) {
            FUZZ_CHECK(why && *why && enc[0] == 0);
            continue;
        }
        FUZZ_CHECK(pw_decrypt(enc, back) == PW_DECRYPTED);
        FUZZ_CHECK(strlen(back) == size && memcmp(back, data, size) == 0);
    }
    return 0;
}
