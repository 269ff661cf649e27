"""End-to-end tests of -awild:, the wildcard attachments: which files of a
tree are attached and in which order (hidden files and folders, links,
exclusions, case folding, recursion), the encodings and inline parts, the
flag errors and a pattern that matches nothing. Messages are written in
File mode and read back with Python's email package.
"""
import os
import resource
import unittest

from test_cli import PROGRAMS, SandboxTest
from test_file_faults import NOMEM, limit, nobody_box, sanitized

MESSAGE = ["-from:sender@example.com", "-to:rcpt@example.org", "-subject:files",
           "-body:see attached", "-file:out.eml"]
NO_MATCH = "No files match the awild pattern (%s)\n"


def attached(msg):
    """The attachments' file names, in message order."""
    return [p.get_filename() for p in msg.walk()
            if p.get_content_disposition() == "attachment"]


class AwildTest(SandboxTest):
    def make_tree(self, box):
        """docs/ with mixed-case names, hidden files and a hidden folder,
        nested folders, a link to a file outside and a link back up."""
        files = {
            "docs/a.txt": "alpha\n", "docs/B.txt": "bravo\n", "docs/c.log": "log\n",
            "docs/notes.TXT": "notes\n", "docs/.secret.txt": "secret\n",
            "docs/.hidden/in.txt": "in hidden\n", "docs/sub/z.txt": "zulu\n",
            "docs/sub/draft.txt": "draft\n", "docs/sub/deeper/q.txt": "quebec\n",
            "outside.txt": "linked\n",
        }
        for name, text in files.items():
            box.write(name, text)
        os.symlink("../outside.txt", box.path("docs/link.txt"))
        os.symlink("..", box.path("docs/sub/up"))
        os.mkfifo(box.path("docs/sub/pipe.txt"))

    def test_selection_and_order(self):
        box = self.box
        self.make_tree(box)
        top = ["a.txt", "B.txt", "link.txt", "notes.TXT"]
        # (value, attachments in order, message on standard error)
        cases = [
            # A folder alone: its visible files, sorted ignoring case.
            (":docs", ["a.txt", "B.txt", "c.log", "link.txt", "notes.TXT"], ""),
            (":docs/*.txt", top, ""),
            ("C:docs/*.txt", ["a.txt", "B.txt", "link.txt"], ""),
            (":docs/!*.txt", ["c.log"], ""),
            (":docs/sub/*.txt", ["draft.txt", "z.txt"], ""),
            (":" + box.path("docs") + "/*.log", ["c.log"], ""),
            # Each folder's files right after its place in the parent; the
            # link back up and the FIFO are never followed or attached.
            ("R:docs/*.txt/!draft*", ["in.txt"] + top + ["q.txt", "z.txt"], ""),
            # Hidden folders are walked; hidden files are taken only with H.
            ("RH:docs/*.TXT", ["in.txt", ".secret.txt"] + top + ["q.txt", "draft.txt", "z.txt"],
             ""),
            ("H:docs/.*", [".secret.txt"], ""),
            ("R:docs/in.txt", ["in.txt"], ""),
            (":docs/in.txt", [], NO_MATCH % "docs/in.txt"),
            # Two plain patterns that no one name satisfies.
            (":docs/*.txt/*.log", [], NO_MATCH % "docs/*.txt/*.log"),
            (":docs/*.zip", [], NO_MATCH % "docs/*.zip"),
            (":nowhere/*.txt", [], NO_MATCH % "nowhere/*.txt"),
        ]
        for value, names, stderr in cases:
            with self.subTest(value=value):
                result = box.run("tarvex", MESSAGE + ["-awild:" + value])
                self.assertRun(result, 0, "", stderr)
                raw, msg = box.message()
                self.assertEqual(attached(msg), names)
        # The linked file's content, through the plain program as well.
        for program in PROGRAMS:
            with self.subTest(program=program):
                self.assertRun(box.run(program, MESSAGE + ["-awild::docs/l*"]), 0, "", "")
                raw, msg = box.message()
                part = [p for p in msg.walk() if p.get_filename() == "link.txt"][0]
                self.assertEqual(part.get_payload(decode=True), b"linked\n")

    def test_backslash_is_part_of_a_name(self):
        box = self.box
        box.write("docs/x\\b.txt", "x\n")
        for value, count in ((":docs/x*", 1), (":docs/b*", 0)):
            with self.subTest(value=value):
                result = box.run("tarvex", MESSAGE + ["-awild:" + value])
                self.assertRun(result, 0, "", "" if count else NO_MATCH % value[1:])
                raw, msg = box.message()
                self.assertEqual(len(attached(msg)), count)

    def test_tree_deeper_than_the_path_limit(self):
        # Folders nested past the longest path the system takes: the walk
        # cannot reach the file at the bottom and says so.
        box = self.box
        name = "d" * 250
        fd = os.open(box.path("."), os.O_RDONLY)
        for _ in range(20):
            os.mkdir(name, dir_fd=fd)
            inner = os.open(name, os.O_RDONLY, dir_fd=fd)
            os.close(fd)
            fd = inner
        os.close(os.open("f.txt", os.O_CREAT | os.O_WRONLY, dir_fd=fd))
        os.close(fd)
        result = box.run("tarvex", MESSAGE + ["-awild:R:%s/*.txt" % name])
        self.assertRun(result, 10, "")
        self.assertRegex(result.stderr, r"^Failed to read folder \(d+(/d+)+\)\n$")
        self.assertFalse(os.path.exists(box.path("out.eml")))

    def test_encodings_match_the_single_file_words(self):
        box = self.box
        box.write("files/data.txt", "line one\r\nline two with = sign\r\n")
        for flags, word in (("", "-a:"), ("6", "-a64:"), ("Q", "-aqp:"), ("U", "-auu:"),
                            ("U6Q", "-aqp:")):
            with self.subTest(flags=flags):
                self.assertRun(box.run("tarvex", MESSAGE + ["-awild:%s:files" % flags]), 0, "", "")
                wild, _ = box.message()
                self.assertRun(box.run("tarvex", MESSAGE + [word + "files/data.txt"]), 0, "", "")
                single, _ = box.message()
                # The same message but for the random boundaries and date.
                self.assertEqual(strip_variable(wild), strip_variable(single))

    def test_inline_parts(self):
        box = self.box
        png = b"\x89PNG\r\n\x1a\n" + bytes(range(256))
        box.write("img/logo.png", png)
        box.write("img/a&b.png", png)
        box.write("page.html", '<img src="cid:logo.png"><img src="cid:a%26b.png">')
        result = box.run("tarvex", MESSAGE + ["-body-html:page.html", "-awild:I:img/*.png"])
        self.assertRun(result, 0, "", "")
        raw, msg = box.message()
        inline = [p for p in msg.walk() if p.get_content_disposition() == "inline"]
        self.assertEqual([str(p["content-id"]) for p in inline], ["<a%26b.png>", "<logo.png>"])
        for part in inline:
            self.assertEqual(part.get_payload(decode=True), png)
        self.assertEqual(attached(msg), [])

    def test_flag_errors_end_the_run(self):
        box = self.box
        box.write("docs/a.txt", "a\n")
        cases = [
            ("r:docs", "Invalid awild option 'r'\n"),
            ("R\x01:docs", "Invalid awild option '\\x01'\n"),
            ("R6", "No file pattern specified for awild setting\n"),
            ("R6:", "No file pattern specified for awild setting\n"),
            ("", "No file pattern specified for awild setting\n"),
        ]
        for program in PROGRAMS:
            for value, stderr in cases:
                with self.subTest(program=program, value=value):
                    result = box.run(program, MESSAGE + ["-awild:" + value])
                    self.assertRun(result, 10, "", stderr)
                    self.assertFalse(os.path.exists(box.path("out.eml")))

    def test_unreadable_file_and_memory_limit(self):
        box = nobody_box(self)
        # A selected file or a folder of the walk that the user cannot read
        # ends the run as it does for -a:, and no message is written; what
        # the pattern or the walk leaves out has no bearing.
        box.write("docs/a.txt", "a\n")
        os.chmod(box.write("docs/b.txt", "b\n"), 0)
        box.write("docs/c.txt", "c\n")
        box.write("docs/locked/l.txt", "l\n")
        os.chmod(box.path("docs/locked"), 0)
        self.addCleanup(os.chmod, box.path("docs/locked"), 0o755)
        no_file = "Failed to attach file (docs/b.txt)\n"
        no_folder = "Failed to read folder (docs/locked)\n"
        # (value, status, message, attachments)
        cases = [
            (":docs", 10, no_file, None),
            (":docs/!b*", 0, "", ["a.txt", "c.txt"]),
            ("R:docs/!b*", 10, no_folder, None),
            (":docs/locked", 10, no_folder, None),
        ]
        for program in PROGRAMS:
            for value, status, stderr, names in cases:
                with self.subTest(program=program, value=value):
                    result = box.run(program, MESSAGE + ["-awild:" + value])
                    self.assertRun(result, status, "", stderr)
                    if names is None:
                        self.assertFalse(os.path.exists(box.path("out.eml")))
                        continue
                    _, msg = box.message()
                    self.assertEqual(attached(msg), names)
                    os.remove(box.path("out.eml"))
        # Millions of pattern items (from a configuration file, which holds
        # up to 16 MiB: an argument cannot be that long) under an
        # address-space limit: status 666 and nothing written.
        config = box.write("big.conf", "awild::" + "*/" * (7 << 20) + "\n")
        for program in PROGRAMS:
            if sanitized(program):
                self.skipTest("address-space limits do not apply under AddressSanitizer")
            with self.subTest(program=program, limit="200 MB"):
                result = box.run(program, MESSAGE + ["-config:" + config],
                                 preexec=limit(resource.RLIMIT_AS, 200 << 20))
                self.assertRun(result, NOMEM, "", config + ":1: Memory allocation failed\n")
                self.assertFalse(os.path.exists(box.path("out.eml")))


def strip_variable(raw):
    """A written message without its boundaries, Date and Message-ID."""
    import re
    raw = re.sub(rb"^(Date|Message-ID): .*\r\n", b"", raw, flags=re.M | re.I)
    boundaries = set(re.findall(rb'boundary="([^"]+)"', raw))
    for b in boundaries:
        raw = raw.replace(b, b"BOUNDARY")
    return raw


if __name__ == "__main__":
    unittest.main()
