#!/usr/bin/python3
"""A local error-log server: the receiving end of VelmarUpdate's crash reports.

It listens on 127.0.0.1 only. http.server reads each request (with or without
"Expect: 100-continue"); the body, announced by Content-Length, streams through a
multipart/form-data splitter that finds its text fields and its file part (form
name, file name as sent, size, SHA-256). The server records all that and answers
the way it was told: any status (a 429 or 503 with a Retry-After, say) and body,
framed by Content-Length, by closing the connection, by chunks, or cut short of
its Content-Length; or it closes without answering, or stalls. It can also
misbehave as a bad network does: leave the body unread, stall halfway through
its answer, send its head or body a byte at a time, redirect. One connection
carries one request ("Connection: close").

The one POST sink of the tests, the demo and the benchmark (curl -F posts to it
too). With keep_bodies=False or count_only=True a body of any size passes in
bounded memory.

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
import http.server
import ipaddress
import json
import os
import re
import select
import ssl
import sys
import threading
import time

DEFAULT_PORT = 18742
DEFAULT_PATH = "/index.php?do=adderrorlog"

# How an answer ends, see Reply.
FRAMINGS = ("length", "none", "chunked", "short", "close", "stall")

_PIECE = 1024 * 1024              # request bodies are read this much at a time
_STREAMED_HEAD_LIMIT = 64 * 1024  # part headers longer than this end a streamed parse


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
    Misbehaving on top of that:
      read_body=False  - the request body is left unread (the client's send then blocks);
      location         - a Location header, for a redirect status;
      retry_after      - a Retry-After header (seconds or an HTTP date), for a 429 or 503 that sheds load;
      stall_after      - the head and this many bytes of the body, then nothing for stall_seconds;
      trickle          - the body one byte every this many seconds;
      trickle_head     - the head, padded to over 4 KiB, one byte every this many seconds;
      endless          - after the head (no Content-Length), zeros as fast as the client takes them,
                         for as long as it does; the server counts them in streamed_bytes.
    Stalls and trickles end early when the client goes away or the server stops.
    """
    status: int = 200
    body: bytes = None
    framing: str = "length"
    short_by: int = 1
    stall_seconds: float = 30.0
    content_type: str = "application/json; charset=utf-8"
    read_body: bool = True
    location: str = None
    retry_after: str = None
    stall_after: int = None
    trickle: float = None
    trickle_head: float = None
    endless: bool = False

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
    body_sha256: str       # None when the server only counts bodies
    body: bytes            # None when the server keeps no bodies
    complete: bool         # the whole announced body arrived
    parts: list            # Part objects, in body order; empty when not multipart or only counted
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
            "fields": self.fields,
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


