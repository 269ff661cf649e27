"""End-to-end tests of the two programs' command line: exit statuses, the
exact messages on the right stream, where configuration comes from and in
which order, and the message File mode writes, read back with Python's
email package.

The programs are the ones of the build tree, named by TARVEX_BIN and
TARVEX_PLAIN_BIN. Every run gets fresh HOME, APPDATA and XDG_CONFIG_HOME
folders, so no configuration of the machine can leak in.
"""
import email
import email.policy
import hashlib
import os
import pty
import re
import resource
import shutil
import subprocess
import tempfile
import unittest

from loopback import free_port

FULL = os.environ.get("TARVEX_BIN", "")
PLAIN = os.environ.get("TARVEX_PLAIN_BIN", "")
PROGRAMS = {"tarvex": FULL, "tarvex-plain": PLAIN}

FULL_BANNER_RE = re.compile(
    r"Tarvex \S+ \S+ \(OpenSSL [^)]*\), [A-Z][a-z]{2} [ 0-9]\d \d{4}\n\n"
    r'Use "tarvex /\?" for help\.\n\n\Z')
PLAIN_BANNER_RE = re.compile(
    r"Tarvex Version \S+ \S+ \(No SSL\), [A-Z][a-z]{2} [ 0-9]\d \d{4}\n\n\n\n"
    r'Use "tarvex /\?" for help\.\n\n\Z')
BANNER_RE = {"tarvex": FULL_BANNER_RE, "tarvex-plain": PLAIN_BANNER_RE}

# What follows the message about a word of the command line that the
# programs do not know: the usage hint of the bare program.
HINT = 'Use "tarvex /?" for help.\n'

DIRECTORY = object()  # a folder where a file is expected
# What a run prints on standard error around a body typed on a terminal; a
# piped standard input gets neither line.
STDIN_PROMPT = "Reading body from stdin, enter message and end with ^D\n"
STDIN_DONE = "Finished reading body\n"


class Result:
    def __init__(self, proc):
        self.status = proc.returncode
        self.stdout = proc.stdout.decode("utf-8", "replace")
        self.stderr = (proc.stderr or b"").decode("utf-8", "replace")

    def __repr__(self):
        return "status %d\nstdout %r\nstderr %r" % (self.status, self.stdout, self.stderr)


class Sandbox:
    """A temporary folder with its own home; runs a program inside it."""

    def __init__(self):
        self.root = tempfile.mkdtemp(prefix="tarvex-e2e-")
        self.home = self.path("home")
        os.makedirs(self.home)
        self.programs = PROGRAMS

    def close(self):
        shutil.rmtree(self.root, ignore_errors=True)

    def path(self, *parts):
        return os.path.join(self.root, *parts)

    def write(self, name, data):
        full = self.path(name) if not os.path.isabs(name) else name
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "wb") as f:
            f.write(data.encode("utf-8") if isinstance(data, str) else data)
        return full

    def default_config(self, text):
        """The default file where HOME alone points."""
        return self.write(os.path.join(self.home, ".config", "tarvex.conf"), text)

    def environment(self, env=None):
        """The environment of a run: PATH, the box's home, the sanitizer
        settings of the build, then env (a value None removes a name)."""
        environment = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": self.home}
        for name in ("ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"):
            if name in os.environ:
                environment[name] = os.environ[name]
        for name, value in (env or {}).items():
            if value is None:
                environment.pop(name, None)
            else:
                environment[name] = value
        return environment

    def start(self, program, args, preexec=None):
        """Starts program in the folder without waiting for it: nothing on
        standard input and output, standard error into a file of the home
        folder (no pipe fills while nobody reads it). A Popen."""
        with open(os.path.join(self.home, "stderr"), "wb") as err:
            return subprocess.Popen([self.programs[program]] + list(args), cwd=self.root,
                                    env=self.environment(), stdin=subprocess.DEVNULL,
                                    stdout=subprocess.DEVNULL, stderr=err, preexec_fn=preexec)

    def run(self, program, args, env=None, stdin=b"", merge=False, preexec=None):
        """Runs program in the folder with stdin as its standard input (the
        bytes, the file of a path such as /dev/zero, or DIRECTORY: a folder,
        which cannot be read); merge puts
        standard error into standard output, in the order written; preexec
        runs in the child before the program starts (limits, user)."""
        environment = self.environment(env)
        streams = {"stdout": subprocess.PIPE,
                   "stderr": subprocess.STDOUT if merge else subprocess.PIPE,
                   "preexec_fn": preexec}
        if stdin is DIRECTORY or isinstance(stdin, str):
            fd = os.open(self.root if stdin is DIRECTORY else stdin, os.O_RDONLY)
            try:
                proc = subprocess.run([self.programs[program]] + list(args), cwd=self.root,
                                      env=environment, stdin=fd, timeout=60, **streams)
            finally:
                os.close(fd)
        else:
            proc = subprocess.run([self.programs[program]] + list(args), cwd=self.root,
                                  env=environment, input=stdin, timeout=60, **streams)
        return Result(proc)

    def message(self, name="out.eml"):
        with open(self.path(name), "rb") as f:
            raw = f.read()
        return raw, email.message_from_bytes(raw, policy=email.policy.default)


class SandboxTest(unittest.TestCase):
    def setUp(self):
        for name, path in PROGRAMS.items():
            if not path or not os.access(path, os.X_OK):
                self.fail("%s not found: set TARVEX_BIN and TARVEX_PLAIN_BIN" % name)
        self.box = Sandbox()
        self.addCleanup(self.box.close)

    def fresh(self):
        """A new sandbox for one case of a table."""
        box = Sandbox()
        self.addCleanup(box.close)
        return box

    def assertRun(self, result, status, stdout=None, stderr=None):
        self.assertEqual(result.status, status, result)
        if stdout is not None:
            if isinstance(stdout, re.Pattern):
                self.assertRegex(result.stdout, stdout, result)
            else:
                self.assertEqual(result.stdout, stdout, result)
        if stderr is not None:
            if isinstance(stderr, re.Pattern):
                self.assertRegex(result.stderr, stderr, result)
            else:
                self.assertEqual(result.stderr, stderr, result)


