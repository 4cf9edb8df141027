#!/usr/bin/python3
"""A small update server for trying VelmarUpdate locally.

Serves a folder laid out as the real server is:
    <root>/update/version.ini                     the manifest ([main] version, miniver, newest)
    <root>/update/<installed>-<new>/velmar.diff   one differential patch per pair of versions
    <root>/<anything>                             e.g. the full installer named by "newest"

Run it:   /usr/bin/python3 tools/update_server.py --root DIR --port 18741
and build the updater with VELMAR_UPDATE_BASE_URL=http://127.0.0.1:18741/update/.
It listens on 127.0.0.1 only. Tests import it and script odd answers per path
(status codes, bodies cut short of their Content-Length, no Content-Length).
"""
import argparse
import http.server
import os
import posixpath
import shutil
import threading
import urllib.parse


class Fault:
    """How to answer one path instead of serving the file."""

    def __init__(self, status=200, body=b"", cut_short_by=0, no_length=False):
        self.status = status
        self.body = body
        self.cut_short_by = cut_short_by
        self.no_length = no_length


class UpdateServer(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self, root, port=0):
        self.root = os.path.abspath(root)
        self.faults = {}
        self.requests = []
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

    def requested_paths(self):
        with self.lock:
            return list(self.requests)


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "VelmarTestUpdateServer/1.0"

    def log_message(self, fmt, *args):
        pass

    def do_GET(self):
        path = urllib.parse.urlsplit(self.path).path
        with self.server.lock:
            self.server.requests.append(path)
            fault = self.server.faults.get(path)
        if fault is not None:
            return self.answer_fault(fault)
        local = self.local_path(path)
        if local is None or not os.path.isfile(local):
            return self.answer_fault(Fault(404, b"not found\n"))
        size = os.path.getsize(local)
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(size))
        self.end_headers()
        with open(local, "rb") as f:
            shutil.copyfileobj(f, self.wfile, 1024 * 1024)

    def answer_fault(self, fault):
        self.send_response(fault.status)
        self.send_header("Content-Type", "application/octet-stream")
        if fault.no_length:
            self.send_header("Connection", "close")
            self.close_connection = True
        else:
            self.send_header("Content-Length", str(len(fault.body) + fault.cut_short_by))
        if fault.cut_short_by:
            self.send_header("Connection", "close")
            self.close_connection = True
        self.end_headers()
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
    args = parser.parse_args()
    server = UpdateServer(args.root, args.port)
    print("serving %s on http://127.0.0.1:%d/" % (server.root, server.port), flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