class MultipartParser:
    """Splits a multipart/form-data body, fed in pieces, into Part objects.

    The layout is checked strictly: the body starts with the first delimiter and
    CR LF; each part's header lines end in an empty line and all carry a colon;
    its data ends at CR LF and the next delimiter, which is followed by CR LF and
    the next part, or by "--" CR LF and the end of the body. Besides the piece at
    hand it holds only part headers, a few bytes that may begin a delimiter and,
    with keep_data, the parts' bytes. head_limit bounds the part headers."""

    def __init__(self, boundary, keep_data=True, head_limit=None):
        self._delimiter = b"--" + boundary.encode("latin-1")
        self._marker = b"\r\n" + self._delimiter
        self._keep, self._head_limit = keep_data, head_limit
        self._buffer = bytearray()  # what is not taken yet
        self._state = "first delimiter"
        self._part, self._hash, self._data = None, None, []
        self.parts = []
        self.error = None

    def feed(self, data):
        """Takes the next piece. A layout error is kept for close(); later pieces are ignored."""
        if self.error is None:
            self._buffer += data
            try:
                self._advance()
            except ValueError as error:
                self.error = str(error)

    def close(self):
        """The parts of a body that has ended; raises ValueError when it broke the layout."""
        if self.error is None and self._state != "done":
            self.error = {"first delimiter": "body does not start with the first delimiter",
                          "head": "part headers do not end",
                          "data": "part data does not end in a delimiter"}.get(self._state,
                                                                              "delimiter not followed by CR LF")
        if self.error is not None:
            raise ValueError(self.error)
        return self.parts

    def _advance(self):
        buffer = self._buffer  # deleting from its front is cheap
        while True:
            if self._state == "first delimiter":
                if len(buffer) < len(self._delimiter) + 2:
                    return
                if buffer[:len(self._delimiter) + 2] != self._delimiter + b"\r\n":
                    raise ValueError("body does not start with the first delimiter")
                del buffer[:len(self._delimiter) + 2]
                self._state = "head"
            elif self._state == "head":
                end = buffer.find(b"\r\n\r\n")
                if end < 0:
                    if self._head_limit is not None and len(buffer) > self._head_limit:
                        raise ValueError("part headers do not end")
                    return
                self._begin_part(bytes(buffer[:end]))
                del buffer[:end + 4]
                self._state = "data"
            elif self._state == "data":
                end = buffer.find(self._marker)
                # Without a whole delimiter, the last bytes may begin one.
                self._take(end if end >= 0 else max(0, len(buffer) - len(self._marker) + 1))
                if end < 0:
                    return
                del buffer[:len(self._marker)]
                self._end_part()
                self._state = "after delimiter"
            elif self._state == "after delimiter":
                if len(buffer) < 2 or buffer[:2] == b"--" and len(buffer) < 4:
                    return
                if buffer[:2] != b"\r\n" and buffer[:4] != b"--\r\n":
                    raise ValueError("delimiter not followed by CR LF")
                self._state = "head" if buffer[:2] == b"\r\n" else "done"
                del buffer[:2 if self._state == "head" else 4]
            else:
                if buffer:
                    raise ValueError("bytes after the closing delimiter")
                return

    def _begin_part(self, head):
        headers, raw_disposition = [], b""
        for line in head.split(b"\r\n"):
            key, sep, value = line.partition(b":")
            if not sep:
                raise ValueError("bad part header line %r" % line)
            headers.append((key.decode("latin-1").strip(), value.decode("utf-8", "replace").strip()))
            if line.lower().startswith(b"content-disposition:"):
                raw_disposition = value
        name = _NAME_RE.search(raw_disposition)
        filename = _FILENAME_RE.search(raw_disposition)
        self._part = Part(name=name.group(1).decode("utf-8", "replace") if name else None,
                          filename_bytes=filename.group(1) if filename else None,
                          headers=headers, size=0, sha256=None, data=None)
        self._hash, self._data = hashlib.sha256(), []

    def _take(self, count):
        """Takes the first count bytes of the buffer as part data."""
        with memoryview(self._buffer) as view:
            self._hash.update(view[:count])
            if self._keep:
                self._data.append(bytes(view[:count]))
        self._part.size += count
        del self._buffer[:count]

    def _end_part(self):
        self._part.sha256 = self._hash.hexdigest()
        self._part.data = b"".join(self._data) if self._keep else None
        self.parts.append(self._part)


def parse_multipart(body, boundary, keep_data=True):
    """Splits a whole multipart/form-data body into Part objects. Raises ValueError
    when the body does not follow the layout (delimiters, part headers, close)."""
    parser = MultipartParser(boundary, keep_data)
    parser.feed(body)
    return parser.close()


