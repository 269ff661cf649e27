"""Peers for the SMTP end-to-end tests, all on loopback and started by the
tests: Debian's aiosmtpd in this process (clear, STARTTLS, implicit TLS,
AUTH with small handlers of our own, DSN parameters, SMTPUTF8), Postfix's
smtp-sink as a child process, and a scripted fake server for what real
servers will not do (cuts, garbage, silence, endless replies).

Every peer listens on a port the system chose and is ready before its
constructor returns: the fake server and aiosmtpd listen before they are
handed out, smtp-sink is connected to until it greets.
"""
import base64
import hmac
import os
import re
import shutil
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import warnings

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
import unprivileged  # noqa: E402
from loopback import free_port  # noqa: E402,F401 (the tests take it from here too)

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword, MISSING

SMTP_SINK = "/usr/sbin/smtp-sink"

# aiosmtpd warns about its own use of a field it deprecated.
warnings.filterwarnings("ignore", message="Session.login_data is deprecated")


def wait_listening(proc, port, name, ready=lambda s: True):
    """Returns once the child process proc accepts a connection on the
    loopback port and ready(socket) holds; raises when it ends first or
    does not listen within 20 seconds."""
    deadline = time.monotonic() + 20
    while True:
        if proc.poll() is not None:
            raise RuntimeError("%s ended: %r" % (name, proc.stderr.read()))
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=5) as s:
                if ready(s):
                    return
        except OSError:
            if time.monotonic() > deadline:
                raise
        # Not listening yet: wait for the process, not for a clock.
        try:
            proc.wait(timeout=0.05)
        except subprocess.TimeoutExpired:
            pass


# ---- certificates ------------------------------------------------------------------


class Certificates:
    """A CA of the tests' own and a server certificate it signed for
    "localhost" and 127.0.0.1, made with the openssl program."""

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="tarvex-certs-")
        self.ca_key = self._path("ca.key")
        self.ca = self._path("ca.pem")
        self.key = self._path("server.key")
        self.cert = self._path("server.pem")
        ext = self._path("ext.cnf")
        with open(ext, "w") as f:
            f.write("subjectAltName=DNS:localhost,IP:127.0.0.1\n")
        self._openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", self.ca_key,
                      "-out", self.ca, "-days", "2", "-subj", "/CN=Tarvex test CA")
        csr = self._path("server.csr")
        self._openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", self.key, "-out", csr,
                      "-subj", "/CN=localhost")
        self._openssl("x509", "-req", "-in", csr, "-CA", self.ca, "-CAkey", self.ca_key,
                      "-CAcreateserial", "-out", self.cert, "-days", "2", "-extfile", ext)

    def _path(self, name):
        return os.path.join(self.dir, name)

    @staticmethod
    def _openssl(*args):
        subprocess.run(("openssl",) + args, check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)

    def server_context(self):
        ctx = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        ctx.load_cert_chain(self.cert, self.key)
        return ctx

    def close(self):
        shutil.rmtree(self.dir, ignore_errors=True)


# ---- aiosmtpd -------------------------------------------------------------------------


class Received:
    """One message as an aiosmtpd peer took it."""

    def __init__(self, envelope, session, tls):
        self.mail_from = envelope.mail_from
        self.mail_options = list(envelope.mail_options)
        self.rcpt_tos = list(envelope.rcpt_tos)
        self.rcpt_options = list(envelope.rcpt_options)
        self.content = envelope.original_content  # bytes, dot-stuffing undone
        self.smtp_utf8 = envelope.smtp_utf8
        self.login = getattr(session.auth_data, "login", None)
        self.tls = tls
        self.helo = session.host_name