def plain_text(msg):
    """The text body with its line ends as "\\n" and none at the end."""
    return msg.get_body(("plain",)).get_content().replace("\r\n", "\n").rstrip("\n")


SENDER = ["-from:sender@example.com", "-to:rcpt@example.org"]
BOTH = tuple(PROGRAMS)
MISSING = "/nonexistent/tarvex-e2e"
# Nothing listens where these runs deliver (the SMTP dialogue itself is
# tested against real servers in tests/e2e/smtp): a host name that does not
# resolve, or a loopback port that was found closed.
CLOSED_PORT = free_port()


def connect_failure(host, port=25, reason=r"[^\n]+"):
    """The pattern of the message, with the reason in brackets."""
    return r"Message send failed \(Could not connect to \[%s\]:%d \(%s\)\)\n" % (
        re.escape(host), port, reason)


def connect_failed(host, port=25, reason=r"[^\n]+"):
    return re.compile(r"\A" + connect_failure(host, port, reason) + r"\Z")


REFUSED = re.escape("connect() failed: Connection refused")
INCOMPLETE = "Incomplete configuration and unable to determine values from e-mail file\n"
# Words only the full program knows; the plain program refuses them.
FULL_ONLY_WORDS = ["-starttls", "-requiretls", "-secureport", "-verify", "-tls-ciphers:HIGH",
                   "-tls-protocols:tlsv1.3"]
# Files every run of the run-sequence table finds in its folder.
FIXTURES = {
    "ready.eml": "From: a@example.com\r\nTo: b@example.com\r\n\r\nbody\r\n",
    "notes.txt": "notes\n",
    "minutes.conf": "subject:x\ntimeout:2min\n",
}


class Run:
    """One row of the run-sequence table: the programs it is for, the
    arguments, the exit status and both streams exactly ("banner": the
    program's banner and usage hint; a compiled pattern for texts with a
    time in them). A run that fails leaves no output file; a successful one
    with -file: leaves one, which `check` may look at."""

    def __init__(self, args, status, stdout, stderr, programs=BOTH, check=None, stdin=b""):
        self.args, self.status, self.stdout, self.stderr = args, status, stdout, stderr
        self.programs, self.check, self.stdin = programs, check, stdin


def ready_file_body(test, msg):
    """The message file's own fields and body under the generated block."""
    test.assertEqual(msg.get_all("From"), ["sender@example.com"])
    test.assertEqual(msg.get_all("To"), ["rcpt@example.org"])
    test.assertEqual(msg.get_payload(), "body\r\n")


def no_attachment(test, msg):
    test.assertEqual([p for p in msg.walk() if p.get_content_disposition()], [])