class _Handler(http.server.BaseHTTPRequestHandler):
    """Records one request and answers it as the server's Reply says."""
    protocol_version = "HTTP/1.1"  # also answers "Expect: 100-continue"
    timeout = 60                   # seconds a silent client is waited for

    def __init__(self, request, client_address, server, number):
        self.number = number
        super().__init__(request, client_address, server)

    def log_message(self, format, *args):
        pass

    def do_POST(self):
        owner = self.server.owner
        with owner._lock:
            reply = owner.reply
        self.close_connection = True
        record = RecordedRequest(connection=self.number, method=self.command, target=self.path,
                                 version=self.request_version,
                                 headers=[(key.strip(), value.strip()) for key, value in self.headers.items()],
                                 body_size=0, body_sha256=None, body=None, complete=False, parts=[])
        try:
            if reply.read_body:
                self._read_body(record, owner)
            else:
                record.error = "body left unread"
            owner._add(record)
            self._answer(reply, record)
        except OSError:
            pass  # the client went away

    do_GET = do_PUT = do_POST  # recorded and answered alike

    def _read_body(self, record, owner):
        keep = owner.keep_bodies and not owner.count_only
        body = bytearray() if keep else None
        body_hash = None if owner.count_only else hashlib.sha256()
        boundary = record.boundary
        parser = None if owner.count_only or not boundary else MultipartParser(
            boundary, keep_data=keep, head_limit=None if keep else _STREAMED_HEAD_LIMIT)
        try:
            if "chunked" in (record.header("Transfer-Encoding") or "").lower():
                raise ValueError("chunked request bodies are not read")
            left = record.content_length or 0
            piece = bytearray(min(left, _PIECE))
            while left > 0:
                got = self.rfile.readinto(memoryview(piece)[:min(left, _PIECE)])
                if not got:
                    raise EOFError("connection closed")
                left -= got
                record.body_size += got
                if body is not None:
                    body += memoryview(piece)[:got]
                if body_hash is not None:
                    body_hash.update(memoryview(piece)[:got])
                if parser is not None:
                    parser.feed(memoryview(piece)[:got])
            record.complete = True
        except (EOFError, OSError, ValueError) as error:
            record.error = "body incomplete: %s" % error
        if body_hash is not None:
            record.body_sha256 = body_hash.hexdigest()
        if body is not None:
            record.body = bytes(body)
        if record.complete and parser is not None:
            try:
                record.parts = parser.close()
            except ValueError as error:
                record.error = "multipart: %s" % error

    def _answer(self, reply, record):
        if reply.framing == "close":
            return
        if reply.framing == "stall":
            return self._idle(reply.stall_seconds, drain=reply.read_body)
        body = reply.body
        if body is None:
            body = (json.dumps(record.summary(), ensure_ascii=False) + "\n").encode("utf-8")
        if reply.status in (204, 304) or 100 <= reply.status < 200:
            body = b""
        reason = self.responses.get(reply.status, ("Status",))[0]
        head = ["HTTP/1.1 %d %s" % (reply.status, reason), "Connection: close"]
        if reply.location is not None:
            head.append("Location: %s" % reply.location)
        if reply.retry_after is not None:
            head.append("Retry-After: %s" % reply.retry_after)
        if body or reply.framing in ("length", "short"):
            head.append("Content-Type: %s" % reply.content_type)
        if reply.framing in ("length", "short"):
            head.append("Content-Length: %d" % (len(body) + (reply.short_by if reply.framing == "short" else 0)))
        elif reply.framing == "chunked":
            head.append("Transfer-Encoding: chunked")
            half = len(body) // 2
            body = b"".join(b"%x\r\n%s\r\n" % (len(p), p) for p in (body[:half], body[half:]) if p) + b"0\r\n\r\n"
        if reply.trickle_head is not None:
            head.append("X-Padding: " + "." * 4096)
        head = ("\r\n".join(head) + "\r\n\r\n").encode("latin-1")
        if reply.trickle_head is not None:
            self._trickle(head, reply.trickle_head)
            head = b""
        if reply.endless:
            self.wfile.write(head)
            zeros = bytes(256 * 1024)
            while not self.server.owner._stopping.is_set():
                self.wfile.write(zeros)
                with self.server.owner._lock:
                    self.server.owner.streamed_bytes += len(zeros)
        elif reply.stall_after is not None:
            self.wfile.write(head + body[:reply.stall_after])
            self._idle(reply.stall_seconds)
        elif reply.trickle is not None:
            self.wfile.write(head)
            self._trickle(body, reply.trickle)
        else:
            self.wfile.write(head + body)

    def _trickle(self, data, seconds):
        for at in range(len(data)):
            self.wfile.write(data[at:at + 1])
            if self.server.owner._stopping.wait(seconds):
                return

    def _idle(self, seconds, drain=True):
        """Sends nothing for this long; ends early when the server stops or, unless
        drain is False (what the client sends then stays unread), when the client
        has gone away. What the client still sends is dropped."""
        deadline = time.monotonic() + seconds
        stopping = self.server.owner._stopping
        while not stopping.is_set():
            left = deadline - time.monotonic()
            if left <= 0:
                return
            if not drain:
                stopping.wait(min(0.2, left))
            elif select.select([self.connection], [], [], min(0.2, left))[0] and not self.connection.recv(65536):
                return


