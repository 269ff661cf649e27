"""Two independent DKIM verifiers for the tests' messages, each given the
public keys of the tests' own key table (selector, domain -> TXT record):

- python3-dkim, whose `dnsfunc` hook answers from the table;
- opendkim-testmsg, which asks the system resolver: it runs in a network
  and mount namespace of its own where /etc/resolv.conf names a DNS
  responder on loopback that answers from the table (private_dns.py).

Each signature of a message is verified on its own: the message is given
with that one DKIM-Signature field and without the others.
"""
import base64
import json
import os
import re
import subprocess
import sys

import dkim
from cryptography.hazmat.primitives import serialization

HERE = os.path.dirname(os.path.abspath(__file__))
PYTHON = "/usr/bin/python3"
TESTMSG = "/usr/sbin/opendkim-testmsg"


def make_key(folder, name, algorithm):
    """A fresh private key file made by openssl; returns (path, TXT record)."""
    path = os.path.join(folder, name + ".pem")
    args = ["openssl", "genpkey", "-algorithm", algorithm, "-out", path]
    if algorithm == "RSA":
        args += ["-pkeyopt", "rsa_keygen_bits:2048"]
    subprocess.run(args, check=True, capture_output=True)
    with open(path, "rb") as f:
        key = serialization.load_pem_private_key(f.read(), password=None)
    if algorithm == "RSA":
        der = key.public_key().public_bytes(serialization.Encoding.DER,
                                            serialization.PublicFormat.SubjectPublicKeyInfo)
        record = "v=DKIM1; k=rsa; p=" + base64.b64encode(der).decode()
    else:
        raw = key.public_key().public_bytes(serialization.Encoding.Raw,
                                            serialization.PublicFormat.Raw)
        record = "v=DKIM1; k=ed25519; p=" + base64.b64encode(raw).decode()
    return path, record


def split_signatures(message):
    """(list of DKIM-Signature fields, the message without them)."""
    head, sep, body = message.partition(b"\r\n\r\n")
    fields, rest = [], []
    for line in re.split(rb"\r\n(?![ \t])", head):
        target = fields if line.lower().startswith(b"dkim-signature:") else rest
        target.append(line + b"\r\n")
    return fields, b"".join(rest) + b"\r\n" + body


def single_signed(message):
    """One message per signature, holding that signature only."""
    fields, rest = split_signatures(message)
    return [f + rest for f in fields]


def table_name(selector, domain):
    return "%s._domainkey.%s." % (selector, domain)


def python_verify(messages, table):
    """python3-dkim's verdict (True/False) for each single-signed message."""
    def dnsfunc(name, timeout=5):
        return table.get(name.decode().lower(), "").encode()
    def verify(m):
        try:
            return bool(dkim.DKIM(m).verify(dnsfunc=dnsfunc))
        except dkim.ValidationError:
            return False
    return [verify(m) for m in messages]


def opendkim_verify(messages, table, folder):
    """(status, stderr) of opendkim-testmsg for each single-signed message."""
    paths = []
    for i, m in enumerate(messages):
        path = os.path.join(folder, "verify-%d.eml" % i)
        with open(path, "wb") as f:
            # The verifier reads the message with LF line ends, as a mail
            # filter hands it over.
            f.write(m.replace(b"\r\n", b"\n"))
        paths.append(path)
    table_path = os.path.join(folder, "keytable.json")
    with open(table_path, "w") as f:
        json.dump(table, f)
    proc = subprocess.run(["unshare", "--net", "--mount", PYTHON, os.path.join(HERE, "private_dns.py"),
                           table_path, TESTMSG] + paths, capture_output=True, timeout=120)
    if proc.returncode != 0:
        raise RuntimeError("private DNS run failed: %r" % proc.stderr)
    return [tuple(r) for r in json.loads(proc.stdout)]


def can_run_opendkim():
    if not os.path.exists(TESTMSG):
        return "opendkim-testmsg is not installed"
    if subprocess.run(["unshare", "--net", "--mount", "true"], capture_output=True).returncode != 0:
        return "no network namespace can be made here"
    return None
