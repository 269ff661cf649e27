"""End-to-end tests of SMTP delivery: the real programs against real servers
on loopback (aiosmtpd and Postfix's smtp-sink) and a scripted fake server
for what real servers will not do. Each case checks the exit status, the
messages on standard error and what the server saw; a delivered message is
compared byte for byte with what File mode writes for the same options.

The programs come from TARVEX_BIN and TARVEX_PLAIN_BIN. Every run gets a
fresh HOME, so no configuration of the machine leaks in, and (outside
sanitizer builds) an address-space limit, so a client that buffered what a
server floods it with would fail instead of passing.
"""
import base64
import hmac
import concurrent.futures
import os
import re
import resource
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from peers import AioPeer, Certificates, FakeServer, SmtpSink, free_port, unstuff  # noqa: E402

FULL = os.environ.get("TARVEX_BIN", "")
PLAIN = os.environ.get("TARVEX_PLAIN_BIN", "")
MEMORY_LIMIT = 512 << 20

SENDER = "sender@example.com"
RECIPIENT = "rcpt@example.org"


def sanitized(path):
    """1 when the program was built with AddressSanitizer (its shadow memory
    does not fit an address-space limit)."""
    with open(path, "rb") as f:
        return b"__asan_init" in f.read()


def shell_status(status):
    """The process exit status main makes of a run's status: its low byte,
    but 1 when that byte is 0 for a failure."""
    low = status & 0xFF
    return 1 if status and not low else low


class Run:
    def __init__(self, proc):
        self.status = proc.returncode
        self.stdout = proc.stdout.decode("utf-8", "replace")
        self.stderr = proc.stderr.decode("utf-8", "replace")

    def __repr__(self):
        return "status %d\nstdout %r\nstderr %r" % (self.status, self.stdout[-3000:], self.stderr)


class SmtpTestCase(unittest.TestCase):
    certs = None

    @classmethod
    def setUpClass(cls):
        for path in (FULL, PLAIN):
            if not path or not os.access(path, os.X_OK):
                raise unittest.SkipTest("set TARVEX_BIN and TARVEX_PLAIN_BIN")
        cls.limit_memory = not sanitized(FULL)
        SmtpTestCase.certs = SmtpTestCase.certs or Certificates()

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="tarvex-smtp-")
        self.addCleanup(shutil.rmtree, self.dir, True)

    def path(self, name):
        return os.path.join(self.dir, name)

    def write(self, name, data):
        with open(self.path(name), "wb") as f:
            f.write(data)
        return self.path(name)

    def run_program(self, args, program=None, timeout=60, closed=None):
        """Runs the program (the full one unless named) with args; closed:
        a standard descriptor that the program starts without, as after
        the shell's ">&-"."""
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": self.dir}
        for name in ("ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"):
            if name in os.environ:
                env[name] = os.environ[name]
        limit = self.limit_memory

        def bound():
            if limit:
                resource.setrlimit(resource.RLIMIT_AS, (MEMORY_LIMIT, MEMORY_LIMIT))
            if closed is not None:
                os.close(closed)

        proc = subprocess.run([program or FULL, "-nodefault"] + list(args), cwd=self.dir, env=env,
                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=timeout, preexec_fn=bound)
        run = Run(proc)
        # A run ends by itself, never by a signal.
        self.assertGreaterEqual(run.status, 0, run)
        return run

    def assertRun(self, run, status, stderr=None):
        self.assertEqual(run.status, shell_status(status), run)
        if stderr is None:
            return
        if isinstance(stderr, re.Pattern):
            self.assertRegex(run.stderr, stderr, run)
        else:
            self.assertEqual(run.stderr, stderr, run)

    def message_args(self, port, *extra, user=None):
        host = "127.0.0.1:%d" % port
        if user:
            host = "%s:%s@%s" % (user[0], user[1], host)
        return ["-host:" + host, "-from:" + SENDER, "-to:" + RECIPIENT, "-subject:Hello",
                "-body:First line\\nSecond line"] + list(extra)

    def file_mode(self, *options):
        """What File mode writes for the same message options."""
        out = self.path("file-mode.eml")
        run = self.run_program(["-from:" + SENDER, "-to:" + RECIPIENT, "-subject:Hello",
                                "-body:First line\\nSecond line"] + list(options) + ["-file:" + out])
        self.assertRun(run, 0)
        with open(out, "rb") as f:
            return f.read()

    def assertSameMessage(self, sent, written):
        self.assertEqual(normalise(sent), normalise(written))


def normalise(message):
    """A message with its date, Message-ID and boundaries (drawn afresh for
    every message) replaced by fixed texts."""
    message = re.sub(rb"(?m)^Date: [^\r]*\r\n", b"Date: (date)\r\n", message)
    message = re.sub(rb"(?m)^Message-ID: <[^>]*>", b"Message-ID: <(id)>", message)
    seen = {}
    return re.sub(rb"==[A-Za-z0-9_-]{16}==",
                  lambda m: seen.setdefault(m.group(0), b"(boundary %d)" % len(seen)), message)


# ---- scripted dialogues ---------------------------------------------------------------

GREETING = [("send", b"220 fake.test ESMTP\r\n")]
EHLO = [("expect", b"ehlo "), ("send", b"250-fake.test\r\n250 8BITMIME\r\n")]
MAIL = [("expect", b"mail from:<%s>" % SENDER.encode()), ("send", b"250 2.1.0 ok\r\n")]
RCPT = [("expect", b"rcpt to:<%s>" % RECIPIENT.encode()), ("send", b"250 2.1.5 ok\r\n")]
DATA = [("expect", b"data"), ("send", b"354 go ahead\r\n")]
END = [("data",), ("send", b"250 2.0.0 queued\r\n")]
QUIT = [("expect", b"quit"), ("send", b"221 bye\r\n")]
WHOLE = GREETING + EHLO + MAIL + RCPT + DATA + END + QUIT

CLOSED = re.compile(r"\AMessage send failed \(Connection closed by the peer\)\n\Z")
TIMED_OUT = re.compile(r"\AMessage send failed \(Timed out[^\n]*\)\n\Z")
# A cut or a stall while the message data goes out: either the write or the
# read after it finds it first.
DATA_LOST = re.compile(r"\AMessage send failed \((Connection lost while sending the message data "
                       r"\([^\n]*\)|Connection closed by the peer|Timed out[^\n]*)\)\n\Z")


