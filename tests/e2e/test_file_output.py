"""File mode's output file when the name is not a plain file: a symbolic
link is followed and the file it names replaced (the link stays a link), a
pipe or a device is written in place, and a folder is refused. The new file
is made beside the file it replaces, created exclusively and written through
that one descriptor. The programs are those of the build tree (see
test_cli.py).
"""
import os
import re
import shutil
import stat
import subprocess
import threading

from test_cli import PROGRAMS, SENDER, SandboxTest

MESSAGE = SENDER + ["-subject:through", "-body:the body"]
OLD = b"the earlier file\n"


def is_message(data):
    return data.startswith(b"Date: ") and b"\r\nSubject: through\r\n" in data and data.endswith(
        b"\r\n\r\nthe body\r\n")


class FileOutputTest(SandboxTest):
    def layout(self, box):
        """Files and links every case finds: real.eml (mode 0600) reached
        directly, through a chain that passes a subfolder, and links that
        lead nowhere, to a folder, round in a circle and to devices."""
        os.chmod(box.write("real.eml", OLD), 0o600)
        os.makedirs(box.path("sub"))
        links = {"out.eml": "real.eml", "sub/up.eml": "../real.eml", "chain.eml": "sub/up.eml",
                 "dangling.eml": "sub/new.eml", "folder.eml": "sub", "circle.eml": "circle.eml",
                 "null.eml": "/dev/null", "full.eml": "/dev/full",
                 # What /dev/stdout is: this process's standard output.
                 "stdout.eml": "/proc/self/fd/1"}
        for name, text in links.items():
            os.symlink(text, box.path(name))
        return links

    def entries(self, box):
        """Every name under the box with what it is: a link's text, or the
        kind of a file."""
        out = {}
        for folder, dirs, files in os.walk(box.root):
            for name in dirs + files:
                path = os.path.join(folder, name)
                rel = os.path.relpath(path, box.root)
                if rel.startswith("home"):
                    continue
                out[rel] = ("link", os.readlink(path)) if os.path.islink(path) else stat.S_IFMT(
                    os.lstat(path).st_mode)
        return out

    @staticmethod
    def run_raw(box, argv, traced=False, stdout=subprocess.PIPE):
        """Runs argv in the box with its home, the sanitizer settings of the
        build and no other environment; standard output is a pipe. A traced
        run checks no leaks: the leak checker cannot work under a tracer
        (every other run checks them)."""
        env = {"HOME": box.home, "PATH": os.environ.get("PATH", "")}
        for name in ("ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"):
            if name in os.environ:
                env[name] = os.environ[name]
        if traced:
            env["ASAN_OPTIONS"] = ":".join(filter(None, [env.get("ASAN_OPTIONS"), "detect_leaks=0"]))
        return subprocess.run(argv, cwd=box.root, env=env, stdin=subprocess.DEVNULL, stdout=stdout,
                              stderr=subprocess.PIPE, timeout=60)

    def read(self, box, name):
        with open(box.path(name), "rb") as f:
            return f.read()

    def test_links_devices_and_folders(self):
        # (the -file: name, status, standard error, the file that must hold
        # the message, or None when every file stays as it was)
        def failed_open(name, reason):
            return "Failed to open output file (%s): %s\n" % (name, reason)

        cases = [
            ("out.eml", 0, "", "real.eml"),
            ("chain.eml", 0, "", "real.eml"),
            ("dangling.eml", 0, "", "sub/new.eml"),
            ("folder.eml", 3, failed_open("folder.eml", "Is a directory"), None),
            ("circle.eml", 3, failed_open("circle.eml", "Too many levels of symbolic links"), None),
            ("sub", 3, failed_open("sub", "Is a directory"), None),
            ("null.eml", 0, "", None),
            ("full.eml", 3, "Failed to write output file (full.eml)\n", None),
        ]
        for program in PROGRAMS:
            for name, status, stderr, holder in cases:
                with self.subTest(program=program, file=name):
                    box = self.fresh()
                    self.layout(box)
                    before = self.entries(box)
                    result = box.run(program, MESSAGE + ["-file:" + name])
                    self.assertRun(result, status, "", stderr)
                    after = self.entries(box)
                    if holder and holder not in before:
                        self.assertEqual(after.pop(holder), stat.S_IFREG)
                    # Every link is still the link it was; no name is added.
                    self.assertEqual(after, before)
                    if holder:
                        self.assertTrue(is_message(self.read(box, holder)))
                    if holder == "real.eml":
                        self.assertEqual(stat.S_IMODE(os.stat(box.path(holder)).st_mode), 0o600)
                    elif holder is None:
                        self.assertEqual(self.read(box, "real.eml"), OLD)

    def test_pipes_are_written_in_place(self):
        # A named pipe, and the process's standard output (a pipe here)
        # through the link /dev/stdout is.
        for program in PROGRAMS:
            with self.subTest(program=program, file="named pipe"):
                box = self.fresh()
                os.mkfifo(box.path("pipe.eml"))
                got = []
                reader = threading.Thread(target=lambda: got.append(self.read(box, "pipe.eml")), daemon=True)
                reader.start()
                result = box.run(program, MESSAGE + ["-file:pipe.eml"])
                # A run that never opened the pipe leaves the reader waiting
                # for a writer: this one ends it (none is needed when the
                # reader is gone).
                try:
                    os.close(os.open(box.path("pipe.eml"), os.O_WRONLY | os.O_NONBLOCK))
                except OSError:
                    pass
                reader.join(60)
                self.assertRun(result, 0, "", "")
                self.assertTrue(stat.S_ISFIFO(os.lstat(box.path("pipe.eml")).st_mode))
                self.assertEqual(len(got), 1)
                self.assertTrue(is_message(got[0]), got)
                self.assertEqual(sorted(os.listdir(box.root)), ["home", "pipe.eml"])
            with self.subTest(program=program, file="standard output"):
                box = self.fresh()
                self.layout(box)
                before = self.entries(box)
                proc = self.run_raw(box, [PROGRAMS[program]] + MESSAGE + ["-file:stdout.eml"])
                self.assertEqual((proc.returncode, proc.stderr), (0, b""))
                self.assertTrue(is_message(proc.stdout), proc.stdout)
                self.assertEqual(self.entries(box), before)
            with self.subTest(program=program, file="standard output appending to a file"):
                # The shell's "tarvex ... >> log": the message goes through
                # the descriptor, after what the file held, and the file is
                # the same one that every other writer of it still holds.
                box = self.fresh()
                self.layout(box)
                log = box.write("log.txt", OLD)
                inode = os.stat(log).st_ino
                with open(log, "ab") as out:
                    proc = self.run_raw(box, [PROGRAMS[program]] + MESSAGE + ["-file:stdout.eml"], stdout=out)
                    out.write(b"after\n")
                self.assertEqual((proc.returncode, proc.stderr), (0, b""))
                data = self.read(box, "log.txt")
                self.assertEqual(os.stat(log).st_ino, inode)
                self.assertTrue(data.startswith(OLD) and data.endswith(b"after\n"), data)
                self.assertTrue(is_message(data[len(OLD):-len(b"after\n")]), data)

    def test_the_new_file_is_opened_once_exclusively(self):
        # Every open of the file made beside the target, as the system saw
        # it: one, which creates the name and follows no link. A second open
        # by name could meet a link put there in between.
        strace = shutil.which("strace")
        self.assertIsNotNone(strace, "strace is not installed (scripts/setup installs it)")
        probe = subprocess.run([strace, "-o", os.devnull, "true"], capture_output=True)
        if probe.returncode != 0:
            self.skipTest("this system does not let strace trace: %r" % probe.stderr)
        for program in PROGRAMS:
            for name in ("out.eml", "new.eml"):
                with self.subTest(program=program, file=name):
                    box = self.fresh()
                    self.layout(box)
                    log = box.path("home", "trace")
                    proc = self.run_raw(box, [strace, "-f", "-e", "trace=open,openat,openat2,creat", "-o", log,
                                              PROGRAMS[program]] + MESSAGE + ["-file:" + name], traced=True)
                    self.assertEqual((proc.returncode, proc.stdout, proc.stderr), (0, b"", b""))
                    with open(log) as f:
                        opens = [line for line in f if re.search(r'"[^"]*/?\.(real|new)\.eml\.', line)]
                    self.assertEqual(len(opens), 1, opens)
                    for flag in ("O_CREAT", "O_EXCL", "O_NOFOLLOW"):
                        self.assertIn(flag, opens[0])
                    self.assertTrue(is_message(self.read(box, "real.eml" if name == "out.eml" else name)))


if __name__ == "__main__":
    import unittest
    unittest.main()
