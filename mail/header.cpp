// The generated header block: Date, Subject, From, Reply-To, To, Cc,
// Message-ID, Disposition-Notification-To, X-Priority and X-Mailer, in that
// order, folded so that no line we generate is too long for a transport.
#include "mail/writer.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "mail/addr.h"
#include "mail/ident.h"
#include "mail/list.h"
#include "support/encode.h"
#include "support/util.h"

void msg_sink_init(MsgSink *ms, FmtSink sink, void *user)
{
    ms->sink = sink;
    ms->user = user;
    ms->failed = 0;
}

int msg_printf(void *p, const char *format, ...)
{
    MsgSink *ms = static_cast<MsgSink *>(p);
    if (ms->failed)
        return 0;
    va_list ap;
    va_start(ap, format);
    if (!fmt_vformat(ms->sink, ms->user, nullptr, nullptr, format, ap))
        ms->failed = 1;
    va_end(ap);
    return !ms->failed;
}

// ---- folding -----------------------------------------------------------------

// RFC 2047 words for a text: 45 bytes of text per word (the first word
// first_bytes at most), cut between UTF-8 characters.
static std::string encode_as_words(const std::string &text, size_t first_bytes = 45)
{
    std::string out;
    size_t pos = 0;
    char b64[80];
    size_t limit = first_bytes;
    while (pos < text.size()) {
        size_t take = text.size() - pos < limit ? text.size() - pos : limit;
        // Do not cut a UTF-8 sequence: step back over continuation bytes.
        while (take > 1 && pos + take < text.size() && (static_cast<unsigned char>(text[pos + take]) & 0xc0) == 0x80)
            take--;
        if (!out.empty())
            out += ' ';
        out += "=?utf-8?B?";
        out.append(b64, b64_encode(text.data() + pos, static_cast<ptrdiff_t>(take), b64));
        out += "?=";
        pos += take;
        limit = 45;
    }
    return out;
}

