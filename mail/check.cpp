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
