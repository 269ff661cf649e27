// The validation door for raw header and command text.
#include "mail/check.h"

#include <cstring>

int text_is_clean_n(const char *text, size_t len, int tab_rule)
{
    if (!text)
        return 1;
    for (size_t i = 0; i < len; i++) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\t' && tab_rule == TEXT_ALLOW_TAB)
            continue;
        if (c < 0x20 || c == 0x7f)
            return 0;
    }
    return 1;
}

int text_is_clean(const char *text, int tab_rule)
{
    return text ? text_is_clean_n(text, strlen(text), tab_rule) : 1;
}

int text_is_visible_ascii(const char *text, int colon_allowed)
{
    if (!text || !*text)
        return 0;
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p; p++) {
        if (*p < 33 || *p > 126 || (*p == ':' && !colon_allowed))
            return 0;
    }
    return 1;
}