static bool is_b64_char(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

// Length of the "=?utf-8?B?" base64 "?=" word at p, 0 when there is none.
// Only words a reader accepts count: at most RFC2047_WORD_MAX characters
// with whole base64 quads.
static size_t encoded_word_len(const char *p, const char *end)
{
    const char *q = p;
    if (end - q < 12 || strncmp(q, "=?utf-8?B?", 10) != 0)
        return 0;
    q += 10;
    while (q < end && is_b64_char(*q))
        q++;
    for (int pad = 0; q < end && *q == '=' && pad < 2; pad++)
        q++;
    if (end - q < 2 || q[0] != '?' || q[1] != '=')
        return 0;
    size_t b64_len = static_cast<size_t>(q - (p + 10));
    size_t len = static_cast<size_t>(q + 2 - p);
    if (b64_len % 4 != 0 || len > RFC2047_WORD_MAX)
        return 0;
    return len;
}

// When the encoded words that open a field's value would make its first
// line too long, they are made again with a shorter first word, so that the
// line folds under the limit without white space before the value.
static std::string fit_first_line(const char *line, size_t len)
{
    const char *end = line + len;
    // Only a field's own line has a name before its value.
    const char *colon = len && line[0] != ' ' && line[0] != '\t' ? static_cast<const char *>(memchr(line, ':', len)) : nullptr;
    if (!colon || colon + 1 >= end || colon[1] != ' ')
        return std::string(line, len);
    const char *run = colon + 2;
    size_t first = encoded_word_len(run, end);
    size_t prefix = static_cast<size_t>(run - line);
    if (!first || prefix + first <= HDR_LINE_SOFT || prefix + 12 + 4 > HDR_LINE_SOFT)
        return std::string(line, len);
    // Decode the whole run of words; they hold one text cut in pieces.
    std::string text;
    const char *p = run;
    for (;;) {
        size_t w = encoded_word_len(p, end);
        if (!w)
            break;
        unsigned char bytes[b64_decoded_max(RFC2047_WORD_MAX)];
        size_t n = b64_decode(p + 10, static_cast<ptrdiff_t>(w - 12), bytes);
        text.append(reinterpret_cast<char *>(bytes), n);
        p += w;
        if (p < end && *p == ' ' && encoded_word_len(p + 1, end))
            p++;
        else
            break;
    }
    size_t first_bytes = (HDR_LINE_SOFT - prefix - 12) / 4 * 3;
    return std::string(line, prefix) + encode_as_words(text, first_bytes) + std::string(p, end);
}

void hdr_write_folded(MessagePrintFn print, void *user, const char *text, size_t text_len)
{
    std::string fitted = fit_first_line(text, text_len);
    const char *line = fitted.data();
    size_t len = fitted.size();
    const char *colon = len && line[0] != ' ' && line[0] != '\t' ? static_cast<const char *>(memchr(line, ':', len)) : nullptr;
    size_t name_space = colon ? static_cast<size_t>(colon - line) + 1 : len;
    // Fold before a space when the line would pass the soft limit. A run
    // without spaces stays whole: callers make sure none is longer than
    // HDR_RUN_MAX, so every line stays under the hard limit.
    size_t start = 0; // start of the current output line
    size_t col = 0;
    size_t i = 0;
    while (i < len) {
        size_t word_end = i + 1;
        while (word_end < len && line[word_end] != ' ')
            word_end++;
        size_t word = word_end - i;
        // Never fold at the space after the field name (the value would
        // then begin with white space), nor before a bare space: the new
        // line must hold more than white space.
        if (col > 0 && line[i] == ' ' && i != name_space && word > 1 && col + word > HDR_LINE_SOFT) {
            print(user, "%.*s\r\n", static_cast<int>(i - start), line + start);
            start = i;
            col = 0;
        }
        col += word;
        i = word_end;
    }
    print(user, "%.*s\r\n", static_cast<int>(len - start), line + start);
}

static void write_field(MessagePrintFn print, void *user, const std::string &line)
{
    hdr_write_folded(print, user, line.data(), line.size());
}

// True when no space-free run of s is longer than HDR_RUN_MAX.
static bool runs_fit(const std::string &s)
{
    size_t run = 0;
    for (char c : s) {
        run = c == ' ' ? 0 : run + 1;
        if (run > HDR_RUN_MAX)
            return false;
    }
    return true;
}

// A header value as it can be folded: unchanged, or as encoded words when
// it holds a run too long for any line.
static std::string foldable(const char *value)
{
    std::string v = value ? value : "";
    return runs_fit(v) ? v : encode_as_words(v);
}

// True when s is only "=?utf-8?B?" base64 "?=" words separated by single
// spaces, as the header-text encoder makes them.
static bool is_encoded_words(const char *s)
{
    const char *end = s + strlen(s);
    const char *p = s;
    if (p == end)
        return false;
    for (;;) {
        size_t w = encoded_word_len(p, end);
        if (!w)
            return false;
        p += w;
        if (p == end)
            return true;
        if (*p != ' ')
            return false;
        p++;
    }
}

// text as an RFC 5322 quoted string, '"' and '\\' escaped.
static std::string quoted_string(const char *text)
{
    std::string s = "\"";
    for (const char *p = text; *p; p++) {
        if (*p == '"' || *p == '\\')
            s += '\\';
        s += *p;
    }
    s += '"';
    return s;
}

static std::string display_name(const char *name)
{
    if (is_encoded_words(name))
        return name;
    // A quoted string: no text can end it early and show another address.
    std::string s = quoted_string(name);
    return runs_fit(s) ? s : encode_as_words(name);
}

int hdr_append_display_name(char **out, const char *name)
{
    std::string s = (*out ? *out : "") + display_name(name ? name : "");
    char *copy = strdup(s.c_str());
    if (!copy)
        return 0;
    free(*out);
    *out = copy;
    return 1;
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
    if (*p == '[') {
        for (p++; *p != ']'; p++)
            if (!*p || *p == '[' || *p == '\\' || *p == ' ')
                return 0;
        return p[1] == '\0';
    }
    p = skip_dot_atom(p);
    return p && *p == '\0';
}

// The address as the header shows it: prepared for the server's abilities;
// an address that has no prepared form (a non-ASCII local part without
// SMTPUTF8) is shown as it was given.
static std::string prepared(const MailContext *ctx, const char *address)
{
    char buf[ADDR_BUF_SIZE];
    if (addr_prepare_for_smtp(address, buf, sizeof buf, nullptr, (ctx->flags2 & MAILF2_SERVER_SMTPUTF8) != 0))
        return buf;
    return address ? address : "";
}

static std::string mailbox(const MailContext *ctx, const char *name, const char *address)
{
    if (name && *name)
        return display_name(name) + " <" + prepared(ctx, address) + ">";
    return prepared(ctx, address);
}

static void note_removed(MailContext *ctx, const char *name)
{
    // In Preconstructed mode the file's own field of this name gives way.
    if (ctx->mode == MAIL_MODE_PRECONSTRUCTED)
        hdr_list_add(&ctx->removed_headers, name, "");
}

// ---- single fields -------------------------------------------------------------

struct tm *time_utc_calendar(int64_t t, struct tm *out)
{
    time_t tt = static_cast<time_t>(t);
    return gmtime_r(&tt, out);
}

int str_is_ascii(const char *text)
{
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text ? text : ""); *p; p++)
        if (*p >= 0x80)
            return 0;
    return 1;
}

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
    print(user, "%s", buf);
    return 1;
}

int mime_write_subject(MailContext *ctx, MessagePrintFn print, void *user)
{
    if (!ctx->subject)
        return 0;
    write_field(print, user, "Subject: " + foldable(ctx->subject));
    return 1;
}

int mime_write_from(MailContext *ctx, MessagePrintFn print, void *user)
{
    if (ctx->flags2 & MAILF2_FROM_FROM_FILE)
        return 0;
    write_field(print, user, "From: " + mailbox(ctx, ctx->from_name, ctx->from_address));
    return 1;
}

int mime_write_reply_to(MailContext *ctx, MessagePrintFn print, void *user)
{
    if (!ctx->reply_to_address)
        return 0;
    write_field(print, user, "Reply-To: " + mailbox(ctx, ctx->reply_to_name, ctx->reply_to_address));
    return 1;
}

