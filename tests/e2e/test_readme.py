"""End-to-end runs of the README's own examples, as a reader types them:
the commands are read from README.md and run by bash in a temporary folder
that holds build/cli/tarvex (a link to the program of this build tree),
with HOME pointed at a home folder of its own.

The program is the one named by TARVEX_BIN.
"""
import email
import email.policy
import os
import shutil
import subprocess
import tempfile
import unittest

FULL = os.environ.get("TARVEX_BIN", "")
README = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "README.md")


def readme_blocks():
    """The README's indented code blocks, each as its text without the
    indent."""
    blocks, current = [], []
    with open(README, encoding="utf-8") as f:
        for line in f.read().split("\n"):
            if line.startswith("    "):
                current.append(line[4:])
            elif current:
                blocks.append("\n".join(current) + "\n")
                current = []
    return blocks


def block_with(*needles, without=()):
    """The first code block of the README that holds every needle and none
    of without."""
    for block in readme_blocks():
        if all(n in block for n in needles) and not any(w in block for w in without):
            return block
    raise AssertionError("no README block with %r" % (needles,))


class ReadmeTest(unittest.TestCase):
    def setUp(self):
        if not FULL or not os.access(FULL, os.X_OK):
            self.fail("tarvex not found: set TARVEX_BIN")
        self.root = tempfile.mkdtemp(prefix="tarvex-readme-")
        self.addCleanup(shutil.rmtree, self.root, True)
        self.home = os.path.join(self.root, "home")
        os.makedirs(self.home)
        os.makedirs(os.path.join(self.root, "build", "cli"))
        os.symlink(FULL, os.path.join(self.root, "build", "cli", "tarvex"))

    def bash(self, script, env=None):
        """Runs script with bash in the folder, as a reader's shell would
        (HOME the box's home, nothing else of this environment but PATH and
        the sanitizer settings, then env)."""
        environment = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": self.home}
        for name in ("ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"):
            if name in os.environ:
                environment[name] = os.environ[name]
        environment.update(env or {})
        return subprocess.run(["/bin/bash", "-c", script], cwd=self.root, env=environment,
                              stdin=subprocess.DEVNULL, capture_output=True, timeout=60)


class QuickStartTest(ReadmeTest):
    def test_preview_after_the_configuration_step(self):
        # The configuration step up to the file's mode: the send that
        # follows it would go to the example's server.
        config = block_with("cat > ~/.config/tarvex.conf")
        chmod = "chmod 600 ~/.config/tarvex.conf\n"
        run = self.bash(config[:config.index(chmod) + len(chmod)])
        self.assertEqual(run.returncode, 0, run)
        conf = os.path.join(self.home, ".config", "tarvex.conf")
        with open(conf) as f:
            self.assertTrue(f.readline().startswith("host:"))

        # The quick start's first preview now finds the configured host;
        # the message says where each of the two settings came from.
        run = self.bash(block_with("-file:hello.eml", without=("-nodefault",)))
        self.assertEqual(run.returncode, 1, run)
        self.assertEqual(run.stdout, b"")
        self.assertEqual(run.stderr.decode(), "Concurrent send and output to file not supported "
                         "(-host: from %s:1, -file: from the command line)\n" % conf)
        self.assertFalse(os.path.exists(os.path.join(self.root, "hello.eml")))

        # The preview the README gives for that configuration writes it.
        run = self.bash(block_with("-nodefault", "-file:hello.eml"))
        self.assertEqual((run.returncode, run.stdout, run.stderr), (0, b"", b""))
        with open(os.path.join(self.root, "hello.eml"), "rb") as f:
            msg = email.message_from_bytes(f.read(), policy=email.policy.default)
        self.assertEqual(msg.defects, [])
        self.assertEqual([a.addr_spec for a in msg["from"].addresses], ["ann@example.com"])
        self.assertEqual([a.addr_spec for a in msg["to"].addresses], ["bob@example.org"])
        self.assertEqual(str(msg["subject"]), "Hello")
        self.assertEqual(msg.get_body(("plain",)).get_content().rstrip("\r\n"), "Hi Bob")


if __name__ == "__main__":
    unittest.main()
