"""End-to-end tests of delivery through proxy tunnels: microsocks (SOCKS5)
and tinyproxy (HTTP CONNECT), each with and without credentials, started on
loopback by the tests, in front of an aiosmtpd server in clear or with
implicit TLS."""
import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from peers import AioPeer, FakeServer, ProxyPeer, free_port  # noqa: E402
from test_smtp import SmtpTestCase  # noqa: E402

CREDENTIALS = ("proxyuser", "Pr0xy-Secret")


class ProxyTests(SmtpTestCase):
    def peer(self, **options):
        peer = AioPeer(certs=self.certs, **options)
        self.addCleanup(peer.close)
        return peer

    def proxy(self, kind, credentials=None, connect_ports=()):
        proxy = ProxyPeer(kind, credentials, connect_ports)
        self.addCleanup(proxy.close)
        return proxy

    def proxy_args(self, proxy, credentials=None):
        target = "127.0.0.1:%d" % proxy.port
        if credentials:
            target = "%s:%s@%s" % (credentials[0], credentials[1], target)
        return ["-proxy:" + target, "-proxytype:" + ("HTTPS" if proxy.kind == "https" else "SOCKS")]

    def test_delivery_through_each_tunnel(self):
        clear = self.peer()
        implicit = self.peer(implicit=True)
        for kind in ("socks", "https"):
            for credentials in (None, CREDENTIALS):
                proxy = self.proxy(kind, credentials, (clear.port, implicit.port))
                for server, tls in ((clear, []), (implicit, ["-secureport"])):
                    with self.subTest(kind=kind, credentials=credentials, tls=tls):
                        before = len(server.messages)
                        run = self.run_program(self.message_args(
                            server.port, *(self.proxy_args(proxy, credentials) + tls + ["-d"])))
                        self.assertRun(run, 0)
                        self.assertEqual(len(server.messages), before + 1)
                        got = server.messages[-1]
                        self.assertEqual(got.tls, bool(tls))
                        self.assertSameMessage(got.content, self.file_mode())
                        # The proxy password never shows in the trace.
                        trace = run.stdout + run.stderr
                        self.assertNotIn(CREDENTIALS[1], trace)
                        if kind == "https":
                            self.assertIn("CONNECT 127.0.0.1:%d HTTP/1.0" % server.port, trace)
                            self.assertEqual("Proxy-Authorization" in trace, bool(credentials))

    def test_refused_tunnels(self):
        server = self.peer()
        https = self.proxy("https", None, (server.port,))
        https_auth = self.proxy("https", CREDENTIALS, (server.port,))
        socks_auth = self.proxy("socks", CREDENTIALS)
        cases = [
            # CONNECT to a port the proxy does not allow.
            (https, None, server.port + 1 if server.port < 65535 else server.port - 1,
             r"via HTTPS proxy \(HTTPS proxy refused the tunnel \(HTTP/1\.\d 403"),
            (https_auth, None, server.port, r"via HTTPS proxy \(.*407"),
            (https_auth, ("proxyuser", "wrong"), server.port, r"via HTTPS proxy \(.*40[17]"),
            (socks_auth, None, server.port,
             r"via SOCKS proxy \(SOCKS5 proxy wants credentials and none were given\)"),
            (socks_auth, ("proxyuser", "wrong"), server.port,
             r"via SOCKS proxy \(SOCKS5 proxy refused the user name and password\)"),
        ]
        for proxy, credentials, port, reason in cases:
            with self.subTest(kind=proxy.kind, credentials=credentials, port=port):
                run = self.run_program(self.message_args(port, *self.proxy_args(proxy, credentials)))
                self.assertRun(run, 1, re.compile(
                    r"\AMessage send failed \(Could not connect to \[127\.0\.0\.1\]:%d %s.*\)\n\Z"
                    % (port, reason)))
        # No proxy where one was named: the connect's reason is given.
        closed = free_port()
        for kind in ("SOCKS", "HTTPS"):
            with self.subTest(kind=kind, proxy="closed port"):
                run = self.run_program(self.message_args(
                    server.port, "-proxy:127.0.0.1:%d" % closed, "-proxytype:" + kind))
                self.assertRun(run, 1, "Message send failed (Could not connect to %s proxy [127.0.0.1]:%d "
                               "(connect() failed: Connection refused))\n" % (kind, closed))
        self.assertEqual(server.messages, [])

    def test_peer_that_is_no_proxy(self):
        server = self.peer()
        for kind in ("SOCKS", "HTTPS"):
            with self.subTest(kind):
                proxy_port = server.port  # an SMTP server is no proxy: it greets first
                run = self.run_program(self.message_args(
                    server.port, "-proxy:127.0.0.1:%d" % proxy_port, "-proxytype:" + kind))
                self.assertRun(run, 1, re.compile(r"via %s proxy \(" % kind))

    def test_bytes_after_the_proxy_answer_never_reach_tls(self):
        # A proxy that answers and at once sends what could pass for the
        # server's TLS handshake: implicit TLS must refuse to start on it.
        # The server's port is only named to the proxy: no server is there.
        fake = FakeServer([("send", b"HTTP/1.0 200 OK\r\n\r\n\x16\x03\x03\x00\x02ab"), ("wait_close",)])
        port = free_port()
        run = self.run_program(self.message_args(
            port, "-secureport", "-proxy:127.0.0.1:%d" % fake.port, "-proxytype:HTTPS"))
        self.assertRun(run, 1, "Message send failed (Could not connect to [127.0.0.1]:%d via "
                       "HTTPS proxy (proxy sent data after its answer))\n" % port)
        self.assertTrue(fake.join(), "the fake proxy did not finish")
        self.assertTrue(fake.data.startswith(b"CONNECT 127.0.0.1:%d HTTP/1.0\r\n" % port), fake.data)
