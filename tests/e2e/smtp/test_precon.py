"""End-to-end tests of ready message files and recipient list files: sent
to aiosmtpd and written in File mode, checked byte for byte."""
import os
import re
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from peers import AioPeer  # noqa: E402
from test_smtp import SmtpTestCase, normalise  # noqa: E402

READY = (b"From: \"Ann, Example\" <ann@example.com>\n"
         b"To: bob@example.org,\n \"Cy D\" <cy@example.org>\n"
         b"Cc: dee@example.net\n"
         b"Bcc: hidden@example.net\n"
         b"Subject: ready\n"
         b"X-Drop: gone\n\tfolded too\n"
         b"X-Keep:no blank\n"
         b".X-Dot: starts with a dot\n"
         b"\n"
         b".\n..two\nlast line without end")
BODY = b"\r\n\r\n.\r\n..two\r\nlast line without end\r\n"


class PreconstructedTests(SmtpTestCase):
    def setUp(self):
        super().setUp()
        self.peer = AioPeer()
        self.addCleanup(self.peer.close)
        self.host = "-host:127.0.0.1:%d" % self.peer.port

    def send(self, *args):
        return self.run_program([self.host] + list(args))

    def file_mode(self, *args):
        out = self.path("out.eml")
        run = self.run_program(list(args) + ["-file:" + out])
        self.assertRun(run, 0, "")
        with open(out, "rb") as f:
            return f.read()

    def test_sender_and_recipients_from_the_file(self):
        ready = self.write("ready.eml", READY)
        options = ["-emailfile:" + ready, "-delhead:x-drop", "-head:X-Custom:added"]
        run = self.send(*options)
        self.assertRun(run, 0, "")
        got = self.peer.messages[-1]
        self.assertEqual(got.mail_from, "ann@example.com")
        self.assertEqual(sorted(got.rcpt_tos), ["bob@example.org", "cy@example.org",
                                                "dee@example.net", "hidden@example.net"])
        content = got.content
        self.assertTrue(content.endswith(BODY), content)
        header = content[:content.index(b"\r\n\r\n") + 2]
        self.assertNotIn(b"\n", header.replace(b"\r\n", b""))
        for gone in (b"Bcc", b"hidden", b"X-Drop", b"folded too"):
            self.assertNotIn(gone, header)
        for kept in (b"\r\nSubject: ready\r\n", b"\r\nX-Keep:no blank\r\n",
                     b"\r\n.X-Dot: starts with a dot\r\n", b"\r\nX-Custom: added\r\n\r\n"):
            self.assertIn(kept, content)
        self.assertRegex(content, rb"\ADate: [^\r]+\r\nMessage-ID: <[^>]+@example\.com>\r\n"
                                  rb"From: \"Ann, Example\" <ann@example\.com>\r\n")
        # File mode writes the same message.
        self.assertEqual(normalise(content), normalise(self.file_mode(*options)))

    def test_envelope_from_the_options_and_raw_headers(self):
        ready = self.write("ready.eml", READY)
        run = self.send("-emailfile:" + ready, "-from:env@example.com", "-to:other@example.org",
                        "-rawhead", "-subject:not used")
        self.assertRun(run, 0, "")
        got = self.peer.messages[-1]
        self.assertEqual((got.mail_from, got.rcpt_tos), ("env@example.com", ["other@example.org"]))
        self.assertTrue(got.content.startswith(b"From: \"Ann, Example\" <ann@example.com>\r\nTo: "),
                        got.content)
        self.assertNotIn(b"not used", got.content)
        self.assertNotIn(b"Bcc", got.content)

    def test_own_header_goes_as_it_stands_without_smtputf8(self):
        # The server lacks SMTPUTF8. The file's own header is the file's and
        # goes as it stands; a field Tarvex generates in front of it never
        # carries an address that has no ASCII form.
        jose = "j\u00f6s\u00e9@example.org"
        subject = "Subject: Gr\u00fc\u00dfe\r\n".encode()
        own_to = ("To: %s, ok@example.org\r\n" % jose).encode()
        utf8_to = self.write("utf8-to.eml", ("From: ann@example.com\nTo: %s, ok@example.org\n"
                                             "Subject: Gr\u00fc\u00dfe\n\nbody\n" % jose).encode())
        ascii_to = self.write("ascii-to.eml", "From: ann@example.com\nTo: ok@example.org\n"
                                              "Subject: Gr\u00fc\u00dfe\n\nbody\n".encode())
        cases = [
            (utf8_to, ["-rawhead", "-from:env@example.com", "-to:ok@example.org"], 0, "", [own_to, subject]),
            (ascii_to, [], 0, "", [b"To: ok@example.org\r\n", subject]),
            (ascii_to, ["-from:env@example.com", "-to:" + jose, "-to:ok@example.org"], 1,
             "Message send failed (SMTPUTF8 required for %s in the To field)\n" % jose, None),
        ]
        for ready, options, status, stderr, kept in cases:
            with self.subTest(ready=ready, options=options):
                before = len(self.peer.messages)
                run = self.send("-emailfile:" + ready, *options)
                self.assertRun(run, status, stderr)
                if kept is None:
                    self.assertEqual(len(self.peer.messages), before)
                    continue
                got = self.peer.messages[-1]
                self.assertEqual(got.rcpt_tos, ["ok@example.org"])
                for text in kept:
                    self.assertIn(text, got.content)

    def test_file_without_empty_line_gets_its_custom_fields(self):
        ready = self.write("ready.eml", b"Subject: only a header\nX-A: 1")
        got = self.file_mode("-emailfile:" + ready, "-from:a@example.com", "-to:b@example.org",
                             "-rawhead", "-head:X-B:2")
        self.assertEqual(got, b"Subject: only a header\r\nX-A: 1\r\nX-B: 2\r\n\r\n")

    def test_refused_files_send_nothing(self):
        cases = [
            (b"Subject: x\n\nbody\0more\n",
             re.compile(r"\AMessage send failed \(The message file holds a NUL byte \([^)]*\)\)\n\Z"), 1),
        ]
        for data, message, status in cases:
            with self.subTest(data=data):
                ready = self.write("bad.eml", data)
                run = self.send("-emailfile:" + ready, "-from:a@example.com", "-to:b@example.org")
                self.assertRun(run, status, message)
                self.assertEqual(self.peer.messages, [])
                run = self.run_program(["-emailfile:" + ready, "-from:a@example.com",
                                        "-to:b@example.org", "-file:" + self.path("o.eml")])
                self.assertRun(run, 1, re.compile(r"\AThe message file holds a NUL byte"))
                self.assertFalse(os.path.exists(self.path("o.eml")))



