// Reading addresses out of text: recipient list files (one mailbox after
// another, separated by commas, blanks or line ends) and the header block
// of a ready message file (its To, Cc, Bcc and From fields). Each grammar
// has its own file: mail/scan_list.cpp the list file's, mail/scan_header.cpp
// the header block's and RFC 5322's address list; mail/scan.cpp holds the
// session's scans that read the files and take what they find.
//
// The list scanner is a finite automaton on bytes driven by tables: a
// class for every byte and a next state for every state and class. Every
// scan keeps its whole state in its own call, so scans may nest and run on
// several threads at once. The scanners never read past the length they
// are given and never allocate; callbacks get pointers into the scanned
// text (or, for an address of a header field, into the scan's own buffer)
// and must copy what they keep.
//
// Mailbox grammar of a list file (bytes):
//   mailbox       = address | "<" address ">" | display-name "<" address ">"
//   address       = local-part "@" domain
//   local-part    = 1*(RFC 5322 atext | "." | 0x80 | 0x99 | 0xE2)
//   domain        = label 1*("." label)      (an empty label is refused)
//   label         = 1*63(ALPHA | DIGIT | "-")
//   display-name  = 1*(atext | "." | SP | TAB | quoted-string)
//   quoted-string = DQUOTE *(any byte but DQUOTE and line ends) DQUOTE
// A comma outside a quoted string and angle brackets separates mailboxes.
//
// A header field is read by the address-list grammar of RFC 5322 with the
// UTF-8 of RFC 6532 (every byte of 0x80 and above is atom text): comments,
// nested and with quoted pairs, and folded line breaks wherever white
// space may stand; quoted strings; domain literals; groups, whose members
// are the items ("undisclosed-recipients:;" has none); the obsolete forms
// of empty list elements, routes in angle addresses and words joined by
// dots across white space. A display name may also hold unquoted commas,
// as in "Doe, Jane <j@example.org>": a list element of words alone goes on
// into the next one, which must be an angle address with a name of its
// own.
#pragma once

#include <cstddef>

#include "mail/lists.h"
#include "mail/session.h"

// One mailbox: address (not terminated) and its display name as it stands
// in the text (quotes and trailing blanks included; name_len 0 for none).
// A nonzero return takes the item; 0 refuses it (the list scanner then
// stops and reports the item's line).
typedef int (*AddrScanFn)(void *user, const char *address, size_t address_len, const char *name,
                          size_t name_len);

// One header field: its name and its value (after the colon and the blanks
// that follow it, up to the line end that closes the field, folded line
// breaks kept).
typedef void (*HeaderFieldFn)(void *user, const char *name, size_t name_len, const char *value,
                              size_t value_len);

// Scans a recipient list of len bytes. 1 when every item was read and
// taken; 0 at the first item that does not fit the grammar or that fn
// refuses, with *bad_line its line (counted from 1; LF, CR LF and a lone
// CR end a line). The items before it have been handed to fn.
int addr_scan_list(void *user, const char *text, size_t len, AddrScanFn fn, size_t *bad_line);

// Where a header field could not be read: the item (the list element, up
// to the next comma or the end of the field) and why (a static text; NULL
// when the callback refused the item).
struct AddrFieldError {
    const char *at;
    size_t len;
    const char *why;
};

// Scans one header field value (as addr_scan_header hands it over) by the
// address-list grammar, folded line breaks kept in the value. Each mailbox
// is handed to fn once it has been read to its comma or the end of the
// value: the address as it goes into the envelope (its words and dots
// without the comments and white space between them; quoted strings and
// literals as written, their folded line breaks left out; at most 255
// bytes), in a buffer of the scan's own; the display name as it stands in
// the text, up to its "<" (name_len 0 for none). 1 when the whole value
// was read and every item taken; 0 at the first item that does not fit the
// grammar or that fn refuses, with *error saying where and why (the items
// before it have been handed to fn).
int addr_scan_field(void *user, const char *value, size_t len, AddrScanFn fn, AddrFieldError *error);

// How a header-block scan ended.
enum {
    HDR_SCAN_BLANK_LINE = 1, // at the empty line that ends the header block
    HDR_SCAN_TEXT_END = 2,   // the text ended inside the header block
};

