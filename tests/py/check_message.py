"""Parses a written message with Python's email package and checks it
against expectations given as JSON on standard input.

Expectations (all optional):
  subject, from_name, from_addr, to and cc (lists of addresses), to_names
  (display names of the To addresses), text, html,
  attachments: [{filename, sha256, inline, cid, content_type}],
  tree (content types of the part tree, one per line, indented by one
  space per level), max_line (longest line allowed, CR LF excluded),
  strict (parse with policy=strict), headers: {name: value},
  names_without_spaces (compare display names with blanks removed: Python's
  address parser puts a space between adjacent encoded words of a phrase,
  which RFC 2047 section 6.2 says a reader drops, and folds the blanks
  inside a phrase),
  words_line_max (longest line allowed for a line that holds an encoded
  word, RFC 2047 section 2: 76).
Always checked: CR LF line ends only, no header line of white space only,
no parser defects in any part.
Prints "OK", or the first mismatch and exits 1.
"""
import email
import email.policy
import hashlib
import json
import sys


def fail(msg):
    print(msg)
    sys.exit(1)


def tree(part, depth=0):
    lines = [" " * depth + part.get_content_type()]
    if part.is_multipart():
        for sub in part.iter_parts():
            lines += tree(sub, depth + 1)
    return lines


def names_equal(got, want, squash):
    if squash:
        return "".join(got.split()) == "".join(want.split())
    return got == want


def main():
    path = sys.argv[1]
    want = json.load(sys.stdin)
    raw = open(path, "rb").read()
    if b"\n" in raw.replace(b"\r\n", b""):
        fail("bare LF in message")
    if b"\r" in raw.replace(b"\r\n", b""):
        fail("bare CR in message")
    limit = want.get("max_line", 998)
    for n, line in enumerate(raw.split(b"\r\n")):
        if len(line) > limit:
            fail("line %d has %d octets" % (n + 1, len(line)))
    words_limit = want.get("words_line_max")
    if words_limit is not None:
        for n, line in enumerate(raw.split(b"\r\n")):
            if b"=?utf-8?" in line and len(line) > words_limit:
                fail("line %d holds encoded words in %d octets" % (n + 1, len(line)))
    header = raw.split(b"\r\n\r\n", 1)[0]
    for n, line in enumerate(header.split(b"\r\n")):
        if line[:1] in (b" ", b"\t") and not line.strip(b" \t"):
            fail("header line %d is white space only" % (n + 1))
    policy = email.policy.strict if want.get("strict") else email.policy.default
    msg = email.message_from_bytes(raw, policy=policy)
    for part in msg.walk():
        if part.defects:
            fail("defects in %s: %r" % (part.get_content_type(), part.defects))
    if "tree" in want:
        got = "\n".join(tree(msg))
        if got != want["tree"]:
            fail("tree %r != %r" % (got, want["tree"]))
    if "subject" in want and str(msg["subject"]) != want["subject"]:
        fail("subject %r != %r" % (str(msg["subject"]), want["subject"]))
    squash = want.get("names_without_spaces", False)
    if "from_addr" in want or "from_name" in want:
        addrs = msg["from"].addresses
        if len(addrs) != 1:
            fail("from has %d addresses" % len(addrs))
        if "from_addr" in want and addrs[0].addr_spec != want["from_addr"]:
            fail("from addr %r" % addrs[0].addr_spec)
        if "from_name" in want and not names_equal(addrs[0].display_name, want["from_name"], squash):
            fail("from name %r != %r" % (addrs[0].display_name, want["from_name"]))
    for field in ("to", "cc"):
        if field in want:
            got = [a.addr_spec for a in msg[field].addresses] if msg[field] is not None else []
            if got != want[field]:
                fail("%s %r != %r" % (field, got, want[field]))
    if "to_names" in want:
        got = [a.display_name for a in msg["to"].addresses]
        if len(got) != len(want["to_names"]) or not all(
                names_equal(g, w, squash) for g, w in zip(got, want["to_names"])):
            fail("to names %r != %r" % (got, want["to_names"]))
    for name, value in want.get("headers", {}).items():
        # Leading blanks of a value are folding white space to a reader;
        # Python keeps them only when the value begins on a folded line.
        if str(msg[name]).lstrip(" \t") != value.lstrip(" \t"):
            fail("header %s %r != %r" % (name, str(msg[name]), value))
    body = msg.get_body(preferencelist=("plain",))
    if "text" in want:
        if body is None:
            fail("no text part")
        got = body.get_payload(decode=True).decode(body.get_content_charset() or "us-ascii")
        if got != want["text"]:
            fail("text %r != %r" % (got, want["text"]))
    if "html" in want:
        part = msg.get_body(preferencelist=("html",))
        if part is None:
            fail("no html part")
        got = part.get_payload(decode=True).decode("utf-8")
        if got != want["html"]:
            fail("html %r != %r" % (got, want["html"]))
    if "attachments" in want:
        found = []
        for part in msg.walk():
            disp = part.get_content_disposition()
            if disp not in ("attachment", "inline"):
                continue
            data = part.get_payload(decode=True)
            if part.get_content_maintype() == "message":
                data = None  # checked on the raw bytes by the caller
            found.append({
                "filename": part.get_filename(),
                "sha256": hashlib.sha256(data).hexdigest() if data is not None else None,
                "inline": disp == "inline",
                "cid": part.get("content-id"),
                "content_type": part.get_content_type(),
            })
        exp = want["attachments"]
        if len(found) != len(exp):
            fail("%d attachments, want %d: %r" % (len(found), len(exp), found))
        for f, e in zip(found, exp):
            for k, v in e.items():
                if f.get(k) != v:
                    fail("attachment %r: %s %r != %r" % (f.get("filename"), k, f.get(k), v))
    print("OK")


main()
