#!/usr/bin/python3
"""A local error-log server: the receiving end of VelmarUpdate's crash reports.

It listens on 127.0.0.1 only, takes each request raw (request line, headers and
body, with or without Content-Length, chunked, "Expect: 100-continue"), splits a
multipart/form-data body into its text fields and its file part (form name, file
name as sent, size, SHA-256), records all that, and answers the way it was told:
any status and body, framed by Content-Length, by closing the connection, by
chunks, or cut short of its Content-Length; or it closes without answering, or
stalls. One connection carries one request ("Connection: close").

Used by the tests, the demo and the benchmark (curl -F posts to the same sink).

As a module (Python 3 standard library only):

    from errorlog_server import ErrorLogServer, Reply
    with ErrorLogServer(port=0, reply=Reply(status=500)) as server:
        ...post to server.url()...
        record = server.wait_for_requests(1)[0]
        record.fields, record.file.filename, record.file.sha256, record.body

As a script, it prints one JSON line per request on standard output:

    /usr/bin/python3 tools/errorlog_server.py --port 18742 --framing chunked --count 1
    curl -F name=x -F dump_file=@crash.dmp http://127.0.0.1:18742/index.php?do=adderrorlog
"""
import argparse
import dataclasses
import hashlib
import http
import ipaddress
import json
import os
import re
import socket
import ssl
import sys
import threading
import time

DEFAULT_PORT = 18742
DEFAULT_PATH = "/index.php?do=adderrorlog"

# How an answer ends, see Reply.
FRAMINGS = ("length", "none", "chunked", "short", "close", "stall")

_MAX_HEAD_BYTES = 64 * 1024
_RECV_PIECE = 4 * 1024 * 1024


@dataclasses.dataclass
class Reply:
    """How the server answers.

    framing:
      "length"  - Content-Length, then the whole body;
      "none"    - no Content-Length, the body ends when the connection closes;
      "chunked" - Transfer-Encoding: chunked;
      "short"   - Content-Length is short_by bytes more than the body that is sent;
      "close"   - the connection is closed without any answer;
      "stall"   - nothing is sent for stall_seconds, then the connection is closed.
    body None answers with a JSON summary of the request received.
    """
    status: int = 200
    body: bytes = None
    framing: str = "length"
    short_by: int = 1
    stall_seconds: float = 30.0
    content_type: str = "application/json; charset=utf-8"

    def __post_init__(self):
        if self.framing not in FRAMINGS:
            raise ValueError("framing must be one of %s" % ", ".join(FRAMINGS))


@dataclasses.dataclass
class Part:
    """One part of a multipart/form-data body."""
    name: str
    filename_bytes: bytes  # None for a part without a filename
    headers: list          # (name, value) pairs as text, in order
    size: int
    sha256: str
    data: bytes            # None when the server keeps no bodies

    @property
    def filename(self):
        return None if self.filename_bytes is None else self.filename_bytes.decode("utf-8", "replace")

    def header(self, name):
        for key, value in self.headers:
            if key.lower() == name.lower():
                return value
        return None


@dataclasses.dataclass
class RecordedRequest:
    """One request as received."""
    connection: int
    method: str
    target: str
    version: str
    headers: list          # (name, value) pairs in order, as sent
    body_size: int
    body_sha256: str
    body: bytes            # None when the server keeps no bodies
    complete: bool         # the whole announced body arrived
    parts: list            # Part objects, in body order; empty when not multipart
    error: str = None      # why the body could not be read or parsed

    def header(self, name):
        for key, value in self.headers:
            if key.lower() == name.lower():
                return value
        return None

    def header_count(self, name):
        return sum(1 for key, _ in self.headers if key.lower() == name.lower())

    @property
    def path(self):
        return self.target.split("?", 1)[0]

    @property
    def query(self):
        return self.target.split("?", 1)[1] if "?" in self.target else ""

    @property
    def user_agent(self):
        return self.header("User-Agent")

    @property
    def content_length(self):
        value = self.header("Content-Length")
        return None if value is None else int(value)

    @property
    def boundary(self):
        return multipart_boundary(self.header("Content-Type"))

    @property
    def fields(self):
        """The text parts as name -> value (UTF-8 decoded)."""
        return {p.name: (p.data.decode("utf-8", "replace") if p.data is not None else None)
                for p in self.parts if p.filename_bytes is None}

    @property
    def file(self):
        """The first part that carries a filename, or None."""
        for part in self.parts:
            if part.filename_bytes is not None:
                return part
        return None

    def summary(self):
        """What was received, as JSON-ready values."""
        file_part = self.file
        return {
            "connection": self.connection,
            "method": self.method,
            "target": self.target,
            "user_agent": self.user_agent,
            "content_type": self.header("Content-Type"),
            "content_length": self.content_length,
            "body_size": self.body_size,
            "complete": self.complete,
            "fields": {p.name: p.data.decode("utf-8", "replace") if p.data is not None else None
                       for p in self.parts if p.filename_bytes is None},
            "part_order": [p.name for p in self.parts],
            "file": None if file_part is None else {
                "part": file_part.name,
                "filename": file_part.filename,
                "size": file_part.size,
                "sha256": file_part.sha256,
            },
            "error": self.error,
        }