# Bcc and Resent-Bcc fields of a message file in every spelling the header
# scan takes them in: (case, the field's lines, the envelope recipients it
# adds when they are read from the file). A Bcc field's addresses become
# recipients; a Resent-Bcc field's are the resender's business and do not.
# The runs of blanks put the colon on both sides of the longest header line.
H1, H2, H3 = b"h1@example.net", b"h2@example.net", b"h3@example.net"
BCC_FIELDS = [
    ("plain", [b"Bcc: " + H1], [H1]),
    ("capitals", [b"BCC: " + H1], [H1]),
    ("lower case, no blank", [b"bcc:" + H1], [H1]),
    ("blanks before the colon", [b"Bcc \t : " + H1], [H1]),
    ("folded", [b"Bcc: " + H1 + b",", b"\t" + H2 + b",", b"   " + H3], [H1, H2, H3]),
    ("994 blanks", [b"Bcc" + b" " * 994 + b": " + H1], [H1]),
    ("995 blanks", [b"Bcc" + b" " * 995 + b": " + H1], [H1]),
    ("996 blanks", [b"Bcc" + b" " * 996 + b": " + H1], [H1]),
    ("997 blanks", [b"Bcc" + b" " * 997 + b": " + H1], [H1]),
    ("998 blanks", [b"Bcc" + b" " * 998 + b": " + H1], [H1]),
    ("5000 blanks and tabs, folded", [b"BCC" + b" \t" * 2500 + b":" + H1 + b",", b" " + H2], [H1, H2]),
    ("Resent-Bcc", [b"Resent-Bcc: " + H1], []),
    ("Resent-Bcc in capitals, folded", [b"RESENT-BCC: " + H1 + b",", b"\t" + H2], []),
    ("Resent-Bcc, 997 blanks", [b"Resent-Bcc" + b" " * 997 + b": " + H1], []),
]


