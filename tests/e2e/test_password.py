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


def encode(password, nonce=b"\x00\x01\x02\x03", machine_key=None):
    """An encrypted text made without the program: unbound, or bound to the
    machine key given (32 hexadecimal digits)."""
    kind, payload = b"e", password
    if machine_key:
        kind, payload = b"h", aes_ctr(machine_key, nonce + b"h" + MARKER + bytes(8), password)
    return "$" + base64.urlsafe_b64encode(
        nonce + aes_ctr(OUTER_KEY, nonce + bytes(12), kind + MARKER + payload)).decode().rstrip("=")


def altered(text, at, mask):
    """text with the byte at offset at of its decoded form flipped by mask."""
    body = text[1:]
    raw = bytearray(base64.urlsafe_b64decode(body + "=" * (-len(body) % 4)))
    raw[at] ^= mask
    return "$" + base64.urlsafe_b64encode(bytes(raw)).decode().rstrip("=")


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
        passwords = [b"", b"s3cret", b"pa:ss w\xc3\xb6rd@$", b"\xe2\x82\xac\xf0\x9f\x94\x91", b"x" * 183]
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

    def test_password_decryption_would_refuse_is_not_encrypted(self):
        # Not UTF-8, a control character, a C1 control: such bytes are what
        # a wrong key gives, so no text is made of them.
        for password in (b"\xff\xfe", b"tab\there", b"\x01", b"del\x7f", b"c1\xc2\x85"):
            for bind in ([], ["-bindpass"]):
                with self.subTest(password=password, bind=bind):
                    proc = self.run_program([b"-encryptpass:" + password] + bind)
                    self.assertEqual((proc.returncode, proc.stdout), (1, b""), proc)
                    self.assertEqual(proc.stderr, b"Failed to encrypt password: the password holds a "
                                                  b"control character or is not valid UTF-8\n")

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

    def test_undecryptable_password_is_never_sent(self):
        # Another computer's key, or a changed byte, gives random bytes: the
        # run ends before it connects, and says why.
        secret = "correct horse battery staple 42"  # 31 bytes: garbage passes as clean text
        peer = AioPeer(accounts={"ann@example.com": secret}, mechanisms=["PLAIN"])
        self.addCleanup(peer.close)
        other_machine = "0123456789abcdef0123456789abcdef"
        if machine_key_hex() == other_machine:
            self.skipTest("this computer has the other machine's identifier")
        foreign = ("the text was made with -bindpass on another computer, or altered; the two cannot "
                   "be told apart (it decrypts to control characters or invalid UTF-8)"
                   if machine_key_hex() else
                   "the text is bound to a computer, and this one has no usable machine identifier")
        good = encode(secret.encode())
        cases = [
            ("bound elsewhere", encode(secret.encode(), machine_key=other_machine), foreign),
            ("a byte turned into a control character", altered(good, 8, ord("c") ^ 0x1b),
             "the text was altered (it decrypts to control characters or invalid UTF-8)"),
            ("a byte turned into no UTF-8", altered(good, 10, 0x80),
             "the text was altered (it decrypts to control characters or invalid UTF-8)"),
        ]
        if machine_key_hex():
            mine = encode(secret.encode(), machine_key=machine_key_hex())
            cases.append(("bound here, then altered", altered(mine, 12, 0xff), foreign))
        for name, text, why in cases:
            with self.subTest(name):
                for place in ("command line", "configuration file"):
                    host = "-host:ann@example.com:%s@127.0.0.1:%d" % (text, peer.port)
                    args, where = [host], ""
                    if place == "configuration file":
                        config = tempfile.NamedTemporaryFile("w", suffix=".cfg", delete=False)
                        self.addCleanup(os.unlink, config.name)
                        config.write(host[1:] + "\n")  # a word without its "-"
                        config.close()
                        args = ["-config:" + config.name]
                        where = config.name + ":1: "  # a file's message names the file and line
                    proc = self.run_program(args + ["-from:a@example.com", "-to:b@example.com",
                                                    "-subject:x", "-body:x", "-d"])
                    self.assertEqual(proc.returncode, 1, (place, proc))
                    self.assertEqual(proc.stderr.decode(), where + "Failed to decrypt password: %s\n" % why, place)
                    self.assertEqual(proc.stdout, b"", place)
        self.assertEqual(peer.handler.greeted, [])
        self.assertEqual(peer.messages, [])

if __name__ == "__main__":
    unittest.main()
