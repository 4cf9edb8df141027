#!/usr/bin/python3
"""A small update server for trying VelmarUpdate locally.

Serves a folder laid out as the real server is:
    <root>/update/version.ini                     the manifest ([main] version, miniver, newest)
    <root>/update/<installed>-<new>/velmar.diff   one differential patch per pair of versions
    <root>/<anything>                             e.g. the full installer named by "newest"

Run it:   /usr/bin/python3 tools/update_server.py --root DIR --port 18741
and build the updater with VELMAR_UPDATE_BASE_URL=http://127.0.0.1:18741/update/.
With --sign-key KEY.pem it answers a request for FILE.sig that has no file of
its own with a fresh signature of FILE (openssl dgst -sha256 -sign), as a
signed release would have it; a .sig on disk, or a fault for it, wins. With
--log-key LOG_KEY.pem --log-origin ORIGIN it answers update/version.ini.tlog-proof
by appending the version.ini it serves to the log beside it (tools/tlog append,
which writes update/log/ and the proof) first, as a logged release has it; a
fault for the proof wins.
Files go out with a strong ETag and Last-Modified, and "Range: bytes=N-" (with an
If-Range that names the file, or none) gets the rest as a 206; --rate caps the
speed as a slower line would. It listens on 127.0.0.1 only and answers GET. Tests import it and script odd
answers per path: status codes, bodies cut short of their Content-Length, no
Content-Length, and the ways real networks misbehave: no answer at all, a body
that stops halfway, a body that trickles, redirects. (Crash reports, and every
other POST, go to tools/errorlog_server.py.)
"""
import argparse
import contextlib
import dataclasses
import email.utils
import http.server
import importlib.machinery
import importlib.util
import io
import os
import posixpath
import select
import subprocess
import sys
import threading
import time
import urllib.parse


@dataclasses.dataclass
class Fault:
    """How to answer one path instead of serving the file.

    stall:          send nothing at all, before the status line, for this many seconds
    stall_after:    send the head and this many body bytes, then nothing for `stall` seconds
    trickle:        send the body `trickle_bytes` bytes at a time, one piece every `trickle` seconds
    trickle_head:   send the status line and headers one byte every this many seconds
    redirect:       answer `status` (a 3xx) with this Location
    headers:        more header lines, name -> value (a Retry-After, say)
    content_length: the Content-Length exactly as written (leading zeros, say) instead of the body's
    cut_file_at:    serve the real file as usual (ranges too), but close after this many body bytes
    no_length:      with cut_file_at: the file's answer carries no Content-Length
    no_validators:  with cut_file_at: the file's answer carries neither ETag nor Last-Modified
    endless:        a keep-alive 200 whose body (zeros, under `content_length`) never ends
    times:          answer this way this many times, then serve the file again (None: always)
    A stall ends early when the client goes away.
    """

    status: int = 200
    body: bytes = b""
    cut_short_by: int = 0
    no_length: bool = False
    stall: float = None
    stall_after: int = None
    trickle: float = None
    trickle_bytes: int = 1
    trickle_head: float = None
    redirect: str = None
    headers: dict = None
    content_length: str = None
    cut_file_at: int = None
    no_validators: bool = False
    endless: bool = False
    times: int = None


def sign_file(key, path):
    """The DER ECDSA signature over the SHA-256 of the file, as a release carries it."""
    return subprocess.run(["openssl", "dgst", "-sha256", "-sign", key, path], check=True,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE).stdout


def is_log_path(path):
    """The transparency log's files: a proof, and what lies under log/."""
    return path.endswith(".tlog-proof") or "/log/" in path


def load_tlog():
    """tools/tlog as a module."""
    loader = importlib.machinery.SourceFileLoader("tlog", os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                                       "tlog"))
    module = importlib.util.module_from_spec(importlib.util.spec_from_loader("tlog", loader))
    loader.exec_module(module)
    return module


