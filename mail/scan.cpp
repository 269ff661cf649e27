// The session's scans (mail/scan.h): a recipient list file and the header
// of a message file, each read whole through the session's file reader and
// handed to its scanner (mail/scan_list.cpp, mail/scan_header.cpp); the
// mailboxes found are taken through the session's own option door, all or
// none.
#include "mail/scan.h"

#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "mail/fileread.h"
#include "mail/writer.h"
#include "mail/option.h"
#include "mail/scan_internal.h"
#include "platform/platform.h"
#include "support/fence.h"
#include "support/str.h"

size_t addr_trim_name(char *name, size_t len)
{
    while (len && (name[len - 1] == ' ' || name[len - 1] == '\t' || name[len - 1] == '\0'))
        len--;
    size_t from = 0;
    if (len >= 2 && name[0] == '"' && name[len - 1] == '"') {
        from = 1;
        len--;
    }
    size_t out = 0;
    for (size_t i = from; i < len; i++)
        if (name[i] != '\r' && name[i] != '\n')
            name[out++] = name[i];
    return out;
}

// ---- the session's scans -------------------------------------------------------

namespace {

// The items of one recipient list file, gathered apart from the session so
// that a file that fails half-way adds nothing.
struct ListScan {
    Recipient *found = nullptr;
    ~ListScan() { addr_recipient_list_free(&found); }
};

// What a reader's take() makes of one slice of a file.
enum Take { TAKE_READ_ON, TAKE_DONE, TAKE_REFUSED };

// Reads the file at path into *text through the session's file reader.
// take(data, n, &keep) sees each slice in order and may lower keep (all n
// bytes at first), the bytes that are kept; it answers TAKE_READ_ON,
// TAKE_DONE when the text is whole (the rest of the file is not read), or
// TAKE_REFUSED when the text would pass its cap (take has stored the
// reason). 1, or 0 with the reason in the session.
template <class TakeFn>
int read_file(MailContext *ctx, const char *path, const char *what, std::string *text, TakeFn &&take)
{
    MimeFile f(path);
    if (!f.is_open()) {
        mail_set_system_error(ctx, plat_last_error(), "Failed to open %s (%s)", what, path);
        return 0;
    }
    std::unique_ptr<char[]> buf(new char[MIME_READ_SLICE]);
    for (;;) {
        int64_t got = f.read(buf.get(), MIME_READ_SLICE);
        if (got < 0) {
            mail_set_system_error(ctx, got == MIME_READ_ERROR ? f.error : 0, "Read error on %s (%s)",
                                  what, path);
            return 0;
        }
        if (got == 0)
            return 1;
        size_t n = static_cast<size_t>(got), keep = n;
        Take answer = take(buf.get(), n, &keep);
        if (answer == TAKE_REFUSED)
            return 0;
        text->append(buf.get(), keep);
        if (answer == TAKE_DONE)
            return 1;
    }
}

// One mailbox of a To, Cc or Bcc field (list chosen by code) or the From
// field, through the session's own option door, which gives the reason of
// a refusal. The message file's own header carries the display names, so
// a name the session cannot take (too long, a control character, not
// UTF-8) is left out and the address taken alone. Once memory has run out
// nothing more is taken, so that the mark stays for the caller.
template <int Code> int take_field_item(void *user, const char *address, size_t address_len,
                                        const char *name, size_t name_len)
{
    auto *ctx = static_cast<MailContext *>(user);
    if (mail_error_is_nomem(ctx))
        return 0;
    if (address_len > kScanAddressMax) {
        mail_set_errorf(ctx, "The address is longer than %d bytes", int(kScanAddressMax));
        return 0;
    }
    std::string a(address, address_len), n(name ? name : "", name_len);
    n.resize(addr_trim_name(n.data(), n.size()));
    bool name_fits = n.size() <= kScanNameMax && (Code != MAILOPT_FROM || name_len <= kScanNameMax);
    if (name_fits && !n.empty() && mail_set_option_basic(ctx, Code, a.c_str(), n.c_str(), nullptr))
        return 1;
    return !mail_error_is_nomem(ctx) && mail_set_option_basic(ctx, Code, a.c_str(), nullptr, nullptr);
}

// The mailboxes of a message file's address fields, gathered whole before
// the session takes any of them.
struct HeaderItem {
    AddrScanFn take;
    const char *field;
    std::string address, name;
};

struct HeaderScan {
    MailContext *ctx;
    std::vector<HeaderItem> items;
    AddrScanFn take = nullptr; // of the field being read
    const char *field = nullptr;
    bool failed = false;       // the reason is in the session
};

int gather_item(void *user, const char *address, size_t address_len, const char *name, size_t name_len)
{
    auto *scan = static_cast<HeaderScan *>(user);
    scan->items.push_back({scan->take, scan->field, std::string(address, address_len),
                           std::string(name ? name : "", name_len)});
    return 1;
}

// The longest part of an unreadable item that a message shows.
const size_t kShownItemMax = 80;

// Reads the To, Cc and Bcc fields when recipients are taken from the file,
// the From field when the sender is; the first field that cannot be read
// whole ends the scan with the reason in the session.
void select_field(void *user, const char *name, size_t name_len, const char *value, size_t value_len)
{
    auto *scan = static_cast<HeaderScan *>(user);
    MailContext *ctx = scan->ctx;
    if (scan->failed)
        return;
    bool recipients = ctx->flags2 & MAILF2_RECIPIENTS_FROM_FILE;
    bool sender = ctx->flags2 & MAILF2_FROM_FROM_FILE;
    static const struct {
        const char *name;
        AddrScanFn take;
        bool recipient;
    } kFields[] = {{"To", addr_take_to, true},
                   {"Cc", addr_take_cc, true},
                   {"Bcc", addr_take_bcc, true},
                   {"From", addr_take_from, false}};
    for (const auto &f : kFields) {
        if (strlen(f.name) != name_len || str_ncasecmp(name, f.name, static_cast<long>(name_len)) != 0 ||
            !(f.recipient ? recipients : sender))
            continue;
        scan->take = f.take;
        scan->field = f.name;
        AddrFieldError error{};
        if (addr_scan_field(scan, value, value_len, gather_item, &error))
            return;
        // A long item is shown in part, never cut inside a UTF-8 sequence.
        size_t shown = error.len;
        if (shown > kShownItemMax) {
            shown = kShownItemMax;
            while (shown && (static_cast<unsigned char>(error.at[shown]) & 0xC0) == 0x80)
                shown--;
        }
        mail_set_errorf(ctx, "The %s field of the message file cannot be read at \"%.*s%s\" (%s) (%s)",
                        f.name, int(shown), error.at, shown < error.len ? "..." : "", error.why,
                        ctx->email_file);
        scan->failed = true;
        return;
    }
}

// The recipients pushed in front of the session's lists since heads were
// noted are taken off again.
void drop_pushed(MailContext *ctx, Recipient *const heads[3])
{
    Recipient **lists[] = {&ctx->to, &ctx->cc, &ctx->bcc};
    for (int i = 0; i < 3; i++) {
        if (*lists[i] == heads[i])
            continue;
        Recipient *pushed = *lists[i], *last = pushed;
        while (last->next != heads[i])
            last = last->next;
        last->next = nullptr;
        *lists[i] = heads[i];
        addr_recipient_list_free(&pushed);
    }
}

// Gives the gathered mailboxes to the session: the recipients in their
// order, then the last From mailbox. 1; or 0 with the reason in the
// session and the session as it was.
int take_items(MailContext *ctx, const std::vector<HeaderItem> &items)
{
    Recipient *const heads[3] = {ctx->to, ctx->cc, ctx->bcc};
    const HeaderItem *from = nullptr;
    auto refused = [&](const HeaderItem &item) {
        drop_pushed(ctx, heads);
        if (mail_error_is_nomem(ctx))
            return 0;
        std::string why = mail_last_error(ctx);
        mail_set_errorf(ctx, "The %s field of the message file holds an address that cannot be used: "
                        "\"%s\" (%s) (%s)", item.field, item.address.c_str(), why.c_str(), ctx->email_file);
        return 0;
    };
    for (const HeaderItem &item : items) {
        if (item.take == addr_take_from)
            from = &item;
        else if (!item.take(ctx, item.address.data(), item.address.size(), item.name.data(), item.name.size()))
            return refused(item);
    }
    if (from && !addr_take_from(ctx, from->address.data(), from->address.size(), from->name.data(),
                                from->name.size()))
        return refused(*from);
    return 1;
}

template <class Body> int scan_guard(MailContext *ctx, Body &&body) noexcept
{
    return fence_nomem(body, [ctx] {
        mail_set_nomem(ctx);
        return 0;
    });
}

} // namespace