class BccFieldTests(SmtpTestCase):
    """No Bcc or Resent-Bcc field of a message file reaches a recipient,
    with or without -rawhead, whatever its spelling or length."""

    def test_bcc_fields_stay_out_of_the_data(self):
        peer = AioPeer()
        self.addCleanup(peer.close)
        top = b"From: ann@example.com\r\nTo: t@example.org\r\n"
        rest = b"X-After: kept\r\n\r\nbody\r\n"
        for case, lines, added in BCC_FIELDS:
            ready = self.write("bcc.eml", top.replace(b"\r\n", b"\n") +
                               b"".join(line + b"\n" for line in lines) + rest.replace(b"\r\n", b"\n"))
            for raw in ([], ["-rawhead"]):
                with self.subTest(case=case, raw=raw):
                    run = self.run_program(["-host:127.0.0.1:%d" % peer.port, "-emailfile:" + ready] + raw)
                    self.assertRun(run, 0, "")
                    got = peer.messages[-1]
                    self.assertEqual(sorted(got.rcpt_tos), sorted(["t@example.org"] +
                                                                  [a.decode() for a in added]))
                    # The file's header but for the field, as it stands with
                    # -rawhead, after the generated Date and Message-ID without.
                    if raw:
                        self.assertEqual(got.content, top + rest)
                    else:
                        self.assertRegex(got.content, rb"\ADate: [^\r]+\r\nMessage-ID: <[^>]+>\r\n" +
                                         re.escape(top + rest) + rb"\Z")
                    out = self.path("out.eml")
                    run = self.run_program(["-emailfile:" + ready, "-file:" + out] + raw)
                    self.assertRun(run, 0, "")
                    with open(out, "rb") as f:
                        self.assertEqual(normalise(f.read()), normalise(got.content))


# The address fields of a message file, each read whole by the address-list
# grammar (UTF-8 names and addresses, comments, groups, quoted local parts,
# address literals): (header lines, envelope recipients, sender, server
# offers SMTPUTF8). The From line is the file's first unless a case gives
# its own.
HEADER_CASES = [
    (["Cc: Zo\u00eb <zoe@example.org>"], ["zoe@example.org"], "ann@example.com", False),
    (["To: a@example.org, Zo\u00eb <zz@example.org>, last@example.org"],
     ["a@example.org", "zz@example.org", "last@example.org"], "ann@example.com", False),
    (["To: a@example.org, undisclosed-recipients:;, z@example.org"],
     ["a@example.org", "z@example.org"], "ann@example.com", False),
    (["To: t@example.org", "Cc: team: b@example.org, c@example.org;"],
     ["t@example.org", "b@example.org", "c@example.org"], "ann@example.com", False),
    (["Cc: b1@example.org (Bob), b2@example.org"], ["b1@example.org", "b2@example.org"],
     "ann@example.com", False),
    (["To: (team) t@example.org"], ["t@example.org"], "ann@example.com", False),
    (["To: t@example.org", "Bcc: \"odd name\"@example.org, b2@example.org"],
     ["t@example.org", "\"odd name\"@example.org", "b2@example.org"], "ann@example.com", False),
    (["To: t@example.org", "Bcc: b1@[192.0.2.1], b2@example.org"],
     ["t@example.org", "b1@[192.0.2.1]", "b2@example.org"], "ann@example.com", False),
    (["To: j\u00f6rg@b\u00fccher.example, z@example.org"],
     ["j\u00f6rg@xn--bcher-kva.example", "z@example.org"], "ann@example.com", True),
    (["To: t@example.org", "Bcc:hid@example.org"], ["t@example.org", "hid@example.org"],
     "ann@example.com", False),
    (["From: J\u00f6rg <me@example.org>", "To: t@example.org"], ["t@example.org"],
     "me@example.org", False),
    # Kept from the earlier reading: a display name that holds a comma.
    (["To: Doe, Jane <jane@example.org>, \"Ray, B\" <b@example.org>"],
     ["jane@example.org", "b@example.org"], "ann@example.com", False),
]