def multipart_boundary(content_type):
    """The boundary parameter of a multipart Content-Type value, or None."""
    if not content_type:
        return None
    match = re.search(r'(?i)\bboundary=("([^"]*)"|[^;\s]+)', content_type)
    if not match:
        return None
    return match.group(2) if match.group(2) is not None else match.group(1)


_NAME_RE = re.compile(rb'(?:^|;)\s*name="([^"]*)"')
_FILENAME_RE = re.compile(rb'(?:^|;)\s*filename="([^"]*)"')


def parse_multipart(body, boundary, keep_data=True):
    """Splits a multipart/form-data body into Part objects. Raises ValueError
    when the body does not follow the layout (delimiters, part headers, close)."""
    view = memoryview(body)
    delimiter = b"--" + boundary.encode("latin-1")
    if not bytes(view[:len(delimiter) + 2]) == delimiter + b"\r\n":
        raise ValueError("body does not start with the first delimiter")
    parts = []
    pos = len(delimiter) + 2
    while True:
        head_end = body.find(b"\r\n\r\n", pos)
        if head_end < 0:
            raise ValueError("part headers do not end")
        headers = []
        for line in bytes(view[pos:head_end]).split(b"\r\n"):
            key, sep, value = line.partition(b":")
            if not sep:
                raise ValueError("bad part header line %r" % line)
            headers.append((key.decode("latin-1").strip(), value.decode("utf-8", "replace").strip()))
        raw_disposition = b""
        for line in bytes(view[pos:head_end]).split(b"\r\n"):
            if line.lower().startswith(b"content-disposition:"):
                raw_disposition = line.split(b":", 1)[1]
        name = _NAME_RE.search(raw_disposition)
        filename = _FILENAME_RE.search(raw_disposition)
        data_start = head_end + 4
        data_end = body.find(b"\r\n" + delimiter, data_start)
        if data_end < 0:
            raise ValueError("part data does not end in a delimiter")
        data = view[data_start:data_end]
        parts.append(Part(name=name.group(1).decode("utf-8", "replace") if name else None,
                          filename_bytes=filename.group(1) if filename else None,
                          headers=headers, size=len(data), sha256=hashlib.sha256(data).hexdigest(),
                          data=bytes(data) if keep_data else None))
        pos = data_end + 2 + len(delimiter)
        after = bytes(view[pos:pos + 4])
        if after == b"--\r\n":
            if pos + 4 != len(body):
                raise ValueError("bytes after the closing delimiter")
            return parts
        if after[:2] != b"\r\n":
            raise ValueError("delimiter not followed by CR LF")
        pos += 2


class _ConnectionClosed(Exception):
    def __init__(self, partial=b""):
        super().__init__("connection closed")
        self.partial = partial


class _Reader:
    """Buffered reading from a socket for one request."""

    def __init__(self, sock):
        self.sock = sock
        self.buffer = bytearray()

    def _fill(self):
        piece = self.sock.recv(_RECV_PIECE)
        if not piece:
            raise _ConnectionClosed()
        self.buffer += piece

    def read_until(self, marker, limit):
        while True:
            at = self.buffer.find(marker)
            if at >= 0:
                out = bytes(self.buffer[:at])
                del self.buffer[:at + len(marker)]
                return out
            if len(self.buffer) > limit:
                raise ValueError("line or head too long")
            self._fill()

    def read_exact(self, count):
        """The next count bytes as a bytearray; raises _ConnectionClosed, which
        carries what did arrive, when the peer closes first."""
        out = bytearray(count)
        take = min(count, len(self.buffer))
        out[:take] = self.buffer[:take]
        del self.buffer[:take]
        pos = take
        with memoryview(out) as view:
            while pos < count:
                got = self.sock.recv_into(view[pos:], min(count - pos, _RECV_PIECE))
                if got == 0:
                    break
                pos += got
        if pos < count:
            del out[pos:]
            raise _ConnectionClosed(out)
        return out


