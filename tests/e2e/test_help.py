"""End-to-end tests of the help switches of both programs: "/?" at the
console width (80 columns when standard output is no terminal), -doc at
120 columns, -asciidoc rendered by asciidoctor, which switch wins, the
status of each, and that the help names exactly the words the programs
take.

The programs are the ones of the build tree, named by TARVEX_BIN and
TARVEX_PLAIN_BIN; every run gets a fresh, empty home folder.
"""
import fcntl
import os
import pty
import re
import shutil
import struct
import subprocess
import tempfile
import termios
import unittest

FULL = os.environ.get("TARVEX_BIN", "")
PLAIN = os.environ.get("TARVEX_PLAIN_BIN", "")
PROGRAMS = {"tarvex": FULL, "tarvex-plain": PLAIN}
ASCIIDOCTOR = "/usr/bin/asciidoctor"

# An option row of the plain text: the option text at column 0 ("-" or
# "/?"), blanks, the three mode letters, one blank, the description.
OPTION_ROW = re.compile(r"^(-.*?|/\?) +([S-][F-][P-]) ")

# Values for words whose bare form is no word of the dispatcher.
SAMPLE_VALUES = {
    "-proxytype:": ["-proxytype:SOCKS"],
    "-dkim-algo:": ["-dkim-algo:best"],
    "-dkim-canon:": ["-dkim-canon:s/s"],
    "-authtypes:": ["-authtypes:PLAIN"],
    "-bindpass": ["-encryptpass:x", "-bindpass"],
}


class Run:
    def __init__(self, status, stdout, stderr):
        self.status = status
        self.stdout = stdout
        self.stderr = stderr

    def __repr__(self):
        return "status %d\nstdout %r\nstderr %r" % (self.status, self.stdout[:400], self.stderr)


