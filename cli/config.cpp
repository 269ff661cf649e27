// Configuration files: one option word per line, exactly as on the command
// line but without the leading "-", applied through the same dispatcher.
// Lines beginning with "#" are comments; a UTF-8 byte-order mark is skipped.
#include "cli/cli.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "cli/exitcode.h"
#include "support/file.h"
#include "support/str.h"

SecretText cli_read_text(FILE *fp, size_t cap, int *why)
{
    size_t len = 0;
    char *text = file_read_text_crlf(fp, &len, why, cap, true);
    return SecretText::adopt(text, len);
}

int cfg_apply_file(MailContext *ctx, const char *path, int *status)
{
    *status = EXIT_OK;
    FILE *fp = file_fopen_utf8(path, "r");
    if (!fp)
        return 0;
    // The text may hold passwords (-host:): it is wiped when it goes. A
    // file that cannot be read whole applies nothing: half a configuration
    // is never taken for the whole one.
    int why = STR_READ_OK;
    SecretText text = cli_read_text(fp, CFG_FILE_MAX, &why);
    fclose(fp);
    switch (why) {
    case STR_READ_OK:
        break;
    case STR_READ_NOMEM:
        cli_error("Out of memory reading configuration file %s\n", cli_printable(path).c_str());
        *status = EXIT_NOMEM;
        return 1;
    case STR_READ_TOO_BIG:
        cli_error("Configuration file %s is too large, more than %d MiB\n", cli_printable(path).c_str(),
                  int(CFG_FILE_MAX >> 20));
        *status = EXIT_USAGE;
        return 1;
    case STR_READ_NUL:
        // A NUL byte would end a line early and lose what follows it.
        cli_error("NUL byte in configuration file %s\n", cli_printable(path).c_str());
        *status = EXIT_USAGE;
        return 1;
    default:
        return 0;
    }
    char *start = text.data();
    if (text.size() >= 3 && memcmp(start, "\xEF\xBB\xBF", 3) == 0)
        start += 3;
    char *cursor = nullptr;
    // Line numbers count every line end: the text's are all CR LF, and
    // the tokenizer ends a line at its CR, leaving the LF to be counted.
    const char *counted = start;
    size_t number = 1;
    for (char *line = str_token(start, "\r\n", &cursor); line;
         line = str_token(nullptr, "\r\n", &cursor)) {
        for (; counted < line; counted++)
            number += *counted == '\n';
        // Only the first byte makes a comment; lines are taken as they
        // stand, blanks included. The first refused line ends the file.
        if (line[0] == '#')
            continue;
        // A message about the line names the file and the line.
        std::string origin = cli_printable(path) + ":" + std::to_string(number);
        cli_set_message_origin(origin.c_str());
        *status = cli_option_status(ctx, line);
        cli_set_message_origin(nullptr);
        if (*status != EXIT_OK)
            break;
    }
    return 1;
}

int cfg_read_file(MailContext *ctx, const char *path)
{
    int status;
    if (!cfg_apply_file(ctx, path, &status))
        return 0;
    if (status != EXIT_OK)
        cli_end_run(ctx, status);
    return 1;
}