class HeaderAddressTests(SmtpTestCase):
    """Every address of a message file's To, Cc, Bcc and From reaches the
    envelope, or the message goes nowhere."""

    def ready(self, lines):
        head = [] if lines[0].startswith("From:") else ["From: Ann <ann@example.com>"]
        text = "\r\n".join(head + lines + ["Subject: s", "", "body", ""])
        return self.write("ready.eml", text.encode())

    def test_every_address_reaches_the_envelope(self):
        peers = {False: AioPeer(), True: AioPeer(smtputf8=True)}
        for peer in peers.values():
            self.addCleanup(peer.close)
        for lines, recipients, sender, utf8 in HEADER_CASES:
            with self.subTest(lines=lines):
                peer = peers[utf8]
                before = len(peer.messages)
                run = self.run_program(["-host:127.0.0.1:%d" % peer.port,
                                        "-emailfile:" + self.ready(lines)])
                self.assertRun(run, 0, "")
                self.assertEqual(len(peer.messages), before + 1)
                got = peer.messages[-1]
                self.assertEqual(got.mail_from, sender)
                self.assertEqual(sorted(got.rcpt_tos), sorted(recipients))
        # Without SMTPUTF8 at the server, the address read with a non-ASCII
        # local part meets the refusal of any such recipient.
        jorg = "j\u00f6rg@b\u00fccher.example"
        run = self.run_program(["-host:127.0.0.1:%d" % peers[False].port,
                                "-emailfile:" + self.ready(["To: %s, z@example.org" % jorg])])
        self.assertRun(run, 0, "Recipient %s rejected (SMTPUTF8 required)\n" % jorg)
        self.assertEqual(peers[False].messages[-1].rcpt_tos, ["z@example.org"])

    def test_a_field_that_cannot_be_read_sends_nothing(self):
        peer = AioPeer()
        self.addCleanup(peer.close)
        cases = [
            (["To: t@example.org", "Cc: b1@example.org b2@example.org"],
             'The Cc field of the message file cannot be read at "b1@example.org b2@example.org" '
             '(a comma is missing)'),
            (["To: t@example.org, \"open <u@example.org>"],
             'The To field of the message file cannot be read at ""open <u@example.org>" '
             '(a quoted string is not closed)'),
            (["To: t@example.org (note", "Cc: c@example.org"],
             'The To field of the message file cannot be read at "t@example.org (note" '
             '(a comment is not closed)'),
            (["To: t@example.org", "Bcc: Hid <h@example.org"],
             'The Bcc field of the message file cannot be read at "Hid <h@example.org" '
             '(an angle bracket is not closed)'),
            (["To: t@example.org", "Cc: b\x01d@example.org"],
             'The Cc field of the message file cannot be read at "b\\x01d@example.org" '
             '(a control character)'),
            (["To: t@example.org", "Bcc: .a@example.org"],
             'The Bcc field of the message file holds an address that cannot be used: ".a@example.org" '
             '(The recipient address is not a valid mailbox)'),
            (["To: alice, <bob@example.org>"],
             'The To field of the message file cannot be read at "alice, <bob@example.org>" '
             '(a display name without an address in angle brackets)'),
            (["To: t@example.org", "Cc: alice, Team: bob@example.org;"],
             'The Cc field of the message file cannot be read at "alice, Team: bob@example.org;" '
             '(a display name without an address in angle brackets)'),
            (["From: J\u00f6rg me@example.org", "To: t@example.org"],
             'The From field of the message file cannot be read at "J\u00f6rg me@example.org" '
             '(a display name without an address in angle brackets)'),
        ]
        for lines, reason in cases:
            with self.subTest(lines=lines):
                ready = self.ready(lines)
                for target in ("-host:127.0.0.1:%d" % peer.port, "-file:" + self.path("out.eml")):
                    run = self.run_program(["-emailfile:" + ready, target])
                    self.assertRun(run, 10, "%s (%s)\n" % (reason, ready))
                self.assertFalse(os.path.exists(self.path("out.eml")))
        self.assertEqual(peer.messages, [])


def padded_to(head, at):
    """head and pad fields (lines of at most 900 bytes, as servers take
    them) that make the next field begin at byte at."""
    out = head
    while at - len(out) > 900:
        out += b"X-Pad: " + b"p" * 791 + b"\r\n"
    return out + b"X-Pad: " + b"p" * (at - len(out) - 9) + b"\r\n"


