// The generated header block: Date, Subject, From, Reply-To, To, Cc,
// Message-ID, Disposition-Notification-To, X-Priority and X-Mailer, in that
// order, folded so that no line we generate is too long for a transport.
#include "mail/writer.h"
#include "mail/mimeout.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "mail/addr.h"
#include "mail/hdrtext.h"
#include "mail/ident.h"
#include "mail/lists.h"
#include "support/encode.h"
#include "support/str.h"
#include "support/util.h"

// ---- folding -----------------------------------------------------------------

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// 1 when text is only printable ASCII and TAB (what the header-text
// encoder leaves as it is).
bool is_plain(std::string_view text)
{
    for (char ch : text) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (c != '\t' && (c < 0x20 || c > 0x7e))
            return false;
    }
    return true;
}

// When text is only encoded words (as the header-text encoder makes
// them) carrying UTF-8, the bytes they carry go into *out and the result
// is true.
bool decode_words(const char *text, std::string *out)
{
    char *bytes = nullptr;
    size_t len = 0;
    int r = hdr_decode_words(text, &bytes, &len);
    if (r < 0)
        mime_throw_nomem();
    if (r == 0)
        return false;
    std::unique_ptr<char, void (*)(void *)> owned(bytes, free);
    // Words that do not carry UTF-8 are not ours to re-make under the
    // utf-8 label: the text is then shown as it was given.
    if (!utf8_valid_n(bytes, len))
        return false;
    out->assign(bytes, len);
    return true;
}

// True when text can be folded at its blanks into lines within
// HDR_LINE_HARD: no run of other characters longer than HDR_RUN_MAX and no
// run of blanks longer than HDR_BLANK_RUN_MAX.
bool fits_folding(std::string_view text)
{
    size_t run = 0, blanks = 0;
    for (char c : text) {
        if (is_blank(c)) {
            run = 0;
            if (++blanks > HDR_BLANK_RUN_MAX)
                return false;
        } else {
            blanks = 0;
            if (++run > HDR_RUN_MAX)
                return false;
        }
    }
    return true;
}

// text as an RFC 5322 quoted string, '"' and '\\' escaped.
std::string quoted_string(std::string_view text)
{
    std::string s = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\')
            s += '\\';
        s += c;
    }
    s += '"';
    return s;
}

// Where a Field may be folded: before a blank of text that allows it;
// before the blank after a long field name only when nothing else keeps
// the line within HDR_LINE_HARD (a reader may take the fold for part of
// the value); and before the blank that a field's encoded words need to
// begin a new line.
const char NO_FOLD = 0, MAY_FOLD = 1, LAST_RESORT = 2, MUST_FOLD = 3;

// Encoded words whose first word would have less room than this many
// bytes of text begin on a new line instead.
const size_t kFirstWordMin = 9;

// Blanks in front of an encoded value that stay in front of its words.
const size_t kLeadBlanksMax = 8;

// One logical header line as it is built: its text, where it may be
// folded, and whether it holds encoded words. Written folded at blanks:
// lines stay within HDR_LINE_SOFT columns where a blank allows it (within
// HDR_LINE_WORDS when the field holds encoded words, RFC 2047 section 2),
// a folded line never holds white space only, and what callers put in
// (bounded runs, short words) keeps every line within HDR_LINE_HARD.
class Field {
public:
    explicit Field(std::string_view start) { fixed(start); }

    // Text that is never folded inside (a field name, an address).
    Field &fixed(std::string_view s) { return append(s, NO_FOLD); }
    // Text that may be folded at any of its blanks.
    Field &foldable(std::string_view s) { return append(s, MAY_FOLD); }
    // The blank after a field name that may be long.
    Field &name_blank() { return append(" ", LAST_RESORT); }

    // Bytes as encoded words, the first one sized to the room left on
    // the current line; `after` characters follow the last word directly.
    Field &words(std::string_view bytes, size_t after = 0)
    {
        if (bytes.empty())
            return *this;
        size_t first = first_word_bytes(text_.size() - line_start_, after);
        if (first < kFirstWordMin && !text_.empty() && is_blank(text_.back())) {
            // Too little room after a long field name: the words begin a
            // line of their own.
            marks_.back() = MUST_FOLD;
            line_start_ = text_.size() - 1;
            first = first_word_bytes(1, after);
        }
        char *w = hdr_encode_words(bytes.data(), bytes.size(), first < kFirstWordMin ? size_t{HDR_WORD_BYTES} : first);
        if (!w)
            mime_throw_nomem();
        std::unique_ptr<char, void (*)(void *)> owned(w, free);
        words_ = true;
        return foldable(w);
    }

