"""End-to-end tests of -encryptpass: and -bindpass: the printed text is read
back by a decoder of this file's own, built on `openssl enc -aes-128-ctr`,
so that the stored format cannot drift with the program's own reader.

The programs are the ones of the build tree, named by TARVEX_BIN and
TARVEX_PLAIN_BIN; every run gets a fresh home folder.
"""
import base64
import os
import re
import shutil
import subprocess
import tempfile
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "smtp"))
from peers import AioPeer  # noqa: E402

FULL = os.environ.get("TARVEX_BIN", "")
OUTER_KEY = "5f1c9a03e7b24d86a0c3f9127e6b8d45"
MARKER = b"\x0a\x05\x0a"


def aes_ctr(key_hex, iv, data):
    """AES-128-CTR with the counter block iv, by the openssl command."""
    proc = subprocess.run(["openssl", "enc", "-aes-128-ctr", "-K", key_hex, "-iv", iv.hex()],
                          input=data, stdout=subprocess.PIPE, stderr=subprocess.PIPE, check=True)
    return proc.stdout


def machine_key_hex():
    """This computer's machine key (the 32 digits of /etc/machine-id), or
    None when it has none."""
    try:
        with open("/etc/machine-id", "rb") as f:
            text = f.read().strip().decode("ascii").lower()
    except (OSError, UnicodeDecodeError):
        return None
    return text if re.fullmatch(r"[0-9a-f]{32}", text) else None


def decode(text):
    """(type, password) of an encrypted text, read without the program."""
    assert text.startswith("$"), text
    body = text[1:]
    assert re.fullmatch(r"[A-Za-z0-9_-]*", body), text
    raw = base64.urlsafe_b64decode(body + "=" * (-len(body) % 4))
    nonce = raw[:4]
    plain = aes_ctr(OUTER_KEY, nonce + bytes(12), raw[4:])
    kind, marker, payload = plain[:1], plain[1:4], plain[4:]
    assert marker == MARKER, plain
    if kind == b"h":
        payload = aes_ctr(machine_key_hex(), nonce + b"h" + MARKER + bytes(8), payload)
    return kind, payload


def encode(password, nonce=b"\x00\x01\x02\x03"):
    """An unbound encrypted text made without the program."""
    return "$" + base64.urlsafe_b64encode(
        nonce + aes_ctr(OUTER_KEY, nonce + bytes(12), b"e" + MARKER + password)).decode().rstrip("=")


class EncryptPassTests(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not FULL or not os.access(FULL, os.X_OK):
            raise unittest.SkipTest("set TARVEX_BIN")

    def run_program(self, args, stdout=subprocess.PIPE):
        home = tempfile.mkdtemp(prefix="tarvex-pw-")
        self.addCleanup(shutil.rmtree, home, True)
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": home}
        return subprocess.run([os.fsencode(FULL)] + [os.fsencode(a) if isinstance(a, str) else a
                                                     for a in args],
                              cwd=home, env=env, stdin=subprocess.DEVNULL,
                              stdout=stdout, stderr=subprocess.PIPE, timeout=60)

    def test_format_read_back_independently(self):
        passwords = [b"", b"s3cret", b"pa:ss w\xc3\xb6rd@$", b"\xff\xfe\x01", b"x" * 183]
        binds = [False] + ([True] if machine_key_hex() else [])
        for password in passwords:
            for bind in binds:
                with self.subTest(password=password, bind=bind):
                    args = [b"-encryptpass:" + password] + (["-bindpass"] if bind else [])
                    # Other options are not read at all.
                    proc = self.run_program(["-to:nobody", "-nosuch"] + args)
                    self.assertEqual((proc.returncode, proc.stderr), (0, b""), proc)
                    text = proc.stdout.decode("ascii")
                    self.assertTrue(text.endswith("\n"), text)
                    text = text[:-1]
                    self.assertEqual(len(text), 1 + (4 * (len(password) + 8) + 2) // 3)
                    self.assertEqual(decode(text), (b"h" if bind else b"e", password))

    def test_too_long_is_refused_unseen(self):
        for length in (184, 255, 4000):
            for bind in ([], ["-bindpass"]):
                with self.subTest(length=length, bind=bind):
                    password = "q" * length
                    proc = self.run_program(["-encryptpass:" + password] + bind)
                    self.assertEqual(proc.returncode, 1, proc)
                    self.assertEqual(proc.stdout, b"")
                    self.assertNotIn(b"qqqq", proc.stderr)
                    self.assertIn(b"Failed to encrypt password", proc.stderr)

    def test_unwritable_output_fails(self):
        with open("/dev/full", "wb") as full:
            proc = self.run_program(["-encryptpass:s3cret"], stdout=full)
        self.assertEqual(proc.returncode, 1, proc)
        self.assertEqual(proc.stderr, b"Failed to encrypt password: standard output cannot be written\n")

    def test_encrypted_password_authenticates(self):
        # AUTH PLAIN at a real server, traced with -d: the password arrives,
        # and neither it nor its encrypted text shows anywhere.
        secret = "pa:ss w\u00f6rd"
        peer = AioPeer(accounts={"ann@example.com": secret}, mechanisms=["PLAIN"])
        self.addCleanup(peer.close)
        texts = [("made without the program", encode(secret.encode()))]
        for bind in ([], ["-bindpass"]) if machine_key_hex() else ([],):
            texts.append(("printed " + " ".join(bind),
                          self.run_program(["-encryptpass:" + secret] + bind).stdout.decode().strip()))
        plain_auth = base64.b64encode(b"\0ann@example.com\0" + secret.encode())
        for name, text in texts:
            with self.subTest(name):
                proc = self.run_program(["-host:ann@example.com:%s@127.0.0.1:%d" % (text, peer.port),
                                         "-authtypes:PLAIN", "-from:a@example.com", "-to:b@example.com",
                                         "-subject:x", "-body:x", "-d"])
                self.assertEqual(proc.returncode, 0, proc)
                self.assertEqual(peer.messages[-1].login, b"ann@example.com")
                shown = proc.stdout + proc.stderr
                for leak in (secret.encode(), b"pa:ss", plain_auth, text.encode()):
                    self.assertNotIn(leak, shown)

if __name__ == "__main__":
    unittest.main()