RUN_CASES = [
    Run([], 1, "banner", ""),
    # Arguments that are not option words, and words the programs do not know.
    Run(["bare"], 2, "", "Unknown option: bare\n" + HINT),
    # Options apply in order: the first refusal ends the run.
    Run(["-subject:x", "bare", "-passdelim:"], 2, "", "Unknown option: bare\n" + HINT),
    Run(["-passdelim:", "bare"], 1, "", "Missing delimiter character in -passdelim:\n"),
    Run([""], 2, "", "Unknown option: \n" + HINT),
    Run(["-docs"], 2, "", "Unknown option: docs\n" + HINT),
    # An unknown word is shown up to its first byte that is no letter,
    # digit or "-": what follows may be a password.
    Run(["-nosuch:value"], 2, "", "Unknown option: nosuch:\n" + HINT),
    Run(["-proxytype:socks"], 2, "", "Unknown option: proxytype:\n" + HINT),
    Run(["-authtypes:FOO,BAR"], 2, "", "Unknown authentication types: FOO,BAR\n"),
    # -bindpass counts only together with -encryptpass:.
    Run(["-bindpass"], 2, "", "Unknown option: bindpass\n" + HINT),
    Run(["-awild:r:*.txt"], 10, "", "Invalid awild option 'r'\n"),
    # DKIM: the full program's words; the plain program does not know them.
    Run(["-dkim:example.com:s:key.pem"], 10, "",
        "Error applying DKIM setting: example.com:s:key.pem (the key file cannot be opened: No such file or directory)\n",
        programs=("tarvex",)),
    Run(["-dkim-algo:rsa-sha512"], 2, "", "Unknown DKIM signing/verification algorithm: rsa-sha512\n",
        programs=("tarvex",)),
    Run(["-dkim-canon:x/y"], 2, "", "Unknown DKIM canonical form: x/y\n", programs=("tarvex",)),
    Run(["-dkim:example.com:s:key.pem"], 2, "", "Unknown option: dkim:\n" + HINT,
        programs=("tarvex-plain",)),
    Run(["-dkim-default:example.com"], 2, "", "Unknown option: dkim-default:\n" + HINT,
        programs=("tarvex-plain",)),
    Run(["-dkim-algo:rsa-sha256"], 2, "", "Unknown option: dkim-algo:\n" + HINT,
        programs=("tarvex-plain",)),
    Run(["-dkim-canon:r/r"], 2, "", "Unknown option: dkim-canon:\n" + HINT, programs=("tarvex-plain",)),
    Run(["-no-dkim"], 2, "", "Unknown option: no-dkim\n" + HINT, programs=("tarvex-plain",)),
    # The value of -encryptpass: is a password: the plain program, which
    # cannot encrypt, never shows it, and the word ends the run before any
    # configuration is read.
    Run(["-file:out.eml", "-config:" + MISSING, "-encryptpass:s3cret"] + SENDER, 2, "",
        "Unknown option: -encryptpass:\n" + HINT, programs=("tarvex-plain",)),
    # Long enough to be encrypted, but no type and marker: a plain password
    # in both programs.
    Run(["-host:me:$AAAAAAAAAAAAAAAA@mx.example"] + SENDER, 1, "", connect_failed("mx.example")),
    # An encrypted password whose bytes hold a NUL ("x", NUL, "y"): the full
    # program stops without showing it; the plain program takes it as written.
    Run(["-host:me:$AQIDBJa58uT0Sfw@mx.example"] + SENDER, 1, "",
        "Failed to decrypt password: the text was altered (it decrypts to control characters or "
        "invalid UTF-8)\n", programs=("tarvex",)),
    Run(["-host:me:$AQIDBJa58uT0Sfw@mx.example"] + SENDER, 1, "", connect_failed("mx.example"),
        programs=("tarvex-plain",)),
    # Too short to be encrypted: a plain password in both programs.
    Run(["-host:me:$ab@mx.example"] + SENDER, 1, "", connect_failed("mx.example")),
    # -config: files: applied before any command-line option.
    Run(["-config:" + MISSING], 1, "", "Unable to open configuration file %s: No such file or directory\n" % MISSING),
    Run(["bare", "-config:" + MISSING], 1, "",
        "Unable to open configuration file %s: No such file or directory\n" % MISSING),
    Run(["-config:."], 1, "", "Unable to open configuration file .: Is a directory\n"),
    # Opens, but cannot be read.
    Run(["-config:/proc/self/mem"], 1, "", "Unable to open configuration file /proc/self/mem: Input/output error\n"),
    # Checks after the options.
    Run(["-host:mx.example", "-file:out.eml"] + SENDER, 1, "",
        "Concurrent send and output to file not supported (-host: from the command line, "
        "-file: from the command line)\n"),
    Run(["-host:mx.example"], 1, "banner", "No from address specified\nNo recipients specified\n"),
    Run(["-from:a@example.com"], 1, "banner",
        "No host or output file specified\nNo recipients specified\n"),
    Run(["-bcc:b@example.com", "-file:out.eml"], 1, "banner", "No from address specified\n"),
    Run(["-subject:only"], 1, "banner", "No host or output file specified\n"
        "No from address specified\nNo recipients specified\n"),
    # A -host: that does not parse ends the run.
    Run(["-host:mx.example:0"] + SENDER, 1, "",
        "Invalid -host option (The port is not a number from 1 to 65535)\n"),
    Run(["-host:u:@mx.example"] + SENDER, 1, "", "Incorrectly specified user credentials\n"),
    # A password without a user is no login: refused, as "u:" is.
    Run(["-host::pw@mx.example"] + SENDER, 1, "",
        "Invalid -host option (A password is given without a user name)\n"),
    # Only ":" and a port follow the "]": no host "::1]" to fail on later.
    Run(["-host:[::1]]:%d" % CLOSED_PORT] + SENDER, 1, "",
        "Invalid -host option (Only \":\" and a port may follow the \"]\")\n"),
    # Numbers are digits only, on the command line and in a configuration
    # file, and within their ranges.
    Run(["-timeout:1m", "-host:mx.example"] + SENDER, 1, "",
        "Invalid -timeout option (The value must be digits only: \"1m\")\n"),
    Run(["-config:minutes.conf", "-host:mx.example"] + SENDER, 1, "",
        "minutes.conf:2: Invalid -timeout option (The value must be digits only: \"2min\")\n"),
    Run(["-priority:high", "-file:out.eml"] + SENDER, 1, "",
        "Invalid -priority option (The value must be digits only: \"high\")\n"),
    Run(["-priority:9", "-file:out.eml"] + SENDER, 1, "",
        "Invalid -priority option (The priority must be 1 to 5)\n"),
    Run(["-linelen:4.9", "-file:out.eml"] + SENDER, 1, "",
        "Invalid -linelen option (The value must be digits only: \"4.9\")\n"),
    Run(["-ai:notes.txt", "-file:out.eml"] + SENDER, 1, "",
        "Inline attachments require a HTML body\n"),
    Run(["-a64:notes.txt", "-auu:notes.txt", "-file:out.eml"] + SENDER, 1, "",
        "Mixing MIME and Uuencoded attachments is prohibited\n"),
    # The body from standard input (read whole: FileModeTest).
    Run(["--", "-file:out.eml"] + SENDER, 1, "",
        "NUL byte in the body from standard input\n", stdin=b"a\0b"),
    Run(["--", "-file:out.eml"] + SENDER, 12, "",
        "Failed to read the body from standard input: Is a directory\n", stdin=DIRECTORY),
    # A message file: the full program takes the sender and the recipients
    # from its header when the options give none; the plain program cannot.
    Run(["-emailfile:ready.eml", "-host:mx.example"], 1, "", connect_failed("mx.example"),
        programs=("tarvex",)),
    Run(["-emailfile:ready.eml", "-host:mx.example"], 1, "banner", INCOMPLETE +
        "No from address specified\nNo recipients specified\n", programs=("tarvex-plain",)),
    Run(["-emailfile:ready.eml", "-host:mx.example"] + SENDER, 1, "", connect_failed("mx.example")),
    # File mode writes the completed message file, whichever option came last.
    Run(["-emailfile:ready.eml", "-file:out.eml"] + SENDER, 0, "", "", check=ready_file_body),
    Run(["-file:out.eml", "-emailfile:ready.eml"] + SENDER, 0, "", "", check=ready_file_body),
    # Refused values.
    Run(["-to:nobody.example.com", "-file:out.eml"], 1, "",
        "Invalid address in -to (nobody.example.com)\n"),
    Run(["-from:a@b.example:\"Ann", "-file:out.eml"], 1, "",
        "Unclosed quote in -from (a@b.example:\"Ann)\n"),
    Run(["-subject:a\x01b"], 1, "", "Invalid -subject option (Control character in the subject)\n"),
    # It would end the CONNECT line to a proxy early.
    Run(["-host:mx.example extra"] + SENDER, 1, "", "Invalid -host option (Blank in the server host)\n"),
    # TLS lists libtls cannot take are refused when given, also in a run
    # that never starts TLS.
    Run(["-tls-protocols:tlsv9", "-file:out.eml"] + SENDER, 1, "",
        "Invalid -tls-protocols option (no protocol list libtls takes: \"tlsv9\")\n", programs=("tarvex",)),
    Run(["-tls-protocols:!all", "-file:out.eml"] + SENDER, 1, "",
        "Invalid -tls-protocols option (no protocol list libtls takes: \"!all\")\n", programs=("tarvex",)),
    Run(["-tls-ciphers:bogus", "-file:out.eml"] + SENDER, 1, "",
        "Invalid -tls-ciphers option (no cipher list libtls takes: \"bogus\")\n", programs=("tarvex",)),
    Run(["-tls-ciphers:", "-file:out.eml"] + SENDER, 1, "",
        "Invalid -tls-ciphers option (no cipher list libtls takes: \"\")\n", programs=("tarvex",)),
    # What goes raw into a command or a header is checked when given.
    Run(["-helo:x.org MAIL FROM:<evil@x.org>", "-host:mx.example"] + SENDER, 1, "",
        "Invalid -helo option (The HELO name is not a domain or an address literal)\n"),
    Run(["-host:bo\rb:pw@mx.example"] + SENDER, 1, "",
        "Invalid -host option (Control character in the user name)\n"),
    Run(["-host:bob:tok\x01en@mx.example", "-oauth"] + SENDER, 1, "",
        "Invalid -oauth option (The bearer token holds the byte 0x01)\n"),
    Run(["-to:a\u2028b@example.org", "-file:out.eml"], 1, "",
        "Invalid address in -to (a\\xe2\\x80\\xa8b@example.org): Control character in the recipient address\n"),
    # Values in messages: a TAB and a C1 control escaped.
    Run(["-to:a\tb@example.org\u009b", "-file:out.eml"], 1, "",
        "Invalid address in -to (a\\x09b@example.org\\xc2\\x9b): Control character in the "
        "recipient address\n"),
    # Files that options name.
    Run(["-a:" + MISSING] + SENDER, 10, "", "Failed to attach file (%s): No such file or directory\n" % MISSING),
    Run(["-a:" + MISSING, "-skipnofile", "-file:out.eml"] + SENDER, 0, "", "",
        check=no_attachment),
    Run(["-to:@" + MISSING], 10, "", "Failed to set To from file (%s): No such file or directory\n"
        % MISSING, programs=("tarvex",)),
    Run(["-bcc:@" + MISSING], 10, "", "Failed to set Bcc from file (%s): No such file or directory\n"
        % MISSING, programs=("tarvex",)),
    Run(["-to:@" + MISSING], 10, "", "Failed to set To from file (%s): Recipient list files are "
        "not available in this program\n" % MISSING, programs=("tarvex-plain",)),
    Run(["-body-file:" + MISSING], 10, "", "Failed to read body file (%s): No such file or directory\n" % MISSING),
    Run(["-body-html:" + MISSING], 10, "", "Failed to read HTML body file (%s): No such file or directory\n" % MISSING),
    Run(["-emailfile:" + MISSING], 10, "", "Failed to find emailfile (%s): No such file or directory\n" % MISSING),
    # Delivery and File-mode output.
    Run(["-host:127.0.0.1:%d" % CLOSED_PORT] + SENDER, 1, "",
        connect_failed("127.0.0.1", CLOSED_PORT, REFUSED)),
    # -dd: the network library's notes on standard output, and a stamp.
    Run(["-dd", "-host:127.0.0.1:%d" % CLOSED_PORT] + SENDER, 1,
        re.compile(r"\A(\[\d+\.\d{3}\] [^\n]*\n)+\Z"),
        re.compile(r"\A\[\d+\.\d{3}\] " + connect_failure("127.0.0.1", CLOSED_PORT, REFUSED) + r"\Z")),
    Run(["-d", "-host:127.0.0.1:%d" % CLOSED_PORT] + SENDER, 1, "",
        connect_failed("127.0.0.1", CLOSED_PORT, REFUSED)),
    Run(["-file:" + MISSING + "/out.eml"] + SENDER, 3, "",
        "Failed to open output file (%s/out.eml): No such file or directory\n" % MISSING),
    # A file that opens but cannot be read while the message is written.
    Run(["-file:out.eml", "-a:/proc/self/mem"] + SENDER, 12, "",
        "Read error on attachment (/proc/self/mem): Input/output error\n"),
    # Settings that no message can carry: nothing is written.
    Run(["-head:X-" + "a" * 200 + ":v", "-file:out.eml"] + SENDER, 1, "",
        "Header field name too long (X-" + "a" * 38 + "...)\n"),
    Run(["-file:out.eml"] + SENDER, 0, "", ""),
]
for _word in FULL_ONLY_WORDS:
    RUN_CASES.append(Run([_word, "-file:out.eml"] + SENDER, 0, "", "", programs=("tarvex",)))
    RUN_CASES.append(Run([_word, "-file:out.eml"] + SENDER, 2, "",
                         "Unknown option: %s\n" % re.sub(":.*", ":", _word[1:]) + HINT, programs=("tarvex-plain",)))