class LongHeaderTests(SmtpTestCase):
    """The header of a message file is read to its empty line, wherever the
    program's reads of the file end, up to its cap of 4 MiB."""

    def setUp(self):
        super().setUp()
        # A Bcc field that begins at the last byte of the first 64 KiB read.
        self.bcc_file = self.write("bcc.eml", padded_to(
            b"From: a@example.com\r\nTo: t@example.org\r\n", 65535) +
            b"Bcc: hidden@example.net\r\n\r\nbody\r\n")
        # 1000 To fields of 224 bytes, well past 128 KiB, every read ending
        # inside a field name, and the sender last.
        fields = b"".join(b'To: "%s" <r%04d@example.org>\r\n' % (b"n" * 196, i) for i in range(1000))
        self.many = ["r%04d@example.org" % i for i in range(1000)]
        self.many_file = self.write("many.eml", padded_to(b"", 127) + fields +
                                    b"From: a@example.com\r\n\r\nbody\r\n")

    def test_every_recipient_reaches_the_envelope(self):
        peer = AioPeer()
        self.addCleanup(peer.close)
        for path, recipients in ((self.bcc_file, ["hidden@example.net", "t@example.org"]),
                                 (self.many_file, self.many)):
            with self.subTest(path=path):
                run = self.run_program(["-host:127.0.0.1:%d" % peer.port, "-emailfile:" + path])
                self.assertRun(run, 0, "")
                got = peer.messages[-1]
                self.assertEqual(got.mail_from, "a@example.com")
                self.assertEqual(sorted(got.rcpt_tos), recipients)
                self.assertNotIn(b"Bcc", got.content)
                self.assertNotIn(b"hidden", got.content)

    def test_file_mode_finds_sender_and_recipients(self):
        for path, to_fields in ((self.bcc_file, 1), (self.many_file, 1000)):
            with self.subTest(path=path):
                out = self.path("out.eml")
                run = self.run_program(["-emailfile:" + path, "-file:" + out])
                self.assertRun(run, 0, "")
                with open(out, "rb") as f:
                    written = f.read()
                header = written[:written.index(b"\r\n\r\n") + 2]
                self.assertEqual(header.count(b"\r\nTo: "), to_fields)
                self.assertIn(b"\r\nFrom: a@example.com\r\n", header)
                self.assertNotIn(b"Bcc", header)

    def test_header_over_its_cap_is_refused(self):
        peer = AioPeer()
        self.addCleanup(peer.close)
        big = self.write("big.eml", padded_to(b"", 4 << 20) + b"From: a@example.com\r\n"
                         b"To: t@example.org\r\n\r\nbody\r\n")
        message = ("The header of the message file is too large, more than 4 MiB (%s)\n" % big)
        for target in ("-host:127.0.0.1:%d" % peer.port, "-file:" + self.path("out.eml")):
            with self.subTest(target=target):
                run = self.run_program(["-emailfile:" + big, target])
                self.assertRun(run, 10, message)
                self.assertFalse(os.path.exists(self.path("out.eml")))
        self.assertEqual(peer.messages, [])


class RecipientFileTests(SmtpTestCase):
    def test_list_file_over_smtp(self):
        peer = AioPeer()
        self.addCleanup(peer.close)
        listed = self.write("list.txt", b"a@example.org, \"Doe, Jane\" <jane@example.org>\r\n"
                                        b"O'Brien <o'brien@example.ie>,<c@example.org> d@example.org\n")
        run = self.run_program(self.message_args(peer.port, "-cc:@" + listed))
        self.assertRun(run, 0, "")
        got = peer.messages[-1]
        self.assertEqual(sorted(got.rcpt_tos), sorted(
            ["rcpt@example.org", "a@example.org", "jane@example.org", "o'brien@example.ie",
             "c@example.org", "d@example.org"]))
        self.assertIn(b"\"Doe, Jane\" <jane@example.org>", got.content)

    def test_bad_line_ends_the_run(self):
        cases = [b"a@example.org\nx@example..org\n", b"a@example.org\n\nWord b@example.org\n",
                 b"a@example.org\n\n\"unclosed <b@example.org>\n"]
        for data in cases:
            with self.subTest(data=data):
                listed = self.write("list.txt", data)
                run = self.run_program(["-from:a@example.com", "-to:@" + listed,
                                        "-file:" + self.path("o.eml")])
                line = 2 if data.count(b"\n") == 2 else 3
                self.assertRun(run, 10, "Failed to set To from file (%s): %s, line %d: "
                               "not a usable address\n" % (listed, listed, line))
                self.assertFalse(os.path.exists(self.path("o.eml")))


if __name__ == "__main__":
    unittest.main()
