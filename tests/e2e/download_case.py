"""A scripted repair whose one patch archive is big enough to be cut, stalled or reset half way
(a few MiB of incompressible data beside the usual patch files), served by the bundled patch
server, with the publisher's hash line in the patch list unless told otherwise."""

import hashlib
import os
import random

import qxweb
from qxweb import patch_line, patch_list
from repair_case import PATCH_FILES, with_folder_entries

ARCHIVE_PATH = "/p/1.0.1.zip"
ARCHIVE_NAME = "1.0.1.zip"
# Short pauses between attempts (the release program waits 1, 2, 4, 8, 8 s) and a stall given up
# after two seconds instead of five.
FAST_RETRIES = {"QXWEB_RETRY_PAUSE_MS": "50", "QXWEB_LOW_SPEED_TIME": "2"}
DOWNLOAD_ERROR = "下载Patch网络异常，错误信息："
IDC_PROGRESS = 1001


def big_file(variant, size=3 << 20):
    return random.Random(variant).randbytes(size)


def patch_files(variant=1):
    return dict(PATCH_FILES, **{"pkres/big.bin": big_file(variant)})


def documents_after(files):
    """What "Documents" holds after a repair that installed files."""
    return dict(files, **{"settings.ini": b"mine"})


def sha256_line(name, data):
    return "#sha256:%s %s" % (name, hashlib.sha256(data).hexdigest())


def write_archive(server, path, files):
    """A patch archive at a URL path of the server; its bytes."""
    target = os.path.join(server.root, *path.strip("/").split("/"))
    qxweb.make_zip(target, with_folder_entries(files))
    with open(target, "rb") as f:
        return f.read()


def serve_list(server, archive_url, headers=()):
    server.put_patch_list("\n".join(list(headers) + [patch_line("1.0.1", archive_url)]) + "\n")


def serve_patch(server, files=None, hash_of=None):
    """The archive at ARCHIVE_PATH and a list naming it, with the hash line of hash_of (bytes;
    the archive's own bytes when None, no line when False). Returns the archive's bytes."""
    data = write_archive(server, ARCHIVE_PATH, files or patch_files())
    headers = [] if hash_of is False else [sha256_line(ARCHIVE_NAME, hash_of or data)]
    serve_list(server, server.url(ARCHIVE_PATH), headers)
    return data


def https_env(ca_file=None):
    """The environment of a run over HTTPS that trusts ca_file (the system's authorities when
    None)."""
    env = {}
    if ca_file:
        env["QXWEB_CA_FILE"] = ca_file
    return env


def repair(client, env=None):
    return qxweb.run(client, answers=[], dialog=["press"], env=dict(FAST_RETRIES, **(env or {})))


def ranges(server, path=ARCHIVE_PATH):
    """The Range header of every GET of a path, in order (None where there was none)."""
    return [r["range"] for r in server.requests(path) if r["method"] == "GET"]


def range_start(value):
    """N of "bytes=N-"."""
    assert value.startswith("bytes=") and value.endswith("-"), value
    return int(value[len("bytes="):-1])


def bar_positions(result):
    return [e["pos"] for e in result.events
            if e.get("id") == IDC_PROGRESS and e.get("event") == "control" and "pos" in e]


def log_text(client):
    path = os.path.join(client.prefix, "drive_c", "QxWebHelper.txt")
    if not os.path.exists(path):
        return ""
    with open(path, "rb") as f:
        return f.read().decode("utf-8", "replace")