class Recorder:
    """The handler of the aiosmtpd peers: keeps every message, offers DSN when
    asked, and speaks CRAM-MD5 and OAUTHBEARER with the accounts given."""

    def __init__(self, accounts, tokens, dsn, rcpt_replies, replies):
        self.accounts = accounts  # user -> password
        self.tokens = tokens      # user -> bearer token
        self.dsn = dsn
        self.rcpt_replies = rcpt_replies  # address -> reply line
        self.replies = replies  # "MAIL", "DATA" (end of data), "RSET", "QUIT" -> reply line
        self.messages = []
        self.oauth_error_answers = []
        self.oauth_responses = []  # every OAUTHBEARER response taken, decoded
        self.greeted = []  # the name of every EHLO, in order

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        session.host_name = hostname
        self.greeted.append(hostname)
        if self.dsn:
            responses.insert(len(responses) - 1, "250-DSN")
        return responses

    async def handle_MAIL(self, server, session, envelope, address, mail_options):
        if "MAIL" in self.replies:
            return self.replies["MAIL"]
        envelope.mail_from = address
        envelope.mail_options.extend(mail_options)
        return "250 OK"

    async def handle_QUIT(self, server, session, envelope):
        return self.replies.get("QUIT", "221 Bye")

    async def handle_RSET(self, server, session, envelope):
        return self.replies.get("RSET", "250 OK")

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        reply = self.rcpt_replies.get(address)
        if reply and not reply.startswith("25"):
            return reply
        envelope.rcpt_tos.append(address)
        envelope.rcpt_options.extend(rcpt_options)
        return reply or "250 OK"

    async def handle_DATA(self, server, session, envelope):
        if "DATA" in self.replies:
            return self.replies["DATA"]
        header = envelope.original_content.split(b"\r\n\r\n", 1)[0]
        if server.enable_SMTPUTF8 and not envelope.smtp_utf8 and not header.isascii():
            return "554 5.6.7 Non-ASCII header without SMTPUTF8"
        tls = server.transport.get_extra_info("ssl_object") is not None
        self.messages.append(Received(envelope, session, tls))
        return "250 2.0.0 Accepted"

    def check(self, mechanism, login, password):
        return self.accounts.get(login.decode("utf-8")) == password.decode("utf-8")

    async def auth_CRAM__MD5(self, server, args):
        challenge = b"<%d.%d@tarvex.test>" % (os.getpid(), time.monotonic_ns())
        answer = await server.challenge_auth(challenge)
        if answer is MISSING:
            return AuthResult(success=False, handled=True)
        user, _, digest = answer.partition(b" ")
        password = self.accounts.get(user.decode("utf-8", "replace"))
        good = password is not None and hmac.compare_digest(
            hmac.new(password.encode(), challenge, "md5").hexdigest().encode(), digest)
        return AuthResult(success=good, handled=False, auth_data=LoginPassword(user, b""))

    async def auth_OAUTHBEARER(self, server, args):
        if len(args) > 1:
            blob = base64.b64decode(args[1])
        else:
            blob = await server.challenge_auth(b"", encode_to_b64=False)
            if blob is MISSING:
                return AuthResult(success=False, handled=True)
        self.oauth_responses.append(blob)
        m = re.fullmatch(rb"n,a=([^,]*),\x01auth=Bearer ([^\x01]*)\x01\x01", blob)
        user = m and m.group(1).replace(b"=2C", b",").replace(b"=3D", b"=").decode()
        if m and self.tokens.get(user) == m.group(2).decode():
            return AuthResult(success=True, auth_data=LoginPassword(user.encode(), b""))
        # RFC 7628: an error challenge, answered by the client with 0x01.
        answer = await server.challenge_auth(b'{"status":"invalid_token"}')
        self.oauth_error_answers.append(answer)
        return AuthResult(success=False, handled=False)


class DsnSMTP(SMTP):
    """aiosmtpd refuses every MAIL and RCPT parameter it does not know; this
    server keeps the DSN ones (and shows them to the handler) instead. With
    SMTPUTF8 on it refuses a non-ASCII address (and the handler a non-ASCII
    header) in a transaction whose MAIL FROM did not say SMTPUTF8, as RFC
    6531 asks (aiosmtpd takes them)."""

    async def _utf8_refused(self, arg):
        if (self.enable_SMTPUTF8 and arg and not arg.isascii()
                and not (self.envelope.smtp_utf8 or re.search(r"(?i)\sSMTPUTF8\b", arg))):
            await self.push("553 5.6.7 SMTPUTF8 required for non-ASCII addresses")
            return True
        return False

    DSN_PARAM = re.compile(r" +(RET|ENVID|NOTIFY|ORCPT)=\S*", re.IGNORECASE)

    def _without_dsn(self, arg, into):
        if arg is None:
            return arg
        into.extend(m.group(0).strip() for m in self.DSN_PARAM.finditer(arg))
        return self.DSN_PARAM.sub("", arg)

    async def smtp_MAIL(self, arg):
        if await self._utf8_refused(arg):
            return
        kept = []
        await super().smtp_MAIL(self._without_dsn(arg, kept))
        if self.envelope.mail_from is not None:
            self.envelope.mail_options.extend(kept)

    async def smtp_RCPT(self, arg):
        if await self._utf8_refused(arg):
            return
        kept = []
        before = len(self.envelope.rcpt_tos)
        await super().smtp_RCPT(self._without_dsn(arg, kept))
        if len(self.envelope.rcpt_tos) > before:
            self.envelope.rcpt_options.extend(kept)


