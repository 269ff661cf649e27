// The full program's answers at the seams: it knows the TLS words, names
// libcrypto in its banner, signs with DKIM, and encrypts and decrypts
// passwords.
#include "cli/seam.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <openssl/crypto.h>
#include <string>

#include "cli/cli.h"
#include "cli/exitcode.h"
#include "cli/password.h"
#include "dkim/dkim.h"
#include "mail/addr.h"
#include "mail/option.h"
#include "support/file.h"

int cli_seam_knows_full_words(void) { return 1; }

const char *cli_seam_crypto_version(void) { return OpenSSL_version(OPENSSL_VERSION); }

void cli_seam_dkim_on(MailContext *ctx)
{
    mail_set_option_basic(ctx, MAILOPT_DKIM, nullptr, nullptr, nullptr);
}

int cli_seam_dkim_add_key(MailContext *ctx, const char *value, const char **why)
{
    // domain ":" selector ":" key file; the path is the rest of the value.
    const char *c1 = strchr(value, ':');
    const char *c2 = c1 ? strchr(c1 + 1, ':') : nullptr;
    if (!c1 || !c2 || c1 == value || c2 == c1 + 1 || !c2[1]) {
        *why = "expected domain:selector:keyfile";
        return 0;
    }
    std::string domain(value, c1), selector(c1 + 1, c2);
    FILE *fp = file_fopen_utf8(c2 + 1, "rb");
    if (!fp) {
        *why = "the key file cannot be opened";
        return 0;
    }
    // Read with a bound: a key file is a few kilobytes, and a huge file
    // named by mistake must not be taken into memory whole.
    std::string pem(DKIM_KEY_TEXT_MAX + 1, '\0');
    size_t len = fread(pem.data(), 1, pem.size(), fp);
    bool failed = ferror(fp) != 0;
    fclose(fp);
    if (failed) {
        *why = "the key file cannot be read";
        return 0;
    }
    if (len > DKIM_KEY_TEXT_MAX || memchr(pem.data(), '\0', len)) {
        *why = "the key file is not a PEM key (too large, or NUL bytes)";
        return 0;
    }
    pem.resize(len);
    // A key that fits none of the algorithms chosen so far would sign
    // nothing: an error now rather than an unsigned message later.
    int type = dkim_key_type(pem.c_str(), why);
    if (type && ctx->dkim_algorithms) {
        bool fits = false;
        for (int alg = DKIM_ALG_RSA_SHA1; alg <= DKIM_ALG_ED25519_SHA256; alg <<= 1)
            if ((ctx->dkim_algorithms & (alg << 8)) && dkim_alg_key_type(alg) == type)
                fits = true;
        if (!fits) {
            *why = "the key's type fits none of the chosen DKIM algorithms";
            return 0;
        }
    }
    // The registry keeps a domain in its ASCII form, the form in which the
    // sender's domain is looked up and d= is written: an internationalised
    // domain is converted label by label. A domain that the conversion
    // cannot take whole (a label that is no UTF-8, an empty label) goes to
    // the registry as it stands, which refuses it.
    char ascii[ADDR_BUF_SIZE];
    const char *name = domain.c_str();
    if (addr_idn_domain(name, ascii, sizeof ascii) &&
        std::count(ascii, ascii + strlen(ascii), '.') == std::count(domain.begin(), domain.end(), '.'))
        name = ascii;
    DkimKeyDomain *d = type ? dkim_keys_add(&dkim_keys_root, name, selector.c_str(), pem.c_str(), why) : nullptr;
    if (!d)
        return *why == dkim_error_nomem ? -1 : 0;
    // The session borrows the registry's root as it stands.
    ctx->dkim_keys = dkim_keys_root;
    if (!mail_set_option_basic(ctx, MAILOPT_DKIM, nullptr, nullptr, nullptr)) {
        *why = "signing could not be switched on";
        return mail_error_is_nomem(ctx) ? -1 : 0;
    }
    return 1;
}

void cli_seam_dkim_free(void) { dkim_keys_free(&dkim_keys_root); }

int cli_seam_decrypt_password(const char *text, char *out)
{
    static_assert(size_t(CLI_DECRYPTED_SIZE) >= size_t(PW_OUT_SIZE), "room for a decrypted password");
    return pw_decrypt(text, out);
}

int cli_seam_encrypt_password(const char *password, int bind, int *status)
{
    int printed = pw_encrypt_print(password, bind);
    if (printed == 0)
        cli_error("Failed to encrypt password: a password of more than %d bytes does not fit\n",
                  static_cast<int>(PW_TEXT_MAX));
    *status = printed == 1 ? EXIT_OK : EXIT_USAGE;
    return 1;
}