class _HTTPServer(http.server.ThreadingHTTPServer):
    """One run of an ErrorLogServer: numbers connections as they are accepted and
    makes the TLS handshake on each connection's own thread."""
    daemon_threads = True
    block_on_close = False
    request_queue_size = 16

    def __init__(self, owner):
        self.owner = owner
        super().__init__((owner.host, owner.requested_port), _Handler)

    def get_request(self):
        # Counted and numbered as accepted, whatever follows.
        sock, address = super().get_request()
        with self.owner._lock:
            self.owner._connections += 1
            return sock, (address, self.owner._connections)

    def finish_request(self, sock, address_and_number):
        address, number = address_and_number
        context = self.owner._context
        if context is not None:
            sock.settimeout(_Handler.timeout)
            try:
                sock = context.wrap_socket(sock, server_side=True)
            except (ssl.SSLError, OSError):
                with self.owner._lock:
                    self.owner._tls_failures += 1
                return
        try:
            _Handler(sock, address, self, number)
        finally:
            if context is not None:
                sock.close()


class ErrorLogServer:
    """The server, listening on 127.0.0.1 (or another loopback address) only.

    port 0 picks a free port (see .port). tls=(certfile, keyfile) serves https.
    keep_bodies=False keeps only sizes and digests: the body streams through in
    pieces, whatever its size. count_only=True keeps only each body's size, with
    no digest and no parts: the fastest sink, for benchmarks.
    store_dir, when given, receives each file part as request-<n>.bin (needs keep_bodies).
    on_request(record), when given, is called for each request recorded.
    """

    def __init__(self, port=DEFAULT_PORT, host="127.0.0.1", reply=None, tls=None, keep_bodies=True,
                 store_dir=None, on_request=None, count_only=False):
        if not ipaddress.ip_address(host).is_loopback:
            raise ValueError("the error-log server listens on loopback only")
        self.host = host
        self.requested_port = port
        self.reply = reply or Reply()
        self.tls = tls
        self.keep_bodies = keep_bodies
        self.count_only = count_only
        self.store_dir = store_dir
        self.on_request = on_request
        self._lock = threading.Condition()
        self._requests = []
        self._connections = 0
        self.streamed_bytes = 0  # of endless replies
        self._tls_failures = 0
        self._stopping = threading.Event()
        self._httpd = None
        self._context = None

    # -- life cycle -------------------------------------------------------
    def start(self):
        if self.tls:
            self._context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            self._context.load_cert_chain(*self.tls)
        self._stopping.clear()
        self._httpd = _HTTPServer(self)
        threading.Thread(target=self._httpd.serve_forever, kwargs={"poll_interval": 0.1},
                         name="errorlog-accept", daemon=True).start()
        return self

    def stop(self):
        self._stopping.set()
        if self._httpd:
            self._httpd.shutdown()
            self._httpd.server_close()
        self._httpd = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    # -- what the tests look at ---------------------------------------------
    @property
    def port(self):
        return self._httpd.server_address[1]

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

    def _add(self, record):
        with self._lock:
            self._requests.append(record)
            self._lock.notify_all()
        if self.store_dir and record.file is not None and record.file.data is not None:
            with open(os.path.join(self.store_dir, "request-%d.bin" % record.connection), "wb") as f:
                f.write(record.file.data)
        if self.on_request:
            self.on_request(record)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--port", type=int, default=DEFAULT_PORT, help="port on 127.0.0.1 (0: any free one)")
    parser.add_argument("--status", type=int, default=200, help="status of the answer")
    parser.add_argument("--retry-after", help="a Retry-After header, e.g. with --status 429 or 503")
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
    parser.add_argument("--count-only", action="store_true", help="keep only each body's size (fastest)")
    args = parser.parse_args(argv)

    reply = Reply(status=args.status, body=None if args.body is None else args.body.encode("utf-8"),
                  framing=args.framing, short_by=args.short_by, stall_seconds=args.stall_seconds,
                  retry_after=args.retry_after)
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
                            on_request=on_request, count_only=args.count_only)
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
