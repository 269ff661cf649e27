"""Internationalised domains end to end: every form of a domain (mixed
case, NFC, NFD, full-width letters, ideographic full stops, already an
A-label) goes out in the one mapped form Python's idna codec gives it (UTS
#46, nontransitional, STD3 rules): the A-label in the envelope aiosmtpd
receives, with or without SMTPUTF8, and in EHLO; in the header the U-label
when the server offers SMTPUTF8, else (and in File mode) the A-label. An
ASCII domain keeps its bytes. Domains that codec refuses (among them the
full-width comma, "@" and ">" that would map to ASCII specials) are refused
when given, with the option or the message-file field named."""
import os
import subprocess
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
    nfd("Ärzte.example"),
    "ÄRZTE.EXAMPLE",
    "ärzte\u3002example",        # an ideographic full stop
    "BÜCHER.example",
    "bücher.example",
    nfd("bücher.example"),
    nfd("BÜCHER.Example"),
    "Straße.de",                # nontransitional: sharp s stays
    "ＢÜcher.example",          # a full-width capital
    "\uff45\uff58\uff41\uff4d\uff50\uff4c\uff45.org",  # full-width letters: all ASCII once mapped
    "bücher\uff0eexample",       # a full-width full stop
    "ΕΛΛΗΝΙΚΆ.gr",
    "ПРИМЕР.испытание",
    "Example.BÜCHER.Org",
    "Example.ORG",              # ASCII: kept as written
    "xn--bcher-kva.example",    # already an A-label
    "XN--BCHER-KVA.Example",
    # Refused by IDNA.
    "xn--.example",
    "xn--zz-zzzzzzzzzz.example",
    "xn--bucher-xyd.example",   # Punycode of a U-label that is not NFC
    "xn--abc-.example",         # Punycode of an ASCII label
    "xn--ab-1ca.example",       # decodes to "a", a no-break space, "b"
    "bücher.xn--ab-1ca.example",
    "ä" * 70 + ".example",
    "bücher-.example",
    "\U0001F4A9.example",
    # Mappings to ASCII that no domain may hold (STD3): a second address, a
    # second "@", the end of the path and a parameter.
    "good.example\uff0cbob\uff20evil.example",
    "bücher.example\uff20evil.example",
    "good.example\uff1e\u3000NOTIFY=NEVER",
    "a\uff3fb.example",         # a full-width low line
    "\u2474.example",           # maps to "(1)"
    "a\u2260b.example",         # not-equal: "=" and a combining stroke
]


def expected(domain):
    """The ASCII form of a domain as sent, or None when it is refused: Python's
    idna codec decides; an ASCII domain it accepts goes byte for byte."""
    try:
        mapped = idna.encode(domain, uts46=True, std3_rules=True).decode("ascii")
    except idna.IDNAError:
        return None
    return domain if domain.isascii() else mapped


def shown(domain):
    """The form a header shows with SMTPUTF8: the Unicode form of the A-label
    (NFC, lower case, full stops); an ASCII domain as written."""
    return domain if domain.isascii() else idna.decode(expected(domain))


VALID = [f for f in FORMS if expected(f) is not None]
INVALID = [f for f in FORMS if expected(f) is None]
HOSTILE = FORMS[FORMS.index("good.example\uff0cbob\uff20evil.example"):]


def setUpModule():
    # One server of each kind for every test; each looks at what it sent.
    IdnTests.peers = {False: AioPeer(), True: AioPeer(smtputf8=True)}
    for peer in IdnTests.peers.values():
        unittest.addModuleCleanup(peer.close)


