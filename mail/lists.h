// What a session can have many of: recipients (three singly linked lists,
// newest first), attachments and header fields (ListLink lists, written in
// the order of addition). Constructors copy what they are given and refuse
// text that could break a header line; the lists belong to their session.
#pragma once

#include <cstddef>

#include "support/linklist.h"

// DSN NOTIFY bits of a recipient (and, shifted by 9, of the session).
enum {
    MAIL_NOTIFY_NEVER = 1,   // N
    MAIL_NOTIFY_SUCCESS = 2, // S
    MAIL_NOTIFY_FAILURE = 4, // F
    MAIL_NOTIFY_DELAY = 8,   // D
    MAIL_NOTIFY_MASK = 0xf,
};

// One recipient. A list is the pointer to its newest record; readers walk
// along next, so recipients come out in the reverse of their addition.
struct Recipient {
    char *address;      // owned copy
    char *display_name; // owned, header-encoded, may be NULL
    unsigned notify;    // MAIL_NOTIFY_* bits; 0 = the session's bits apply
    Recipient *next;    // the record added before this one
};

// Attachment transfer encodings.
enum {
    ATT_ENC_AUTO = 0,     // chosen when the part is written
    ATT_ENC_BASE64 = 1,
    ATT_ENC_UUENCODE = 2, // after the text, outside the MIME structure
    ATT_ENC_YENC = 3,     // after the text; no option produces it
    ATT_ENC_QP = 4,
    ATT_ENC_RAW = 5,      // a message/* part copied as 7bit (set by the part writer)
};

// One attachment, linked through `link` (see list_oldest below).
struct Attachment {
    char *path;         // owned, UTF-8
    char *encoded_name; // owned: header-encoded display name or base name of path
    char *content_id;   // owned, NULL when none or empty was given
    char *mime_type;    // owned, NULL when none or empty (looked up by name)
    char *display_name; // owned, may be NULL
    int encoding;       // ATT_ENC_*; AUTO may be replaced by the writer's choice
    int is_inline;      // 0, or the MAILOPT_FROM_FILE bit (0x1000): inline part
    ListLink link;
};

// 1 when the attachment becomes a MIME part; uuencode and yEnc blocks
// follow the text outside the MIME structure instead.
inline int att_is_mime_part(const Attachment *a)
{
    return a->encoding == ATT_ENC_AUTO || a->encoding == ATT_ENC_BASE64 || a->encoding == ATT_ENC_QP ||
           a->encoding == ATT_ENC_RAW;
}

// One header field (custom fields), or one name to remove (empty value).
struct HeaderField {
    char *name;  // owned copy
    char *value; // owned, header-encoded
    ListLink link;
};

// ---- walking ListLink lists ------------------------------------------------
// A list head points at the newest record's link; next leads to older
// records, prev to newer ones (LIST_RECORD finds a record from its link).
// To visit records in the order of addition:
//   for (Attachment *a = att_first(list); a; a = att_next(a)) ...

// The oldest link of a list (NULL for an empty list).
ListLink *list_oldest(ListLink *head);

// Oldest record and the one added after it; NULL at the end.
Attachment *att_first(ListLink *list);
Attachment *att_next(const Attachment *att);
HeaderField *hdr_first(ListLink *list);
HeaderField *hdr_next(const HeaderField *field);

// ---- recipients --------------------------------------------------------------

// Makes a Recipient and pushes it in front of *list. Refuses (NULL, list
// unchanged) an address that is not one mailbox by the header writer's rule
// (hdr_address_is_safe: also empty, without "@", longer than 254 bytes or
// holding a control byte), an address or name that is not well-formed
// UTF-8, a name holding a control byte other than TAB, and an allocation
// failure. The name is header-encoded; letters (may be NULL) give the
// NOTIFY bits.
Recipient *addr_recipient_add(Recipient **list, const char *address, const char *name,
                              const char *letters);

// Frees every record with its texts and sets the list to NULL; 1, or 0 when
// list itself is NULL.
int addr_recipient_list_free(Recipient **list);

// NOTIFY bits of a letter string: N/n 1, S/s 2, F/f 4, D/d 8, anything
// else skipped; NULL gives 0.
int mail_parse_notify_letters(const char *letters);

// ---- attachments -------------------------------------------------------------

// Adds an attachment at the head of *list. Fails (0, list unchanged) when
// the file does not exist, when content_id or mime_type holds a control
// byte or the display name one other than TAB, when one of them is not
// well-formed UTF-8, or when memory runs out. An empty content_id or
// mime_type is stored as NULL.
int att_add(ListLink **list, const char *path, int encoding, int is_inline,
            const char *content_id, const char *mime_type, const char *display_name);

// Frees every record and sets the list to NULL; 1, or 0 when list is NULL.
int att_list_free(ListLink **list);

// ---- header fields -----------------------------------------------------------

// 1 when name is a valid header-field name: one or more printable ASCII
// characters (33 to 126) other than ":".
int hdr_name_is_valid(const char *name);

// Adds a field with a copy of name and the header-encoded value at the head
// of *list. Fails (0, nothing added) when either text is NULL, the name is
// not a valid field name, the value holds a control byte other than TAB or
// is not well-formed UTF-8, or memory runs out.
int hdr_list_add(ListLink **list, const char *name, const char *value);

// Frees every record and sets the list to NULL; 1, or 0 when list is NULL.
int hdr_list_free(ListLink **list);