    // An unstructured value (subject, custom field value, X-Mailer) as the
    // session holds it: encoded words are made again to fit the line;
    // plain text stays as it is unless it cannot be folded.
    Field &unstructured(const char *value)
    {
        std::string decoded;
        if (decode_words(value, &decoded))
            return words(decoded);
        if (is_plain(value) && fits_folding(value))
            return foldable(value);
        // A few blanks in front of the value separate it from the colon,
        // as they do when it is written plain; inside an encoded word they
        // would become part of the value. (A longer run is content and
        // goes into the words, so the line stays short.)
        std::string_view rest(value);
        size_t lead = 0;
        while (lead < rest.size() && is_blank(rest[lead]))
            lead++;
        if (lead > 0 && lead < rest.size() && lead <= kLeadBlanksMax)
            return foldable(rest.substr(0, lead)).words(rest.substr(lead));
        return words(value);
    }

    // A display name as the session holds it (header-encoded).
    Field &phrase(const char *name)
    {
        std::string decoded;
        if (decode_words(name, &decoded))
            return words(decoded);
        return text_phrase(name);
    }

    // A display name as given: plain text as a quoted string, so that no
    // text can end it early and show another address; anything else, and
    // a quoted string that could not be folded, as encoded words.
    Field &text_phrase(std::string_view name)
    {
        if (is_plain(name)) {
            std::string q = quoted_string(name);
            if (fits_folding(q))
                return foldable(q);
        }
        return words(name);
    }

    Field &mailbox(const MailContext *ctx, const char *name, const char *address);

    // The field written folded, with its final CR LF.
    int write(MimeOut &out) const;

    const std::string &text() const { return text_; }

private:
    std::string text_;
    std::string marks_; // per byte of text_: the fold mark before it
    size_t line_start_ = 0; // where the line after a MUST_FOLD begins
    bool words_ = false;

    Field &append(std::string_view s, char blank_mark)
    {
        text_.append(s);
        for (char c : s)
            marks_ += is_blank(c) ? blank_mark : NO_FOLD;
        return *this;
    }

    // Bytes of text the first encoded word may carry when it starts at col
    // and `after` characters follow it.
    static size_t first_word_bytes(size_t col, size_t after)
    {
        size_t used = col + 12 + after; // "=?utf-8?B?" and "?="
        return used < HDR_LINE_WORDS ? (HDR_LINE_WORDS - used) / 4 * 3 : 0;
    }
};

int Field::write(MimeOut &out) const
{
    const size_t limit = words_ ? HDR_LINE_WORDS : HDR_LINE_SOFT;
    const size_t n = text_.size();
    // A fold must leave text after it: blanks after the last visible
    // character are never fold points.
    size_t last_text = 0;
    for (size_t i = n; i-- > 0;) {
        if (!is_blank(text_[i])) {
            last_text = i;
            break;
        }
    }
    std::string folded;
    folded.reserve(n + n / 32 + 2);
    auto emit = [&](size_t from, size_t to) {
        folded.append(text_, from, to - from);
        folded += "\r\n";
    };
    const size_t none = std::string::npos;
    size_t start = 0;   // where the current line begins
    size_t cand = none; // the latest fold point of the line
    size_t last_resort = none;
    bool has_text = false; // the line holds more than blanks
    for (size_t i = 0; i < n; i++) {
        if (marks_[i] != NO_FOLD && i > start && has_text && i < last_text) {
            if (marks_[i] == MUST_FOLD) {
                emit(start, i);
                start = i;
                has_text = false;
                cand = last_resort = none;
            } else if (marks_[i] == LAST_RESORT) {
                last_resort = i;
            } else {
                cand = i;
            }
        }
        if (!is_blank(text_[i]))
            has_text = true;
        size_t fold = none;
        if (i - start + 1 > limit && cand != none)
            fold = cand;
        else if (i - start + 1 > HDR_LINE_HARD && last_resort != none)
            fold = last_resort;
        if (fold != none) {
            emit(start, fold);
            start = fold;
            cand = last_resort = none;
            has_text = false;
            for (size_t k = start; k <= i && !has_text; k++)
                has_text = !is_blank(text_[k]);
        }
    }
    emit(start, n);
    out.bytes(folded.data(), folded.size());
    return out.status;
}

