"""Internationalised domains end to end: every form of a domain (mixed
case, NFC, NFD, ASCII with capitals, already an A-label) goes out in the
ASCII form Python's idna codec gives it (UTS #46, nontransitional), in the
envelope aiosmtpd receives, in the header File mode writes and in EHLO; an
ASCII domain keeps its bytes. Domains that codec refuses are refused when
given, with status 1 and the option named."""
import os
import sys
import unicodedata
import unittest

import idna

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from peers import AioPeer  # noqa: E402
from test_smtp import SmtpTestCase  # noqa: E402


def nfd(text):
    return unicodedata.normalize("NFD", text)


# The forms, each a domain as a user may type it.
FORMS = [
    "Ärzte.example",
    "ÄRZTE.EXAMPLE",
    "BÜCHER.example",
    "bücher.example",
    nfd("bücher.example"),
    nfd("BÜCHER.Example"),
    "Straße.de",                # nontransitional: sharp s stays
    "ＢÜcher.example",          # a full-width capital
    "bücher。example",           # an ideographic full stop
    "ΕΛΛΗΝΙΚΆ.gr",
    "ПРИМЕР.испытание",
    "Example.BÜCHER.Org",
    "Example.ORG",              # ASCII: kept as written
    "xn--bcher-kva.example",    # already an A-label
    "XN--BCHER-KVA.Example",
    # Refused by IDNA.
    "xn--.example",
    "xn--zz-zzzzzzzzzz.example",
    "ä" * 70 + ".example",
    "bücher-.example",
    "\U0001F4A9.example",
]


def expected(domain):
    """The ASCII form of a domain as sent, or None when it is refused: Python's
    idna codec decides; an ASCII domain it accepts goes byte for byte."""
    try:
        mapped = idna.encode(domain, uts46=True).decode("ascii")
    except idna.IDNAError:
        return None
    return domain if domain.isascii() else mapped


VALID = [f for f in FORMS if expected(f) is not None]
INVALID = [f for f in FORMS if expected(f) is None]


def setUpModule():
    # One server for every test; each looks at what it sent.
    IdnTests.peer = AioPeer()
    unittest.addModuleCleanup(IdnTests.peer.close)


class IdnTests(SmtpTestCase):
    @property
    def host(self):
        return "-host:127.0.0.1:%d" % self.peer.port

    def written(self, *args):
        out = self.path("out.eml")
        run = self.run_program(list(args) + ["-body:x", "-file:" + out])
        self.assertRun(run, 0, "")
        with open(out, "rb") as f:
            message = f.read()
        return message[:message.index(b"\r\n\r\n") + 2].decode("ascii")

    def test_envelope_as_idna_gives_it(self):
        # One message to every valid form, sender and return path in one of
        # them; the server offers no SMTPUTF8.
        args = [self.host, "-from:anna@" + VALID[0], "-return-path:bounce@" + VALID[1], "-body:x"]
        args += ["-to:r%d@%s" % (i, form) for i, form in enumerate(VALID)]
        run = self.run_program(args)
        self.assertRun(run, 0, "")
        got = self.peer.messages[-1]
        self.assertFalse(got.smtp_utf8)
        self.assertEqual(got.mail_from, "bounce@" + expected(VALID[1]))
        self.assertEqual(sorted(got.rcpt_tos),
                         sorted("r%d@%s" % (i, expected(form)) for i, form in enumerate(VALID)))

    def test_header_fields_as_idna_gives_them(self):
        for form in VALID:
            with self.subTest(form=form):
                header = self.written("-from:anna@" + form, "-to:info@" + form, "-cc:c@" + form)
                want = expected(form)
                self.assertIn("\r\nFrom: anna@%s\r\n" % want, "\r\n" + header)
                self.assertIn("\r\nTo: info@%s\r\n" % want, header)
                self.assertIn("\r\nCc: c@%s\r\n" % want, header)
                self.assertRegex(header, r"\r\nMessage-ID: <[^@>]+@%s>\r\n" % want.replace(".", r"\."))

    def test_list_file_and_message_file_recipients(self):
        # The scanners of these files take ASCII addresses: those keep their
        # bytes, and an "xn--" label that is no A-label is refused there too.
        ascii = [f for f in VALID if f.isascii()]
        listed = self.write("list.txt", "".join("r%d@%s\n" % (i, f) for i, f in enumerate(ascii)).encode())
        run = self.run_program([self.host, "-from:anna@example.org", "-to:@" + listed, "-body:x"])
        self.assertRun(run, 0, "")
        self.assertEqual(sorted(self.peer.messages[-1].rcpt_tos),
                         sorted("r%d@%s" % (i, f) for i, f in enumerate(ascii)))
        ready = self.write("ready.eml", ("From: anna@%s\nTo: info@%s\nSubject: x\n\nbody\n"
                                         % (ascii[0], ascii[-1])).encode())
        run = self.run_program([self.host, "-emailfile:" + ready])
        self.assertRun(run, 0, "")
        got = self.peer.messages[-1]
        self.assertEqual((got.mail_from, got.rcpt_tos), ("anna@" + ascii[0], ["info@" + ascii[-1]]))
        count = len(self.peer.messages)
        for form in [f for f in INVALID if f.isascii()]:
            with self.subTest(form=form):
                bad = self.write("bad.txt", ("ok@example.org\nx@%s\n" % form).encode())
                run = self.run_program([self.host, "-from:anna@example.org", "-to:@" + bad, "-body:x"])
                self.assertRun(run, 10, "Failed to set To from file (%s): %s, line 2: not a usable address\n"
                               % (bad, bad))
        self.assertEqual(len(self.peer.messages), count)

    def test_helo_goes_as_its_a_label(self):
        for form in [f for f in VALID if "。" not in f]:
            with self.subTest(form=form):
                run = self.run_program([self.host, "-helo:" + form, "-from:a@example.org",
                                        "-to:b@example.org", "-body:x"])
                self.assertRun(run, 0, "")
                self.assertEqual(self.peer.messages[-1].helo, expected(form))

    def test_refused_domains_name_their_option(self):
        self.assertEqual(len(INVALID), 5)  # the oracle refuses every one of them
        count = len(self.peer.messages)
        address_options = ["-to:", "-cc:", "-bcc:", "-from:", "-return-path:", "-reply-to:"]
        for form in INVALID:
            for option in address_options:
                with self.subTest(form=form, option=option):
                    value = "x@" + form
                    others = [o + "ok@example.org" for o in ("-from:", "-to:") if o != option]
                    run = self.run_program([self.host] + others + [option + value, "-body:x"])
                    self.assertRun(run, 1)
                    self.assertTrue(run.stderr.startswith("Invalid address in -%s (%s): The domain of the "
                                                          % (option[1:-1], value)), run)
                    self.assertIn("is not a valid domain: ", run.stderr)
            with self.subTest(form=form, option="-helo:"):
                run = self.run_program([self.host, "-helo:" + form, "-from:a@example.org",
                                        "-to:b@example.org", "-body:x"])
                self.assertRun(run, 1)
                self.assertTrue(run.stderr.startswith("Invalid -helo option (The HELO name is not a"), run)
        self.assertEqual(len(self.peer.messages), count)


if __name__ == "__main__":
    unittest.main()