class RecordingController(Controller):
    def __init__(self, handler, smtp_class=DsnSMTP, **kwargs):
        self.smtp_class = smtp_class
        super().__init__(handler, **kwargs)

    def factory(self):
        return self.smtp_class(self.handler, **self.SMTP_kwargs)


class AioPeer:
    """An aiosmtpd server in this process.

    starttls: offer STARTTLS (certificates needed); implicit: TLS from the
    first byte; auth_in_clear: offer AUTH before TLS too; mechanisms: the
    AUTH mechanisms offered (None: aiosmtpd's own PLAIN and LOGIN plus ours);
    dsn: offer DSN; smtputf8: offer SMTPUTF8; rcpt_replies: address ->
    reply to its RCPT; replies: "MAIL", "DATA" (the end of data), "RSET",
    "QUIT" -> the reply to that command."""

    def __init__(self, certs=None, starttls=False, implicit=False, auth_in_clear=True,
                 accounts=None, tokens=None, mechanisms=None, dsn=False, smtputf8=False,
                 rcpt_replies=None, replies=None, smtp_class=DsnSMTP):
        self.handler = Recorder(accounts or {}, tokens or {}, dsn, rcpt_replies or {}, replies or {})
        kwargs = {"enable_SMTPUTF8": smtputf8, "auth_require_tls": not auth_in_clear,
                  "authenticator": self._authenticate}
        if starttls:
            kwargs["tls_context"] = certs.server_context()
        all_mechs = {"PLAIN", "LOGIN", "CRAM-MD5", "OAUTHBEARER"}
        if mechanisms is not None:
            kwargs["auth_exclude_mechanism"] = sorted(all_mechs - set(mechanisms))
        if not accounts and not tokens:
            kwargs["auth_exclude_mechanism"] = sorted(all_mechs)
        self.port = free_port()
        self.controller = RecordingController(
            self.handler, smtp_class=smtp_class, hostname="127.0.0.1", port=self.port,
            server_hostname="aio.test",
            ssl_context=certs.server_context() if implicit else None, **kwargs)
        self.controller.start()  # returns once the server answers

    def _authenticate(self, server, session, envelope, mechanism, auth_data):
        ok = isinstance(auth_data, LoginPassword) and self.handler.check(
            mechanism, auth_data.login, auth_data.password)
        return AuthResult(success=ok, handled=False, auth_data=auth_data if ok else None)

    @property
    def messages(self):
        return self.handler.messages

    def close(self):
        self.controller.stop()


# ---- smtp-sink ------------------------------------------------------------------------


