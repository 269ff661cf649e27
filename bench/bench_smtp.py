#!/usr/bin/python3
"""SMTP delivery benchmark: Tarvex sending one message with a large random
attachment to Postfix's smtp-sink on loopback, measured in the same run as

  - Python's smtplib + email composing and sending the same message, and
  - curl uploading the message Tarvex composed in File mode (so curl only
    sends: it composes nothing),

a one-line message sent by Tarvex and by curl, and the composed big message
sent again as a ready message file (-emailfile:), without and with a DKIM
signature, against curl's upload of the same file. Each side runs in a child
process whose wall time and peak resident set (from wait4) are recorded; the
best of --runs runs counts.

Targets: Tarvex at least 10 times faster than Python and no slower than 1.5
times curl's upload of the big message, the one-line message in no more time
than curl, and Tarvex's peak RSS under 16 MiB whatever the attachment size;
the ready message file in no more than 1.2 times curl's upload time with
peak RSS under 16 MiB, and signed with peak RSS within 1.2 times its size.
Exit status 0 when every target is met, 1 when one is missed, 2 when a run
failed.

Run it with Debian's interpreter (/usr/bin/python3), as root or as a user
who may run smtp-sink; see the README for the figures of a reference machine.
"""
import argparse
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

SMTP_SINK = "/usr/sbin/smtp-sink"
CURL = shutil.which("curl") or "/usr/bin/curl"
PYTHON = "/usr/bin/python3"
SENDER = "bench@example.com"
RECIPIENT = "sink@example.org"
RSS_LIMIT_KIB = 16 * 1024