int mime_write_recipient_header(int kind, MailContext *ctx, MessagePrintFn print, void *user)
{
    if (ctx->flags2 & MAILF2_RECIPIENTS_FROM_FILE)
        return 0;
    const char *first_prefix = kind == MAIL_RCPT_CC ? "Cc: " : "To: ";
    if (ctx->recipient_fn) {
        const char *address = nullptr, *name = nullptr, *params = nullptr;
        bool any = false;
        std::string line;
        while (ctx->recipient_fn(ctx->recipient_user, kind, &address, &name, &params)) {
            // The callback's texts were never checked: an address that is
            // not one clean mailbox stays out of the header (it could carry
            // a line break or show further addresses); the name is encoded.
            if (!hdr_address_is_safe(address))
                continue;
            std::string clean = name ? name : "";
            for (char &c : clean)
                if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
                    c = ' '; // a name shows no line breaks or other controls
            char *encoded = name ? hdr_encode_text(clean.c_str()) : nullptr;
            std::string entry = (encoded && *encoded) ? mailbox(ctx, encoded, address) : prepared(ctx, address);
            free(encoded);
            if (any) {
                line += ",";
                write_field(print, user, line);
            }
            line = (any ? "\t" : first_prefix) + entry;
            any = true;
        }
        if (any)
            write_field(print, user, line);
        return 1;
    }
    std::vector<std::string> entries;
    for (Recipient *r = kind == MAIL_RCPT_CC ? ctx->cc : ctx->to; r; r = r->next)
        if (hdr_address_is_safe(r->address)) // a listed address that is not one mailbox goes like Bcc
            entries.push_back(mailbox(ctx, r->display_name, r->address));
    if (entries.empty()) {
        if (kind != MAIL_RCPT_CC)
            write_field(print, user,
                        std::string("To: \"Undisclosed recipients\" <") + (ctx->from_address ? ctx->from_address : "") + ">");
        return 1;
    }
    for (size_t i = 0; i < entries.size(); i++)
        write_field(print, user, (i ? "\t" : first_prefix) + entries[i] + (i + 1 < entries.size() ? "," : ""));
    return 1;
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
    if (!ctx->message_id[0])
        mail_message_id(ctx->message_id, sizeof ctx->message_id, ctx->from_address);
    if (!ctx->message_id[0])
        return 0; // no sender domain to make one from
    print(user, "Message-ID: %s\r\n", ctx->message_id);
    return 1;
}

int mime_write_dnt(MailContext *ctx, MessagePrintFn print, void *user)
{
    if (!(ctx->flags & MAILF_MDN))
        return 0;
    const char *addr = ctx->from_address ? ctx->from_address : "";
    if (ctx->from_name)
        write_field(print, user, "Disposition-Notification-To: " + display_name(ctx->from_name) + " <" + addr + ">");
    else
        write_field(print, user, std::string("Disposition-Notification-To: ") + addr);
    return 1;
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
        return 0;
    if (const char *text = priority_text(ctx->priority))
        print(user, "X-Priority: %s\r\n", text);
    return 1;
}

int mime_write_x_mailer(MailContext *ctx, MessagePrintFn print, void *user)
{
    if ((ctx->mode == MAIL_MODE_SMTP || ctx->mode == MAIL_MODE_FILE) && ctx->mailer)
        write_field(print, user, "X-Mailer: " + foldable(ctx->mailer));
    return 1;
}

void hdr_write_param(MessagePrintFn print, void *user, const char *param, const char *value)
{
    // A quoted string, as display names are (also around encoded words,
    // which a parameter cannot carry unquoted).
    std::string q = quoted_string(value);
    if (!runs_fit(q))
        q = "\"" + encode_as_words(value) + "\"";
    write_field(print, user, std::string("\t") + param + "=" + q);
}

void mime_write_custom_field(MessagePrintFn print, void *user, const char *name, const char *value)
{
    write_field(print, user, std::string(name) + ": " + foldable(value));
}

void mime_write_headers(MailContext *ctx, MessagePrintFn print, void *user)
{
    mime_write_date(ctx, print, user);
    note_removed(ctx, "Date");
    if (mime_write_subject(ctx, print, user))
        note_removed(ctx, "Subject");
    if (mime_write_from(ctx, print, user))
        note_removed(ctx, "From");
    if (mime_write_reply_to(ctx, print, user))
        note_removed(ctx, "Reply-To");
    if (mime_write_recipient_header(MAIL_RCPT_TO, ctx, print, user))
        note_removed(ctx, "To");
    if (mime_write_recipient_header(MAIL_RCPT_CC, ctx, print, user))
        note_removed(ctx, "Cc");
    mime_write_message_id(ctx, print, user);
    note_removed(ctx, "Message-ID");
    if (mime_write_dnt(ctx, print, user))
        note_removed(ctx, "Disposition-Notification-To");
    if (mime_write_priority(ctx, print, user))
        note_removed(ctx, "X-Priority");
    mime_write_x_mailer(ctx, print, user);
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
