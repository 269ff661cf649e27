"""Runs inside a fresh network and mount namespace: brings loopback up,
points /etc/resolv.conf at a DNS responder on 127.0.0.1 that answers TXT
queries from a key table (JSON: name -> record), and runs a verifier on
each message file. Prints a JSON list of [status, stderr] per file.

Usage: private_dns.py keytable.json verifier message...
"""
import json
import socket
import subprocess
import sys
import tempfile
import threading

import dns.flags
import dns.message
import dns.rcode
import dns.rdatatype
import dns.rrset


def serve(sock, table):
    while True:
        data, peer = sock.recvfrom(4096)
        try:
            query = dns.message.from_wire(data)
        except Exception:
            continue
        reply = dns.message.make_response(query)
        question = query.question[0]
        record = table.get(question.name.to_text().lower())
        if record is not None and question.rdtype == dns.rdatatype.TXT:
            # Long records go out as strings of at most 255 bytes.
            chunks = " ".join('"%s"' % record[i:i + 255] for i in range(0, len(record), 255))
            reply.answer.append(dns.rrset.from_text(question.name, 60, "IN", "TXT", chunks))
        elif record is None:
            reply.set_rcode(dns.rcode.NXDOMAIN)
        sock.sendto(reply.to_wire(), peer)


def main():
    table_path, verifier, files = sys.argv[1], sys.argv[2], sys.argv[3:]
    with open(table_path) as f:
        table = {k.lower(): v for k, v in json.load(f).items()}
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    resolv = tempfile.NamedTemporaryFile("w", suffix=".conf", delete=False)
    resolv.write("nameserver 127.0.0.1\noptions attempts:1 timeout:5\n")
    resolv.close()
    subprocess.run(["mount", "--bind", resolv.name, "/etc/resolv.conf"], check=True)
    # Bound before any verifier starts, so the first query finds it ready.
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind(("127.0.0.1", 53))
    threading.Thread(target=serve, args=(sock, table), daemon=True).start()
    results = []
    for path in files:
        with open(path, "rb") as f:
            proc = subprocess.run([verifier], stdin=f, capture_output=True, timeout=60)
        results.append([proc.returncode, proc.stderr.decode("utf-8", "replace")])
    print(json.dumps(results))


main()