# The Python side: compose with email, send with smtplib, like Tarvex does.
PYTHON_SENDER = r"""
import email.message, email.policy, smtplib, sys
host, port, path, body = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
msg = email.message.EmailMessage()
msg["From"] = "bench@example.com"
msg["To"] = "sink@example.org"
msg["Subject"] = "Benchmark"
msg.set_content(body)
if path != "-":
    with open(path, "rb") as f:
        msg.add_attachment(f.read(), "application", "octet-stream", filename="random.bin")
with smtplib.SMTP(host, port) as s:
    s.send_message(msg)
"""


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Sink:
    def __init__(self):
        self.port = free_port()
        args = [SMTP_SINK]
        if os.geteuid() == 0:
            args += ["-u", "nobody"]
        self.proc = subprocess.Popen(args + ["127.0.0.1:%d" % self.port, "64"],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 20
        while True:
            try:
                with socket.create_connection(("127.0.0.1", self.port), timeout=5) as s:
                    if s.recv(512).startswith(b"220"):
                        s.sendall(b"QUIT\r\n")
                        return
            except OSError:
                if self.proc.poll() is not None or time.monotonic() > deadline:
                    raise RuntimeError("smtp-sink did not start")
                try:
                    self.proc.wait(timeout=0.05)
                except subprocess.TimeoutExpired:
                    pass

    def close(self):
        self.proc.kill()
        self.proc.wait()


RUNNER = None  # bench_run: wall time and peak RSS of one child


def measure(args):
    """Runs args once under bench_run: (seconds, peak RSS in KiB); raises on
    failure."""
    proc = subprocess.run([RUNNER] + args, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    lines = proc.stderr.decode("utf-8", "replace").strip().split("\n")
    if proc.returncode != 0:
        raise RuntimeError("%s failed with %d: %s" % (args[0], proc.returncode, " / ".join(lines)))
    seconds, rss = lines[-1].split()
    return float(seconds), int(rss)


def best(args, runs):
    results = [measure(args) for _ in range(runs)]
    return min(r[0] for r in results), max(r[1] for r in results)


def write_random(path, size):
    with open(path, "wb") as f:
        left = size
        while left:
            n = min(left, 1 << 20)
            f.write(os.urandom(n))
            left -= n


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--tarvex", default="build-bench/cli/tarvex", help="the program to measure")
    ap.add_argument("--runner", default="build-bench/bench/bench_run", help="the bench_run program")
    ap.add_argument("--size-mib", type=int, default=50, help="attachment size (MiB)")
    ap.add_argument("--runs", type=int, default=5, help="runs per side; the best counts")
    ap.add_argument("--python-runs", type=int, default=2, help="runs of the Python side")
    ap.add_argument("--dir", help="work folder (default: a new temporary one)")
    ap.add_argument("--keep", action="store_true", help="keep the work folder")
    args = ap.parse_args()

    global RUNNER
    RUNNER = args.runner
    for tool in (args.tarvex, args.runner, SMTP_SINK, CURL):
        if not os.access(tool, os.X_OK):
            print("not found: %s" % tool, file=sys.stderr)
            return 2
    work = args.dir or tempfile.mkdtemp(prefix="tarvex-bench-smtp-")
    os.makedirs(work, exist_ok=True)
    sink = None
    try:
        attachment = os.path.join(work, "random.bin")
        write_random(attachment, args.size_mib << 20)
        sink = Sink()
        url = "smtp://127.0.0.1:%d" % sink.port
        common = ["-nodefault", "-from:" + SENDER, "-to:" + RECIPIENT, "-subject:Benchmark"]
        big = common + ["-body:Hello,\\n\\nthe attachment follows.", "-a:" + attachment]
        small = common + ["-body:One line."]
        host = "-host:127.0.0.1:%d" % sink.port

        composed = os.path.join(work, "big.eml")
        measure([args.tarvex] + big + ["-file:" + composed])
        one_line = os.path.join(work, "small.eml")
        measure([args.tarvex] + small + ["-file:" + one_line])
        curl = [CURL, "-s", "-S", url, "--mail-from", SENDER, "--mail-rcpt", RECIPIENT, "--upload-file"]
        script = os.path.join(work, "send.py")
        with open(script, "w") as f:
            f.write(PYTHON_SENDER)

        key = os.path.join(work, "key.pem")
        subprocess.run(["openssl", "genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048",
                        "-out", key], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        ready = ["-nodefault", "-emailfile:" + composed, "-rawhead", host]
        rows = [
            ("big: Tarvex", best([args.tarvex] + big + [host], args.runs)),
            ("big: Python smtplib + email", best([PYTHON, script, "127.0.0.1", str(sink.port), attachment,
                                                  "Hello,\n\nthe attachment follows."], args.python_runs)),
            ("big: curl upload", best(curl + [composed], args.runs)),
            ("one line: Tarvex", best([args.tarvex] + small + [host], args.runs * 4)),
            ("one line: curl", best(curl + [one_line], args.runs * 4)),
            ("file: Tarvex", best([args.tarvex] + ready, args.runs)),
            ("file: Tarvex signed", best([args.tarvex] + ready + ["-dkim:example.com:s1:" + key], args.runs)),
        ]
        file_kib = os.path.getsize(composed) / 1024.0
    except (RuntimeError, OSError) as e:
        print("run failed: %s" % e, file=sys.stderr)
        return 2
    finally:
        if sink:
            sink.close()
        if not args.keep and not args.dir:
            shutil.rmtree(work, ignore_errors=True)

    print("SMTP delivery to smtp-sink, %d MiB random attachment (message file %.1f MB), best of %d runs"
          % (args.size_mib, file_kib * 1024 / 1e6, args.runs))
    print("%-30s %10s %12s" % ("case", "seconds", "peak RSS"))
    for label, (seconds, rss) in rows:
        print("%-30s %10.3f %9.1f MiB" % (label, seconds, rss / 1024.0))
    figures = dict(rows)
    tarvex, python, curl_up = figures["big: Tarvex"], figures["big: Python smtplib + email"], figures["big: curl upload"]
    small_t, small_c = figures["one line: Tarvex"], figures["one line: curl"]
    ready_t, signed_t = figures["file: Tarvex"], figures["file: Tarvex signed"]
    checks = [
        ("%.1f times faster than Python (target 10)" % (python[0] / tarvex[0]), python[0] / tarvex[0] >= 10),
        ("%.2f times curl's upload (target at most 1.5)" % (tarvex[0] / curl_up[0]), tarvex[0] <= 1.5 * curl_up[0]),
        ("one line: %.1f ms against curl's %.1f ms" % (small_t[0] * 1e3, small_c[0] * 1e3), small_t[0] <= small_c[0]),
        ("peak RSS %.1f MiB (target under 16)" % (tarvex[1] / 1024.0), max(tarvex[1], small_t[1]) < RSS_LIMIT_KIB),
        ("message file: %.2f times curl's upload of it (target at most 1.2)" % (ready_t[0] / curl_up[0]),
         ready_t[0] <= 1.2 * curl_up[0]),
        ("message file: peak RSS %.1f MiB (target under 16)" % (ready_t[1] / 1024.0), ready_t[1] < RSS_LIMIT_KIB),
        ("signed message file: peak RSS %.2f times its size (target at most 1.2)" % (signed_t[1] / file_kib),
         signed_t[1] <= 1.2 * file_kib),
    ]
    for text, ok in checks:
        print("%s %s" % ("ok  " if ok else "MISS", text))
    return 0 if all(ok for _, ok in checks) else 1


if __name__ == "__main__":
    sys.exit(main())