class RunSequenceTest(SandboxTest):
    def test_messages_and_statuses(self):
        for case in RUN_CASES:
            for program in case.programs:
                with self.subTest(program=program, args=case.args):
                    box = self.fresh()
                    for name, text in FIXTURES.items():
                        box.write(name, text)
                    result = box.run(program, case.args, stdin=case.stdin)
                    want_out = BANNER_RE[program] if case.stdout == "banner" else case.stdout
                    self.assertRun(result, case.status, want_out, case.stderr)
                    written = case.status == 0 and "-file:out.eml" in case.args
                    self.assertEqual(os.path.exists(box.path("out.eml")), written)
                    if written:
                        _, msg = box.message()
                        self.assertEqual(msg.defects, [])
                        if case.check:
                            case.check(self, msg)

    def test_endless_standard_input_is_refused_at_once(self):
        # Its first byte is a NUL that the run refuses: it stops there
        # instead of reading on (within a small address space, except under
        # AddressSanitizer, whose shadow memory needs more).
        def small():
            resource.setrlimit(resource.RLIMIT_AS, (256 << 20, 256 << 20))
        for program, path in PROGRAMS.items():
            with open(path, "rb") as f:
                limit = None if b"__asan_init" in f.read() else small
            with self.subTest(program=program):
                result = self.box.run(program, ["--", "-file:out.eml"] + SENDER, stdin="/dev/zero",
                                      preexec=limit)
                self.assertRun(result, 1, "", "NUL byte in the body from standard input\n")
                self.assertFalse(os.path.exists(self.box.path("out.eml")))

    def test_closed_output_does_not_kill(self):
        # Standard output is a pipe nobody reads: the banner cannot be
        # written, and the run still ends with its own status.
        for program in PROGRAMS:
            with self.subTest(program=program):
                read_end, write_end = os.pipe()
                os.close(read_end)
                try:
                    proc = subprocess.run([PROGRAMS[program]], cwd=self.box.root, stdout=write_end,
                                          stderr=subprocess.PIPE, timeout=60,
                                          env={"HOME": self.box.home})
                finally:
                    os.close(write_end)
                self.assertEqual(proc.returncode, 1, proc.stderr)

    def test_messages_follow_the_banner_on_one_stream(self):
        for program in PROGRAMS:
            with self.subTest(program=program):
                result = self.box.run(program, ["-subject:x"], merge=True)
                self.assertEqual(result.status, 1)
                self.assertTrue(result.stdout.endswith(
                    "help.\n\nNo host or output file specified\nNo from address specified\n"
                    "No recipients specified\n"), result)