class FakeServerTests(SmtpTestCase):
    """What real servers will not do: each case ends with the right status and
    message, within the time-out, without a signal, with bounded memory, and
    never reports success for a message the server did not accept."""

    def big_attachment(self, size=8 << 20):
        return self.write("big.bin", os.urandom(size))

    def converse(self, script, *extra, user=None, program=None, certs=None, hold=60):
        """Runs the program against a fake server playing script; hold: how
        long the server waits at most (a "stall" holds the line that long).
        A run that takes longer than 60 seconds fails as timed out."""
        server = FakeServer(script, certs=certs, wait_limit=hold)
        run = self.run_program(self.message_args(server.port, *extra, user=user), program=program)
        self.assertTrue(server.join(), "the fake server did not finish")
        return run, server

    def test_whole_dialogue_and_the_data_on_the_wire(self):
        body = "-body:.starts with a dot\\n..two dots\\nmiddle . dot\\n.\\nend"
        run, server = self.converse(WHOLE, body, "-a:" + self.write("dots.txt", b".a\r\n.b\r\n"))
        self.assertRun(run, 0, "")
        self.assertIsNone(server.error)
        self.assertEqual(server.lines[0], b"ehlo [127.0.0.1]")
        # Stuffed on the wire, the message File mode writes once unstuffed.
        self.assertIn(b"\r\n..starts with a dot\r\n...two dots\r\n", server.data)
        self.assertSameMessage(unstuff(server.data), self.file_mode(body, "-a:" + self.path("dots.txt")))

    def test_connection_cut_at_every_stage(self):
        auth = [("expect", b"ehlo "), ("send", b"250-fake.test\r\n250 AUTH PLAIN\r\n"),
                ("expect", b"auth plain ")]
        big = self.big_attachment()
        cases = [
            ("greeting", [], CLOSED, ()),
            ("EHLO", GREETING + [("expect", b"ehlo ")], CLOSED, ()),
            ("AUTH", GREETING + auth, re.compile(
                r"\AMessage send failed \(AUTH PLAIN failed \(Connection closed by the peer\)\)\n\Z"), ()),
            ("MAIL", GREETING + EHLO + [("expect", b"mail from:")], CLOSED, ()),
            ("RCPT", GREETING + EHLO + MAIL + [("expect", b"rcpt to:")], CLOSED, ()),
            ("DATA", GREETING + EHLO + MAIL + RCPT + [("expect", b"data")], CLOSED, ()),
            ("inside the data", GREETING + EHLO + MAIL + RCPT + DATA + [("some_data", 100000)],
             DATA_LOST, ("-a:" + big,)),
            ("before the reply to the end of data", GREETING + EHLO + MAIL + RCPT + DATA + [("data",)],
             CLOSED, ()),
        ]
        for stage, script, message, extra in cases:
            for how in ("close", "reset"):
                with self.subTest(stage=stage, how=how):
                    user = ("user", "secret") if stage == "AUTH" else None
                    run, server = self.converse(script + [(how,)], *extra, user=user)
                    if how == "reset":
                        self.assertRun(run, 1, re.compile(r"\AMessage send failed \(.+\)\n\Z"))
                    else:
                        self.assertRun(run, 1, message)
                    self.assertIsNone(server.error)

    def test_message_with_a_hole_is_never_ended(self):
        # An attachment that opens but fails while it is read: what was sent
        # stays unfinished, and the connection is closed without the final
        # "." so that the server drops the transaction.
        script = GREETING + EHLO + MAIL + RCPT + DATA + [("wait_close",)]
        run, server = self.converse(script, "-a:/proc/self/mem")
        self.assertRun(run, 1, "Message send failed (Read error on attachment (/proc/self/mem): Input/output error)\n")
        self.assertIn(b"Content-Transfer-Encoding: base64\r\n", server.data)
        self.assertNotIn(b"\r\n.\r\n", server.data)
        self.assertNotIn(b"quit", server.data.lower())

    def test_silence_at_every_stage(self):
        big = self.big_attachment()
        cases = [
            ("greeting", [], TIMED_OUT, ()),
            ("EHLO", GREETING + [("expect", b"ehlo ")], TIMED_OUT, ()),
            ("MAIL", GREETING + EHLO + [("expect", b"mail from:")], TIMED_OUT, ()),
            ("RCPT", GREETING + EHLO + MAIL + [("expect", b"rcpt to:")], TIMED_OUT, ()),
            ("DATA", GREETING + EHLO + MAIL + RCPT + [("expect", b"data")], TIMED_OUT, ()),
            # The server stops reading: the client's writes fill the socket.
            ("inside the data", GREETING + EHLO + MAIL + RCPT + DATA + [("some_data", 1000), ("stall",)],
             DATA_LOST, ("-a:" + big,)),
            ("end of data", GREETING + EHLO + MAIL + RCPT + DATA + [("data",)], TIMED_OUT, ()),
            ("QUIT after a refusal", GREETING + EHLO + [("expect", b"mail from:"),
                                                         ("send", b"550 no\r\n"), ("expect", b"quit")],
             re.compile(r"\AMessage send failed \(550 no\)\n\Z"), ()),
        ]
        for stage, script, message, extra in cases:
            with self.subTest(stage=stage):
                run, server = self.converse(script + [("wait_close",)], "-timeout:1", *extra)
                self.assertRun(run, 550 if stage.startswith("QUIT") else 1, message)

    def test_timeout_bounds_each_whole_answer(self):
        # A peer that drips its answer one byte every 0.9 s never lets a
        # single wait reach the time-out of 2 s, yet the whole answer (a
        # reply of many lines, the TLS handshake, a proxy's answer) must
        # end within it. Each drip below lasts 9 s or more, so a run that
        # ends well before its drip did not wait byte by byte; what the
        # client sends next must never come.
        drip = 0.9
        greeting = b"220 fake.test greets at a snail's pace\r\n"
        ehlo = b"250-fake.test\r\n250-8BITMIME\r\n250 DSN\r\n"
        tls_record = b"\x16\x03\x03\x10\x00" + b"\x02" * 35
        cases = [
            ("greeting", [("drip", greeting, drip)], (), b"ehlo",
             "Message send failed (Timed out after 2 seconds waiting for data)\n"),
            ("EHLO reply", GREETING + [("expect", b"ehlo "), ("drip", ehlo, drip)], (), b"mail from",
             "Message send failed (Timed out after 2 seconds waiting for data)\n"),
            ("TLS handshake", [("drip", tls_record, drip)], ("-secureport",), None,
             "Message send failed (tls_handskake() timeout)\n"),
            ("HTTPS proxy answer", [("drip", b"HTTP/1.0 200 Connection established\r\n\r\n", drip)],
             ("-proxytype:HTTPS",), b"ehlo",
             "Message send failed (Could not connect to [127.0.0.1]:{port} via HTTPS proxy "
             "(HTTPS proxy sent no answer (Timed out after 2 seconds waiting for data)))\n"),
            # The method choice comes within the time-out; the reply after
            # it gets a time-out of its own, and drips past it.
            ("SOCKS5 reply", [("drip", b"\x05\x00", drip),
                              ("drip", b"\x05\x00\x00\x01\x7f\x00\x00\x01\x00\x19", drip)],
             ("-proxytype:SOCKS",), b"ehlo",
             "Message send failed (Could not connect to [127.0.0.1]:{port} via SOCKS proxy "
             "(Timed out after 2 seconds waiting for data))\n"),
        ]

        def one(case):
            name, script, extra, never, message = case
            server = FakeServer(script + [("wait_close",)])
            args = list(extra)
            if name.endswith("proxy answer") or name.startswith("SOCKS"):
                args.append("-proxy:127.0.0.1:%d" % server.port)
            started = time.monotonic()
            run = self.run_program(self.message_args(server.port, "-timeout:2", *args))
            elapsed = time.monotonic() - started
            finished = server.join()
            return run, server, elapsed, finished

        # The cases run side by side, so together they take one time-out.
        with concurrent.futures.ThreadPoolExecutor(len(cases)) as pool:
            results = list(pool.map(one, cases))
        for case, (run, server, elapsed, finished) in zip(cases, results):
            name, script, extra, never, message = case
            with self.subTest(name):
                self.assertTrue(finished, "the fake server did not finish")
                self.assertRun(run, 1, message.format(port=server.port))
                self.assertLess(elapsed, 8, run)
                if never:
                    self.assertNotIn(never, server.data.lower())

    def test_replies_that_break_the_grammar_or_a_cap(self):
        cases = [
            (b"hello\r\n", "Invalid reply from server (hello)"),
            (b"2500 ok\r\n", "Invalid reply from server (2500 ok)"),
            (b"25\r\n", "Invalid reply from server (25)"),
            # The server's text is shown printable: a TAB and a byte that is
            # no UTF-8 escaped.
            (b"220\tok\r\n", "Invalid reply from server (220\\x09ok)"),
            (b"220\xe9t\xc3\xa9\r\n", "Invalid reply from server (220\\xe9t\u00e9)"),
            (b"\r\n", "Empty reply line from server"),
            (b"220-a\r\n354 b\r\n", "Reply codes differ within one reply (354 b)"),
            (b"220 a\x00b\r\n", "Received a line holding a NUL byte"),
        ]
        for reply, reason in cases:
            for where in ("greeting", "EHLO"):
                with self.subTest(reply=reply, where=where):
                    if where == "greeting":
                        script = [("send", reply)]
                    else:
                        script = GREETING + [("expect", b"ehlo "), ("send", reply.replace(b"220", b"250"))]
                    expected = reason if where == "greeting" else reason.replace("220", "250")
                    run, server = self.converse(script + [("wait_close",)])
                    self.assertRun(run, 1, "Message send failed (%s)\n" % expected)

    def test_endless_replies_stop_at_their_caps(self):
        cases = [
            ("a line without an end", [("flood", b"x" * 65536)], "Received a line longer than 4096 bytes"),
            ("a reply without a final line", GREETING + [("expect", b"ehlo "), ("send", b"250-fake\r\n"),
                                                         ("flood", b"250-more\r\n" * 1000)],
             "Reply from server has more than 128 lines"),
        ]
        for name, script, reason in cases:
            with self.subTest(name):
                run, server = self.converse(script)
                self.assertRun(run, 1, "Message send failed (%s)\n" % reason)
        # At the caps themselves a reply is still taken.
        longest = b"220 " + b"x" * 4092 + b"\r\n"
        ehlo = b"".join(b"250-line %d\r\n" % i for i in range(127)) + b"250 last\r\n"
        script = ([("send", longest), ("expect", b"ehlo "), ("send", ehlo)]
                  + MAIL + RCPT + DATA + END + QUIT)
        run, server = self.converse(script)
        self.assertRun(run, 0, "")
        run, server = self.converse([("send", b"220 " + b"x" * 4093 + b"\r\n"), ("wait_close",)])
        self.assertRun(run, 1, "Message send failed (Received a line longer than 4096 bytes)\n")

    def test_replies_split_across_reads_and_byte_by_byte(self):
        split = (GREETING + [("expect", b"ehlo "), ("send", b"250-fake"), ("send", b".test\r\n250-8BIT"),
                             ("send", b"MIME\r"), ("send", b"\n250 DSN\r\n")] + MAIL + RCPT + DATA + END + QUIT)
        bytewise = [(("bytewise",) + step[1:]) if step[0] == "send" else step for step in WHOLE]
        for name, script in (("split", split), ("byte by byte", bytewise)):
            with self.subTest(name):
                run, server = self.converse(script)
                self.assertRun(run, 0, "")
                self.assertIsNone(server.error)

    def test_server_refusals(self):
        cases = [
            ("421 greeting", [("send", b"421 4.3.2 busy\r\n")] + QUIT, 421, "Message send failed (421 4.3.2 busy)\n"),
            ("554 greeting", [("send", b"554-no\r\n554 service\r\n")] + QUIT, 554,
             "Message send failed (554 service)\n"),
            ("EHLO refused", GREETING + [("expect", b"ehlo "), ("send", b"502 5.5.1 no\r\n")] + QUIT, 502,
             "Message send failed (502 5.5.1 no)\n"),
            ("MAIL refused", GREETING + EHLO + [("expect", b"mail from:"), ("send", b"553 5.1.8 bad sender\r\n")] + QUIT,
             553, "Message send failed (553 5.1.8 bad sender)\n"),
            ("RCPT refused", GREETING + EHLO + MAIL + [("expect", b"rcpt to:"), ("send", b"550 5.1.1 unknown\r\n")] + QUIT,
             550, "Recipient %s rejected (550 5.1.1 unknown)\nMessage send failed (No recipients accepted)\n" % RECIPIENT),
            ("DATA refused", GREETING + EHLO + MAIL + RCPT + [("expect", b"data"), ("send", b"451 4.3.0 later\r\n")] + QUIT,
             451, "Message send failed (451 4.3.0 later)\n"),
            ("end of data refused", GREETING + EHLO + MAIL + RCPT + DATA + [("data",), ("send", b"554 5.7.1 rejected\r\n")] + QUIT,
             554, "Message send failed (554 5.7.1 rejected)\n"),
        ]
        for name, script, status, stderr in cases:
            with self.subTest(name):
                run, server = self.converse(script)
                self.assertRun(run, status, stderr)
                self.assertIsNone(server.error)

    def test_recipients_accepted_with_251_and_252(self):
        for code in (b"251 2.1.5 will forward", b"252 2.1.5 cannot verify"):
            with self.subTest(code):
                script = (GREETING + EHLO + MAIL + [("expect", b"rcpt to:"), ("send", code + b"\r\n")]
                          + DATA + END + QUIT)
                run, server = self.converse(script)
                self.assertRun(run, 0, "")

    def test_ehlo_address_literal_of_ipv6(self):
        try:
            server = FakeServer(GREETING + [("expect", b"ehlo "), ("send", b"250 fake.test\r\n")]
                                + MAIL + RCPT + DATA + END + QUIT, address="::1")
        except OSError:
            self.skipTest("no IPv6 loopback")
        args = self.message_args(server.port)
        args[0] = "-host:[::1]:%d" % server.port
        run = self.run_program(args)
        self.assertTrue(server.join())
        self.assertRun(run, 0, "")
        self.assertEqual(server.lines[0], b"ehlo [IPv6:0:0:0:0:0:0:0:1]")

    def test_multi_line_helo_reply_is_read_whole(self):
        script = (GREETING + [("expect", b"ehlo "), ("send", b"500 5.5.1 what\r\n"), ("expect", b"helo "),
                              ("send", b"250-fake.test\r\n250 hello\r\n")] + MAIL + RCPT + DATA + END + QUIT)
        run, server = self.converse(script)
        self.assertRun(run, 0, "")
        self.assertIsNone(server.error)

    def test_starttls_reply_followed_by_more_lines(self):
        script = (GREETING + [("expect", b"ehlo "), ("send", b"250-fake.test\r\n250 STARTTLS\r\n"),
                              ("expect", b"starttls"), ("send", b"220 go ahead\r\n250-planted\r\n"),
                              ("wait_close",)])
        run, server = self.converse(script, "-starttls", certs=self.certs)
        self.assertRun(run, 1, "Message send failed (Server sent data after its reply to STARTTLS)\n")
        self.assertIsNone(server.error)

    def test_replies_ahead_of_their_commands(self):
        # This client never pipelines: bytes that wait when it is about to
        # speak again came before what they seem to answer, and the dialogue
        # ends there (nothing more is sent), however good they look.
        cases = [
            ("greeting and more", [("send", b"220 fake.test\r\n250 planted\r\n")],
             "Server sent data before the EHLO command (250 planted)"),
            ("all replies to MAIL FROM", GREETING + EHLO + [
                ("expect", b"mail from:"), ("send", b"250 ok\r\n250 ok\r\n354 go ahead\r\n250 queued\r\n")],
             "Server sent data before the RCPT TO command (250 ok)"),
            ("354 with the final reply", GREETING + EHLO + MAIL + RCPT + [
                ("expect", b"data"), ("send", b"354 go ahead\r\n250 ok queued\r\n")],
             "Server sent data before the message data (250 ok queued)"),
            ("AUTH LOGIN done at once", GREETING + [
                ("expect", b"ehlo "), ("send", b"250-fake.test\r\n250 AUTH LOGIN\r\n"),
                ("expect", b"auth login"), ("send", b"334 VXNlcm5hbWU6\r\n235 ok\r\n")],
             "AUTH LOGIN failed (Server sent data before the AUTH command (235 ok))"),
        ]
        for name, script, reason in cases:
            for end in ("close", "wait_close"):
                with self.subTest(name, end=end):
                    user = ("user", "secret") if name.startswith("AUTH") else None
                    run, server = self.converse(script + [(end,)], user=user)
                    self.assertRun(run, 1, "Message send failed (%s)\n" % reason)
                    self.assertIsNone(server.error)
                    # Nothing followed the command whose reply came early.
                    self.assertEqual(len(server.lines), sum(1 for step in script if step[0] == "expect"))
                    self.assertEqual(server.data, b"")
        # After a delivered message, a goodbye that comes early only means
        # no QUIT is sent: the message stays delivered.
        script = GREETING + EHLO + MAIL + RCPT + DATA + [("data",), ("send", b"250 queued\r\n221 bye\r\n"),
                                                         ("wait_close",)]
        run, server = self.converse(script)
        self.assertRun(run, 0, "")
        self.assertEqual(server.data.lower().count(b"quit"), 0)

    def test_reply_while_the_data_goes_out(self):
        # A server that answers while the message is still on its way cannot
        # have the whole of it: the data is never ended, the run fails. The
        # message is larger than the socket buffers, so the answer is there
        # before the client has sent the data's end.
        script = GREETING + EHLO + MAIL + RCPT + DATA + [("some_data", 1000), ("send", b"250 ok queued\r\n"),
                                                         ("data",)] + QUIT
        run, server = self.converse(script, "-a:" + self.big_attachment())
        self.assertRun(run, 1, "Message send failed (Server sent data before the end of the message data "
                               "(250 ok queued))\n")
        self.assertEqual(server.error, "data: client left inside the data")

    def test_statuses_around_the_message_data(self):
        # A refusal (4xx, 5xx) keeps its code as the status, wherever it
        # comes; a reply that refuses nothing, or one that shows the dialogue
        # out of step, gives 1. With a large message the server's reply is
        # there before the data's end goes out.
        big = ("-a:" + self.big_attachment(),)
        auth = GREETING + [("expect", b"ehlo "), ("send", b"250-fake.test\r\n250 AUTH PLAIN\r\n")]
        envelope = GREETING + EHLO + MAIL + RCPT + DATA
        cases = [
            # name, script, options, status, standard error
            ("552 in the data, then a close", envelope + [("some_data", 1000), ("send", b"552 5.3.4 too big\r\n"),
                                                         ("close",)], big, 552,
             "Message send failed (552 5.3.4 too big)\n"),
            ("552 in the data, then no more reading", envelope + [("some_data", 1000),
                                                                  ("send", b"552 5.3.4 too big\r\n"), ("stall",)],
             big + ("-timeout:1",), 552, "Message send failed (552 5.3.4 too big)\n"),
            ("354 in the data", envelope + [("some_data", 1000), ("send", b"354 again\r\n"), ("wait_close",)], big, 1,
             "Message send failed (Server sent data before the end of the message data (354 again))\n"),
            ("354 to the end of data", envelope + [("data",), ("send", b"354 what\r\n")] + QUIT, (), 1,
             "Message send failed (354 what)\n"),
            ("334 to AUTH PLAIN", auth + [("expect", b"auth plain "), ("send", b"334 \r\n")] + QUIT, (), 1,
             "AUTH PLAIN failed (334 )\n"),
            ("a reply behind the answer to the data's end", envelope + [
                ("data",), ("send", b"250 ok\r\n554 5.7.1 late\r\n"), ("wait_close",)], (), 1,
             "Message send failed (Server is out of step (\"554 5.7.1 late\" came before the QUIT command))\n"),
            ("no reply behind the answer to the data's end", envelope + [
                ("data",), ("send", b"250 ok\r\nnonsense\r\n"), ("wait_close",)], (), 1,
             "Message send failed (Server is out of step (Invalid reply from server (nonsense) before the QUIT "
             "command))\n"),
            ("a reply before the answer to QUIT", envelope + END + [
                ("expect", b"quit"), ("send", b"554 5.7.1 late\r\n221 bye\r\n"), ("wait_close",)], (), 1,
             "Message send failed (Server is out of step (\"554 5.7.1 late\" came before the answer to QUIT))\n"),
            # What a one-line message meets when the early reply is not
            # there yet as the final "." goes: two replies to the data's end.
            ("two replies to the data's end, each in a write of its own", envelope + [
                ("data",), ("send", b"250 early\r\n"), ("send", b"554 5.7.1 rejected\r\n")] + QUIT, (), 1,
             re.compile(r"\AMessage send failed \(Server is out of step \(\"554 5.7.1 rejected\" came before "
                        r"(the QUIT command|the answer to QUIT)\)\)\n\Z")),
            # In step: a goodbye ahead of QUIT never fails a delivered
            # message.
            ("goodbye ahead of QUIT", envelope + [("data",), ("send", b"250 ok\r\n221 bye\r\n"), ("wait_close",)],
             (), 0, ""),
        ]
        for name, script, options, status, stderr in cases:
            with self.subTest(name):
                user = ("user", "secret") if "AUTH" in name else None
                run, server = self.converse(script, *options, user=user)
                self.assertRun(run, status, stderr)
                # The data of a refused or broken message is never ended.
                if status and "data" in name:
                    self.assertNotIn(b"\r\n.\r\n", server.data)

    def test_answers_after_the_data(self):
        # After the data's 250 a goodbye (221, or the 421 of a server that
        # shuts down) fits the dialogue wherever it comes; a refusal as
        # QUIT's answer shows the 250 to have been early. Nothing is waited
        # for after QUIT's answer: the server holds every line open far
        # longer than the run may take (the run would fail as timed out),
        # and the run's own time-out is longer still. After a refusal, what
        # follows never replaces its code or its text, which is printed
        # once.
        envelope = GREETING + EHLO + MAIL + RCPT + DATA
        auth = GREETING + [("expect", b"ehlo "), ("send", b"250-fake.test\r\n250 AUTH PLAIN\r\n"),
                           ("expect", b"auth plain ")]
        shutdown = b"421 4.3.2 shutting down\r\n"

        def quit_answered(answer, end=("stall",)):
            return envelope + END + [("expect", b"quit"), ("send", answer), end]

        def out_of_step(line, where):
            return "Message send failed (Server is out of step (\"%s\" came before %s))\n" % (line, where)

        cases = [
            # name, script, status, standard error
            ("250, then 421 and a close", envelope + [("data",), ("send", b"250 2.0.0 queued\r\n" + shutdown),
                                                     ("close",)], 0, ""),
            ("250, then 421 on a line held open", envelope + [("data",), ("send", b"250 2.0.0 queued\r\n" + shutdown),
                                                             ("stall",)], 0, ""),
            ("221 to QUIT on a line held open", quit_answered(b"221 2.0.0 bye\r\n"), 0, ""),
            ("421 to QUIT on a line held open", quit_answered(shutdown), 0, ""),
            ("500 to QUIT on a line held open", quit_answered(b"500 5.5.1 not now\r\n"), 1,
             out_of_step("500 5.5.1 not now", "the answer to QUIT")),
            ("550 to QUIT on a line held open", quit_answered(b"550 5.7.1 rejected\r\n"), 1,
             out_of_step("550 5.7.1 rejected", "the answer to QUIT")),
            ("500 to QUIT, then a close", quit_answered(b"500 5.5.1 not now\r\n", ("close",)), 1,
             out_of_step("500 5.5.1 not now", "the answer to QUIT")),
            # The early 250: sent before the data's end was read, it is
            # taken for the data's answer; the true answer, a refusal,
            # then answers QUIT.
            ("early 250, the data's refusal as QUIT's answer", envelope + [
                ("data",), ("send", b"250 early\r\n"), ("expect", b"quit"), ("send", b"554 5.7.1 rejected\r\n"),
                ("stall",)], 1, out_of_step("554 5.7.1 rejected", "the answer to QUIT")),
            ("MAIL FROM refused, then 421", GREETING + EHLO + [
                ("expect", b"mail from:"), ("send", b"550 5.7.1 sender rejected\r\n" + shutdown), ("stall",)],
             550, "Message send failed (550 5.7.1 sender rejected)\n"),
            ("MAIL FROM refused, then another reply", GREETING + EHLO + [
                ("expect", b"mail from:"), ("send", b"550 5.7.1 sender rejected\r\n554 5.7.1 late\r\n"),
                ("stall",)], 550, "Message send failed (550 5.7.1 sender rejected)\n"),
            ("MAIL FROM refused, then 500 to QUIT", GREETING + EHLO + [
                ("expect", b"mail from:"), ("send", b"550 5.7.1 sender rejected\r\n"), ("expect", b"quit"),
                ("send", b"500 5.5.1 not now\r\n"), ("stall",)],
             550, "Message send failed (550 5.7.1 sender rejected)\n"),
            ("AUTH refused, then 421", auth + [("send", b"535 5.7.8 bad credentials\r\n" + shutdown), ("stall",)],
             535, "AUTH PLAIN failed (535 5.7.8 bad credentials)\n"),
            ("end of data refused, then 421", envelope + [("data",), ("send", b"554 5.7.1 rejected\r\n" + shutdown),
                                                         ("stall",)], 554, "Message send failed (554 5.7.1 rejected)\n"),
        ]
        for name, script, status, stderr in cases:
            with self.subTest(name):
                user = ("user", "secret") if name.startswith("AUTH") else None
                run, server = self.converse(script, "-timeout:3600", user=user, hold=120)
                self.assertRun(run, status, stderr)
                self.assertIsNone(server.error)

    def test_early_reply_between_354_and_the_end_of_data(self):
        # "354" and, in a write of its own, an early "250"; then "554" for
        # the data's end. Wherever the early reply is caught (with the 354,
        # before the final ".", before or after QUIT), the run fails with 1
        # and never takes the 250 for the answer to the data's end.
        script = GREETING + EHLO + MAIL + RCPT + [("expect", b"data"), ("send", b"354 go ahead\r\n"),
                                                  ("send", b"250 early\r\n"), ("data",),
                                                  ("send", b"554 5.7.1 rejected\r\n")] + QUIT
        caught = re.compile(r"\AMessage send failed \((Server sent data before the (message data|end of the "
                            r"message data) \(250 early\)|Server is out of step \(\"554 5.7.1 rejected\" came "
                            r"before (the QUIT command|the answer to QUIT)\))\)\n\Z")
        for attempt in range(10):
            with self.subTest(attempt=attempt):
                run, server = self.converse(script, "-body:one line")
                self.assertRun(run, 1, caught)

    def starttls_script(self, after_tls_ehlo, rest):
        return (GREETING + [("expect", b"ehlo "), ("send", b"250-fake.test\r\n250-AUTH PLAIN\r\n250 STARTTLS\r\n"),
                            ("expect", b"starttls"), ("send", b"220 go ahead\r\n"), ("starttls",),
                            ("expect", b"ehlo "), ("send", after_tls_ehlo)] + rest)

    def test_auth_offered_before_starttls_and_not_after(self):
        script = self.starttls_script(b"250-fake.test\r\n250 8BITMIME\r\n", QUIT)
        run, server = self.converse(script, "-starttls", user=("user", "secret"), certs=self.certs)
        message = "Server did not offer a supported authentication mechanism"
        self.assertRun(run, 1, message + "\n")
        self.assertIsNone(server.error)
        self.assertFalse(any(line.lower().startswith(b"auth") for line in server.lines))

    def test_opportunistic_starttls(self):
        # No usable mechanism in clear, STARTTLS offered, a user name set:
        # the full program switches to TLS and logs in there.
        offer = [("expect", b"ehlo "), ("send", b"250-fake.test\r\n250 STARTTLS\r\n")]
        after = b"250-fake.test\r\n250 AUTH PLAIN\r\n"
        login = [("expect", b"auth plain AHVzZXIAc2VjcmV0"), ("send", b"235 ok\r\n")]
        script = (GREETING + offer + [("expect", b"starttls"), ("send", b"220 go ahead\r\n"), ("starttls",),
                                      ("expect", b"ehlo "), ("send", after)] + login + MAIL + RCPT + DATA + END + QUIT)
        run, server = self.converse(script, user=("user", "secret"), certs=self.certs)
        self.assertRun(run, 0, "")
        self.assertIsNone(server.error)
        # The server refuses the STARTTLS chosen for the login: that refusal
        # ends the session, with its code, as a refusal of required TLS does.
        script = GREETING + offer + [("expect", b"starttls"), ("send", b"454 4.7.0 TLS not available\r\n")] + QUIT
        run, server = self.converse(script, user=("user", "secret"), certs=self.certs)
        self.assertRun(run, 454, "Message send failed (STARTTLS not accepted (454 4.7.0 TLS not available))\n")
        self.assertIsNone(server.error)
        self.assertFalse(any(line.lower().startswith(b"auth") for line in server.lines))
        # The plain program cannot go on after a 220 to STARTTLS: it never
        # chooses it by this rule.
        script = GREETING + offer + QUIT
        run, server = self.converse(script, user=("user", "secret"), program=PLAIN)
        message = "Server did not offer a supported authentication mechanism"
        self.assertRun(run, 1, message + "\n")
        self.assertNotIn(b"starttls", [line.lower() for line in server.lines])
        # Inside implicit TLS the rule never fires either.
        script = [("starttls",)] + GREETING + offer + QUIT
        run, server = self.converse(script, "-secureport", user=("user", "secret"), certs=self.certs)
        self.assertRun(run, 1, message + "\n")
        self.assertIsNone(server.error)
        self.assertNotIn(b"starttls", [line.lower() for line in server.lines])

    def test_long_oauthbearer_token_goes_on_a_line_of_its_own(self):
        token = "T" * 20000
        script = (GREETING + [("expect", b"ehlo "), ("send", b"250-fake.test\r\n250 AUTH OAUTHBEARER\r\n"),
                              ("expect", b"auth OAUTHBEARER"), ("send", b"334 \r\n"), ("expect", b""),
                              ("send", b"235 ok\r\n")] + MAIL + RCPT + DATA + END + QUIT)
        run, server = self.converse(script, "-oauth", user=("me,a=b@example.com", token))
        self.assertRun(run, 0, "")
        self.assertEqual(server.lines[1], b"auth OAUTHBEARER")
        self.assertEqual(base64.b64decode(server.lines[2]),
                         b"n,a=me=2Ca=3Db@example.com,\x01auth=Bearer " + token.encode() + b"\x01\x01")

    def test_trace_masks_secrets_and_escapes_server_text(self):
        password = "s3cr3t-pw"
        plain = base64.b64encode(b"\0user\0" + password.encode()).decode()
        bearer = base64.b64encode(b"n,a=user,\x01auth=Bearer " + password.encode() + b"\x01\x01").decode()
        hidden = base64.b64encode(password.encode()).decode()
        offer = [("send", b"220 fake\x1b[31m.test\r\n"), ("expect", b"ehlo "),
                 ("send", b"250-fake.test\r\n250 AUTH PLAIN LOGIN OAUTHBEARER\r\n")]
        cases = [
            ("PLAIN", ["-authtypes:PLAIN"], [("expect", b"auth PLAIN "), ("send", b"535 5.7.8 bad\r\n")],
             "> auth PLAIN %s\n" % ("*" * len(plain)), plain),
            ("LOGIN", ["-authtypes:LOGIN"], [("expect", b"auth LOGIN"), ("send", b"334 VXNlcm5hbWU6\r\n"),
                                             ("expect", b"dXNlcg=="), ("send", b"334 UGFzc3dvcmQ6\r\n"),
                                             ("expect", hidden.encode()), ("send", b"535 5.7.8 bad\r\n")],
             "> %s\n" % ("*" * len(hidden)), hidden),
            ("OAUTHBEARER", ["-oauth"], [("expect", b"auth OAUTHBEARER "), ("send", b"535 5.7.8 bad\r\n")],
             "> auth OAUTHBEARER %s\n" % ("*" * len(bearer)), bearer),
        ]
        for mechanism, options, exchange, masked, secret in cases:
            with self.subTest(mechanism):
                run, server = self.converse(offer + exchange + QUIT, "-d", *options, user=("user", password))
                line = "AUTH %s failed (535 5.7.8 bad)" % mechanism
                self.assertRun(run, 535, line + "\n")
                self.assertIsNone(server.error)
                self.assertIn(masked, run.stdout)
                self.assertIn("< 220 fake\\x1b[31m.test\n", run.stdout)
                for text in (run.stdout, run.stderr):
                    self.assertNotIn(password, text)
                    self.assertNotIn(secret, text)
                    self.assertNotIn("\x1b", text)


    def test_auth_response_echoed_in_the_refusal_is_masked(self):
        # Servers that quote the client's AUTH line in their refusal: the
        # response, a piece of it or the password itself never reaches the
        # error message, the status report or the trace. The wire keeps the
        # real bytes (the scripts expect them).
        user, password = "bob", "s3cr3t-pw"
        challenge = b"<1896.697170952@fake.test>"
        plain = base64.b64encode(b"\0bob\0" + password.encode()).decode()
        login = base64.b64encode(password.encode()).decode()
        cram = base64.b64encode(b"bob " + hmac.new(password.encode(), challenge, "md5")
                                .hexdigest().encode()).decode()
        bearer = base64.b64encode(b"n,a=bob,\x01auth=Bearer " + password.encode() + b"\x01\x01").decode()
        offer = GREETING + [("expect", b"ehlo "),
                            ("send", b"250-fake.test\r\n250 AUTH PLAIN LOGIN CRAM-MD5 OAUTHBEARER\r\n")]
        exchanges = {
            "PLAIN": (["-authtypes:PLAIN"], [("expect", ("auth PLAIN " + plain).encode())], plain),
            "LOGIN": (["-authtypes:LOGIN"],
                      [("expect", b"auth LOGIN"), ("send", b"334 VXNlcm5hbWU6\r\n"), ("expect", b"Ym9i"),
                       ("send", b"334 UGFzc3dvcmQ6\r\n"), ("expect", login.encode())], login),
            "CRAM-MD5": (["-authtypes:CRAM-MD5"],
                         [("expect", b"auth CRAM-MD5"),
                          ("send", b"334 " + base64.b64encode(challenge) + b"\r\n"),
                          ("expect", cram.encode())], cram),
            "OAUTHBEARER": (["-oauth"], [("expect", ("auth OAUTHBEARER " + bearer).encode())], bearer),
        }
        # How the refusal quotes what it got ({} is the response), and its
        # last line as shown.
        echoes = [
            ("the whole response", "535 5.7.8 you said auth {} and that is wrong",
             "535 5.7.8 you said auth **** and that is wrong"),
            ("the response cut short", "535-5.7.8 no\r\n535 5.7.8 got {:.12}...", "535 5.7.8 got ****..."),
            ("the password", "535 5.7.8 password " + password + " is wrong", "535 5.7.8 password **** is wrong"),
        ]
        for mechanism, (options, exchange, response) in exchanges.items():
            for name, echo, shown in echoes:
                refusal = echo.format(response).encode()
                if mechanism == "OAUTHBEARER":
                    # The echo stands in the error challenge, answered by
                    # 0x01; the final refusal quotes nothing.
                    reply = [("send", b"334 " + refusal.split(b"\r\n")[-1][4:] + b"\r\n"), ("expect", b"AQ=="),
                             ("send", b"535 5.7.8 no\r\n")]
                    shown = "535 5.7.8 no"
                else:
                    reply = [("send", refusal + b"\r\n")]
                for debug in ([], ["-d"]):
                    with self.subTest(mechanism=mechanism, echo=name, debug=debug):
                        run, server = self.converse(offer + exchange + reply + QUIT,
                                                    *(debug + options), user=(user, password))
                        self.assertIsNone(server.error)
                        line = "AUTH %s failed (%s)" % (mechanism, shown)
                        # The login failure is the one message.
                        self.assertRun(run, 535, "%s\n" % line)
                        output = run.stdout + run.stderr
                        self.assertNotIn(password, output)
                        self.assertNotIn(response[:12], output)
                        if debug:
                            self.assertIn("< %s\n" % shown, run.stdout)

    def test_every_form_of_a_secret_a_peer_quotes_is_masked(self):
        # A proxy or a server that quotes what it got: the error line, the
        # status report (the AUTH failure is printed as reported) and the
        # -dd trace show the mask, never the password, the text sent or a
        # piece of it. The scripts expect the real bytes on the wire.
        b64 = lambda data: base64.b64encode(data).decode()
        proxy = ("pu", "pr0xyS3cret")
        basic = b64(b"pu:pr0xyS3cret")
        # (name, user, password, the secret quoted, the quote ({} for the
        # secret), and the quote as the error shows it when it is cut)
        cases = [
            ("proxy's Basic login", *proxy, basic, "HTTP/1.1 407 you sent Basic {}", None),
            # The error keeps 79 bytes of the status line: 7 letters of the
            # login remain there.
            ("proxy's Basic login cut short", *proxy, basic,
             "HTTP/1.1 407 Proxy Authentication Required, credentials refused - Basic {}",
             "HTTP/1.1 407 Proxy Authentication Required, credentials refused - Basic ****"),
            ("short password standing alone", "bob", "p@ss!", "p@ss!", "535 5.7.8 password {} is wrong", None),
            ("six letters of the response", "bob", "s3cr3t-pw", b64(b"\0bob\0s3cr3t-pw")[8:14],
             "535 5.7.8 got ...{}...", None),
            ("password's base64 after one byte", "bob", "s3cr3t-pw", b64(b"\0al\0s3cr3t-pw"),
             "535 5.7.8 expected {} for al", None),
            ("password's base64 after no byte", "bob", "s3cr3t-pw", b64(b"\0anna\0s3cr3t-pw"),
             "535 5.7.8 expected {} for anna", None),
            ("user:password", "bob", "s3cr3t-pw", b64(b"bob:s3cr3t-pw"), "535 5.7.8 try Basic {}", None),
        ]
        offer = GREETING + [("expect", b"ehlo "), ("send", b"250-fake.test\r\n250 AUTH PLAIN\r\n")]
        for name, user, password, secret, quote, cut in cases:
            with self.subTest(name):
                quoted, shown = quote.format(secret), quote.format("****")
                if (user, password) == proxy:
                    # The proxy refuses: the server's port is only named.
                    port = free_port()
                    fake = FakeServer([("expect", b"CONNECT 127.0.0.1:%d " % port), ("expect", b"Host: "),
                                       ("expect", b"User-Agent: "),
                                       ("expect", b"Proxy-Authorization: Basic %s" % basic.encode()),
                                       ("expect", b""), ("send", quoted.encode() + b"\r\n\r\n"),
                                       ("wait_close",)])
                    run = self.run_program(self.message_args(
                        port, "-dd", "-proxytype:HTTPS", "-proxy:%s:%s@127.0.0.1:%d" % (user, password, fake.port)))
                    status, line = 1, ("Message send failed (Could not connect to [127.0.0.1]:%d via HTTPS "
                                       "proxy (HTTPS proxy refused the tunnel (%s)))" % (port, cut or shown))
                else:
                    plain = b64(b"\0" + user.encode() + b"\0" + password.encode())
                    fake = FakeServer(offer + [("expect", ("auth PLAIN " + plain).encode()),
                                               ("send", quoted.encode() + b"\r\n")] + QUIT)
                    run = self.run_program(self.message_args(fake.port, "-dd", user=(user, password)))
                    status, line = 535, "AUTH PLAIN failed (%s)" % shown
                # -dd stamps the send failure with the time since the start.
                self.assertRun(run, status, re.compile(r"\A(\[\d+\.\d{3}\] )?%s\n\Z" % re.escape(line)))
                self.assertIn("] < %s\n" % shown, run.stdout)
                self.assertTrue(fake.join(), "the fake peer did not finish")
                self.assertIsNone(fake.error)
                output = run.stdout + run.stderr
                for hidden in (password, secret, secret[:7]):
                    self.assertNotIn(hidden, output)

    def test_trace_lines_end_in_lf_and_escape_c1_and_separators(self):
        # C1 controls (CSI, NEL) and the line and paragraph separators, from
        # the server and in the message data; "\xc3\xa9" is a character.
        c1, sep = "\xc2\x9b\xc2\x85", "\xe2\x80\xa8\xe2\x80\xa9"
        marks = (c1 + sep).encode("latin-1")
        script = ([("send", b"220 fake" + marks + b"[2J.test\r\n"), ("expect", b"ehlo "),
                   ("send", b"250-fake.test\r\n250-" + marks + b"\r\n250 8BITMIME\r\n")] +
                  MAIL + RCPT + DATA + END + QUIT)
        # A message file goes out as it stands, marks and all.
        message = self.write("ready.eml", b"X-Note: a\r\n\r\ncaf\xc3\xa9 " + marks + b"[2J end\r\n")
        run, server = self.converse(script, "-d", "-emailfile:" + message)
        self.assertRun(run, 0, "")
        self.assertIsNone(server.error)
        out = run.stdout
        self.assertNotIn("\r", out)
        self.assertTrue(out.endswith("\n"), out)
        for raw in (c1, sep):
            self.assertNotIn(raw.encode("latin-1").decode("utf-8"), out)
        escaped = "\\xc2\\x9b\\xc2\\x85\\xe2\\x80\\xa8\\xe2\\x80\\xa9"
        self.assertIn("< 220 fake%s[2J.test\n" % escaped, out)
        self.assertIn("< 250-%s\n" % escaped, out)
        self.assertIn("> ehlo [127.0.0.1]\n", out)
        self.assertIn("> .\n", out)
        self.assertIn("> caf\u00e9 %s[2J end\n" % escaped, out)
        self.assertIn(b"\r\ncaf\xc3\xa9 " + marks + b"[2J end\r\n", server.data)
        # The wire keeps its CR LF line ends: every line of the data ends so.
        self.assertNotIn(b"\n", server.data.replace(b"\r\n", b""))
        self.assertGreater(server.data.count(b"\r\n"), 5)