int addr_list_add_scanned(void *user, const char *address, size_t address_len, const char *name,
                          size_t name_len)
{
    auto *list = static_cast<Recipient **>(user);
    if (address_len > kScanAddressMax)
        return 0;
    std::string a(address, address_len), n(name ? name : "", name_len);
    n.resize(addr_trim_name(n.data(), n.size()));
    return addr_recipient_add(list, a.c_str(), n.empty() ? nullptr : n.c_str(), nullptr) != nullptr;
}

int addr_take_to(void *user, const char *address, size_t address_len, const char *name, size_t name_len)
{
    return take_field_item<MAILOPT_RECIPIENT | MAILOPT_TO>(user, address, address_len, name, name_len);
}

int addr_take_cc(void *user, const char *address, size_t address_len, const char *name, size_t name_len)
{
    return take_field_item<MAILOPT_RECIPIENT | MAILOPT_CC>(user, address, address_len, name, name_len);
}

int addr_take_bcc(void *user, const char *address, size_t address_len, const char *name, size_t name_len)
{
    return take_field_item<MAILOPT_RECIPIENT | MAILOPT_BCC>(user, address, address_len, name, name_len);
}

int addr_take_from(void *user, const char *address, size_t address_len, const char *name, size_t name_len)
{
    return take_field_item<MAILOPT_FROM>(user, address, address_len, name, name_len);
}

