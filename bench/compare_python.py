#!/usr/bin/python3
"""Reference side of the message benchmark: Python's own `email` package.

write  builds the message that bench_message has Tarvex compose (From, To,
       Subject, a short text body and one file attachment with the given
       transfer encoding) and writes it in wire form (CRLF, SMTP policy) to
       a file. It prints one line, "<nanoseconds> <bytes written>", where the
       time runs from reading the attachment to closing the output file, as
       Tarvex's does.
verify parses a message that Tarvex wrote and checks that the attachment
       decodes to the input file's bytes and that the text body survived, so
       the benchmark cannot time a writer that produces the wrong message.

Run it with Debian's interpreter, /usr/bin/python3.
"""
import argparse
import email
import email.generator
import email.message
import email.policy
import sys
import time


def cmd_write(args):
    maintype, subtype = args.type.split("/", 1)
    start = time.perf_counter_ns()
    with open(args.input, "rb") as f:
        data = f.read()
    msg = email.message.EmailMessage()
    msg["From"] = args.sender
    msg["To"] = args.recipient
    msg["Subject"] = args.subject
    msg.set_content(args.body)
    msg.add_attachment(data, maintype, subtype, cte=args.cte, filename=args.name)
    with open(args.output, "wb") as out:
        if args.writer == "as_bytes":
            out.write(msg.as_bytes(policy=email.policy.SMTP))
        else:
            email.generator.BytesGenerator(out, policy=email.policy.SMTP).flatten(msg)
        written = out.tell()
    elapsed = time.perf_counter_ns() - start
    print(elapsed, written)
    return 0


def cmd_verify(args):
    with open(args.message, "rb") as f:
        msg = email.message_from_binary_file(f, policy=email.policy.default)
    with open(args.input, "rb") as f:
        expected = f.read()
    problems = []
    if not msg.is_multipart():
        problems.append("message is not multipart")
    found = False
    body_seen = False
    for part in msg.walk():
        if part.is_multipart():
            continue
        if part.get_filename() == args.name:
            found = True
            if part.get("Content-Transfer-Encoding", "").lower() != args.cte:
                problems.append("attachment encoding is %r" % part.get("Content-Transfer-Encoding"))
            payload = part.get_payload(decode=True)
            if payload != expected:
                problems.append("attachment decodes to %d bytes that differ from the input (%d bytes)"
                                % (len(payload or b""), len(expected)))
        elif part.get_content_type() == "text/plain":
            body_seen = part.get_content().replace("\r\n", "\n").rstrip("\n") == args.body.rstrip("\n")
    if not found:
        problems.append("no attachment named %r" % args.name)
    if not body_seen:
        problems.append("text body missing or changed")
    for p in problems:
        print("verify %s: %s" % (args.message, p), file=sys.stderr)
    return 1 if problems else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    sub = parser.add_subparsers(dest="command", required=True)
    for name in ("write", "verify"):
        p = sub.add_parser(name)
        p.add_argument("--input", required=True, help="the attachment file")
        p.add_argument("--cte", required=True, choices=("base64", "quoted-printable"))
        p.add_argument("--name", required=True, help="the attachment's file name in the message")
        p.add_argument("--body", required=True, help="the text body")
        if name == "write":
            p.add_argument("--output", required=True)
            p.add_argument("--type", required=True, help="MIME type, e.g. application/octet-stream")
            p.add_argument("--sender", default="a@example.com")
            p.add_argument("--recipient", default="b@example.com")
            p.add_argument("--subject", default="Benchmark message")
            p.add_argument("--writer", choices=("generator", "as_bytes"), default="generator",
                           help="BytesGenerator straight into the file, or as_bytes() then one write")
        else:
            p.add_argument("--message", required=True, help="the message Tarvex wrote")
    args = parser.parse_args()
    return cmd_write(args) if args.command == "write" else cmd_verify(args)


if __name__ == "__main__":
    sys.exit(main())
