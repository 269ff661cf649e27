// The exit statuses of a run, as main returns them (the process exits with
// plat_exit_status of the value). Every caller names them from here.
#pragma once

enum {
    EXIT_OK = 0,              // message delivered or output file written
    EXIT_USAGE = 1,           // usage, configuration, consistency, credentials; delivery failed without a reply code
    EXIT_UNKNOWN_OPTION = 2,  // an unknown option word or DKIM choice; an argument without "-"
    EXIT_FILE_NOT_WRITTEN = 3, // File mode: the output file was not written
    EXIT_INPUT_FILE = 10,     // attachment, body, recipient, message, key or wildcard file unusable
    EXIT_NOMEM_CAPABILITIES = 11, // memory ran out storing the server's AUTH capabilities
    EXIT_READ_ERROR = 12,     // a read error while encoding a body or attachment
    EXIT_NOMEM = 666,         // memory ran out
    EXIT_NO_TLS_CONTEXT = 667, // no TLS context could be created
    EXIT_NO_SESSION = -1,     // the mail session could not be created
};