class ConfigurationTest(SandboxTest):
    def subject_and_to(self, box):
        _, msg = box.message()
        return str(msg["subject"]), [a.addr_spec for a in msg["to"].addresses]

    def test_precedence_of_sources(self):
        default = "from:f@example.com\nsubject:Default\nto:d@example.com\n"
        first = "subject:First\nto:c1@example.com\n"
        second = "subject:Second\nto:c2@example.com\n"
        # (default file, -config: files, other arguments, subject, To list)
        cases = [
            (default, [], [], "Default", ["d@example.com"]),
            (default, [first], [], "First", ["c1@example.com", "d@example.com"]),
            (default, [first, second], [], "Second",
             ["c2@example.com", "c1@example.com", "d@example.com"]),
            (default, [first], ["-subject:Command", "-to:a@example.com"], "Command",
             ["a@example.com", "c1@example.com", "d@example.com"]),
            # -config: files come before every command-line option,
            # wherever they stand.
            (default, [first], ["-subject:Command", "CONFIGS"], "Command",
             ["c1@example.com", "d@example.com"]),
            (default, [first], ["-nodefault", "-from:f@example.com"], "First", ["c1@example.com"]),
            (None, [first], ["-from:f@example.com"], "First", ["c1@example.com"]),
            # A default file that cannot be opened is no error.
            (DIRECTORY, [first], ["-from:f@example.com"], "First", ["c1@example.com"]),
            # Inside a file, "config:" names nothing that is read, and the
            # switches of the command line's pre-scan do nothing.
            (default, ["config:NESTED\nnodefault\n", "subject:Nested\n"], [], "Nested",
             ["d@example.com"]),
        ]
        for program in PROGRAMS:
            for default_text, configs, args, subject, to in cases:
                with self.subTest(program=program, configs=len(configs), args=args):
                    box = self.fresh()
                    if default_text is DIRECTORY:
                        os.makedirs(os.path.join(box.home, ".config", "tarvex.conf"))
                    elif default_text is not None:
                        box.default_config(default_text)
                    box.write("nested.conf", "subject:Never\nto:never@example.com\n")
                    names = [box.write("c%d.conf" % i, text.replace("NESTED", box.path("nested.conf")))
                             for i, text in enumerate(configs)]
                    config_args = ["-config:" + n for n in names]
                    if "CONFIGS" in args:
                        i = args.index("CONFIGS")
                        full_args = args[:i] + config_args + args[i + 1:]
                    else:
                        full_args = config_args + args
                    result = box.run(program, full_args + ["-file:out.eml"])
                    self.assertRun(result, 0, "", "")
                    self.assertEqual(self.subject_and_to(box), (subject, to))

    def test_location_of_the_default_file(self):
        deep = os.path.join(*(["d" * 200] * 6))
        # APPDATA wins over XDG_CONFIG_HOME, which wins over HOME/.config;
        # an empty variable counts as unset.
        cases = [
            ({"APPDATA": "A", "XDG_CONFIG_HOME": "X"}, "AppData"),
            ({"APPDATA": "", "XDG_CONFIG_HOME": "X"}, "Xdg"),
            ({"XDG_CONFIG_HOME": "X"}, "Xdg"),
            ({"XDG_CONFIG_HOME": ""}, "Home"),
            ({}, "Home"),
            # A home folder of more than 1024 bytes: the path is not cut.
            ({"HOME": deep}, "Deep"),
        ]
        for env, subject in cases:
            with self.subTest(env=env):
                box = self.fresh()
                box.write("A/tarvex.conf", "subject:AppData\n")
                box.write("X/tarvex.conf", "subject:Xdg\n")
                box.default_config("subject:Home\n")
                box.write(os.path.join(deep, ".config", "tarvex.conf"), "subject:Deep\n")
                run_env = {"APPDATA": None, "XDG_CONFIG_HOME": None}
                for name, value in env.items():
                    run_env[name] = box.path(value) if value else ""
                result = box.run("tarvex", ["-file:out.eml"] + SENDER, env=run_env)
                self.assertRun(result, 0, "", "")
                self.assertEqual(self.subject_and_to(box)[0], subject)

    def test_file_format(self):
        text = ("\ufeffsubject:Line ends\r\n# to:never@example.com\r\n#\r\n\r\n\r\n"
                "to:a@example.com\rto:b@example.com\n\nfrom:f@example.com\n"
                "nodefault\nskipnofile\nclutf8\nbody-literal\nconfig:/nonexistent\n"
                "head:X-Trailing:kept  \n")
        for program in PROGRAMS:
            with self.subTest(program=program):
                box = self.fresh()
                name = box.write("t.conf", text)
                result = box.run(program, ["-config:" + name, "-file:out.eml"])
                self.assertRun(result, 0, "", "")
                self.assertEqual(self.subject_and_to(box),
                                 ("Line ends", ["b@example.com", "a@example.com"]))
                raw, _ = box.message()
                self.assertIn(b"\r\nX-Trailing: kept  \r\n", raw)

    @staticmethod
    def placed(box, where, text):
        """(file name, arguments) that give the file text as the default file
        (where "default") or as a -config: file."""
        if where == "default":
            return box.default_config(text), []
        name = box.write("bad.conf", text)
        return name, ["-config:" + name]

    def test_bad_lines_end_the_run(self):
        # (file text, status, stderr); the same in the default file and in
        # a -config: file. A message about a line names the file and line.
        cases = [
            ("subject:ok\n subject:x\n", 2, "CONF:2: Unknown option:  \n"),
            ("-subject:x\n", 2, "CONF:1: Unknown option: -subject:\n"),
            ("Subject:x\n", 2, "CONF:1: Unknown option: Subject:\n"),
            # The help and password switches are no words of a file; a
            # password is not shown.
            ("asciidoc\n", 2, "CONF:1: Unknown option: asciidoc\n"),
            ("encryptpass:s3cret\n", 2, "CONF:1: Unknown option: encryptpass:\n"),
            ("to:nobody\n", 1, "CONF:1: Invalid address in -to (nobody)\n"),
            ("subject:a\0b\n", 1, "NUL byte in configuration file CONF\n"),
            ("#" + "c" * (16 << 20) + "\n", 1,
             "Configuration file CONF is too large, more than 16 MiB\n"),
        ]
        for program in PROGRAMS:
            for where in ("-config:", "default"):
                for text, status, stderr in cases:
                    with self.subTest(program=program, where=where, text=text):
                        box = self.fresh()
                        name, args = self.placed(box, where, text)
                        result = box.run(program, args + ["-file:out.eml"] + SENDER)
                        self.assertRun(result, status, "", stderr.replace("CONF", name))
                        self.assertFalse(os.path.exists(box.path("out.eml")))

    def test_send_and_file_together_name_where_each_was_given(self):
        # The last one given of each counts, wherever it stood; a line
        # number counts the lines before it.
        cases = [
            ("host:mx.example\n", "subject:x\nfile:out.eml\n", [],
             "-host: from DEFAULT:1, -file: from CONF:2"),
            ("file:out.eml\nhost:mx.example\n", "", ["-file:out.eml"],
             "-host: from DEFAULT:2, -file: from the command line"),
            ("host:mx.example\n", "host:mx2.example\n", ["-file:out.eml"],
             "-host: from CONF:1, -file: from the command line"),
            ("host:mx.example\n", "file:out.eml\n", ["-host:mx2.example"],
             "-host: from the command line, -file: from CONF:1"),
        ]
        for program in PROGRAMS:
            for default, config, args, origins in cases:
                with self.subTest(program=program, default=default, config=config, args=args):
                    box = self.fresh()
                    default_name = box.default_config(default)
                    config_name = box.write("my.conf", config)
                    result = box.run(program, ["-config:" + config_name] + args + SENDER)
                    self.assertRun(result, 1, "", "Concurrent send and output to file not supported "
                                   "(%s)\n" % origins.replace("DEFAULT", default_name)
                                   .replace("CONF", config_name))
                    self.assertFalse(os.path.exists(box.path("out.eml")))

    def test_mistyped_and_refused_words_never_show_their_secret(self):
        # (word, status, stderr): on the command line (with its dash) and as
        # a line of the default and of a -config: file.
        bad_port = "The port is not a number from 1 to 65535"
        cases = [
            ("hots:ann:s3cret@mail.example.com", 2, "Unknown option: hots:\n"),
            ("Host:ann:s3cret@mail.example.com", 2, "Unknown option: Host:\n"),
            ("host ann:s3cret@mail.example.com", 2, "Unknown option: host \n"),
            ("hostann:s3cret@mail.example.com", 2, "Unknown option: hostann:\n"),
            ("proxi:pu:s3cret@px.example", 2, "Unknown option: proxi:\n"),
            # A word mistyped without ":" ends at its first byte that is no
            # letter, digit or "-".
            ("encryptpass=s3cret", 2, "Unknown option: encryptpass=\n"),
            ("host=ann:s3cret@mail.example.com", 2, "Unknown option: host=\n"),
            ("proxy-user/pu/s3cret", 2, "Unknown option: proxy-user/\n"),
            ("starttls\ts3cret", 2, "Unknown option: starttls\\x09\n"),
            # Without "@" the password reads as the port.
            ("host:ann:s3cret", 1, "Invalid -host option (%s)\n" % bad_port),
            ("host:ann:s3cret@mail.example.com:25x", 1, "Invalid -host option (%s)\n" % bad_port),
            ("host:ann:s3cret@mx example.com", 1, "Invalid -host option (Blank in the server host)\n"),
            ("host:an\x01n:s3cret@mail.example.com", 1,
             "Invalid -host option (Control character in the user name)\n"),
            ("proxy:pu:s3cret@px.example:abc", 1, "Invalid -proxy option (%s)\n" % bad_port),
            ("proxy:pu:s3cret", 1, "Invalid -proxy option (%s)\n" % bad_port),
            ("proxy:pu:s3cret@px example.com", 1, "Invalid -proxy option (Blank in the proxy host)\n"),
            ("proxy:p\x01u:s3cret@px.example", 1,
             "Invalid -proxy option (Control character in the proxy user name)\n"),
        ]
        for program in PROGRAMS:
            for where in ("command line", "-config:", "default"):
                for word, status, stderr in cases:
                    with self.subTest(program=program, where=where, word=word):
                        box = self.fresh()
                        if where == "command line":
                            # An unknown word there is followed by the hint.
                            args = ["-" + word]
                            expected = stderr + (HINT if status == 2 else "")
                        else:
                            # A file's message names the file and the line.
                            name, args = self.placed(box, where, word + "\n")
                            expected = name + ":1: " + stderr
                        result = box.run(program, args + ["-file:out.eml"] + SENDER)
                        self.assertRun(result, status, "", expected)
                        self.assertNotIn("s3cret", result.stdout + result.stderr)
                        self.assertFalse(os.path.exists(box.path("out.eml")))
        # An argument without a dash is shown as far as an option word is.
        result = self.box.run("tarvex", ["ann:s3cret@mail.example.com", "-file:out.eml"] + SENDER)
        self.assertRun(result, 2, "", "Unknown option: ann:\n" + HINT)

    def test_default_file_with_full_only_words(self):
        name = self.box.default_config("starttls\nsubject:Full\n")
        args = ["-file:out.eml"] + SENDER
        self.assertRun(self.box.run("tarvex", args), 0, "", "")
        self.assertRun(self.box.run("tarvex-plain", args), 2, "", name + ":1: Unknown option: starttls\n")
        self.assertRun(self.box.run("tarvex-plain", ["-nodefault"] + args), 0, "", "")