class SmtpSink:
    """Postfix's smtp-sink on a free port, with its options (see smtp-sink(1):
    -a no AUTH, -N no DSN, -e no ESMTP, -f/-r hard/soft rejects after commands,
    -Q 421 after commands, -q disconnect after commands). dump: keep each
    message in a folder (read with messages())."""

    def __init__(self, *options, dump=False):
        # smtp-sink writes as nobody when started by root.
        self.dir = unprivileged.shared_folder("tarvex-sink-")
        args = [SMTP_SINK]
        if os.geteuid() == 0:
            args += ["-u", "nobody"]
        if dump:
            args += ["-d", os.path.join(self.dir, "%M.")]
        self.port = free_port()
        args += list(options) + ["127.0.0.1:%d" % self.port, "64"]
        self.proc = subprocess.Popen(args, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        self._wait_ready()

    def _wait_ready(self):
        def greets(s):
            s.settimeout(5)
            if not s.recv(512).startswith(b"220"):
                return False
            s.sendall(b"QUIT\r\n")
            return True

        wait_listening(self.proc, self.port, "smtp-sink", greets)

    def messages(self):
        """The dumped messages, oldest first, as bytes."""
        out = []
        for name in sorted(os.listdir(self.dir), key=lambda n: os.stat(os.path.join(self.dir, n)).st_mtime_ns):
            with open(os.path.join(self.dir, name), "rb") as f:
                out.append(f.read())
        return out

    def close(self):
        self.proc.kill()
        self.proc.wait()
        self.proc.stderr.close()
        shutil.rmtree(self.dir, ignore_errors=True)


# ---- the scripted fake server ---------------------------------------------------------


class FakeServer:
    """A scripted SMTP peer for one connection, for what real servers will
    not do. The script is a list of steps:

      ("send", bytes)       write the bytes
      ("bytewise", bytes)   write them one byte per packet
      ("drip", bytes, s)    write them one byte every s seconds; ends quietly
                            when the client leaves
      ("expect", prefix)    read one line; it must start with prefix (any case)
      ("data",)             read the message data up to and with "\\r\\n.\\r\\n"
      ("some_data", n)      read n bytes of message data
      ("starttls",)         the TLS handshake as the server
      ("flood", bytes)      write the bytes again and again until the client leaves
      ("wait_close",)       read until the client leaves (what came goes to .data)
      ("stall",)            neither read nor write until release() is called
      ("close",)            close the connection
      ("reset",)            close it with a reset

    Every line read goes to .lines; the data to .data; a step that did not go
    as scripted is kept in .error. Ends by closing its side."""

    def __init__(self, script, certs=None, wait_limit=60, address="127.0.0.1"):
        self.script = script
        self.certs = certs
        self.wait_limit = wait_limit
        self.lines = []
        self.data = b""
        self.error = None
        self.flooded = 0
        self.released = threading.Event()
        self.listener = socket.socket(socket.AF_INET6 if ":" in address else socket.AF_INET)
        self.listener.bind((address, 0))
        self.listener.listen(1)
        self.port = self.listener.getsockname()[1]
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    def _serve(self):
        self.listener.settimeout(self.wait_limit)
        try:
            conn, _ = self.listener.accept()
        except OSError as e:
            self.error = "no connection: %s" % e
            return
        conn.settimeout(self.wait_limit)
        conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.buf = b""
        try:
            for step in self.script:
                conn = self._step(conn, step)
                if conn is None:
                    return
        except (OSError, ssl.SSLError) as e:
            if self.error is None:
                self.error = "%s: %s" % (step[0], e)
        finally:
            if conn is not None:
                try:
                    conn.close()
                except OSError:
                    pass
            self.listener.close()

    def _read_line(self, conn):
        while b"\r\n" not in self.buf:
            chunk = conn.recv(65536)
            if not chunk:
                raise OSError("client left")
            self.buf += chunk
        line, _, self.buf = self.buf.partition(b"\r\n")
        self.lines.append(line)
        return line

    def _step(self, conn, step):
        kind = step[0]
        if kind == "send":
            conn.sendall(step[1])
        elif kind == "bytewise":
            for i in range(len(step[1])):
                conn.sendall(step[1][i:i + 1])
        elif kind == "drip":
            for i in range(len(step[1])):
                if self.released.wait(step[2]):
                    break
                try:
                    conn.sendall(step[1][i:i + 1])
                except OSError:
                    conn.close()
                    return None  # the client gave up, as it should
        elif kind == "expect":
            line = self._read_line(conn)
            if not line.lower().startswith(step[1].lower()):
                self.error = "expected %r, got %r" % (step[1], line)
                conn.close()
                return None
        elif kind == "data":
            while b"\r\n.\r\n" not in self.buf:
                chunk = conn.recv(65536)
                if not chunk:
                    raise OSError("client left inside the data")
                self.buf += chunk
            self.data, _, self.buf = self.buf.partition(b"\r\n.\r\n")
            self.data += b"\r\n"
        elif kind == "some_data":
            while len(self.buf) < step[1]:
                chunk = conn.recv(65536)
                if not chunk:
                    raise OSError("client left inside the data")
                self.buf += chunk
            self.data, self.buf = self.buf[:step[1]], b""
        elif kind == "starttls":
            conn = self.certs.server_context().wrap_socket(conn, server_side=True)
        elif kind == "flood":
            try:
                while True:
                    conn.sendall(step[1])
                    self.flooded += len(step[1])
            except OSError:
                pass  # the client left, as it should
        elif kind == "stall":
            self.released.wait(self.wait_limit)
        elif kind == "wait_close":
            while True:
                chunk = conn.recv(65536)
                if not chunk:
                    break
                self.data += chunk
        elif kind == "close":
            conn.close()
            return None
        elif kind == "reset":
            conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
            conn.close()
            return None
        else:
            raise ValueError(kind)
        return conn

    def release(self):
        """Ends a stall."""
        self.released.set()

    def join(self):
        self.released.set()
        self.thread.join(self.wait_limit + 5)
        return not self.thread.is_alive()


def unstuff(data):
    """Message data as the recipient reads it: a line's leading "." undoubled."""
    return re.sub(rb"(^|\r\n)\.", rb"\1", data)


# ---- a peer process for the unit tests ------------------------------------------------

def serve(argv):
    """peers.py serve [--starttls | --implicit] [--smtputf8] [--reply COMMAND=LINE ...]
                      [--token USER=TOKEN ...] [--sessions N] [--limit S] CERT_DIR

    An aiosmtpd peer for tests written in C++: prints "PORT <n>" once it
    answers, takes N sessions (1 by default) and prints one line per message,
    "MESSAGE <sender> <recipients joined by ','> <tls 0/1> <content as hex>",
    then "DONE" and ends; everything is bounded by --limit seconds. CERT_DIR
    receives the test CA as ca.pem (the server's certificate is for
    localhost and 127.0.0.1). With --token the peer offers AUTH and takes
    OAUTHBEARER with those bearer tokens, printing "OAUTH <response as hex>"
    for every OAUTHBEARER response it took, before the MESSAGE lines."""
    import argparse
    ap = argparse.ArgumentParser(prog="peers.py serve")
    ap.add_argument("--starttls", action="store_true")
    ap.add_argument("--implicit", action="store_true")
    ap.add_argument("--smtputf8", action="store_true")
    ap.add_argument("--reply", action="append", default=[])
    ap.add_argument("--token", action="append", default=[])
    ap.add_argument("--sessions", type=int, default=1)
    ap.add_argument("--limit", type=float, default=60)
    ap.add_argument("cert_dir")
    args = ap.parse_args(argv)
    certs = Certificates()
    shutil.copy(certs.ca, os.path.join(args.cert_dir, "ca.pem"))
    ended = threading.Semaphore(0)

    class CountingSMTP(DsnSMTP):
        def connection_lost(self, error):
            greeted = self.session is not None and self.session.host_name is not None
            super().connection_lost(error)
            if greeted:  # not the controller's own readiness probe
                ended.release()

    replies = dict(r.split("=", 1) for r in args.reply)
    tokens = dict(t.split("=", 1) for t in args.token)
    peer = AioPeer(certs=certs, starttls=args.starttls, implicit=args.implicit, smtputf8=args.smtputf8,
                   replies=replies, tokens=tokens, smtp_class=CountingSMTP)
    print("PORT %d" % peer.port, flush=True)
    deadline = time.monotonic() + args.limit
    for _ in range(args.sessions):
        if not ended.acquire(timeout=max(0.0, deadline - time.monotonic())):
            break
    for blob in peer.handler.oauth_responses:
        print("OAUTH %s" % blob.hex(), flush=True)
    for m in peer.messages:
        print("MESSAGE %s %s %d %s" % (m.mail_from, ",".join(m.rcpt_tos), int(m.tls), m.content.hex()),
              flush=True)
    print("DONE", flush=True)
    peer.close()
    certs.close()


if __name__ == "__main__":
    import sys
    if len(sys.argv) > 1 and sys.argv[1] == "serve":
        serve(sys.argv[2:])


# ---- proxies --------------------------------------------------------------------------


class ProxyPeer:
    """A proxy program as a child process on a free loopback port, ready once
    it accepts a connection. kind is "socks" (Debian's microsocks) or
    "https" (tinyproxy with a configuration of its own that allows CONNECT
    only to connect_ports). credentials: (user, password) the proxy
    demands, or None."""

    def __init__(self, kind, credentials=None, connect_ports=()):
        self.kind = kind
        # tinyproxy started by root runs as nobody.
        self.dir = unprivileged.shared_folder("tarvex-proxy-")
        self.port = free_port()
        if kind == "socks":
            args = ["/usr/bin/microsocks", "-i", "127.0.0.1", "-p", str(self.port)]
            if credentials:
                args += ["-u", credentials[0], "-P", credentials[1]]
        else:
            config = os.path.join(self.dir, "tinyproxy.conf")
            lines = ["Port %d" % self.port, "Listen 127.0.0.1", "Timeout 60", "MaxClients 20",
                     "LogLevel Info", "LogFile \"%s\"" % os.path.join(self.dir, "log")]
            if os.geteuid() == 0:
                lines += ["User nobody", "Group nogroup"]
            lines += ["ConnectPort %d" % p for p in connect_ports]
            if credentials:
                lines.append("BasicAuth %s %s" % credentials)
            with open(config, "w") as f:
                f.write("\n".join(lines) + "\n")
            args = ["/usr/bin/tinyproxy", "-d", "-c", config]
        self.proc = subprocess.Popen(args, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        try:
            wait_listening(self.proc, self.port, "%s proxy" % kind)
        except Exception:
            self.close()
            raise

    def close(self):
        self.proc.kill()
        self.proc.wait()
        self.proc.stderr.close()
        shutil.rmtree(self.dir, ignore_errors=True)
