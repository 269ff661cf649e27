"""End-to-end runs of the README's own examples, as a reader types them:
the commands are read from README.md and run by bash in a temporary folder
that holds build/cli/tarvex (a link to the program of this build tree),
with HOME pointed at a home folder of its own.

The program is the one named by TARVEX_BIN.
"""
import email
import email.policy
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "smtp"))
from peers import AioPeer, Certificates, free_port  # noqa: E402

FULL = os.environ.get("TARVEX_BIN", "")
README = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "README.md")


def readme_blocks():
    """The README's indented code blocks, each as its text without the
    indent."""
    blocks, current = [], []
    for line in readme_text().split("\n"):
        if line.startswith("    "):
            current.append(line[4:])
        elif current:
            blocks.append("\n".join(current) + "\n")
            current = []
    return blocks


def readme_text():
    with open(README, encoding="utf-8") as f:
        return f.read()


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


class EncryptedPasswordTest(ReadmeTest):
    def encrypted(self):
        """A new encrypted form of "s3cret" whose "$" a shell would take
        for the start of a variable name."""
        while True:
            run = self.bash("build/cli/tarvex -encryptpass:s3cret")
            self.assertEqual(run.returncode, 0, run)
            text = run.stdout.decode().strip()
            self.assertEqual(text[0], "$")
            if text[1].isalpha():
                return text

    def test_the_readme_forms_reach_the_program_whole(self):
        # The README's command with a text of this computer, sent to a
        # server on loopback (no TLS there) that takes only ann's password.
        block = block_with("-host:'ann:$")
        example = re.search(r"-host:'ann:(\$[A-Za-z0-9_-]+)@", block).group(1)
        text = self.encrypted()
        peer = AioPeer(accounts={"ann": "s3cret"})
        self.addCleanup(peer.close)

        def local(command):
            self.assertEqual(command.count(example), 1, command)
            self.assertEqual(command.count("mail.example.com:587"), 1, command)
            return (command.replace(example, text)
                    .replace("mail.example.com:587", "127.0.0.1:%d" % peer.port)
                    .replace(" -requiretls -verify", ""))

        run = self.bash(local(block))
        self.assertEqual((run.returncode, run.stderr), (0, b""), run)
        self.assertEqual([m.login for m in peer.messages], [b"ann"])

        # In double quotes the shell takes the text apart: no login.
        run = self.bash(local(block).replace("'", '"'))
        self.assertNotEqual(run.returncode, 0, run)
        self.assertEqual(len(peer.messages), 1)

        # A configuration file takes the line as printed, without quotes.
        line = re.search(r"`(host:ann:\$[^`]*)`", readme_text()).group(1)
        conf = os.path.join(self.home, ".config", "tarvex.conf")
        os.makedirs(os.path.dirname(conf))
        with open(conf, "w") as f:
            f.write(local(line) + "\n")
        run = self.bash("build/cli/tarvex -from:ann@example.com -to:bob@example.org -body:Hi")
        self.assertEqual((run.returncode, run.stderr), (0, b""), run)
        self.assertEqual([m.login for m in peer.messages], [b"ann", b"ann"])


class TlsServer:
    """openssl s_server on a loopback port with a certificate of the given
    set, for one connection: once TLS is up it greets with a refusal (421),
    so a run that verified the certificate ends with that reply. Ready
    when it says that it accepts."""

    GREETING = b"421 4.3.2 Test server closing\r\n"

    def __init__(self, certs):
        self.port = free_port()
        self.proc = subprocess.Popen(
            ["openssl", "s_server", "-naccept", "1", "-accept", "127.0.0.1:%d" % self.port,
             "-cert", certs.cert, "-key", certs.key],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        self.proc.stdin.write(self.GREETING)
        self.proc.stdin.close()
        for line in self.proc.stdout:
            if line.startswith(b"ACCEPT"):
                return
        raise RuntimeError("openssl s_server ended: status %r" % self.proc.wait())

    def close(self):
        self.proc.kill()
        self.proc.wait()
        self.proc.stdout.close()


class PrivateCaTest(ReadmeTest):
    def test_verify_trusts_the_ca_the_environment_names(self):
        # The README's command against a server whose certificate a CA
        # made here signed; the README's CA path and server are replaced.
        certs = Certificates()
        self.addCleanup(certs.close)
        command = block_with("SSL_CERT_FILE=", "-verify")
        example_ca = re.match(r"SSL_CERT_FILE=(\S+) ", command).group(1)
        self.assertEqual(command.count("mail.internal.example:465"), 1, command)
        folder = os.path.join(self.root, "cas")
        os.makedirs(folder)
        shutil.copy(certs.ca, folder)
        subprocess.run(["openssl", "rehash", folder], check=True, capture_output=True)
        refused = "Message send failed (%s)\n" % TlsServer.GREETING.decode().strip()
        cases = [
            ("SSL_CERT_FILE", command.replace(example_ca, certs.ca), 165, refused),
            ("SSL_CERT_DIR", command.replace("SSL_CERT_FILE=" + example_ca, "SSL_CERT_DIR=" + folder),
             165, refused),
            # Without either, the CA is unknown and nothing is read.
            ("neither", command.replace("SSL_CERT_FILE=" + example_ca + " ", ""), 1,
             "Message send failed (certificate verification failed: unable to get local issuer "
             "certificate)\n"),
        ]
        for name, script, status, stderr in cases:
            with self.subTest(name):
                server = TlsServer(certs)
                self.addCleanup(server.close)
                run = self.bash(script.replace("mail.internal.example:465", "127.0.0.1:%d" % server.port))
                self.assertEqual((run.returncode, run.stdout, run.stderr.decode()), (status, b"", stderr))


if __name__ == "__main__":
    unittest.main()
