// Recipient, attachment and header-field lists of a session: constructors,
// freeing, the walk in order of addition and the DSN NOTIFY letter parser.
#include "mail/lists.h"

#include <cstdlib>
#include <cstring>

#include "mail/check.h"
#include "mail/hdrtext.h"
#include "mail/writer.h"
#include "support/file.h"
#include "support/str.h"

// ---- walking -------------------------------------------------------------------

ListLink *list_oldest(ListLink *head)
{
    if (!head)
        return nullptr;
    while (head->next)
        head = head->next;
    return head;
}

Attachment *att_first(ListLink *list)
{
    ListLink *link = list_oldest(list);
    return link ? LIST_RECORD(link, Attachment, link) : nullptr;
}

Attachment *att_next(const Attachment *att)
{
    return att && att->link.prev ? LIST_RECORD(att->link.prev, Attachment, link) : nullptr;
}

HeaderField *hdr_first(ListLink *list)
{
    ListLink *link = list_oldest(list);
    return link ? LIST_RECORD(link, HeaderField, link) : nullptr;
}

HeaderField *hdr_next(const HeaderField *field)
{
    return field && field->link.prev ? LIST_RECORD(field->link.prev, HeaderField, link)
                                     : nullptr;
}

// Frees every record of a ListLink list, newest first, and empties it; 0
// when list itself is NULL.
static int link_list_free(ListLink **list, void (*free_record)(ListLink *link))
{
    if (!list)
        return 0;
    ListLink *link = *list;
    while (link) {
        ListLink *older = link->next;
        free_record(link);
        link = older;
    }
    *list = nullptr;
    return 1;
}

// A copy of text, or NULL for NULL; *failed is set when the copy itself
// could not be made.
static char *copy_or_null(const char *text, bool *failed)
{
    if (!text)
        return nullptr;
    char *copy = strdup(text);
    if (!copy)
        *failed = true;
    return copy;
}

// ---- recipients ------------------------------------------------------------------

int mail_parse_notify_letters(const char *letters)
{
    int bits = 0;
    for (const char *p = letters; p && *p; p++) {
        switch (*p) {
        case 'N': case 'n': bits |= MAIL_NOTIFY_NEVER; break;
        case 'S': case 's': bits |= MAIL_NOTIFY_SUCCESS; break;
        case 'F': case 'f': bits |= MAIL_NOTIFY_FAILURE; break;
        case 'D': case 'd': bits |= MAIL_NOTIFY_DELAY; break;
        default: break; // anything else is skipped without error
        }
    }
    return bits;
}

static void rcpt_free(Recipient *rcpt)
{
    free(rcpt->address);
    free(rcpt->display_name);
    free(rcpt);
}

Recipient *addr_recipient_add(Recipient **list, const char *address, const char *name,
                              const char *letters)
{
    // The address goes raw into RCPT TO and the To/Cc fields: it must be
    // one mailbox by the header writer's own rule (which also refuses any
    // control byte, a second command or header line), so that every
    // recipient kept is one the header shows, and well-formed UTF-8. The
    // name is encoded, but is held to the same door so that a refusal never
    // depends on how it would be encoded.
    if (!list || !hdr_address_is_safe(address) || !utf8_valid(address) ||
        !text_is_clean(name, TEXT_ALLOW_TAB) || !utf8_valid(name))
        return nullptr;
    Recipient *rcpt = static_cast<Recipient *>(calloc(1, sizeof(Recipient)));
    if (!rcpt)
        return nullptr;
    rcpt->address = strdup(address);
    rcpt->display_name = name ? hdr_encode_text(name) : nullptr;
    if (!rcpt->address || (name && !rcpt->display_name)) {
        rcpt_free(rcpt);
        return nullptr;
    }
    rcpt->notify = static_cast<unsigned>(mail_parse_notify_letters(letters)) & MAIL_NOTIFY_MASK;
    rcpt->next = *list;
    *list = rcpt;
    return rcpt;
}

int addr_recipient_list_free(Recipient **list)
{
    if (!list)
        return 0;
    Recipient *rcpt = *list;
    while (rcpt) {
        Recipient *older = rcpt->next;
        rcpt_free(rcpt);
        rcpt = older;
    }
    *list = nullptr;
    return 1;
}

// ---- attachments -------------------------------------------------------------------

static void att_free(Attachment *att)
{
    free(att->path);
    free(att->encoded_name);
    free(att->content_id);
    free(att->mime_type);
    free(att->display_name);
    free(att);
}

int att_add(ListLink **list, const char *path, int encoding, int is_inline,
            const char *content_id, const char *mime_type, const char *display_name)
{
    if (!list || !path || !file_exists_utf8(path))
        return 0;
    // Content-ID and MIME type go raw into the part's header lines, the
    // display name (header-encoded later) is checked alike so that a
    // refused attachment never depends on how it would be encoded.
    if (!text_is_clean(content_id, TEXT_NO_TAB) || !text_is_clean(mime_type, TEXT_NO_TAB) ||
        !text_is_clean(display_name, TEXT_ALLOW_TAB) || !utf8_valid(content_id) ||
        !utf8_valid(mime_type) || !utf8_valid(display_name))
        return 0;
    Attachment *att = static_cast<Attachment *>(calloc(1, sizeof(Attachment)));
    if (!att)
        return 0;
    bool failed = false;
    att->path = copy_or_null(path, &failed);
    att->display_name = copy_or_null(display_name, &failed);
    att->content_id = copy_or_null(content_id && *content_id ? content_id : nullptr, &failed);
    att->mime_type = copy_or_null(mime_type && *mime_type ? mime_type : nullptr, &failed);
    if (!failed) {
        const char *shown = display_name ? display_name : file_base_name(att->path);
        att->encoded_name = hdr_encode_text(shown);
        failed = !att->encoded_name;
    }
    if (failed) {
        att_free(att);
        return 0;
    }
    att->encoding = encoding;
    att->is_inline = is_inline;
    list_push_front(list, &att->link);
    return 1;
}

int att_list_free(ListLink **list)
{
    return link_list_free(list,
                          [](ListLink *link) { att_free(LIST_RECORD(link, Attachment, link)); });
}

// ---- header fields ---------------------------------------------------------------

int hdr_name_is_valid(const char *name)
{
    return text_is_visible_ascii(name, 0);
}

static void hdr_free(HeaderField *field)
{
    free(field->name);
    free(field->value);
    free(field);
}

int hdr_list_add(ListLink **list, const char *name, const char *value)
{
    if (!list || !name || !value || !hdr_name_is_valid(name) ||
        !text_is_clean(value, TEXT_ALLOW_TAB) || !utf8_valid(value))
        return 0;
    HeaderField *field = static_cast<HeaderField *>(calloc(1, sizeof(HeaderField)));
    if (!field)
        return 0;
    field->name = strdup(name);
    field->value = hdr_encode_text(value);
    if (!field->name || !field->value) {
        hdr_free(field);
        return 0;
    }
    list_push_front(list, &field->link);
    return 1;
}

int hdr_list_free(ListLink **list)
{
    return link_list_free(list,
                          [](ListLink *link) { hdr_free(LIST_RECORD(link, HeaderField, link)); });
}