int addr_scan_recipient_file(MailContext *ctx, Recipient **list, const char *path)
{
    return scan_guard(ctx, [&] {
        std::string text;
        auto capped = [&](const char *, size_t n, size_t *) {
            if (n <= ADDR_LIST_FILE_MAX - text.size())
                return TAKE_READ_ON;
            mail_set_errorf(ctx, "The recipient list file is too large, more than %d MiB (%s)",
                            int(ADDR_LIST_FILE_MAX >> 20), path);
            return TAKE_REFUSED;
        };
        if (!read_file(ctx, path, "recipient list file", &text, capped))
            return 0;
        ListScan scan;
        size_t line = 0;
        if (!addr_scan_list(&scan.found, text.data(), text.size(), addr_list_add_scanned, &line)) {
            mail_set_errorf(ctx, "%s, line %u: not a usable address", path, static_cast<unsigned>(line));
            return 0;
        }
        // The items, newest first, go in front of the list as they stand.
        if (Recipient *last = scan.found) {
            while (last->next)
                last = last->next;
            last->next = *list;
            *list = scan.found;
            scan.found = nullptr;
        }
        mail_set_error(ctx, nullptr);
        return 1;
    });
}

int addr_scan_message_file(MailContext *ctx, int recipients, int sender)
{
    if (recipients)
        ctx->flags2 |= MAILF2_RECIPIENTS_FROM_FILE;
    if (sender)
        ctx->flags2 |= MAILF2_FROM_FROM_FILE;
    return scan_guard(ctx, [&] {
        // The header block is read to its empty line, however the reads
        // cut it; the body is never read.
        std::string text;
        HeaderBlockEnd header_end;
        auto header = [&](const char *data, size_t n, size_t *keep) {
            size_t at = 0;
            bool found = header_end.feed(data, n, &at);
            if (found)
                *keep = at - text.size();
            if (*keep > ADDR_HEADER_SCAN_MAX - text.size()) {
                mail_set_errorf(ctx, "The header of the message file is too large, more than %d MiB (%s)",
                                int(ADDR_HEADER_SCAN_MAX >> 20), ctx->email_file);
                return TAKE_REFUSED;
            }
            return found ? TAKE_DONE : TAKE_READ_ON;
        };
        if (!read_file(ctx, ctx->email_file, "message file", &text, header))
            return 0;
        mail_set_error(ctx, nullptr);
        HeaderScan scan{ctx, {}};
        addr_scan_header(&scan, text.data(), text.size(), select_field);
        if (scan.failed)
            return 0;
        if (!take_items(ctx, scan.items))
            return 0;
        mail_set_error(ctx, nullptr);
        return 1;
    });
}