class UpdateServer(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self, root, port=0, sign_key=None, rate=None, log_key=None, log_origin=None):
        self.root = os.path.abspath(root)
        self.sign_key = sign_key
        self.log_key, self.log_origin = log_key, log_origin
        self.tlog = load_tlog() if log_key else None
        self.rate = rate  # bytes a second for files, as a line of that speed would carry them; None: no cap
        self.faults = {}
        self.requests = []
        self.headers_seen = []  # (path, Range, If-Range) of each request but the log's
        self.bytes_served = 0   # body bytes of files sent
        self.lock = threading.Lock()
        super().__init__(("127.0.0.1", port), Handler)

    @property
    def port(self):
        return self.server_address[1]

    def start(self):
        thread = threading.Thread(target=self.serve_forever, daemon=True)
        thread.start()
        return self

    def stop(self):
        self.shutdown()
        self.server_close()

    def handle_error(self, request, client_address):
        # A client that goes away in the middle of an answer (the updater leaves a refused one unread) is
        # what the tests ask for, not an error of the server's.
        if not isinstance(sys.exc_info()[1], (ConnectionResetError, BrokenPipeError)):
            super().handle_error(request, client_address)

    def requested_paths(self, with_log=False):
        """The paths asked for; the log's (the proof, log/...) only with_log: the other tests count the
        manifest, its signature and the packages."""
        with self.lock:
            return [path for path in self.requests if with_log or not is_log_path(path)]

    def log_manifest(self, proof):
        """Appends the version.ini beside the proof's path to its log and so writes the proof."""
        site = os.path.dirname(os.path.dirname(proof))
        if os.path.basename(os.path.dirname(proof)) != "update" or not os.path.isfile(proof[:-len(".tlog-proof")]):
            return
        with self.lock, contextlib.redirect_stdout(io.StringIO()):
            self.tlog.append(site, self.log_key, self.log_origin)


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "VelmarTestUpdateServer/1.0"

    def log_message(self, fmt, *args):
        pass

    def do_GET(self):
        path = urllib.parse.urlsplit(self.path).path
        with self.server.lock:
            self.server.requests.append(path)
            if not is_log_path(path):
                self.server.headers_seen.append((path, self.headers.get("Range"), self.headers.get("If-Range")))
            fault = self.server.faults.get(path)
            if fault is not None and fault.times is not None:
                fault.times -= 1
                if fault.times <= 0:
                    del self.server.faults[path]
        if fault is not None and fault.cut_file_at is None:
            return self.answer_fault(fault)
        try:
            self.serve_file(path, fault)
        except (BrokenPipeError, ConnectionResetError):
            pass

    def serve_file(self, path, fault=None):
        """The file, with a strong ETag and Last-Modified, and the rest of it for "Range: bytes=N-" when
        If-Range is absent or names this very file; a fault may cut it and leave headers out."""
        cut_at = None if fault is None else fault.cut_file_at
        local = self.local_path(path)
        if local is not None and not os.path.isfile(local) and self.server.sign_key and local.endswith(".sig") \
                and os.path.isfile(local[:-4]):
            return self.answer_fault(Fault(200, sign_file(self.server.sign_key, local[:-4])))
        if local is not None and self.server.log_key and local.endswith(os.sep + "version.ini.tlog-proof"):
            self.server.log_manifest(local)
        if local is None or not os.path.isfile(local):
            return self.answer_fault(Fault(404, b"not found\n"))
        stat = os.stat(local)
        etag = '"%x-%x"' % (stat.st_size, stat.st_mtime_ns)
        modified = email.utils.formatdate(stat.st_mtime, usegmt=True)
        start = 0
        wanted = self.headers.get("Range", "")
        if wanted.startswith("bytes=") and wanted.endswith("-") and wanted[6:-1].isdigit() \
                and self.headers.get("If-Range", etag) in (etag, modified):
            start = int(wanted[6:-1])
            if start >= stat.st_size:
                return self.answer_fault(Fault(416, b""))
        self.send_response(206 if start else 200)
        self.send_header("Content-Type", "application/octet-stream")
        if fault is None or not fault.no_length:
            self.send_header("Content-Length", str(stat.st_size - start))
        if start:
            self.send_header("Content-Range", "bytes %d-%d/%d" % (start, stat.st_size - 1, stat.st_size))
        if fault is None or not fault.no_validators:
            self.send_header("ETag", etag)
            self.send_header("Last-Modified", modified)
        if cut_at is not None:
            self.send_header("Connection", "close")
            self.close_connection = True
        self.end_headers()
        with open(local, "rb") as f:
            f.seek(start)
            self.send_paced(f, stat.st_size - start if cut_at is None else min(cut_at, stat.st_size - start))

    def send_paced(self, f, count):
        """count bytes of f, no faster than the server's rate."""
        began = time.monotonic()
        sent = 0
        while sent < count:
            piece = f.read(min(count - sent, 1024 * 1024 if self.server.rate is None else 256 * 1024))
            if not piece:
                break
            self.wfile.write(piece)
            sent += len(piece)
            with self.server.lock:
                self.server.bytes_served += len(piece)
            if self.server.rate:
                ahead = sent / self.server.rate - (time.monotonic() - began)
                if ahead > 0:
                    time.sleep(ahead)
        self.wfile.flush()

    def wait_unless_gone(self, seconds):
        """Sleeps, but returns as soon as the client has closed its end. Bytes the
        client still sends are dropped."""
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            readable, _, _ = select.select([self.connection], [], [], min(0.2, max(0, deadline - time.monotonic())))
            try:
                if readable and not self.connection.recv(65536):
                    return
            except OSError:
                return

    def answer_fault(self, fault):
        self.close_connection = True
        try:
            self.misbehave(fault)
        except (BrokenPipeError, ConnectionResetError):
            pass

    def misbehave(self, fault):
        if fault.endless:
            self.close_connection = False  # keep-alive: a client that closes early may read on
            self.send_response(200)
            self.send_header("Content-Length", fault.content_length)
            self.end_headers()
            zeros = bytes(256 * 1024)
            while True:
                self.wfile.write(zeros)
                with self.server.lock:
                    self.server.bytes_served += len(zeros)
        if fault.stall is not None and fault.stall_after is None:
            self.wait_unless_gone(fault.stall)
            return
        if fault.trickle_head is not None:
            head = b"HTTP/1.1 %d Status\r\nContent-Length: %d\r\nX-Padding: %s\r\n\r\n" % (
                fault.status, len(fault.body), b"." * 4096)
            for at in range(len(head)):
                self.wfile.write(head[at:at + 1])
                self.wfile.flush()
                time.sleep(fault.trickle_head)
            self.wfile.write(fault.body)
            return
        self.send_response(fault.status)
        self.send_header("Connection", "close")
        for name, value in (fault.headers or {}).items():
            self.send_header(name, value)
        if fault.redirect is not None:
            self.send_header("Location", fault.redirect)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        self.send_header("Content-Type", "application/octet-stream")
        if fault.content_length is not None:
            self.send_header("Content-Length", fault.content_length)
        elif not fault.no_length:
            self.send_header("Content-Length", str(len(fault.body) + fault.cut_short_by))
        self.end_headers()
        if fault.stall_after is not None:
            self.wfile.write(fault.body[:fault.stall_after])
            self.wfile.flush()
            self.wait_unless_gone(fault.stall or 60)
            return
        if fault.trickle is not None:
            for at in range(0, len(fault.body), fault.trickle_bytes):
                self.wfile.write(fault.body[at:at + fault.trickle_bytes])
                self.wfile.flush()
                time.sleep(fault.trickle)
            return
        self.wfile.write(fault.body)

    def local_path(self, url_path):
        # Only files below the root, whatever the request says.
        clean = posixpath.normpath(urllib.parse.unquote(url_path)).lstrip("/")
        if clean.startswith(".."):
            return None
        full = os.path.abspath(os.path.join(self.server.root, clean))
        return full if full.startswith(self.server.root + os.sep) else None


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--root", required=True, help="folder to serve")
    parser.add_argument("--port", type=int, default=18741)
    parser.add_argument("--sign-key", help="private key (PEM) that signs FILE.sig answers on the fly")
    parser.add_argument("--log-key", help="the log's private key (PEM): each proof asked for logs version.ini first")
    parser.add_argument("--log-origin", help="the log's origin, with --log-key")
    parser.add_argument("--rate", type=float, help="serve files at most this many MiB a second")
    args = parser.parse_args()
    if bool(args.log_key) != bool(args.log_origin):
        parser.error("--log-key and --log-origin go together")
    server = UpdateServer(args.root, args.port, sign_key=args.sign_key,
                          rate=None if args.rate is None else args.rate * 1024 * 1024, log_key=args.log_key,
                          log_origin=args.log_origin)
    print("serving %s on http://127.0.0.1:%d/" % (server.root, server.port), flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