class AiosmtpdTests(SmtpTestCase):
    """Delivery to aiosmtpd: in clear, with STARTTLS and implicit TLS, with
    every AUTH mechanism, DSN and SMTPUTF8."""

    def peer(self, **options):
        peer = AioPeer(certs=self.certs, **options)
        self.addCleanup(peer.close)
        return peer

    def test_delivery_matches_file_mode(self):
        text = self.write("text.txt", b"line\r\n.dot line\r\n" * 100)
        html = self.write("page.html", b"<p>Hello</p>\n")
        image = self.write("image.png", os.urandom(3000))
        cases = [
            (),
            ("-body:.dot\\n..two\\n.",),
            ("-a:" + text, "-a:" + image),
            ("-body-html:" + html, "-ai:" + image),
            ("-auu:" + image,),
            ("-mime", "-body-64"),
        ]
        peer = self.peer()
        for options in cases:
            with self.subTest(options=options):
                run = self.run_program(self.message_args(peer.port, *options))
                self.assertRun(run, 0, "")
                got = peer.messages[-1]
                self.assertEqual((got.mail_from, got.rcpt_tos), (SENDER, [RECIPIENT]))
                self.assertSameMessage(got.content, self.file_mode(*options))
                self.assertEqual(got.helo, "[127.0.0.1]")

    def test_helo_names_reach_the_server(self):
        # A domain or an address literal goes as the one word of EHLO.
        peer = self.peer()
        for name in ("client.example", "[192.0.2.1]", "[IPv6:2001:db8::1]"):
            with self.subTest(name=name):
                run = self.run_program(self.message_args(peer.port, "-helo:" + name))
                self.assertRun(run, 0, "")
                self.assertEqual(peer.messages[-1].helo, name)

    def test_plain_program_delivers_in_clear(self):
        peer = self.peer()
        run = self.run_program(self.message_args(peer.port), program=PLAIN)
        self.assertRun(run, 0, "")
        self.assertSameMessage(peer.messages[-1].content, self.file_mode())

    def test_trace_shows_the_data_line_by_line(self):
        # -d shows the message data as it goes on the wire: one "> " line
        # per line (a folded header's continuation on its own, a leading
        # dot doubled), control bytes inside a line escaped.
        peer = self.peer()
        ready = self.write("ready.eml", b"Subject: folded\r\n continued\r\nX-Colour: a\x1b[31mb\r\n\r\n"
                                        b".dot line\r\n..two dots\r\nline three\r\n")
        cases = [
            ("message file", ["-emailfile:" + ready, "-rawhead"],
             ["> Subject: folded\n>  continued\n", "> X-Colour: a\\x1b[31mb\n",
              "> ..dot line\n> ...two dots\n> line three\n> .\n"]),
            ("attachment", ["-a:" + self.write("dots.txt", b".a\r\n"), "-body:.first\\nsecond"],
             [re.compile(r"> Content-Type: multipart/mixed;\n> \tboundary=\"==[\w-]{16}==\"\n"),
              "> ..first\n> second\n"]),
        ]
        for name, options, shown in cases:
            with self.subTest(name):
                run = self.run_program(self.message_args(peer.port, "-d", *options))
                self.assertRun(run, 0, "")
                for text in shown:
                    if isinstance(text, re.Pattern):
                        self.assertRegex(run.stdout, text)
                    else:
                        self.assertIn(text, run.stdout)
                self.assertNotIn("\x1b", run.stdout)
                # Every line of the trace is one line of the dialogue.
                self.assertNotIn("\r", run.stdout)
                for line in run.stdout.split("\n")[:-1]:
                    self.assertRegex(line, r"\A[<>] ", run)
        # What the server took is the file's text, unstuffed again.
        self.assertTrue(peer.messages[0].content.endswith(b"\r\n\r\n.dot line\r\n..two dots\r\nline three\r\n"))

    def test_tls_modes(self):
        cases = [
            (["-starttls"], dict(starttls=True)),
            (["-requiretls"], dict(starttls=True)),
            (["-secureport"], dict(implicit=True)),
            (["-secureport", "-tls-protocols:tlsv1.3", "-tls-ciphers:secure"], dict(implicit=True)),
        ]
        for options, server in cases:
            with self.subTest(options):
                peer = self.peer(**server)
                run = self.run_program(self.message_args(peer.port, *options))
                self.assertRun(run, 0, "")
                self.assertTrue(peer.messages[-1].tls)
        # Lists libtls cannot take end the run before it connects.
        peer = self.peer(implicit=True)
        for option, reason in (("-tls-ciphers:bogus", "no cipher list libtls takes"),
                               ("-tls-protocols:bogus", "no protocol list libtls takes")):
            with self.subTest(option):
                run = self.run_program(self.message_args(peer.port, "-secureport", option))
                name = option[1:option.index(":")]
                self.assertRun(run, 1, "Invalid -%s option (%s: \"bogus\")\n" % (name, reason))
        self.assertEqual(len(peer.messages), 0)

    def test_starttls_not_offered(self):
        peer = self.peer()
        # Asked for: the message goes in clear. Required: it does not go.
        run = self.run_program(self.message_args(peer.port, "-starttls"))
        self.assertRun(run, 0, "")
        self.assertFalse(peer.messages[-1].tls)
        run = self.run_program(self.message_args(peer.port, "-requiretls"))
        self.assertRun(run, 1, "Message send failed (Server did not indicate support for STARTTLS in EHLO)\n")
        self.assertEqual(len(peer.messages), 1)

    def test_verify_refuses_a_certificate_of_an_unknown_authority(self):
        peer = self.peer(implicit=True)
        run = self.run_program(self.message_args(peer.port, "-secureport", "-verify"))
        self.assertRun(run, 1, re.compile(r"\AMessage send failed \(.*certificate.*\)\n\Z"))
        self.assertEqual(peer.messages, [])

    def test_auth_mechanisms(self):
        accounts = {"ann@example.com": "pa:ss word"}
        tokens = {"ann@example.com": "ya29.token"}
        cases = [
            ("CRAM-MD5", (), "pa:ss word"),
            ("PLAIN", ("-authtypes:PLAIN",), "pa:ss word"),
            ("LOGIN", ("-authtypes:LOGIN",), "pa:ss word"),
            ("OAUTHBEARER", ("-oauth",), "ya29.token"),
        ]
        for mechanism, options, secret in cases:
            for tls in (False, True):
                with self.subTest(mechanism=mechanism, tls=tls):
                    peer = self.peer(starttls=tls, auth_in_clear=not tls, accounts=accounts, tokens=tokens)
                    # The password holds the usual delimiter and a blank.
                    args = (["-passdelim:|"] + self.message_args(peer.port, *options)
                            + (["-starttls"] if tls else []))
                    args[1] = "-host:ann@example.com|%s@127.0.0.1:%d" % (secret, peer.port)
                    run = self.run_program(args)
                    self.assertRun(run, 0, "")
                    self.assertEqual(peer.messages[-1].login, b"ann@example.com")
                    self.assertEqual(peer.messages[-1].tls, tls)

    def test_auth_refused(self):
        peer = self.peer(accounts={"ann": "right"}, tokens={"ann": "good"})
        cases = [
            (("-authtypes:PLAIN",), "wrong", "PLAIN"),
            ((), "wrong", "CRAM-MD5"),
            (("-oauth",), "bad", "OAUTHBEARER"),
        ]
        for options, secret, mechanism in cases:
            with self.subTest(mechanism):
                run = self.run_program(self.message_args(peer.port, *options, user=("ann", secret)))
                line = "AUTH %s failed (535 5.7.8 Authentication credentials invalid)" % mechanism
                self.assertRun(run, 535, line + "\n")
        # The error challenge of OAUTHBEARER was answered with 0x01.
        self.assertEqual(peer.handler.oauth_error_answers, [b"\x01"])
        self.assertEqual(peer.messages, [])

    def test_host_or_proxy_that_does_not_parse_ends_the_run(self):
        # A configuration file names a real server; a -host: or -proxy:
        # that does not parse, on the command line or in the file after
        # it, ends the run with status 1 and its reason: the configured
        # server is not used and nothing is sent.
        peer = self.peer()
        good = "host:127.0.0.1:%d" % peer.port
        message = ["-from:" + SENDER, "-to:" + RECIPIENT, "-subject:Hello", "-body:text"]
        conf = self.write("good.conf", good.encode() + b"\n")
        self.assertRun(self.run_program(["-config:" + conf] + message), 0, "")
        self.assertEqual(len(peer.messages), 1)
        bad_port = "The port is not a number from 1 to 65535"
        cases = [
            ("host", "mail.example.org:655350", bad_port),
            ("host", "mail.example.org:abc", bad_port),
            ("host", "mail.example.org:", bad_port),
            ("host", "mail.example.org:0", bad_port),
            # The configured server itself, with a port that is not one.
            ("host", "127.0.0.1:%dx" % peer.port, bad_port),
            ("host", "127.0.0.1:%d " % peer.port, bad_port),
            ("host", "ann:s3cret@mail.example.org:99999", bad_port),
            ("host", "ann:s3cret@", "No host given"),
            ("host", "", "No host given"),
            ("host", "[::1", 'The host begins with "[" and has no "]"'),
            ("host", "[127.0.0.1]%d" % peer.port, 'Only ":" and a port may follow the "]"'),
            ("proxy", "px.example:655350", bad_port),
            ("proxy", "pu:s3cret@px.example:abc", bad_port),
            ("proxy", "px.example:1080x", bad_port),
            ("proxy", "", "No host given"),
            ("proxy", "px example.org:1080", "Blank in the proxy host"),
            ("proxy", "p\x01u:s3cret@px.example", "Control character in the proxy user name"),
            ("proxy", "p\tu:s3cret@px.example", "Control character in the proxy user name"),
        ]
        for option, value, reason in cases:
            for where in ("command line", "configuration file"):
                with self.subTest(option=option, value=value, where=where):
                    word = "%s:%s" % (option, value)
                    if where == "command line":
                        args, origin = ["-config:" + conf, "-" + word], ""
                    else:
                        bad = self.write("bad.conf", ("%s\n%s\n" % (good, word)).encode())
                        args, origin = ["-config:" + bad], bad + ":2: "
                    run = self.run_program(args + message)
                    self.assertRun(run, 1, "%sInvalid -%s option (%s)\n" % (origin, option, reason))
                    self.assertNotIn("s3cret", run.stdout + run.stderr)
                    self.assertEqual(len(peer.messages), 1)

    def test_dsn_parameters(self):
        peer = self.peer(dsn=True)
        run = self.run_program(self.message_args(peer.port, "-dsn:SF", "-dsnid:run+1=a",
                                                 "-cc:other@example.org::N"))
        self.assertRun(run, 0, "")
        got = peer.messages[-1]
        self.assertEqual(got.mail_options, ["RET=HDRS", "ENVID=run+2B1+3Da"])
        self.assertEqual(got.rcpt_options, ["NOTIFY=SUCCESS,FAILURE", "NOTIFY=NEVER"])
        # A server without DSN gets no parameter at all (aiosmtpd refuses any).
        plain_peer = self.peer()
        run = self.run_program(self.message_args(plain_peer.port, "-dsn:SF", "-dsnid:run1"))
        self.assertRun(run, 0, "")
        self.assertEqual(plain_peer.messages[-1].mail_options, [])

    def test_smtputf8(self):
        sender = "j\u00f6rg@example.com"
        recipient = "r\u00e9ka@b\u00fccher.example"
        args = ["-from:" + sender, "-to:" + recipient]
        peer = self.peer(smtputf8=True)
        run = self.run_program(self.message_args(peer.port) + args)
        self.assertRun(run, 0, "")
        got = peer.messages[-1]
        self.assertTrue(got.smtp_utf8)
        self.assertEqual(got.mail_from, sender)
        # The domain goes as its A-label in the envelope, as its U-label in
        # the header.
        self.assertIn("r\u00e9ka@xn--bcher-kva.example", got.rcpt_tos)
        self.assertIn(("To: %s,\r\n" % recipient).encode(), got.content)
        # Without SMTPUTF8 a non-ASCII local part cannot go, a domain goes as
        # Punycode.
        # The sender (From, or the return path that stands for it in the
        # envelope) is named, and nothing is sent for it.
        peer = self.peer()
        for option in ("-from:", "-return-path:"):
            with self.subTest(option):
                run = self.run_program(self.message_args(peer.port, "-d") + [option + sender])
                self.assertRun(run, 1, "Message send failed (SMTPUTF8 required for the sender %s)\n" % sender)
                self.assertNotIn("> mail from", run.stdout)
        self.assertEqual(peer.messages, [])
        run = self.run_program(self.message_args(peer.port) + ["-to:ann@b\u00fccher.example"])
        self.assertRun(run, 0, "")
        self.assertIn("ann@xn--bcher-kva.example", peer.messages[-1].rcpt_tos)
        self.assertFalse(peer.messages[-1].smtp_utf8)

    def test_quit_answer_never_decides_the_status(self):
        # The server answers QUIT with 500: the reply that failed the message
        # still decides the status and the text. After the data's 250 a
        # refusal as the answer to QUIT is what shows an early 250 without
        # waiting, so there the run fails as out of step, although this
        # server did take the message.
        quit = {"QUIT": "500 5.5.1 not now"}
        accounts = {"ann": "right"}
        cases = [
            ("delivered", {}, {}, None, 1,
             "Message send failed (Server is out of step (\"500 5.5.1 not now\" came before the answer to "
             "QUIT))\n"),
            ("end of data refused", {"DATA": "552 5.3.4 too big"}, {}, None, 552,
             "Message send failed (552 5.3.4 too big)\n"),
            ("MAIL refused", {"MAIL": "553 5.1.8 bad sender"}, {}, None, 553,
             "Message send failed (553 5.1.8 bad sender)\n"),
            ("all recipients refused", {}, {RECIPIENT: "550 5.1.1 unknown"}, None, 550,
             "Recipient %s rejected (550 5.1.1 unknown)\nMessage send failed (No recipients accepted)\n"
             % RECIPIENT),
            ("AUTH refused", {}, {}, ("ann", "wrong"), 535,
             "AUTH CRAM-MD5 failed (535 5.7.8 Authentication credentials invalid)\n"),
        ]
        for name, replies, rcpt_replies, user, status, stderr in cases:
            with self.subTest(name):
                peer = self.peer(replies=dict(quit, **replies), rcpt_replies=rcpt_replies, accounts=accounts)
                run = self.run_program(self.message_args(peer.port, "-d", user=user))
                self.assertRun(run, status, stderr)
                self.assertIn("< 500 5.5.1 not now\n", run.stdout)
                self.assertEqual(len(peer.messages), 1 if name == "delivered" else 0)

    def test_header_addresses_without_smtputf8(self):
        # No byte above 127 in a header field Tarvex composes goes to a
        # server without SMTPUTF8: nothing is sent (not even MAIL FROM) for
        # an address that has no ASCII form in any address field.
        jose = "j\u00f6s\u00e9@example.org"
        cases = [
            ("To", ["-to:" + jose, "-to:ok@example.org"]),
            ("Cc", ["-cc:" + jose]),
            ("Reply-To", ["-reply-to:" + jose]),
            ("From", ["-from:" + jose, "-return-path:" + SENDER]),
        ]
        peer = self.peer()
        for sink in (False, True):
            server = self.sink() if sink else peer
            for field, options in cases:
                with self.subTest(field, sink=sink):
                    run = self.run_program(self.message_args(server.port, "-d", *options))
                    self.assertRun(run, 1, "Message send failed (SMTPUTF8 required for %s in the %s field)\n"
                                   % (jose, field))
                    self.assertNotIn("> mail from", run.stdout)
        self.assertEqual(peer.messages, [])
        # Bcc is not in the header: that recipient alone is refused, and the
        # others get a header of ASCII only.
        run = self.run_program(self.message_args(peer.port, "-bcc:" + jose))
        self.assertRun(run, 0, "Recipient %s rejected (SMTPUTF8 required)\n" % jose)
        self.assertEqual(peer.messages[-1].rcpt_tos, [RECIPIENT])
        self.assertTrue(peer.messages[-1].content.isascii())
        # File mode is unchanged: the file shows the address as given.
        self.assertIn(("To: %s,\r\n" % jose).encode(), self.file_mode("-to:" + jose))

    def test_header_addresses_make_mail_from_say_smtputf8(self):
        # The envelope is ASCII, the Reply-To field is not: MAIL FROM says
        # SMTPUTF8 (this server refuses a non-ASCII header without it).
        peer = self.peer(smtputf8=True)
        run = self.run_program(self.message_args(peer.port, "-reply-to:j\u00f6rg@example.com"))
        self.assertRun(run, 0, "")
        self.assertTrue(peer.messages[-1].smtp_utf8)
        self.assertIn("Reply-To: j\u00f6rg@example.com\r\n".encode(), peer.messages[-1].content)

    def sink(self):
        sink = SmtpSink()
        self.addCleanup(sink.close)
        return sink

    def test_closed_standard_descriptors_stay_out_of_the_session(self):
        # Started with standard input, output or error closed, the socket
        # must not take the free number: the trace (-d, on standard output)
        # and the warning for the refused recipient (on standard error)
        # would go to the server. The message arrives as File mode writes
        # it, for the good recipient, with the documented status.
        peer = self.peer(rcpt_replies={"gone@example.org": "550 5.1.1 no such user"})
        attachment = self.write("att.bin", os.urandom(100000))
        options = ("-a:" + attachment, "-to:gone@example.org")
        written = self.file_mode(*options)
        warning = "Recipient gone@example.org rejected (550 5.1.1 no such user)\n"
        for program in (FULL, PLAIN):
            for closed, stderr in ((0, warning), (1, warning), (2, "")):
                with self.subTest(program=os.path.basename(program), closed=closed):
                    count = len(peer.messages)
                    run = self.run_program(self.message_args(peer.port, "-d", *options), program=program,
                                           closed=closed)
                    self.assertRun(run, 0)
                    self.assertEqual(run.stderr, stderr, run)
                    self.assertEqual(len(peer.messages), count + 1)
                    got = peer.messages[-1]
                    self.assertEqual(got.rcpt_tos, [RECIPIENT])
                    self.assertSameMessage(got.content, written)

    def test_one_recipient_refused_among_others(self):
        peer = self.peer(rcpt_replies={"gone@example.org": "550 5.1.1 no such user",
                                       "fwd@example.org": "251 2.1.5 will forward"})
        run = self.run_program(self.message_args(peer.port, "-to:gone@example.org", "-cc:fwd@example.org"))
        self.assertRun(run, 0, "Recipient gone@example.org rejected (550 5.1.1 no such user)\n")
        self.assertEqual(sorted(peer.messages[-1].rcpt_tos), ["fwd@example.org", RECIPIENT])