class ErrorLogServer:
    """The server, listening on 127.0.0.1 (or another loopback address) only.

    port 0 picks a free port (see .port). tls=(certfile, keyfile) serves https.
    keep_bodies=False keeps only sizes and digests (for very large uploads).
    store_dir, when given, receives each file part as request-<n>.bin.
    on_request(record), when given, is called for each request recorded.
    """

    def __init__(self, port=DEFAULT_PORT, host="127.0.0.1", reply=None, tls=None, keep_bodies=True,
                 store_dir=None, on_request=None):
        if not ipaddress.ip_address(host).is_loopback:
            raise ValueError("the error-log server listens on loopback only")
        self.host = host
        self.requested_port = port
        self.reply = reply or Reply()
        self.tls = tls
        self.keep_bodies = keep_bodies
        self.store_dir = store_dir
        self.on_request = on_request
        self._lock = threading.Condition()
        self._requests = []
        self._connections = 0
        self._tls_failures = 0
        self._stop = threading.Event()
        self._listener = None
        self._thread = None
        self._context = None

    # -- life cycle -------------------------------------------------------
    def start(self):
        if self.tls:
            self._context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            self._context.load_cert_chain(*self.tls)
        listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        listener.bind((self.host, self.requested_port))
        listener.listen(16)
        listener.settimeout(0.1)
        self._listener = listener
        self._stop.clear()
        self._thread = threading.Thread(target=self._serve, name="errorlog-accept", daemon=True)
        self._thread.start()
        return self

    def stop(self):
        self._stop.set()
        if self._thread:
            self._thread.join(timeout=5)
        if self._listener:
            self._listener.close()
        self._listener = None
        self._thread = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    # -- what the tests look at ---------------------------------------------
    @property
    def port(self):
        return self._listener.getsockname()[1]

    def url(self, path=DEFAULT_PATH, host=None):
        scheme = "https" if self.tls else "http"
        return "%s://%s:%d%s" % (scheme, host or self.host, self.port, path)

    def set_reply(self, reply):
        with self._lock:
            self.reply = reply

    @property
    def requests(self):
        with self._lock:
            return list(self._requests)

    @property
    def connections(self):
        """Connections accepted so far, whether or not a request came on them."""
        with self._lock:
            return self._connections

    @property
    def tls_failures(self):
        with self._lock:
            return self._tls_failures

    def wait_for_requests(self, count, timeout=30.0):
        """The first count requests; raises TimeoutError when they do not come."""
        deadline = time.monotonic() + timeout
        with self._lock:
            while len(self._requests) < count:
                left = deadline - time.monotonic()
                if left <= 0:
                    raise TimeoutError("%d of %d requests arrived" % (len(self._requests), count))
                self._lock.wait(left)
            return list(self._requests[:count])

    def reset(self):
        with self._lock:
            self._requests = []
            self._connections = 0
            self._tls_failures = 0

    # -- serving -------------------------------------------------------------
    def _serve(self):
        while not self._stop.is_set():
            try:
                sock, _ = self._listener.accept()
            except socket.timeout:
                continue
            except OSError:
                break
            with self._lock:
                self._connections += 1
                number = self._connections
                reply = self.reply
            threading.Thread(target=self._handle, args=(sock, number, reply),
                             name="errorlog-conn-%d" % number, daemon=True).start()

    def _handle(self, sock, number, reply):
        sock.settimeout(60)
        try:
            if self._context is not None:
                try:
                    sock = self._context.wrap_socket(sock, server_side=True)
                except (ssl.SSLError, OSError):
                    with self._lock:
                        self._tls_failures += 1
                    return
            record = self._read_request(sock, number)
            if record is None:
                return
            with self._lock:
                self._requests.append(record)
                self._lock.notify_all()
            if self.store_dir and record.file is not None and record.file.data is not None:
                with open(os.path.join(self.store_dir, "request-%d.bin" % number), "wb") as f:
                    f.write(record.file.data)
            if self.on_request:
                self.on_request(record)
            self._answer(sock, reply, record)
        except OSError:
            pass
        finally:
            try:
                sock.close()
            except OSError:
                pass

    def _read_request(self, sock, number):
        reader = _Reader(sock)
        try:
            head = reader.read_until(b"\r\n\r\n", _MAX_HEAD_BYTES)
        except (_ConnectionClosed, ValueError, OSError):
            return None
        lines = head.split(b"\r\n")
        method, target, version = (lines[0].decode("latin-1").split(" ", 2) + ["", ""])[:3]
        headers = []
        for line in lines[1:]:
            key, _, value = line.decode("latin-1").partition(":")
            headers.append((key.strip(), value.strip()))
        record = RecordedRequest(connection=number, method=method, target=target, version=version,
                                 headers=headers, body_size=0, body_sha256="", body=None, complete=True, parts=[])
        if (record.header("Expect") or "").lower() == "100-continue":
            sock.sendall(b"HTTP/1.1 100 Continue\r\n\r\n")
        body = bytearray()
        try:
            if "chunked" in (record.header("Transfer-Encoding") or "").lower():
                while True:
                    size = int(reader.read_until(b"\r\n", 1024).split(b";")[0], 16)
                    if size == 0:
                        reader.read_until(b"\r\n", _MAX_HEAD_BYTES)
                        break
                    try:
                        body += reader.read_exact(size)
                    except _ConnectionClosed as closed:
                        body += closed.partial
                        raise
                    reader.read_until(b"\r\n", 16)
            elif record.header("Content-Length") is not None:
                try:
                    body = reader.read_exact(record.content_length)
                except _ConnectionClosed as closed:
                    body = closed.partial
                    raise
        except (_ConnectionClosed, OSError, ValueError) as error:
            record.complete = False
            record.error = "body incomplete: %s" % (type(error).__name__,)
        record.body_size = len(body)
        record.body_sha256 = hashlib.sha256(body).hexdigest()
        boundary = record.boundary
        if record.complete and boundary:
            try:
                record.parts = parse_multipart(body, boundary, keep_data=self.keep_bodies)
            except ValueError as error:
                record.error = "multipart: %s" % error
        if self.keep_bodies:
            record.body = bytes(body)
        return record

    def _answer(self, sock, reply, record):
        if reply.framing == "close":
            return
        if reply.framing == "stall":
            self._stop.wait(reply.stall_seconds)
            return
        body = reply.body
        if body is None:
            body = (json.dumps(record.summary(), ensure_ascii=False) + "\n").encode("utf-8")
        try:
            reason = http.HTTPStatus(reply.status).phrase
        except ValueError:
            reason = "Status"
        if reply.status in (204, 304) or 100 <= reply.status < 200:
            body = b""
        head = ["HTTP/1.1 %d %s" % (reply.status, reason), "Connection: close"]
        if body or reply.framing in ("length", "short"):
            head.append("Content-Type: %s" % reply.content_type)
        if reply.framing == "length":
            head.append("Content-Length: %d" % len(body))
        elif reply.framing == "short":
            head.append("Content-Length: %d" % (len(body) + reply.short_by))
        elif reply.framing == "chunked":
            head.append("Transfer-Encoding: chunked")
        data = ("\r\n".join(head) + "\r\n\r\n").encode("latin-1")
        if reply.framing == "chunked":
            half = len(body) // 2
            for piece in (body[:half], body[half:]):
                if piece:
                    data += b"%x\r\n%s\r\n" % (len(piece), piece)
            data += b"0\r\n\r\n"
        else:
            data += body
        sock.sendall(data)
        if isinstance(sock, ssl.SSLSocket):
            return
        try:
            sock.shutdown(socket.SHUT_WR)
        except OSError:
            pass


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--port", type=int, default=DEFAULT_PORT, help="port on 127.0.0.1 (0: any free one)")
    parser.add_argument("--status", type=int, default=200, help="status of the answer")
    parser.add_argument("--body", help="answer body (default: a JSON summary of the request)")
    parser.add_argument("--framing", choices=FRAMINGS, default="length", help="how the answer ends")
    parser.add_argument("--short-by", type=int, default=1, help="bytes missing with --framing short")
    parser.add_argument("--stall-seconds", type=float, default=30.0, help="wait with --framing stall")
    parser.add_argument("--tls-cert", help="certificate chain (PEM): serve https")
    parser.add_argument("--tls-key", help="private key (PEM) of --tls-cert")
    parser.add_argument("--count", type=int, default=0, help="exit after this many requests (0: never)")
    parser.add_argument("--record", help="append each request's JSON summary to this file")
    parser.add_argument("--store-dir", help="save each received file part in this folder")
    parser.add_argument("--no-keep-bodies", action="store_true", help="keep only sizes and digests")
    args = parser.parse_args(argv)

    reply = Reply(status=args.status, body=None if args.body is None else args.body.encode("utf-8"),
                  framing=args.framing, short_by=args.short_by, stall_seconds=args.stall_seconds)
    done = threading.Event()
    seen = [0]

    def on_request(record):
        line = json.dumps(record.summary(), ensure_ascii=False)
        print(line, flush=True)
        if args.record:
            with open(args.record, "a", encoding="utf-8") as f:
                f.write(line + "\n")
        seen[0] += 1
        if args.count and seen[0] >= args.count:
            done.set()

    tls = (args.tls_cert, args.tls_key) if args.tls_cert else None
    keep = not args.no_keep_bodies or bool(args.store_dir)
    server = ErrorLogServer(port=args.port, reply=reply, tls=tls, keep_bodies=keep, store_dir=args.store_dir,
                            on_request=on_request)
    server.start()
    print("listening on %s" % server.url(), file=sys.stderr, flush=True)
    try:
        while not done.wait(0.2):
            pass
        time.sleep(0.2)  # let the last answer go out
    except KeyboardInterrupt:
        pass
    finally:
        server.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
