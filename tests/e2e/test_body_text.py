"""The text body given as a value (-body:) and on standard input, as File
mode writes it and Python's email package reads it back: lines are wrapped
at blanks, no word is ever cut, no line is longer than the 998 bytes a
message line may hold, and only a word longer than that makes the body go
quoted-printable. The HTML body's line ends are line breaks of its
quoted-printable text, never encoded. The programs are those of the build
tree (see test_cli.py).
"""
import email
import email.policy
import quopri
import re

from test_cli import PROGRAMS, SENDER, SandboxTest

WIDTH = 78  # the default wrap width
LINE_MAX = 998

URL = ("https://ci.example.com/job/nightly/1234/output/artifacts/build/logs/"
       "2024-05-01/component/result.log?x=1")
LOG_LINE = "2024-05-01 12:00:00 INFO upload finished, see " + URL

# (name, body, transfer encoding expected)
CASES = [
    ("a 119-character log line", LOG_LINE, "7bit"),
    ("a long URL between short words", "see " + URL + " and " + URL + " twice", "7bit"),
    ("many short words, longer than the width", " ".join("w%d" % i for i in range(200)), "7bit"),
    ("a word of exactly the width", "x" * WIDTH + " after", "7bit"),
    ("a word one longer than the width", "before " + "y" * (WIDTH + 1) + " after", "7bit"),
    ("a word of exactly a line's limit", "before " + "z" * LINE_MAX + " after", "7bit"),
    ("an indented long path over several lines",
     "paths:\n    /srv/" + "deep/" * 30 + "file.txt\n\t/opt/" + "a-b-c/" * 40 + "end\nlast line", "7bit"),
    ("a word one longer than a line's limit", "before " + "q" * (LINE_MAX + 1) + " after", "quoted-printable"),
    ("a 2000-byte word", "start " + "k" * 2000 + " end", "quoted-printable"),
    ("a 2000-byte word of dots", "." * 2000, "quoted-printable"),
    ("UTF-8 words, one longer than the width",
     "gr\u00fc\u00dfe " + "\u00e9t\u00e9" * 40 + " \u65e5\u672c\u8a9e " + "\u20ac" * 30, "quoted-printable"),
    ("a 2000-byte UTF-8 word", "\u00e9" * 1000 + " fin", "quoted-printable"),
]


def check_message(test, raw, body, encoding):
    """raw is a message whose text holds the words of body whole and in
    order, on lines of at most LINE_MAX bytes, in the transfer encoding
    expected."""
    for line in raw.split(b"\r\n"):
        test.assertLessEqual(len(line), LINE_MAX)
    msg = email.message_from_bytes(raw, policy=email.policy.default)
    test.assertEqual(msg["Content-Transfer-Encoding"], encoding)
    test.assertEqual(msg.get_content().split(), body.split())


class BodyTextTest(SandboxTest):
    def test_every_word_comes_back_whole(self):
        for program in PROGRAMS:
            for name, body, encoding in CASES:
                ways = [("-body:", ["-body:" + body], b""), ("standard input", ["--"], body.encode())]
                for way, args, stdin in ways:
                    with self.subTest(program=program, case=name, given=way):
                        box = self.fresh()
                        result = box.run(program, args + ["-file:out.eml"] + SENDER, stdin=stdin)
                        self.assertEqual(result.status, 0, result)
                        raw, _ = box.message()
                        check_message(self, raw, body, encoding)

    def test_lines_wrap_at_blanks_within_the_width(self):
        # Words that fit the width are packed into lines no wider than it,
        # and a word longer than the width stands on a line of its own.
        body = " ".join("w%d" % i for i in range(100)) + " " + URL + " tail words here"
        result = self.box.run("tarvex", ["-body:" + body, "-file:out.eml"] + SENDER)
        self.assertEqual(result.status, 0, result)
        raw, msg = self.box.message()
        lines = msg.get_content().splitlines()
        self.assertIn(URL, lines)
        for line in lines:
            if line != URL:
                self.assertLessEqual(len(line), WIDTH, line)
        self.assertGreater(len(lines), 4)

    def test_words_before_a_uuencode_block_stay_whole(self):
        # Text followed by uuencode goes out as it is, never encoded: a
        # UTF-8 word longer than the width stays whole there too.
        body = "see " + "\u00e9" * 100 + " and " + URL + " end"
        self.box.write("data.bin", bytes(range(256)))
        result = self.box.run("tarvex", ["-body:" + body, "-auu:data.bin", "-file:out.eml"] + SENDER)
        self.assertEqual(result.status, 0, result)
        raw, _ = self.box.message()
        text = raw.split(b"\r\n\r\n", 1)[1].split(b"begin 644 ", 1)[0]
        self.assertEqual(text.decode("utf-8").split(), body.split())