class SmtpSinkTests(SmtpTestCase):
    """Delivery to Postfix's smtp-sink with capabilities switched off,
    rejections after chosen commands, 421 and dropped connections."""

    def sink(self, *options, dump=False):
        sink = SmtpSink(*options, dump=dump)
        self.addCleanup(sink.close)
        return sink

    def test_capabilities_off(self):
        # No ESMTP: EHLO is refused with 500 and HELO follows.
        sink = self.sink("-e", dump=True)
        run = self.run_program(self.message_args(sink.port))
        self.assertRun(run, 0, "")
        self.assertIn(b"X-Helo-Args: [127.0.0.1]\n", sink.messages()[-1])
        # No DSN: no DSN parameter, whatever was asked.
        sink = self.sink("-N", dump=True)
        run = self.run_program(self.message_args(sink.port, "-dsn:SFD"))
        self.assertRun(run, 0, "")
        dump = sink.messages()[-1]
        self.assertIn(b"X-Mail-Args: <%s>\n" % SENDER.encode(), dump)
        self.assertIn(b"X-Rcpt-Args: <%s>\n" % RECIPIENT.encode(), dump)
        # With DSN the parameters arrive.
        sink = self.sink(dump=True)
        run = self.run_program(self.message_args(sink.port, "-dsn:SFD", "-dsnid:abc"))
        self.assertRun(run, 0, "")
        dump = sink.messages()[-1]
        self.assertIn(b"X-Mail-Args: <%s> RET=HDRS ENVID=abc\n" % SENDER.encode(), dump)
        self.assertIn(b"X-Rcpt-Args: <%s> NOTIFY=SUCCESS,FAILURE,DELAY\n" % RECIPIENT.encode(), dump)
        # No AUTH offered while a user name is set: no AUTH at all.
        sink = self.sink("-a")
        run = self.run_program(self.message_args(sink.port, user=("user", "pw")))
        message = "Server did not offer a supported authentication mechanism"
        self.assertRun(run, 1, message + "\n")

    def test_rejections_after_chosen_commands(self):
        hard = "500 5.3.0 Error: command failed"
        soft = "450 4.3.0 Error: command failed"
        cases = [
            (("-f", "MAIL"), 500, "Message send failed (%s)\n" % hard),
            (("-r", "RCPT"), 450, "Recipient %s rejected (%s)\nMessage send failed (No recipients accepted)\n"
             % (RECIPIENT, soft)),
            (("-f", "DATA"), 500, "Message send failed (%s)\n" % hard),
            (("-f", "."), 500, "Message send failed (%s)\n" % hard),
            (("-Q", "MAIL"), 421, re.compile(r"\AMessage send failed \(421 [^\n]*\)\n\Z")),
            (("-Q", "."), 421, re.compile(r"\AMessage send failed \(421 [^\n]*\)\n\Z")),
            (("-q", "RCPT"), 1, CLOSED),
            (("-q", "."), 1, CLOSED),
        ]
        for options, status, stderr in cases:
            with self.subTest(options=options):
                sink = self.sink(*options)
                run = self.run_program(self.message_args(sink.port))
                self.assertRun(run, status, stderr)
        # -A 0: a 550 right after the 354, then a close. When it is already
        # there as the message data is about to go, the dialogue is out of
        # step; when it comes later it answers the end of data.
        sink = self.sink("-A", "0")
        run = self.run_program(self.message_args(sink.port))
        early = re.fullmatch(r"Message send failed \(Server sent data before the message data \(550 [^\n]*\)\)\n",
                             run.stderr)
        if early:
            self.assertRun(run, 1)
        else:
            self.assertRun(run, 550, re.compile(r"\AMessage send failed \(550 [^\n]*\)\n\Z"))


if __name__ == "__main__":
    unittest.main()
