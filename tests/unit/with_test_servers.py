#!/usr/bin/python3
"""Runs a unit test executable under Wine with local error-log servers around it.

Starts, on 127.0.0.1 and free ports, the servers the network unit tests talk to,
and passes their ports in the environment:
  VELMAR_TEST_HTTP_PORT     answers 200 with a JSON summary of what it received
  VELMAR_TEST_CREATED_PORT  answers 201
  VELMAR_TEST_STALL_PORT    reads the request and never answers
  VELMAR_TEST_CLOSED_PORT   nothing listens there
  VELMAR_TEST_TLS_PORT      https for "localhost", certificate from a fresh test CA
  VELMAR_TEST_CA_DER        Windows path of that CA certificate (DER)
The CA is made anew for each run, so no earlier run's trust carries over.

    with_test_servers.py PROGRAM.exe [ARGS...]
"""
import os
import socket
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE_DIR = os.path.abspath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, os.path.join(SOURCE_DIR, "tools"))
from errorlog_server import ErrorLogServer, Reply  # noqa: E402

WINE_RUN = os.path.join(SOURCE_DIR, "tests", "wine-run.sh")


def openssl(*args, cwd):
    subprocess.run(["openssl"] + list(args), cwd=cwd, check=True, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def make_test_ca(folder):
    """A CA and a server certificate for DNS name localhost it signed.
    Returns (chain PEM, key PEM, CA DER)."""
    with open(os.path.join(folder, "server.ext"), "w") as f:
        f.write("basicConstraints=critical,CA:FALSE\n"
                "keyUsage=critical,digitalSignature,keyEncipherment\n"
                "extendedKeyUsage=serverAuth\n"
                "subjectAltName=DNS:localhost\n")
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.pem",
            "-days", "2", "-subj", "/CN=Velmar Test CA %s" % os.urandom(4).hex(),
            "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign", cwd=folder)
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", "server.key", "-out", "server.csr",
            "-subj", "/CN=localhost", cwd=folder)
    openssl("x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
            "-out", "server.pem", "-days", "2", "-sha256", "-extfile", "server.ext", cwd=folder)
    openssl("x509", "-in", "ca.pem", "-outform", "der", "-out", "ca.der", cwd=folder)
    with open(os.path.join(folder, "chain.pem"), "w") as chain:
        for name in ("server.pem", "ca.pem"):
            with open(os.path.join(folder, name)) as f:
                chain.write(f.read())
    return (os.path.join(folder, "chain.pem"), os.path.join(folder, "server.key"),
            os.path.join(folder, "ca.der"))


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def main(argv):
    if not argv:
        print(__doc__, file=sys.stderr)
        return 2
    with tempfile.TemporaryDirectory(prefix="velmar-tls-") as folder:
        chain, key, ca_der = make_test_ca(folder)
        servers = {
            "VELMAR_TEST_HTTP_PORT": ErrorLogServer(port=0),
            "VELMAR_TEST_CREATED_PORT": ErrorLogServer(port=0, reply=Reply(status=201, body=b"created")),
            "VELMAR_TEST_STALL_PORT": ErrorLogServer(port=0, reply=Reply(framing="stall", stall_seconds=60)),
            "VELMAR_TEST_TLS_PORT": ErrorLogServer(port=0, tls=(chain, key)),
        }
        env = dict(os.environ)
        try:
            for name, server in servers.items():
                server.start()
                env[name] = str(server.port)
            env["VELMAR_TEST_CLOSED_PORT"] = str(free_port())
            env["VELMAR_TEST_CA_DER"] = "Z:" + ca_der.replace("/", "\\")
            return subprocess.run([WINE_RUN] + argv, env=env, stdin=subprocess.DEVNULL).returncode
        finally:
            for server in servers.values():
                server.stop()


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