class IdnTests(SmtpTestCase):
    def host(self, smtputf8=False):
        return "-host:127.0.0.1:%d" % self.peers[smtputf8].port

    def header(self, message):
        return message[:message.index(b"\r\n\r\n") + 2].decode("utf-8")

    def written(self, *args):
        out = self.path("out.eml")
        run = self.run_program(list(args) + ["-body:x", "-file:" + out])
        self.assertRun(run, 0, "")
        with open(out, "rb") as f:
            return self.header(f.read())

    def messages(self):
        return sum(len(p.messages) for p in self.peers.values())

    def test_the_oracle_refuses_every_hostile_form(self):
        self.assertEqual([f for f in HOSTILE if f in VALID], [])

    def test_envelope_as_idna_gives_it(self):
        # One message to every valid form, sender and return path in one of
        # them; with SMTPUTF8 too, the envelope holds the A-labels.
        for utf8, peer in self.peers.items():
            with self.subTest(smtputf8=utf8):
                args = [self.host(utf8), "-from:anna@" + VALID[0], "-return-path:bounce@" + VALID[1], "-body:x"]
                args += ["-to:r%d@%s" % (i, form) for i, form in enumerate(VALID)]
                run = self.run_program(args)
                self.assertRun(run, 0, "")
                got = peer.messages[-1]
                # The header shows U-labels with SMTPUTF8: MAIL FROM says so.
                self.assertEqual(got.smtp_utf8, utf8)
                self.assertEqual(got.mail_from, "bounce@" + expected(VALID[1]))
                self.assertEqual(sorted(got.rcpt_tos),
                                 sorted("r%d@%s" % (i, expected(form)) for i, form in enumerate(VALID)))

    def test_header_fields_show_one_mapped_form(self):
        # Without SMTPUTF8 and in File mode the A-label, with it the U-label;
        # the Message-ID always holds the A-label. A UTF-8 local part (which
        # a server without SMTPUTF8 cannot be shown) keeps its bytes and
        # its domain is mapped all the same.
        for form in VALID:
            options = ["-from:anna@" + form, "-to:info@" + form, "-cc:c@" + form, "-reply-to:re@" + form]
            for target in ("file", False, True):
                with self.subTest(form=form, target=target):
                    if target == "file":
                        header = self.written(*options, "-to:j\u00f6rg@" + form)
                    else:
                        utf8_local = ["-to:j\u00f6rg@" + form] if target else []
                        run = self.run_program([self.host(target), "-body:x"] + options + utf8_local)
                        self.assertRun(run, 0, "")
                        header = self.header(self.peers[target].messages[-1].content)
                    want = shown(form) if target is True else expected(form)
                    self.assertIn("\r\nFrom: anna@%s\r\n" % want, "\r\n" + header)
                    self.assertIn("\r\nReply-To: re@%s\r\n" % want, header)
                    self.assertIn("\r\nCc: c@%s\r\n" % want, header)
                    if target is False:
                        self.assertIn("\r\nTo: info@%s\r\n" % want, header)
                    else:
                        self.assertIn("\r\nTo: j\u00f6rg@%s,\r\n\tinfo@%s\r\n" % (want, want), header)
                    self.assertRegex(header, r"\r\nMessage-ID: <[^@>]+@%s>\r\n"
                                     % expected(form).replace(".", r"\."))

    def test_message_file_addresses_go_mapped(self):
        # The file's own header goes as it stands; the envelope it gives
        # holds the A-labels, with and without SMTPUTF8.
        for form in VALID:
            ready = self.write("ready.eml", ("From: Anna <anna@%s>\nTo: info@%s\nCc: j\u00f6rg@%s\n"
                                             "Subject: x\n\nbody\n" % (form, form, form)).encode())
            for utf8, peer in self.peers.items():
                with self.subTest(form=form, smtputf8=utf8):
                    run = self.run_program([self.host(utf8), "-emailfile:" + ready])
                    if utf8:
                        self.assertRun(run, 0, "")
                    else:
                        self.assertRun(run, 0, "Recipient j\u00f6rg@%s rejected (SMTPUTF8 required)\n" % form)
                    got = peer.messages[-1]
                    want = expected(form)
                    self.assertEqual(got.mail_from, "anna@" + want)
                    self.assertEqual(sorted(got.rcpt_tos),
                                     sorted(["info@" + want] + (["j\u00f6rg@" + want] if utf8 else [])))

    def test_list_file_recipients(self):
        # The list file's grammar takes ASCII addresses: those keep their
        # bytes, and a domain that is no domain is refused there too.
        ascii = [f for f in VALID if f.isascii()]
        listed = self.write("list.txt", "".join("r%d@%s\n" % (i, f) for i, f in enumerate(ascii)).encode())
        run = self.run_program([self.host(), "-from:anna@example.org", "-to:@" + listed, "-body:x"])
        self.assertRun(run, 0, "")
        self.assertEqual(sorted(self.peers[False].messages[-1].rcpt_tos),
                         sorted("r%d@%s" % (i, f) for i, f in enumerate(ascii)))
        count = self.messages()
        for form in INVALID:
            with self.subTest(form=form):
                bad = self.write("bad.txt", ("ok@example.org\nx@%s\n" % form).encode())
                run = self.run_program([self.host(), "-from:anna@example.org", "-to:@" + bad, "-body:x"])
                self.assertRun(run, 10, "Failed to set To from file (%s): %s, line 2: not a usable address\n"
                               % (bad, bad))
        self.assertEqual(self.messages(), count)

    def test_helo_goes_as_its_a_label(self):
        for form in [f for f in VALID if "\u3002" not in f and "\uff0e" not in f]:
            with self.subTest(form=form):
                run = self.run_program([self.host(), "-helo:" + form, "-from:a@example.org",
                                        "-to:b@example.org", "-body:x"])
                self.assertRun(run, 0, "")
                self.assertEqual(self.peers[False].messages[-1].helo, expected(form))

    def test_refused_domains_name_their_option(self):
        key = self.path("key.pem")
        subprocess.run(["openssl", "genpkey", "-algorithm", "ED25519", "-out", key], check=True,
                       capture_output=True)
        count = self.messages()
        address_options = ["-to:", "-cc:", "-bcc:", "-from:", "-return-path:", "-reply-to:"]
        for form in INVALID:
            for utf8 in (False, True):
                for option in address_options:
                    with self.subTest(form=form, option=option, smtputf8=utf8):
                        value = "x@" + form
                        others = [o + "ok@example.org" for o in ("-from:", "-to:") if o != option]
                        run = self.run_program([self.host(utf8)] + others + [option + value, "-body:x"])
                        self.assertRun(run, 1)
                        self.assertTrue(run.stderr.startswith("Invalid address in -%s (%s): The domain of the "
                                                              % (option[1:-1], value)), run)
                        self.assertIn("is not a valid domain: ", run.stderr)
            names = {"-helo:" + form: "Invalid -helo option (The HELO name is not a",
                     "-dkim:%s:s1:%s" % (form, key): "Invalid -dkim option (The DKIM domain is not a valid domain",
                     "-dkim-default:" + form: "Invalid -dkim-default option (The DKIM domain is not a valid domain"}
            for option, message in names.items():
                with self.subTest(form=form, option=option):
                    run = self.run_program([self.host(), option, "-from:a@example.org",
                                            "-to:b@example.org", "-body:x"])
                    self.assertRun(run, 1)
                    self.assertTrue(run.stderr.startswith(message), run)
        self.assertEqual(self.messages(), count)

    def test_refused_domains_in_a_message_file_name_their_field(self):
        count = self.messages()
        for form in INVALID:
            for field, role in (("To", "recipient"), ("Cc", "recipient"), ("Bcc", "recipient"), ("From", "sender")):
                lines = {"From": "From: a@example.org", "To": "To: t@example.org"}
                lines[field] = "%s: Name <x@%s>" % (field, form)
                ready = self.write("ready.eml", ("\n".join(lines.values()) + "\nSubject: s\n\nbody\n").encode())
                for target in (self.host(), self.host(True), "-file:" + self.path("out.eml")):
                    with self.subTest(form=form, field=field, target=target):
                        run = self.run_program(["-emailfile:" + ready, target])
                        self.assertRun(run, 10)
                        self.assertTrue(run.stderr.startswith(
                            "The %s field of the message file holds an address that cannot be used: \"x@%s\" "
                            "(The domain of the %s address is not a valid domain: " % (field, form, role)), run)
                        self.assertTrue(run.stderr.endswith("(%s)\n" % ready), run)
                self.assertFalse(os.path.exists(self.path("out.eml")))
        self.assertEqual(self.messages(), count)


if __name__ == "__main__":
    unittest.main()