LONG_VALUE = " ".join("word%d" % i for i in range(600))


class FileModeTest(SandboxTest):
    def test_composed_message(self):
        box = self.box
        pdf = os.urandom(3000)
        box.write("report.pdf", pdf)
        box.write("notes.txt", "first line\nsecond line\n")
        logo = b"\x89PNG\r\n\x1a\n" + os.urandom(500)
        box.write("logo.png", logo)
        box.write("page.html", '<p>Hello <img src="cid:logo.png"></p>')
        args = [
            "-from:sender@example.com:Ann Sender",
            "-to:first@example.org:\"Doe: John\"",
            "-to:second@example.org",
            "-cc:copy@example.org:Carbon",
            "-bcc:hidden@example.org",
            "-reply-to:answers@example.com",
            "-subject:Gr\u00fc\u00dfe aus K\u00f6ln",
            "-body:Line one\\nLine\\ttwo\\n",
            "-body-html:page.html",
            "-head:X-Custom: custom value",
            # Longer than any buffer of a fixed size: folded, never cut.
            "-head:X-Long: " + LONG_VALUE,
            "-priority:1",
            "-mdn",
            "-a64:report.pdf",
            "-a:notes.txt",
            "-ai:logo.png",
            "-file:out.eml",
        ]
        for program in PROGRAMS:
            with self.subTest(program=program):
                result = box.run(program, args)
                self.assertRun(result, 0, "", "")
                raw, msg = box.message()
                self.assertNotIn(b"\n", raw.replace(b"\r\n", b""))
                self.assertEqual(msg.defects, [])
                self.assertEqual(str(msg["subject"]), "Gr\u00fc\u00dfe aus K\u00f6ln")
                self.assertEqual(msg["from"].addresses[0].display_name, "Ann Sender")
                self.assertEqual(msg["from"].addresses[0].addr_spec, "sender@example.com")
                # Recipients come out newest first.
                self.assertEqual([(a.display_name, a.addr_spec) for a in msg["to"].addresses],
                                 [("", "second@example.org"), ("Doe: John", "first@example.org")])
                self.assertEqual([a.addr_spec for a in msg["cc"].addresses], ["copy@example.org"])
                self.assertIsNone(msg["bcc"])
                self.assertNotIn(b"hidden@example.org", raw)
                self.assertEqual(msg["reply-to"].addresses[0].addr_spec, "answers@example.com")
                self.assertEqual(str(msg["x-custom"]), "custom value")
                self.assertEqual(str(msg["x-long"]), LONG_VALUE)
                self.assertEqual(str(msg["x-priority"])[:1], "1")
                self.assertIn("sender@example.com", str(msg["disposition-notification-to"]))
                self.assertTrue(str(msg["x-mailer"]).startswith("Tarvex "))
                self.assertEqual(plain_text(msg), "Line one\nLine\ttwo")
                self.assertIn('src="cid:logo.png"', msg.get_body(("html",)).get_content())
                parts = {p.get_filename(): p for p in msg.walk() if p.get_filename()}
                self.assertEqual(sorted(parts), ["notes.txt", "report.pdf"])
                self.assertEqual(hashlib.sha256(parts["report.pdf"].get_payload(decode=True)).digest(),
                                 hashlib.sha256(pdf).digest())
                self.assertEqual(parts["report.pdf"]["content-transfer-encoding"], "base64")
                self.assertEqual(parts["notes.txt"].get_payload(decode=True).replace(b"\r\n", b"\n"),
                                 b"first line\nsecond line\n")
                # The inline image is referred to by its base name.
                inline = [p for p in msg.walk() if p.get_content_disposition() == "inline"]
                self.assertEqual(len(inline), 1)
                self.assertEqual(str(inline[0]["content-id"]), "<logo.png>")
                self.assertEqual(inline[0].get_payload(decode=True), logo)
                self.assertEqual(inline[0].get_content_type(), "image/png")

    def test_body_sources(self):
        box = self.box
        box.write("latin1.txt", "Gr\u00fc\u00dfe\n".encode("iso-8859-1"))
        box.write("stdin.conf", "-\n")
        # (arguments, standard input, standard output, body text, charset,
        # transfer encoding)
        cases = [
            (["-body-file:latin1.txt:iso-8859-1"], b"", "", "Gr\u00fc\u00dfe\n", "iso-8859-1",
             None),
            (["--"], b"typed\nlines\n", "", "typed\nlines\n", None, None),
            # Standard input at its end at once: an empty body.
            (["--"], b"", "", "", None, None),
            # A configuration line "-" asks for it too.
            (["-config:stdin.conf"], b"from the config\n", "",
             "from the config\n", None, None),
            (["-body:a\\\\nb"], b"", "", "a\\nb\n", None, None),
            # The body read last keeps the encoding the options chose.
            (["-body-64", "--"], b"typed\n", "", "typed\n", None, "base64"),
            (["-body-qp", "--"], b"typed\n", "", "typed\n", None,
             "quoted-printable"),
        ]
        for program in PROGRAMS:
            for args, stdin, stdout, body, charset, encoding in cases:
                with self.subTest(program=program, args=args):
                    result = box.run(program, args + ["-file:out.eml"] + SENDER, stdin=stdin)
                    self.assertRun(result, 0, stdout, "")
                    _, msg = box.message()
                    part = msg.get_body(("plain",))
                    self.assertEqual(plain_text(msg), body.rstrip("\n"))
                    if charset:
                        self.assertEqual(part.get_content_charset(), charset)
                    if encoding:
                        self.assertEqual(part["content-transfer-encoding"], encoding)

    def test_stdin_prompts_only_for_someone_typing(self):
        # Piped: no prompt anywhere, so the message written to standard
        # output is the whole output and reads as one.
        for program in PROGRAMS:
            with self.subTest(program=program, stdin="pipe"):
                result = self.box.run(program, ["--", "-subject:Piped", "-file:/dev/stdout"] + SENDER,
                                      stdin=b"hi there\n")
                self.assertEqual((result.status, result.stderr), (0, ""), result)
                msg = email.message_from_string(result.stdout, policy=email.policy.default)
                self.assertEqual(msg.defects, [])
                self.assertEqual(msg["subject"], "Piped")
                self.assertEqual(msg["mime-version"], "1.0")  # a single part is MIME too
                self.assertEqual(msg.get_content().strip(), "hi there")
        # A terminal: both prompts, on standard error, each a whole line.
        for program in PROGRAMS:
            with self.subTest(program=program, stdin="terminal"):
                master, slave = pty.openpty()
                try:
                    proc = subprocess.Popen([self.box.programs[program], "--", "-file:out.eml"] + SENDER,
                                            cwd=self.box.root, env=self.box.environment(), stdin=slave,
                                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                    os.close(slave)
                    slave = -1
                    os.write(master, b"typed\n\x04")  # a line, then Ctrl-D at a line's start
                    out, err = proc.communicate(timeout=60)
                finally:
                    os.close(master)
                    if slave >= 0:
                        os.close(slave)
                self.assertEqual((proc.returncode, out, err.decode()), (0, b"", STDIN_PROMPT + STDIN_DONE))
                _, msg = self.box.message()
                self.assertEqual(plain_text(msg), "typed")

    def test_endless_standard_input_ends_at_its_cap(self):
        # `yes |` never ends: the run stops at the 1 GiB cap with its own
        # message, not when memory runs out (a 3 GiB address space holds
        # the capped body; AddressSanitizer's shadow memory needs more).
        def limited():
            resource.setrlimit(resource.RLIMIT_AS, (3 << 30, 3 << 30))
        with open(PROGRAMS["tarvex"], "rb") as f:
            limit = None if b"__asan_init" in f.read() else limited
        yes = subprocess.Popen(["yes", "a line of a body that never ends"], stdout=subprocess.PIPE)
        try:
            proc = subprocess.run([self.box.programs["tarvex"], "--", "-file:out.eml"] + SENDER,
                                  cwd=self.box.root, env=self.box.environment(), stdin=yes.stdout,
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE, preexec_fn=limit,
                                  timeout=300)
        finally:
            yes.stdout.close()
            yes.kill()
            yes.wait()
        self.assertEqual((proc.returncode, proc.stdout, proc.stderr.decode()),
                         (1, b"", "The body from standard input is too large, more than 1 GiB\n"))
        self.assertFalse(os.path.exists(self.box.path("out.eml")))

    def test_dotstuff(self):
        for args, want in ((["-dotstuff"], b"\r\n..hidden\r\n"), ([], b"\r\n.hidden\r\n")):
            with self.subTest(args=args):
                result = self.box.run("tarvex", args + ["-body:x\\n.hidden", "-file:out.eml"]
                                      + SENDER)
                self.assertRun(result, 0, "", "")
                raw, _ = self.box.message()
                self.assertIn(want, raw)


if __name__ == "__main__":
    unittest.main()