class HelpTest(unittest.TestCase):
    def setUp(self):
        self.home = tempfile.mkdtemp(prefix="tarvex-help-")
        self.addCleanup(shutil.rmtree, self.home, True)
        self.env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": self.home}
        for name in ("ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"):
            if name in os.environ:
                self.env[name] = os.environ[name]

    def run_program(self, program, args, stdout=subprocess.PIPE):
        proc = subprocess.run([program] + args, stdin=subprocess.DEVNULL, stdout=stdout,
                              stderr=subprocess.PIPE, env=self.env, timeout=60)
        out = proc.stdout.decode("utf-8") if proc.stdout is not None else ""
        return Run(proc.returncode, out, proc.stderr.decode("utf-8", "replace"))

    def run_in_terminal(self, program, args, columns):
        """Runs program with standard output on a pseudo-terminal of the
        given width; returns its status and what it printed."""
        master, slave = pty.openpty()
        fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 40, columns, 0, 0))
        proc = subprocess.Popen([program] + args, stdin=subprocess.DEVNULL, stdout=slave,
                                stderr=subprocess.PIPE, env=self.env)
        os.close(slave)
        chunks = []
        while True:
            try:
                data = os.read(master, 65536)
            except OSError:  # the terminal is gone once the program has ended
                break
            if not data:
                break
            chunks.append(data)
        os.close(master)
        proc.stderr.read()
        proc.stderr.close()
        status = proc.wait(timeout=60)
        return status, b"".join(chunks).decode("utf-8").replace("\r\n", "\n")

    def assert_fits(self, text, width):
        """Every line after the banner (the first line) holds at most
        width - 1 characters, unless it is a single word longer than that;
        no title mark stands alone, and the usage hint is not there."""
        lines = text.split("\n")[1:]
        for line in lines:
            if len(line) >= width:
                self.assertEqual(len(line.split()), 1, "line of %d columns at width %d: %r"
                                 % (len(line), width, line))
        self.assertEqual([line for line in lines if line == "##"], [])
        self.assertEqual(text.count("for help."), 0)
        title = "## Delivery Status Notification (DSN) / Message Disposition Notification (MDN) ##"
        start = text.index("## Delivery")
        self.assertEqual(" ".join(text[start:start + 2 * len(title)].split()[:11]), title)

    def help_text(self, program):
        run = self.run_program(program, ["-doc"])
        self.assertEqual(run.status, 0, run)
        return run.stdout

    def option_texts(self, program):
        return [m.group(1) for m in map(OPTION_ROW.match, self.help_text(program).split("\n"))
                if m]

    def test_redirected_help_wraps_at_80_columns_and_ends_with_status_1(self):
        for name, program in PROGRAMS.items():
            with self.subTest(name):
                run = self.run_program(program, ["/?"])
                self.assertEqual(run.status, 1, run)
                self.assertEqual(run.stderr, "")
                self.assertTrue(run.stdout.startswith("Tarvex "), run)
                # The banner, then the help: the usage hint would only
                # point to it.
                self.assertRegex(run.stdout, r"\ATarvex [^\n]*\n\n(\n\n)?## Configuration ##\n\n")
                self.assertNotIn("for help.", run.stdout)
                self.assert_fits(run.stdout, 80)
                # Wrapped at 80, not at some narrower width.
                self.assertGreater(max(map(len, run.stdout.split("\n"))), 70)
                # The same text as -doc, wrapped differently.
                self.assertEqual(run.stdout.split(), self.help_text(program).split())

    def test_help_in_a_terminal_wraps_at_its_width(self):
        for columns in (100, 50):
            with self.subTest(columns=columns):
                status, out = self.run_in_terminal(FULL, ["/?"], columns)
                self.assertEqual(status, 1)
                self.assertIn("## Configuration ##", out)
                self.assert_fits(out, columns)
                longest = max(map(len, out.split("\n")))
                self.assertGreater(longest, columns - 12, out)
                if columns == 50:
                    self.assertLess(longest, 80, out)

    def test_help_fits_the_terminal_at_40_80_and_120_columns(self):
        # Beside the option column while the room there is wide enough;
        # below the option, 4 columns in, where it is not.
        from_row = {
            40: ["-from:address[:alias] SFP", "    Sender address, with an optional",
                 "    display name.", ""],
            80: ["-from:address[:alias]           SFP Sender address, with an optional display",
                 " " * 36 + "name.", ""],
            120: ["-from:address[:alias]           SFP Sender address, with an optional display name.",
                  ""],
        }
        for name, program in PROGRAMS.items():
            for columns in (40, 80, 120):
                with self.subTest(name, columns=columns):
                    status, out = self.run_in_terminal(program, ["/?"], columns)
                    self.assertEqual(status, 1)
                    self.assertIn("## Configuration ##", out)
                    self.assert_fits(out, columns)
                    lines = out.split("\n")
                    start = lines.index(from_row[columns][0])
                    self.assertEqual(lines[start:start + len(from_row[columns])], from_row[columns])
                    # Nothing lost or reordered: the same words as -doc.
                    self.assertEqual(out.split()[1:], self.help_text(program).split()[1:])
            with self.subTest(name, form="-doc"):
                self.assert_fits(self.help_text(program), 120)

    def test_doc_wraps_at_120_columns_and_ends_with_status_0(self):
        run = self.run_program(FULL, ["-doc"])
        self.assertEqual(run.status, 0, run)
        self.assertEqual(run.stderr, "")
        self.assert_fits(run.stdout, 120)
        self.assertGreater(max(map(len, run.stdout.split("\n"))), 100)
        # Every option row ends with a blank line.
        lines = run.stdout.split("\n")
        for i, line in enumerate(lines):
            if OPTION_ROW.match(line):
                j = i + 1
                while lines[j].startswith(" "):
                    j += 1
                self.assertEqual(lines[j], "", line)

    def test_asciidoc_renders_without_warnings(self):
        for name, program in PROGRAMS.items():
            for switch in ("-asciidoc", "-asciidocs"):
                with self.subTest(name, switch=switch):
                    run = self.run_program(program, [switch])
                    self.assertEqual(run.status, 0, run)
                    self.assertTrue(run.stdout.startswith("== Usage\nTarvex "), run)
                    render = subprocess.run(
                        [ASCIIDOCTOR, "--failure-level=WARN", "-o", "-", "-"],
                        input=run.stdout.encode("utf-8"), capture_output=True, timeout=120)
                    self.assertEqual(render.returncode, 0, render.stderr)
                    self.assertEqual(render.stderr, b"")
                    html = render.stdout.decode("utf-8")
                    self.assertIn("<strong>(S)</strong>MTP", html)
                    self.assertIn("&#42;.pdf", html)  # the star of the example
                    self.assertIn("<em>-from:</em>", html)

    def test_help_lists_the_help_switches_and_passdelim(self):
        for name, program in PROGRAMS.items():
            for args in (["-doc"], ["/?"]):
                with self.subTest(name, args=args):
                    rows = {m.group(1): m.group(2) for m in
                            map(OPTION_ROW.match, self.run_program(program, args).stdout.split("\n"))
                            if m}
                    self.assertEqual({option: rows.get(option) for option in
                                      ("-passdelim:char", "/?", "-doc", "-asciidoc")},
                                     {"-passdelim:char": "S-P", "/?": "---", "-doc": "---",
                                      "-asciidoc": "---"})
            with self.subTest(name, args="-asciidoc"):
                text = self.run_program(program, ["-asciidoc"]).stdout
                for option in ("-passdelim:char", "/?", "-doc", "-asciidoc"):
                    self.assertIn("|*%s* | *" % option, text)

    def test_plain_program_has_no_dkim_section_and_no_tls_options(self):
        full, plain = self.help_text(FULL), self.help_text(PLAIN)
        only_full = ["## DomainKeys Identified Mail (DKIM) ##", "-dkim:", "-no-dkim",
                     "-starttls", "-requiretls", "-secureport", "-verify", "-tls-ciphers:",
                     "-tls-protocols:", "-encryptpass:", "-bindpass"]
        for text in only_full:
            self.assertIn(text, full)
            self.assertNotIn(text, plain)
        self.assertEqual(len(self.option_texts(FULL)) - len(self.option_texts(PLAIN)), 13)
        # Nor does any other text of the plain program speak of what it
        # lacks (DKIM keys, a TLS handshake); the full program's does.
        lacking = re.compile(r"DKIM|TLS|handshake|STARTTLS|encrypt", re.I)
        for args in (["-doc"], ["-asciidoc"]):
            with self.subTest(args=args):
                text = self.run_program(PLAIN, args).stdout
                help_start = text.index("Configuration")
                self.assertEqual(lacking.findall(text[help_start:]), [])
        self.assertIn("DKIM keys", full)
        self.assertIn("a TLS handshake", full)

    def test_first_help_switch_wins_and_beats_encryptpass(self):
        cases = [
            (["-doc", "/?"], 0, "## Configuration ##"),
            (["/?", "-doc"], 1, "## Configuration ##"),
            (["-asciidoc", "-doc"], 0, "=== Configuration"),
            (["-doc", "-asciidoc"], 0, "## Configuration ##"),
            (["-encryptpass:secret", "-doc"], 0, "## Configuration ##"),
            (["-doc", "-encryptpass:secret", "-bindpass"], 0, "## Configuration ##"),
            (["-encryptpass:secret", "/?"], 1, "## Configuration ##"),
            # Nothing else is read: neither a bare word nor a bad option.
            (["bare", "-to:", "-config:/nonexistent", "/?"], 1, "## Configuration ##"),
        ]
        for args, status, marker in cases:
            with self.subTest(args=args):
                run = self.run_program(FULL, args)
                self.assertEqual(run.status, status, run)
                self.assertEqual(run.stderr, "")
                self.assertIn(marker, run.stdout)
                # No encrypted password was printed.
                self.assertIsNone(re.search(r"^\$[A-Za-z0-9_-]{11,}$", run.stdout, re.M), run)

    def usage_hint(self, program):
        """The last line the bare program prints: its usage hint."""
        run = self.run_program(program, [])
        self.assertEqual(run.status, 1, run)
        return run.stdout.rstrip("\n").split("\n")[-1]

    def test_words_that_only_look_like_help_switches_are_unknown(self):
        hint = self.usage_hint(PLAIN)
        for args, shown in ((["-docs"], "docs"), (["-Doc"], "Doc"), (["/??"], "/"),
                            (["-nodefault", "-doc:"], "doc:")):
            with self.subTest(args=args):
                run = self.run_program(PLAIN, args)
                self.assertEqual(run.status, 2, run)
                self.assertEqual(run.stderr, "Unknown option: %s\n%s\n" % (shown, hint))
                self.assertNotIn("##", run.stdout)

    def test_help_words_of_other_programs_point_to_the_help(self):
        # Each is an unknown word (status 2, nothing on standard output),
        # and the message is followed by the hint the bare program prints.
        cases = [(["--help"], "-help"), (["-h"], "h"), (["-help"], "help"),
                 (["--version"], "-version"), (["-?"], None),
                 (["-subject:x", "help"], "help"), (["-nodefault", "--help", "-h"], "-help")]
        for name, program in PROGRAMS.items():
            hint = self.usage_hint(program)
            self.assertRegex(hint, r"\AUse \"\S+ /\?\" for help\.\Z")
            for args, shown in cases:
                with self.subTest(name, args=args):
                    run = self.run_program(program, args)
                    self.assertEqual(run.status, 2, run)
                    self.assertEqual(run.stdout, "")
                    lines = run.stderr.split("\n")
                    self.assertEqual(len(lines), 3, run)
                    if shown is not None:
                        self.assertEqual(lines[0], "Unknown option: " + shown)
                    self.assertTrue(lines[0].startswith("Unknown option: "), run)
                    self.assertEqual(lines[1:], [hint, ""])

    def test_every_option_in_the_help_is_a_word_the_program_takes(self):
        for name, program in PROGRAMS.items():
            for option in self.option_texts(program):
                word = option if ":" not in option else option[:option.index(":") + 1]
                args = SAMPLE_VALUES.get(word, [word])
                with self.subTest(name, word=word):
                    run = self.run_program(program, ["-nodefault"] + args)
                    self.assertNotIn("Unknown option", run.stderr, run)
                    self.assertNotEqual(run.status, 2, run)

    def test_help_that_cannot_be_written_is_no_success(self):
        for args in (["-doc"], ["-asciidoc"], ["/?"]):
            with self.subTest(args=args):
                with open("/dev/full", "wb") as full:
                    run = self.run_program(FULL, args, stdout=full)
                self.assertEqual(run.status, 1, run)
                self.assertEqual(run.stderr, "Failed to print the help (write error)\n")


    def test_no_help_line_ends_in_a_blank(self):
        # Every form of both programs, redirected, in a narrow terminal and
        # in a wide one; the banner lines count too.
        for name, program in PROGRAMS.items():
            forms = [(" ".join(args), self.run_program(program, args).stdout)
                     for args in (["/?"], ["-doc"], ["-asciidoc"])]
            forms += [("/? at %d columns" % columns, self.run_in_terminal(program, ["/?"], columns)[1])
                      for columns in (50, 132)]
            for form, text in forms:
                with self.subTest(name, form=form):
                    self.assertIn("Configuration", text)
                    blank_ended = [line for line in text.split("\n") if line.rstrip(" \t") != line]
                    self.assertEqual(blank_ended, [])

    def run_into_closed_pipe(self, program, args):
        """Runs program with standard output on a pipe whose reader has
        already gone, as "| head" leaves it once it has read enough."""
        reader, writer = os.pipe()
        os.close(reader)
        try:
            return self.run_program(program, args, stdout=writer)
        finally:
            os.close(writer)

    def test_a_reader_that_stops_early_gets_no_message(self):
        # A closed pipe ends the run quietly with the help's own status; a
        # full disk stays a failure (test_help_that_cannot_be_written_...).
        for name, program in PROGRAMS.items():
            for args, status in ((["/?"], 1), (["-doc"], 0), (["-asciidoc"], 0)):
                with self.subTest(name, args=args):
                    run = self.run_into_closed_pipe(program, args)
                    self.assertEqual(run.status, status, run)
                    self.assertEqual(run.stderr, "")
            with self.subTest(name, shell="/? | head -1"):
                proc = subprocess.run(["/bin/sh", "-c", '"$0" /? | head -1', program],
                                      stdin=subprocess.DEVNULL, capture_output=True, env=self.env,
                                      timeout=60)
                self.assertEqual(proc.stdout.decode().count("\n"), 1, proc)
                self.assertEqual(proc.stderr, b"")

if __name__ == "__main__":
    unittest.main()
