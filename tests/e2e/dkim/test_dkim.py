"""DKIM signing end to end: messages written in File mode and received by
an SMTP server carry one DKIM-Signature field per chosen canonicalisation
and algorithm, and every one of them is confirmed by two independent
verifiers (python3-dkim and opendkim-testmsg) against the tests' own keys.
Key files that cannot be used end the run with status 10 and nothing is
written; a message is never sent unsigned when signing was asked for and
cannot be done.
"""
import os
import re
import resource
import shutil
import subprocess
import sys
import tempfile
import unicodedata
import unittest

import idna
import verifiers

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "smtp"))
from peers import AioPeer  # noqa: E402

FULL = os.environ.get("TARVEX_BIN", "")
PLAIN = os.environ.get("TARVEX_PLAIN_BIN", "")
DOMAIN = "example.com"
SENDER = "ann@" + DOMAIN
RECIPIENT = "bob@example.org"
IDN_UNICODE, IDN_ASCII = "bücher.example", "xn--bcher-kva.example"
NOMEM = 666 % 256  # the exit code of status 666
ALL = ["-dkim-algo:all", "-dkim-canon:all"]
PAIRS = len(["rsa-sha1", "rsa-sha256", "ed25519-sha256"]) * len(["s/s", "s/r", "r/r", "r/s"])


class DkimTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="tarvex-dkim-")
        cls.rsa, rsa_record = verifiers.make_key(cls.dir, "rsa", "RSA")
        cls.ed, ed_record = verifiers.make_key(cls.dir, "ed", "ED25519")
        cls.table = {verifiers.table_name("r1", DOMAIN): rsa_record,
                     verifiers.table_name("e1", DOMAIN): ed_record,
                     verifiers.table_name("r1", "default.example"): rsa_record,
                     verifiers.table_name("r1", IDN_ASCII): rsa_record,
                     verifiers.table_name("e1", IDN_ASCII): ed_record}
        cls.keys = ["-dkim:%s:r1:%s" % (DOMAIN, cls.rsa), "-dkim:%s:e1:%s" % (DOMAIN, cls.ed)]
        cls.attachment = os.path.join(cls.dir, "data.bin")
        with open(cls.attachment, "wb") as f:
            f.write(bytes(range(256)) * 40)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir, ignore_errors=True)

    def run_program(self, args, program=None, memory=None):
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": self.dir}
        for name in ("ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"):
            if name in os.environ:
                env[name] = os.environ[name]
        limit = None
        if memory:
            limit = lambda: resource.setrlimit(resource.RLIMIT_AS, (memory, memory))
        return subprocess.run([program or FULL, "-nodefault"] + args, capture_output=True, env=env,
                              cwd=self.dir, timeout=60, preexec_fn=limit)

    def written(self, *args, program=None):
        out = os.path.join(self.dir, "out.eml")
        if os.path.exists(out):
            os.remove(out)
        run = self.run_program(["-file:" + out, "-from:" + SENDER, "-to:" + RECIPIENT] + list(args),
                               program)
        self.assertEqual(run.returncode, 0, run.stderr)
        with open(out, "rb") as f:
            return f.read()

    def assertAllVerify(self, message, count):
        singles = verifiers.single_signed(message)
        self.assertEqual(len(singles), count, message[:2000])
        self.assertEqual(verifiers.python_verify(singles, self.table), [True] * count)
        reason = verifiers.can_run_opendkim()
        if reason:
            self.skipTest(reason)
        results = verifiers.opendkim_verify(singles, self.table, self.dir)
        self.assertEqual(results, [(0, "")] * count)

    # Messages that stress canonicalisation: lines beginning with ".",
    # repeated, folded and encoded header fields, an empty body, trailing
    # blank lines and blanks, attachments.
    MESSAGES = {
        "dots and blanks": ["-subject:Dots", "-body:.first\\n..second\\n.\\nin  the\\tmiddle  \\n\\n\\n"],
        # Signed names that may stand more than once in a valid message.
        "repeated fields": ["-subject:One", "-head:X-Mailer:second", "-head:List-Unsubscribe:<mailto:u@x>",
                            "-head:List-Unsubscribe:  <mailto:v@x>  ", "-body:x"],
        "folded encoded subject": ["-subject:Grüße aus Köln, ein recht langer Betreff, der über "
                                   "mehrere Zeilen gefaltet werden muss", "-head:X-Long:" + "word " * 40,
                                   "-body:Grüße\\n"],
        "empty body": ["-subject:Empty", "-body:"],
        "attachments": ["-subject:Files", "-body:see attached\\n\\n", "-a:%ATT%", "-a64:%ATT%"],
    }

    def message_args(self, name):
        return [a.replace("%ATT%", self.attachment) for a in self.MESSAGES[name]]

    def test_every_pair_verifies_in_file_mode(self):
        for name in self.MESSAGES:
            with self.subTest(message=name):
                message = self.written(*(self.message_args(name) + self.keys + ALL))
                self.assertAllVerify(message, PAIRS)

    def test_every_pair_verifies_as_received_over_smtp(self):
        peer = AioPeer()
        self.addCleanup(peer.close)
        for name in ("dots and blanks", "repeated fields", "attachments"):
            with self.subTest(message=name):
                run = self.run_program(["-host:127.0.0.1:%d" % peer.port, "-from:" + SENDER,
                                        "-to:" + RECIPIENT] + self.message_args(name) + self.keys + ALL)
                self.assertEqual(run.returncode, 0, run.stderr)
                # What the server received, with dot-stuffing undone, is what
                # was signed.
                self.assertAllVerify(peer.messages[-1].content, PAIRS)

    def test_a_message_file_is_signed_as_sent(self):
        # A ready message with a dot-led line, a repeated field, a custom
        # field and a removed one; written to a file and sent over SMTP.
        ready = os.path.join(self.dir, "ready.eml")
        with open(ready, "wb") as f:
            f.write(b"From: Ann <" + SENDER.encode() + b">\nTo: " + RECIPIENT.encode() +
                    b"\nSubject: Ready\nReceived: one\nReceived: two\nX-Drop: me\n\n"
                    b".dot line\nbody\n\n")
        args = ["-emailfile:" + ready, "-head:X-Added:yes", "-delhead:X-Drop"] + self.keys + ALL
        message = self.written(*args)
        self.assertNotIn(b"X-Drop", message)
        self.assertAllVerify(message, PAIRS)
        peer = AioPeer()
        self.addCleanup(peer.close)
        run = self.run_program(["-host:127.0.0.1:%d" % peer.port] + args)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertAllVerify(peer.messages[-1].content, PAIRS)

    def test_a_changed_message_fails_both_verifiers(self):
        message = self.written("-subject:Hi", "-body:text\\n", *self.keys, "-dkim-algo:all", "-dkim-canon:r/r")
        changed = [m.replace(b"text", b"next") for m in verifiers.single_signed(message)]
        self.assertEqual(verifiers.python_verify(changed, self.table), [False] * 3)
        if not verifiers.can_run_opendkim():
            for status, _ in verifiers.opendkim_verify(changed, self.table, self.dir):
                self.assertNotEqual(status, 0)

    def test_integrity_and_list_fields_are_signed(self):
        # The thread and mailing-list fields and what says how to read the
        # body are signed wherever they stand in the top header: a composed
        # single part has a Content-Transfer-Encoding field there, a
        # multipart message has none (its parts' fields are in the body).
        lists = [("List-Id", "<team.example.com>"), ("List-Help", "<mailto:help@example.com>"),
                 ("List-Unsubscribe", "<mailto:off@example.com>"),
                 ("List-Unsubscribe-Post", "List-Unsubscribe=One-Click"),
                 ("List-Subscribe", "<mailto:on@example.com>"), ("List-Post", "<mailto:team@example.com>"),
                 ("List-Owner", "<mailto:owner@example.com>"), ("List-Archive", "<https://example.com/a>")]
        thread = [("In-Reply-To", "<one@example.com>"), ("References", "<zero@example.com> <one@example.com>")]
        heads = ["-head:%s:%s" % f for f in thread + lists]
        generated = {"date", "from", "to", "subject", "message-id", "x-mailer", "mime-version", "content-type"}
        added = {name.lower() for name, _ in thread + lists}
        cte = {"content-transfer-encoding"}
        ready = os.path.join(self.dir, "lists.eml")
        with open(ready, "wb") as f:
            f.write(b"From: " + SENDER.encode() + b"\nTo: " + RECIPIENT.encode() + b"\nSubject: Lists\n"
                    b"In-Reply-To: <one@example.com>\nReferences: <zero@example.com>\n <one@example.com>\n" +
                    b"".join(b"%s: %s\n" % (n.encode(), v.encode()) for n, v in lists) +
                    b"MIME-Version: 1.0\nContent-Type: text/plain; charset=us-ascii\n"
                    b"Content-Transfer-Encoding: 7bit\n\nPrice =41 here\n")
        peer = AioPeer()
        self.addCleanup(peer.close)
        cases = [
            ("single part", ["-subject:Lists", "-body:Price =41 here"] + heads, generated | added | cte),
            ("multipart", ["-subject:Lists", "-body:Price =41 here", "-a:" + self.attachment] + heads,
             generated | added),
            # A message file keeps its own X-Mailer field: it has none.
            ("message file", ["-emailfile:" + ready], generated - {"x-mailer"} | added | cte),
            ("message file over SMTP", ["-emailfile:" + ready, "-host:127.0.0.1:%d" % peer.port],
             generated - {"x-mailer"} | added | cte),
        ]
        for name, args, signed in cases:
            with self.subTest(message=name):
                if name.endswith("SMTP"):
                    run = self.run_program(args + self.keys + ["-dkim-canon:all"])
                    self.assertEqual(run.returncode, 0, run.stderr)
                    message = peer.messages[-1].content
                else:
                    message = self.written(*(args + self.keys + ["-dkim-canon:all"]))
                fields, _ = verifiers.split_signatures(message)
                self.assertEqual(len(fields), 8)
                for field in fields:
                    names = re.search(rb";\s*h=([^;]*)", re.sub(rb"\r\n[ \t]", b"", field)).group(1)
                    self.assertEqual({n.decode().lower() for n in names.split(b":")}, signed, field)
                self.assertAllVerify(message, 8)
                # A changed field of those fails every signature: read as
                # quoted-printable the body would say "Price A here".
                changes = [(b"\r\nList-Id: <team.", b"\r\nList-Id: <evil.")]
                if cte <= signed:
                    changes.append((b"\r\nContent-Transfer-Encoding: 7bit\r\n",
                                    b"\r\nContent-Transfer-Encoding: quoted-printable\r\n"))
                for old, new in changes:
                    head = message[:message.index(b"\r\n\r\n") + 2]
                    self.assertEqual(head.count(old), 1, head)
                    changed = [m.replace(old, new, 1) for m in verifiers.single_signed(message)]
                    self.assertEqual(verifiers.python_verify(changed, self.table), [False] * 8)
                    if not verifiers.can_run_opendkim():
                        for status, _ in verifiers.opendkim_verify(changed, self.table, self.dir):
                            self.assertNotEqual(status, 0)

    def test_choices_and_the_signature_fields(self):
        cases = [
            # (options, the a= and c= tags of the fields, in order)
            ([], ["a=rsa-sha256;", "a=ed25519-sha256;"]),
            (["-dkim-algo:rsa-sha1", "-dkim-canon:r/s"], ["a=rsa-sha1; c=relaxed;"]),
            (["-dkim-algo:rsa-sha1", "-dkim-algo:ed25519-sha256", "-dkim-canon:s/r", "-dkim-canon:r/r"],
             ["a=rsa-sha1; c=relaxed/relaxed;", "a=ed25519-sha256; c=relaxed/relaxed;"]),
        ]
        for options, tags in cases:
            with self.subTest(options=options):
                message = self.written("-subject:Hi", "-body:x", *(self.keys + options))
                fields, _ = verifiers.split_signatures(message)
                self.assertEqual([f.split(b" t=")[0].split(b"v=1; ")[1].decode() for f in fields], tags)
                # The b= value's last line ends the field with ";".
                self.assertEqual([f[-3:] for f in fields], [b";\r\n"] * len(tags))
                self.assertAllVerify(message, len(tags))

    def test_which_domain_signs(self):
        default_key = ["-dkim:default.example:r1:" + self.rsa]
        # The sender's domain in another letter case finds its keys.
        message = self.written("-body:x", *self.keys, program=None)
        self.assertIn(b"d=example.com;", message)
        out = os.path.join(self.dir, "other.eml")
        for args, signed_by in [
            (["-from:x@EXAMPLE.COM"], b"d=example.com;"),
            (["-from:x@elsewhere.example", "-dkim-default:default.example"] + default_key, b"d=default.example;"),
            (["-from:x@elsewhere.example"] + default_key, None),
            (["-from:" + SENDER, "-no-dkim"], None),
        ]:
            with self.subTest(args=args):
                run = self.run_program(["-file:" + out, "-to:" + RECIPIENT, "-body:x"] + self.keys + args)
                self.assertEqual(run.returncode, 0, run.stderr)
                with open(out, "rb") as f:
                    message = f.read()
                fields, _ = verifiers.split_signatures(message)
                if signed_by is None:
                    self.assertEqual(fields, [])
                else:
                    self.assertTrue(fields and all(signed_by in f for f in fields), message[:600])
                    self.assertAllVerify(message, len(fields))

    def test_an_internationalised_sender_domain(self):
        # The keys are registered under either form of the domain and sign
        # under its ASCII form (as first registered), whichever form the
        # sender's address has; also as received by a server that takes the
        # Unicode form.
        peer = AioPeer(smtputf8=True)
        self.addCleanup(peer.close)
        out = os.path.join(self.dir, "idn.eml")
        smtp = "-host:127.0.0.1:%d" % peer.port
        cases = [(registered, sender, "-file:" + out) for registered in (IDN_UNICODE, IDN_ASCII)
                 for sender in (IDN_UNICODE, IDN_ASCII)]
        cases += [(IDN_ASCII.upper(), IDN_UNICODE, "-file:" + out), (IDN_UNICODE, IDN_UNICODE, smtp)]
        # Capitals and decomposed forms map to the same domain, as IDNA maps
        # them: the sender finds the key and d= is the A-label.
        cases += [(IDN_UNICODE, IDN_UNICODE.upper(), "-file:" + out), (IDN_UNICODE.upper(), IDN_UNICODE, smtp),
                  (unicodedata.normalize("NFD", "Bücher.Example"), IDN_UNICODE.upper(), "-file:" + out),
                  (IDN_UNICODE.upper(), IDN_ASCII, "-file:" + out)]
        for registered, sender, target in cases:
            with self.subTest(registered=registered, sender=sender, target=target):
                keys = ["-dkim:%s:r1:%s" % (registered, self.rsa), "-dkim:%s:e1:%s" % (registered, self.ed)]
                run = self.run_program([target, "-from:anna@" + sender, "-to:" + RECIPIENT, "-subject:IDN",
                                        "-body:x"] + keys + ALL)
                self.assertEqual(run.returncode, 0, run.stderr)
                if target == smtp:
                    message = peer.messages[-1].content
                else:
                    with open(out, "rb") as f:
                        message = f.read()
                d = "d=%s;" % (registered if registered.isascii() else idna.encode(registered, uts46=True).decode())
                self.assertTrue(registered.isascii() or d == "d=%s;" % IDN_ASCII)
                fields, _ = verifiers.split_signatures(message)
                self.assertTrue(fields and all(d.encode() in f for f in fields), message[:600])
                self.assertAllVerify(message, PAIRS)

    def test_keys_that_cannot_be_used(self):
        folder = self.dir

        def key(name, *args):
            path = os.path.join(folder, name)
            subprocess.run(["openssl"] + list(args) + ["-out", path], check=True, capture_output=True)
            return path

        encrypted = key("enc.pem", "genpkey", "-algorithm", "ED25519", "-aes256", "-pass", "pass:secret")
        ec = key("ec.pem", "genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256")
        public = key("pub.pem", "pkey", "-in", self.ed, "-pubout")
        huge = os.path.join(folder, "huge.pem")
        with open(huge, "wb") as f:
            f.write(open(self.rsa, "rb").read() * 40)
        cases = [
            (["-dkim:example.com:s:" + encrypted], "the key is encrypted"),
            (["-dkim:example.com:s:" + ec], "not an RSA or Ed25519 private key"),
            (["-dkim:example.com:s:" + public], "not a PEM private key"),
            # A key file that cannot be opened or read: one line, with the
            # system's reason.
            (["-dkim:example.com:s:" + folder], " (the key file cannot be opened: Is a directory)\n"),
            (["-dkim:example.com:s:" + huge], "the key file is not a PEM key (too large"),
            (["-dkim:exa mple.com:s:" + self.ed], "the domain or selector is not a DNS name"),
            (["-dkim:example.com:s;x=1:" + self.ed], "the domain or selector is not a DNS name"),
            (["-dkim:bücher..example:s:" + self.ed], "the domain or selector is not a DNS name"),
            (["-dkim:example.com:s"], "expected domain:selector:keyfile"),
            (["-dkim-algo:ed25519-sha256", "-dkim:example.com:s:" + self.rsa],
             "the key's type fits none of the chosen DKIM algorithms"),
        ]
        out = os.path.join(self.dir, "never.eml")
        for args, reason in cases:
            with self.subTest(args=args):
                run = self.run_program(["-file:" + out, "-from:" + SENDER, "-to:" + RECIPIENT, "-body:x"] + args)
                value = args[-1][len("-dkim:"):]
                self.assertEqual(run.returncode, 10)
                err = run.stderr.decode()
                if reason.startswith(" ("):
                    self.assertEqual(err, "Error applying DKIM setting: %s%s" % (value, reason))
                else:
                    self.assertTrue(err.startswith("Error applying DKIM setting: %s\n(%s" % (value, reason)), err)
                self.assertFalse(os.path.exists(out))

    def test_default_domain_in_any_form(self):
        default_key = ["-dkim:%s:r1:%s" % (IDN_ASCII, self.rsa)]
        for form in (IDN_UNICODE.upper(), unicodedata.normalize("NFD", IDN_UNICODE), IDN_ASCII.upper()):
            with self.subTest(form=form):
                message = self.written("-body:x", "-dkim-default:" + form, *default_key)
                fields, _ = verifiers.split_signatures(message)
                self.assertTrue(fields and all(b"d=xn--bcher-kva.example;" in f for f in fields), message[:600])
                self.assertAllVerify(message, len(fields))

    def test_domains_that_are_none(self):
        # A signing domain with a line-breaking character or a label that is
        # not valid is refused when given, by -dkim: as by -dkim-default:.
        out = os.path.join(self.dir, "never.eml")
        control = "Control character in the DKIM domain"
        not_idna = "The DKIM domain is not a valid domain: a label is not a valid IDNA label"
        too_long = "The DKIM domain is not a valid domain: a label is longer than 63 bytes in its ASCII form"
        cases = [("bad\u2028.example", control), ("bad\u0085.example", control),
                 ("xn--.example", not_idna), ("xn--zz-zzzzzzzzzz.example", not_idna),
                 ("\u00e4" * 70 + ".example", too_long)]
        for domain, reason in cases:
            for option, value in (("dkim", "%s:r1:%s" % (domain, self.rsa)), ("dkim-default", domain)):
                with self.subTest(domain=domain, option=option):
                    if os.path.exists(out):
                        os.remove(out)
                    run = self.run_program(["-file:" + out, "-from:" + SENDER, "-to:" + RECIPIENT, "-body:x",
                                            "-%s:%s" % (option, value)] + self.keys)
                    self.assertEqual(run.returncode, 1)
                    self.assertEqual(run.stderr.decode(), "Invalid -%s option (%s)\n" % (option, reason))
                    self.assertFalse(os.path.exists(out))

    def test_no_field_can_be_made_fails_the_write(self):
        # Signing was asked for and a key is registered, but it fits none of
        # the algorithms chosen later: nothing is written or sent unsigned.
        peer = AioPeer()
        self.addCleanup(peer.close)
        out = os.path.join(self.dir, "unsigned.eml")
        for target in ("-file:" + out, "-host:127.0.0.1:%d" % peer.port):
            with self.subTest(target=target):
                run = self.run_program([target, "-from:" + SENDER, "-to:" + RECIPIENT, "-body:x",
                                        "-dkim:%s:e1:%s" % (DOMAIN, self.ed), "-dkim-algo:rsa-sha256"])
                self.assertEqual(run.returncode, 1)
                self.assertIn(b"No DKIM key of example.com fits the chosen algorithms", run.stderr)
        self.assertFalse(os.path.exists(out))
        self.assertEqual(peer.messages, [])

    def test_out_of_memory_while_signing_a_message_file(self):
        # The whole message is held in memory to be signed. Under a limit
        # that a small message file signs within, a 30 MB one cannot be:
        # status 666 in File mode and over SMTP, no file and nothing sent.
        with open(FULL, "rb") as f:
            if b"__asan_init" in f.read():
                self.skipTest("address-space limits do not apply under AddressSanitizer")
        small = os.path.join(self.dir, "small.eml")
        large = os.path.join(self.dir, "large.eml")
        head = b"From: " + SENDER.encode() + b"\nTo: " + RECIPIENT.encode() + b"\nSubject: Big\n\n"
        with open(small, "wb") as f:
            f.write(head + b"small\n")
        with open(large, "wb") as f:
            f.write(head + (b"x" * 70 + b"\n") * ((30 << 20) // 71))
        peer = AioPeer()
        self.addCleanup(peer.close)
        out = os.path.join(self.dir, "nomem.eml")
        for target in ("-file:" + out, "-host:127.0.0.1:%d" % peer.port):
            for message, status in ((small, 0), (large, NOMEM)):
                with self.subTest(target=target, message=message):
                    if os.path.exists(out):
                        os.remove(out)
                    run = self.run_program([target, "-emailfile:" + message] + self.keys, memory=40 << 20)
                    self.assertEqual(run.returncode, status, run.stderr)
                    if status:
                        self.assertIn(b"Out of memory", run.stderr)
                        self.assertFalse(os.path.exists(out))
        self.assertEqual(len(peer.messages), 1)
        self.assertIn(b"small", peer.messages[0].content)

if __name__ == "__main__":
    unittest.main()