// The address as the header shows it: its domain in the one mapped form
// the server's abilities allow (the U-labels with SMTPUTF8, else and in
// File mode the A-label); an address that has no prepared form (one the
// recipient callback gave without "@") is shown as it was given.
std::string prepared(const MailContext *ctx, const char *address)
{
    char buf[ADDR_SHOWN_BUF_SIZE];
    if (addr_prepare_for_header(address, buf, sizeof buf, (ctx->flags2 & MAILF2_SERVER_SMTPUTF8) != 0))
        return buf;
    return address ? address : "";
}

Field &Field::mailbox(const MailContext *ctx, const char *name, const char *address)
{
    if (name && *name)
        return phrase(name).foldable(" ").fixed("<" + prepared(ctx, address) + ">");
    return fixed(prepared(ctx, address));
}


} // namespace

int hdr_append_display_name(char **out, const char *name)
{
    int result = mime_guard(nullptr, [&] {
        Field f("");
        f.phrase(name ? name : "");
        char *copy = static_cast<char *>(malloc(strlen(*out ? *out : "") + f.text().size() + 1));
        if (!copy)
            return MIME_FAIL_NOMEM;
        strcpy(copy, *out ? *out : "");
        strcat(copy, f.text().c_str());
        free(*out);
        *out = copy;
        return MIME_OK;
    });
    return result == MIME_OK ? 1 : 0;
}

// Characters of an atom (RFC 5322 atext, and UTF-8 bytes).
static bool is_atext(unsigned char c)
{
    return c >= 0x80 || (c > 0x20 && c < 0x7f && !strchr("()<>[]:;@\\,.\"", c));
}

// A dot-atom at p: atoms joined by single dots. Returns the end, or NULL.
static const unsigned char *skip_dot_atom(const unsigned char *p)
{
    if (!is_atext(*p))
        return nullptr;
    while (is_atext(*p) || (*p == '.' && is_atext(p[1])))
        p++;
    return p;
}

int hdr_address_is_safe(const char *address)
{
    if (addr_classify(address) == ADDR_KIND_BAD)
        return 0;
    const unsigned char *p = reinterpret_cast<const unsigned char *>(address);
    if (*p == '"') {
        for (p++; *p != '"'; p++) {
            if (!*p)
                return 0;
            if (*p == '\\' && !*++p)
                return 0;
        }
        p++;
    } else if (!(p = skip_dot_atom(p))) {
        return 0;
    }
    if (*p++ != '@')
        return 0;
    // The domain must have the ASCII form that From, the Message-ID and
    // the envelope show (a malformed UTF-8 label has none).
    char idn[ADDR_BUF_SIZE];
    if (!addr_idn_domain(reinterpret_cast<const char *>(p), idn, sizeof idn))
        return 0;
    if (*p == '[') {
        for (p++; *p != ']'; p++)
            if (!*p || *p == '[' || *p == '\\' || *p == ' ')
                return 0;
        return p[1] == '\0';
    }
    p = skip_dot_atom(p);
    return p && *p == '\0';
}

// In Preconstructed mode the file's own field of this name gives way; a
// name that could not be put on the removal list would leave the file's
// field beside the generated one.
static int note_removed(MailContext *ctx, const char *name)
{
    if (ctx->mode != MAIL_MODE_PRECONSTRUCTED || hdr_list_add(&ctx->removed_headers, name, ""))
        return MIME_OK;
    mail_set_nomem(ctx);
    return MIME_FAIL_NOMEM;
}

// ---- single fields -------------------------------------------------------------

