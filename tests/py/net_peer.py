"""A scripted loopback peer for the network library's tests.

Listens on a free port of the loopback address, prints "PORT <n>" once it
listens, takes one connection and runs its steps in order:

  send:HEX            send the bytes in one call
  drip:HEX            send them one byte per call (no Nagle delay)
  pause:MS            wait MS milliseconds
  chunks:N,M,...:HEX  send them in pieces of these sizes (repeated)
  expect:N            receive exactly N bytes, print "GOT <hex>"
  recvall             receive until the client closes, print "ALL <hex>"
  hold                wait until the client closes (a silent peer)
  close               close the connection (orderly end of stream)
  reset               close it with a reset
  starttls            switch to TLS as the server (needs --cert/--key)

Everything is bounded by --limit seconds, so a broken test cannot leave
the peer behind for long.
"""
import argparse
import socket
import ssl
import sys
import time


def recv_exact(conn, n):
    data = b""
    while len(data) < n:
        piece = conn.recv(n - len(data))
        if not piece:
            break
        data += piece
    return data


def recv_until_closed(conn):
    data = b""
    while True:
        try:
            piece = conn.recv(65536)
        except (ConnectionResetError, ssl.SSLError):
            break
        if not piece:
            break
        data += piece
    return data


def run(conn, steps, args):
    for step in steps:
        kind, _, rest = step.partition(":")
        if kind == "send":
            conn.sendall(bytes.fromhex(rest))
        elif kind == "drip":
            for b in bytes.fromhex(rest):
                conn.sendall(bytes([b]))
                # Paced so that the client's reads see single bytes.
                time.sleep(0.002)
        elif kind == "chunks":
            sizes, _, hexdata = rest.partition(":")
            sizes = [int(s) for s in sizes.split(",")]
            data = bytes.fromhex(hexdata)
            i = 0
            while data:
                n = sizes[i % len(sizes)]
                conn.sendall(data[:n])
                data = data[n:]
                i += 1
                time.sleep(0.002)
        elif kind == "pause":
            # Milliseconds before the next step, so that a client's read
            # finds nothing yet and waits.
            time.sleep(int(rest) / 1000)
        elif kind == "expect":
            print("GOT " + recv_exact(conn, int(rest)).hex(), flush=True)
        elif kind == "recvall":
            print("ALL " + recv_until_closed(conn).hex(), flush=True)
        elif kind == "hold":
            recv_until_closed(conn)
        elif kind == "close":
            conn.close()
            return
        elif kind == "reset":
            conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
            conn.close()
            return
        elif kind == "starttls":
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(args.cert, args.key)
            conn = context.wrap_socket(conn, server_side=True)
        else:
            raise SystemExit("unknown step " + step)
    conn.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--family", type=int, default=4)
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--limit", type=float, default=30)
    parser.add_argument("steps", nargs="*")
    args = parser.parse_args()
    family = socket.AF_INET6 if args.family == 6 else socket.AF_INET
    listener = socket.socket(family, socket.SOCK_STREAM)
    listener.bind(("::1" if args.family == 6 else "127.0.0.1", 0))
    listener.listen(1)
    listener.settimeout(args.limit)
    print("PORT %d" % listener.getsockname()[1], flush=True)
    try:
        conn, _ = listener.accept()
    except socket.timeout:
        return
    conn.settimeout(args.limit)
    conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    try:
        run(conn, args.steps, args)
    except (OSError, ssl.SSLError) as exc:
        print("ERROR %s" % exc, flush=True)


if __name__ == "__main__":
    sys.exit(main())
