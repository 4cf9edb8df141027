"""Writes the tables of the log's unit tests (run by the build): tools/tlog's RFC 6962 oracle, whose
entry i is the decimal text of i, and a checkpoint of its size 300 signed with the test log key.
  tlog_vectors.py SOURCE_DIR OUT.inc"""
import os
import subprocess
import sys

source, out = sys.argv[1:3]
sys.path.insert(0, os.path.join(source, "tools"))
from update_server import load_tlog  # noqa: E402

TOOL, KEY, ORIGIN = os.path.join(source, "tools", "tlog"), os.path.join(source, "tests", "keys", "test-log-key.pem"), \
    "update.velmar.test/log"


def oracle(*args):
    return [line.split() for line in subprocess.run([TOOL, "oracle", *args], check=True, capture_output=True,
                                                     text=True).stdout.splitlines()]


def c_bytes(data):
    return '"%s"' % "".join("\\%03o" % b for b in data)


tlog = load_tlog()
roots = oracle("roots", "300")
der = tlog.p256_public_der(KEY, private=True)
note = tlog.sign_checkpoint(KEY, der, ORIGIN, 300, bytes.fromhex(roots[300][1])).note
rows = ['{%d, %s, "%s"}' % (size, row[0], "".join(row[1:])) for size in (1, 255, 256, 257)
        for row in oracle("inclusion", str(size))]
os.makedirs(os.path.dirname(out), exist_ok=True)  # a clean build tree has no such folder yet
with open(out, "w") as f:
    f.write("// Written by tests/unit/tlog_vectors.py; do not edit.\n")
    f.write("const char* const kOracleRoots[] = {%s};\n" % ",\n".join('"%s"' % row[1] for row in roots))
    f.write("const OracleInclusion kOracleInclusion[] = {%s};\n" % ",\n".join(rows))
    f.write("const char kSignedCheckpoint[] = %s;\n" % c_bytes(note))
    f.write("const char kLogOrigin[] = \"%s\";\n" % ORIGIN)
    f.write("const unsigned char kLogKeyPoint[] = %s;\n" % c_bytes(der[-64:]))
