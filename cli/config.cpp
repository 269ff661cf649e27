// Configuration files: one option word per line, exactly as on the command
// line but without the leading "-", applied through the same dispatcher.
// Lines beginning with "#" are comments; a UTF-8 byte-order mark is skipped.
#include "cli/cli.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/platform.h"
#include "support/file.h"
#include "support/str.h"

int cfg_read_file(MailContext *ctx, const char *path)
{
    FILE *fp = file_fopen_utf8(path, "r");
    if (!fp)
        return 0;
    size_t len = 0;
    // Every line end becomes CR LF, so the lines split on one delimiter set.
    std::unique_ptr<char, decltype(&free)> text(file_read_text_crlf(fp, &len), free);
    fclose(fp);
    // A file that cannot be read whole applies nothing: half a
    // configuration is never taken for the whole one.
    if (!text)
        return 0;
    // A NUL byte would end a line early and lose what follows it.
    if (memchr(text.get(), 0, len)) {
        cli_error("NUL byte in configuration file %s\n", cli_printable(path).c_str());
        plat_exit(1);
    }
    char *start = text.get();
    if (len >= 3 && memcmp(start, "\xEF\xBB\xBF", 3) == 0)
        start += 3;
    char *cursor = nullptr;
    for (char *line = str_token(start, "\r\n", &cursor); line;
         line = str_token(nullptr, "\r\n", &cursor)) {
        // Only the first byte makes a comment; lines are taken as they
        // stand, blanks included.
        if (line[0] == '#')
            continue;
        cli_apply_option(ctx, line);
    }
    return 1;
}