int mime_write_date(MailContext *ctx, MessagePrintFn print, void *user)
{
    int64_t t = ctx->fixed_date ? ctx->fixed_date : static_cast<int64_t>(time(nullptr));
    struct tm tm;
    if (!time_utc_calendar(t, &tm)) {
        // No calendar form: the current time stands in.
        time_t now = time(nullptr);
        gmtime_r(&now, &tm);
    }
    if (tm.tm_sec > 59)
        tm.tm_sec = 59;
    char buf[128];
    snprintf(buf, sizeof buf, "Date: %s, %02d %s %04d %02d:%02d:%02d GMT\r\n", time_weekday_abbr(tm.tm_wday),
             tm.tm_mday, time_month_abbr(tm.tm_mon + 1), tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
    MimeOut out(print, user);
    out("%s", buf);
    return out.status;
}

// Writes one field built by make (a function filling a Field) through the
// print pair; 1, or the failure.
template <class Make> static int write_field(MailContext *ctx, MessagePrintFn print, void *user, Make &&make)
{
    return mime_guard(ctx, [&] {
        MimeOut out(print, user);
        Field f = make();
        return f.write(out);
    });
}

int mime_write_subject(MailContext *ctx, MessagePrintFn print, void *user)
{
    if (!ctx->subject)
        return MIME_SKIPPED;
    return write_field(ctx, print, user, [&] { return std::move(Field("Subject: ").unstructured(ctx->subject)); });
}

int mime_write_from(MailContext *ctx, MessagePrintFn print, void *user)
{
    if (ctx->flags2 & MAILF2_FROM_FROM_FILE)
        return MIME_SKIPPED;
    return write_field(ctx, print, user,
                       [&] { return std::move(Field("From: ").mailbox(ctx, ctx->from_name, ctx->from_address)); });
}

int mime_write_reply_to(MailContext *ctx, MessagePrintFn print, void *user)
{
    if (!ctx->reply_to_address)
        return MIME_SKIPPED;
    return write_field(ctx, print, user, [&] {
        return std::move(Field("Reply-To: ").mailbox(ctx, ctx->reply_to_name, ctx->reply_to_address));
    });
}

namespace {

// A display name from the recipient callback, never checked before: no
// line breaks or other controls; empty means none.
std::string callback_name(const char *name)
{
    std::string clean = name ? name : "";
    for (char &c : clean)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = ' ';
    return clean;
}

// The To or Cc entries from the recipient callback, each on a line of its
// own; MIME_OK or the failure.
int write_callback_recipients(int kind, MailContext *ctx, MimeOut &out)
{
    const char *first_prefix = kind == MAIL_RCPT_CC ? "Cc: " : "To: ";
    const char *address = nullptr, *name = nullptr, *params = nullptr;
    bool any = false;
    auto entry_field = [&](const std::string &entry_name, const char *addr, bool first) {
        Field f(first ? first_prefix : "\t");
        if (entry_name.empty())
            f.fixed(prepared(ctx, addr));
        else
            f.text_phrase(entry_name).foldable(" ").fixed("<" + prepared(ctx, addr) + ">");
        return f;
    };
    // Each entry is written once the next one is known: all but the last
    // end with ",".
    std::unique_ptr<Field> previous;
    while (ctx->recipient_fn(ctx->recipient_user, kind, &address, &name, &params)) {
        // An address that is not one clean mailbox stays out of the header
        // (it could carry a line break or show further addresses).
        if (!hdr_address_is_safe(address))
            continue;
        if (previous && previous->fixed(",").write(out) != MIME_OK)
            return out.status;
        previous = std::make_unique<Field>(entry_field(callback_name(name), address, !any));
        any = true;
    }
    if (previous)
        previous->write(out);
    return out.status;
}

} // namespace

int mime_write_recipient_header(int kind, MailContext *ctx, MessagePrintFn print, void *user)
{
    if (ctx->flags2 & MAILF2_RECIPIENTS_FROM_FILE)
        return MIME_SKIPPED;
    return mime_guard(ctx, [&] {
        MimeOut out(print, user);
        if (ctx->recipient_fn)
            return write_callback_recipients(kind, ctx, out);
        std::vector<Recipient *> entries;
        for (Recipient *r = kind == MAIL_RCPT_CC ? ctx->cc : ctx->to; r; r = r->next)
            if (hdr_address_is_safe(r->address)) // a listed address that is not one mailbox goes like Bcc
                entries.push_back(r);
        if (entries.empty()) {
            if (kind != MAIL_RCPT_CC)
                Field("To: \"Undisclosed recipients\" <").fixed(prepared(ctx, ctx->from_address)).fixed(">").write(out);
            return out.status;
        }
        const char *first_prefix = kind == MAIL_RCPT_CC ? "Cc: " : "To: ";
        for (size_t i = 0; i < entries.size() && out.ok(); i++) {
            Field f(i ? "\t" : first_prefix);
            f.mailbox(ctx, entries[i]->display_name, entries[i]->address);
            if (i + 1 < entries.size())
                f.fixed(",");
            f.write(out);
        }
        return out.status;
    });
}

int hdr_visit_addresses(MailContext *ctx, HdrAddressFn fn, void *user)
{
    int stop = 0;
    auto visit = [&](const char *field, const char *address) {
        if (!stop && address)
            stop = fn(user, field, address);
    };
    if (!(ctx->flags2 & MAILF2_FROM_FROM_FILE))
        visit("From", ctx->from_address);
    visit("Reply-To", ctx->reply_to_address);
    if (!(ctx->flags2 & MAILF2_RECIPIENTS_FROM_FILE)) {
        for (int kind : {MAIL_RCPT_TO, MAIL_RCPT_CC}) {
            const char *field = kind == MAIL_RCPT_CC ? "Cc" : "To";
            if (ctx->recipient_fn) {
                // The run goes to its end, so that the writer's own run
                // starts afresh.
                const char *address = nullptr, *name = nullptr, *params = nullptr;
                while (ctx->recipient_fn(ctx->recipient_user, kind, &address, &name, &params))
                    if (hdr_address_is_safe(address))
                        visit(field, address);
                continue;
            }
            bool any = false;
            for (Recipient *r = kind == MAIL_RCPT_CC ? ctx->cc : ctx->to; r; r = r->next) {
                if (hdr_address_is_safe(r->address)) {
                    any = true;
                    visit(field, r->address);
                }
            }
            if (!any && kind == MAIL_RCPT_TO)
                visit(field, ctx->from_address); // "Undisclosed recipients"
        }
    }
    if (ctx->flags & MAILF_MDN)
        visit("Disposition-Notification-To", ctx->from_address);
    return stop;
}

int mime_write_to(MailContext *ctx, MessagePrintFn print, void *user)
{
    return mime_write_recipient_header(MAIL_RCPT_TO, ctx, print, user);
}

int mime_write_cc(MailContext *ctx, MessagePrintFn print, void *user)
{
    return mime_write_recipient_header(MAIL_RCPT_CC, ctx, print, user);
}

int mime_write_message_id(MailContext *ctx, MessagePrintFn print, void *user)
{
    if (!ctx->message_id[0]) {
        // The sender's domain in the ASCII form From shows without
        // SMTPUTF8, whatever the server offers: the identifier is kept for
        // later messages of the session and must be valid for every one.
        const char *at = ctx->from_address ? strrchr(ctx->from_address, '@') : nullptr;
        char domain[1 + ADDR_BUF_SIZE] = "@";
        if (at && addr_idn_domain(at + 1, domain + 1, sizeof domain - 1) &&
            !mail_message_id(ctx->message_id, sizeof ctx->message_id, domain)) {
            // Such a domain always fits: only the identifier's draw failed,
            // for want of memory.
            mail_set_nomem(ctx);
            return MIME_FAIL_NOMEM;
        }
    }
    if (!ctx->message_id[0])
        return MIME_SKIPPED; // no sender domain to make one from
    MimeOut out(print, user);
    out("Message-ID: %s\r\n", ctx->message_id);
    return out.status;
}

int mime_write_dnt(MailContext *ctx, MessagePrintFn print, void *user)
{
    if (!(ctx->flags & MAILF_MDN))
        return MIME_SKIPPED;
    return write_field(ctx, print, user, [&] {
        Field f("Disposition-Notification-To: ");
        // The name is quoted even when empty; the address in the form From
        // shows it.
        if (ctx->from_name)
            f.phrase(ctx->from_name).foldable(" ").fixed("<" + prepared(ctx, ctx->from_address) + ">");
        else
            f.fixed(prepared(ctx, ctx->from_address));
        return f;
    });
}

static const char *priority_text(int priority)
{
    switch (priority) {
    case 1: return "1 (Highest)";
    case 2: return "2 (High)";
    case 4: return "4 (Low)";
    case 5: return "5 (Lowest)";
    default: return nullptr;
    }
}

int mime_write_priority(MailContext *ctx, MessagePrintFn print, void *user)
{
    if (ctx->priority == 0)
        return MIME_SKIPPED;
    MimeOut out(print, user);
    if (const char *text = priority_text(ctx->priority))
        out("X-Priority: %s\r\n", text);
    return out.status;
}

int mime_write_x_mailer(MailContext *ctx, MessagePrintFn print, void *user)
{
    if ((ctx->mode != MAIL_MODE_SMTP && ctx->mode != MAIL_MODE_FILE) || !ctx->mailer)
        return MIME_SKIPPED;
    return write_field(ctx, print, user, [&] { return std::move(Field("X-Mailer: ").unstructured(ctx->mailer)); });
}

bool hdr_out_param(MimeOut &out, const char *param, const char *value)
{
    // A quoted string, as display names are (also around encoded words,
    // which a parameter cannot carry unquoted).
    Field f(std::string("\t") + param + "=\"");
    std::string decoded;
    if (decode_words(value, &decoded)) {
        f.words(decoded, 1);
    } else {
        std::string q = quoted_string(value);
        if (is_plain(value) && fits_folding(q))
            f.foldable(std::string_view(q).substr(1, q.size() - 2));
        else
            f.words(value, 1);
    }
    f.fixed("\"").write(out);
    return out.ok();
}

int hdr_write_param(MessagePrintFn print, void *user, const char *param, const char *value)
{
    return mime_guard(nullptr, [&] {
        MimeOut out(print, user);
        hdr_out_param(out, param, value);
        return out.status;
    });
}

bool mime_out_custom_field(MimeOut &out, const char *name, const char *value)
{
    Field(std::string(name) + ":").name_blank().unstructured(value ? value : "").write(out);
    return out.ok();
}

int mime_write_custom_field(MessagePrintFn print, void *user, const char *name, const char *value)
{
    return mime_guard(nullptr, [&] {
        MimeOut out(print, user);
        mime_out_custom_field(out, name, value);
        return out.status;
    });
}

bool mime_out_headers(MailContext *ctx, MimeOut &out)
{
    // Each field writer gives MIME_OK (written), MIME_SKIPPED (it does not
    // apply) or a failure; a failure ends the block at once.
    struct Step {
        int (*write)(MailContext *, MessagePrintFn, void *);
        const char *removed;   // name put on the removal list
        bool removed_always;   // also when the field does not apply
    };
    static const Step steps[] = {
        {mime_write_date, "Date", true},
        {mime_write_subject, "Subject", false},
        {mime_write_from, "From", false},
        {mime_write_reply_to, "Reply-To", false},
        {mime_write_to, "To", false},
        {mime_write_cc, "Cc", false},
        {mime_write_message_id, "Message-ID", true},
        {mime_write_dnt, "Disposition-Notification-To", false},
        {mime_write_priority, "X-Priority", false},
        {mime_write_x_mailer, nullptr, false},
    };
    for (const Step &step : steps) {
        int r = step.write(ctx, out.print, out.user);
        if (r < 0)
            out.fail(r);
        else if (step.removed && (r == MIME_OK || step.removed_always))
            out.fail(note_removed(ctx, step.removed));
        if (!out.ok())
            return false;
    }
    return true;
}

int mime_write_headers(MailContext *ctx, MessagePrintFn print, void *user)
{
    MimeOut out(print, user);
    mime_out_headers(ctx, out);
    return out.status;
}

void mime_structure_flags(const MailContext *ctx, int *mixed, int *related, int *single)
{
    bool rel = ctx->extra_related != nullptr;
    bool mime_att = false;
    ListLink *list = ctx->attachments;
    for (Attachment *a = att_first(list); a; a = att_next(a)) {
        if (a->is_inline) {
            rel = true;
            break; // the first inline attachment settles it
        }
        // A message/* part once copied as it is stays a MIME part.
        if (att_is_mime_part(a))
            mime_att = true;
    }
    bool mix = rel || ctx->extra_mixed || ctx->html_body || mime_att || (ctx->flags & MAILF_FORCE_MIME);
    if (mixed)
        *mixed = mix;
    if (related)
        *related = rel;
    if (single)
        *single = !mix && !ctx->attachments;
}