# HTML bodies and their line ends: (name, the file's bytes). The bodies of
# 70 000 bytes pass a read of the file with a CR LF cut between two reads.
PAGE = ["<html>", "<body>", "<p>Gr\u00fc\u00dfe</p>", "<p>two  </p>", ".dot", "</body>", "</html>"]
HTML_CASES = [
    ("a page of LF lines", "\n".join(PAGE).encode() + b"\n"),
    ("CR LF lines, the last without a line end", "\r\n".join(PAGE).encode()),
    ("LF, CR LF and lone CR mixed, empty lines", b"<p>a</p>\n\n<p>b</p>\r\n\r\n<p>c</p>\r<p>d</p>\r"),
    ("a line longer than a quoted-printable line", b"<p>" + b"long words " * 30 + b"</p>\n<p>end</p>\n"),
    ("a CR LF cut by the reads", b"x" * 65535 + b"\r\n" + b"<p>y</p>\n" * 500),
    ("a CR at the end of a read", b"x" * 65535 + b"\r" + b"<p>y</p>\r" * 500),
]


def html_lines(data):
    """The lines of a text, its line ends LF, CR LF or a lone CR."""
    return re.split(rb"\r\n|\r|\n", data)


class HtmlBodyTest(SandboxTest):
    def test_line_ends_are_line_breaks(self):
        attachment = b"<a>\n<b>\r\n<c>\r"
        for program in PROGRAMS:
            for name, data in HTML_CASES:
                for given in ("file", "value"):
                    if given == "value" and len(data) > 4096:
                        continue
                    with self.subTest(program=program, case=name, given=given):
                        box = self.fresh()
                        box.write("page.html", data)
                        box.write("notes.txt", attachment)
                        html = ["-body-html:page.html"] if given == "file" else ["-body--html:" + data.decode()]
                        result = box.run(program, ["-body:text", "-aqp:notes.txt", "-file:out.eml"] + html + SENDER)
                        self.assertEqual(result.status, 0, result)
                        raw, msg = box.message()
                        part = msg.get_body(preferencelist=("html",))
                        self.assertEqual(part["Content-Transfer-Encoding"], "quoted-printable")
                        # Read back, the HTML is the file with CR LF line ends.
                        lines = html_lines(data)
                        self.assertEqual(part.get_payload(decode=True), b"\r\n".join(lines))
                        # Each line of the encoded text (soft breaks joined)
                        # is one line of the file.
                        encoded = raw.split(b"Content-Type: text/html", 1)[1].split(b"\r\n\r\n", 1)[1]
                        encoded = encoded.split(b"\r\n--", 1)[0].replace(b"=\r\n", b"")
                        self.assertNotRegex(encoded, rb"=0[AD]")
                        self.assertEqual([quopri.decodestring(line) for line in encoded.split(b"\r\n")], lines)
                        # An attachment's bytes stay as they are.
                        [att] = [p for p in msg.walk() if p.get_filename() == "notes.txt"]
                        self.assertEqual(att.get_payload(decode=True), attachment)