// Calls fn for every field of the header block at the start of text (len
// bytes), in order, repeated fields included; a field whose value runs to
// the end of the text is handed over too. A field is a line with a colon
// that does not begin with a blank: its name is the text before the colon
// without the blanks before it (empty for a line that begins with the
// colon), its value runs on over the folded lines that follow. Lines that
// are no field (a continuation line before the first field, a line
// without a colon) are passed over with their continuation lines, as the
// preconstructed writer leaves them out; the scan goes on after them.
// *header_len, when given, gets the bytes scanned (up to, not including,
// the empty line).
int addr_scan_header(void *user, const char *text, size_t len, HeaderFieldFn fn,
                     size_t *header_len = nullptr);

// Finds the empty line that ends a header block in a text fed slice by
// slice, by the rule of addr_scan_header: a line end (LF, CR LF or a lone
// CR) where a line begins. A CR LF may be cut between two slices.
class HeaderBlockEnd {
public:
    // Feeds the next n bytes; true, with *at the offset of the empty line
    // from the start of the text, once it has come (then feed no more).
    bool feed(const char *data, size_t n, size_t *at);

private:
    bool line_start_ = true;
    bool after_cr_ = false;
    size_t seen_ = 0;
};

// The display name as the callbacks keep it: trailing SP, TAB and NUL
// dropped, then one pair of enclosing double quotes, then folded line
// breaks (CR and LF bytes) removed. Returns the new length; the bytes are
// rewritten in place within name.
size_t addr_trim_name(char *name, size_t len);

// The callbacks the session's scans use, for scans of a caller's own.
// Each mailbox's display name is trimmed (addr_trim_name); an address of
// more than 255 bytes, or a name of more than 255 bytes after trimming, is
// refused.
// The list scanner's: user is a Recipient ** list; the mailbox is pushed
// in front of it (the name header-encoded). 0 when it cannot be added.
int addr_list_add_scanned(void *user, const char *address, size_t address_len, const char *name,
                          size_t name_len);
// The session's own takers of header-field mailboxes, user the session: a
// To, Cc or Bcc recipient, or the sender, set through the session's option
// door (so checked as any address option). 0, with the reason in the
// session, when the session refuses it; nothing is taken once memory has
// run out (the session's mark stays).
int addr_take_to(void *user, const char *address, size_t address_len, const char *name, size_t name_len);
int addr_take_cc(void *user, const char *address, size_t address_len, const char *name, size_t name_len);
int addr_take_bcc(void *user, const char *address, size_t address_len, const char *name, size_t name_len);
int addr_take_from(void *user, const char *address, size_t address_len, const char *name, size_t name_len);

// A new copy of at most length bytes of text (up to its NUL) with its
// folds undone: a LF or CR LF followed by a SP or TAB is left out together
// with that one blank; a line break at the very end is left out; every
// other byte is kept. NULL when memory runs out; free() the copy.
char *addr_unfold(const char *text, size_t length);

// Caps of what the session reads to scan: a longer text is refused.
enum : size_t {
    ADDR_LIST_FILE_MAX = 16u << 20,   // a recipient list file
    ADDR_HEADER_SCAN_MAX = 4u << 20, // the header block of a message file (before its empty line)
};

// The session's scans (the full program's seam calls these). Each returns
// 1, or 0 with the reason in the session's error text.
// Every mailbox of the recipient list file at path pushed in front of *list;
// a list with an item that cannot be read or added changes nothing.
int addr_scan_recipient_file(MailContext *ctx, Recipient **list, const char *path);
// To and Cc (and Bcc, which only the envelope carries) from the header of
// the session's message file when recipients is nonzero; the sender from
// its (last) From mailbox when sender is nonzero. The header is read up to
// its empty line (or the end of the file), however long, up to
// ADDR_HEADER_SCAN_MAX; the body is never read. Every field is read whole
// before anything is taken: a field that cannot be read, or a mailbox the
// session refuses, fails the scan with the field and the item named, and
// the sender and lists stay as they were.
int addr_scan_message_file(MailContext *ctx, int recipients, int sender);
