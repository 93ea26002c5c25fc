#!/usr/bin/env python3
"""Tries a patch set before it is published: serves it with the bundled patch server on 127.0.0.1,
runs a real repair of a client at the given version with the Linux build of QxWebHelper (scripted:
it presses the repair button, then closes the dialog) and reports which archives the program
downloaded, what it showed and what the repair changed in "Documents".

FOLDER is the patch set as it will lie on the web server: the patch list "qx_patchlist_win32" at
its root, each archive at the path its address names (http://patch.example.com/win32/a.zip is
FOLDER/win32/a.zip). The host part of every address is replaced by the local server's, so the list
can stay as it will be published.

Usage: try_patch_set.py FOLDER (--version V | --no-version) [--documents DIR] [--build DIR]
                        [--binary PATH --host 127.0.0.1:PORT] [--rate BYTES_PER_SECOND] [--keep DIR]
Exit status: 0 when the repair succeeded, 1 when it failed or the set is incomplete, 2 on bad usage.
"""
import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

import demo_report

HERE = os.path.dirname(os.path.abspath(__file__))
PATCH_LIST = "qx_patchlist_win32"
ADDRESS = re.compile(rb"^(https?://[^/\s]+)(/\S*)$")
GAME_STAND_IN = "#!/bin/sh\necho \"vazazu.exe: the game would start now\"\n"
PACKAGES = ("Json.npk", "res.npk", "script.npk")  # needed only without a local version
REPAIRED_HINT = "修复成功！可启动游戏。"
IDC_HINT = 1005
IDC_ACTION = 1006
REPAIR_BUTTON = "一键修复"
LAUNCH_BUTTON = "启动游戏"


def patch_lines(text):
    """The patch list's lines that are not header lines, as lists of tokens (bytes)."""
    for line in text.split(b"\n"):
        line = line.strip(b" \r")
        if line and not line.startswith(b"#"):
            tokens = [token for token in line.split(b" ") if token]
            if len(tokens) >= 4:
                yield tokens


def localise(text, origin):
    """The list with the scheme and host of every address replaced by origin, and the paths of
    the archives it names."""
    paths = []
    lines = []
    for line in text.split(b"\n"):
        tokens = line.split(b" ")
        if not line.lstrip(b" ").startswith(b"#"):
            for index, token in enumerate(tokens):
                match = ADDRESS.match(token.rstrip(b"\r"))
                if match:
                    paths.append(match.group(2).decode("utf-8", "replace"))
                    tokens[index] = origin + token[len(match.group(1)):]
                    break
        lines.append(b" ".join(tokens))
    return b"\n".join(lines), paths


def cumulative_path(text):
    """The server path at which the program looks for the cumulative patch: beside the archive of
    the newest version, named after that version's release line."""
    newest = None
    for tokens in patch_lines(text):
        key = version_key(tokens[0])
        if key is not None and (newest is None or key > newest[0]):
            newest = (key, tokens)
    if newest is None:
        return None
    version, url = newest[1][0].decode(), newest[1][1].decode("utf-8", "replace")
    folder = url.rsplit("/", 1)[0] if "/" in url else url
    name = "patch%s.1.qx.all.win32" % version.rsplit(".", 1)[0]
    match = ADDRESS.match((folder + "/" + name).encode())
    return match.group(2).decode() if match else None


def version_key(token):
    match = re.match(rb"^ *([+-]?\d+)\. *([+-]?\d+)\. *([+-]?\d+)", token)
    return tuple(int(n) for n in match.groups()) if match else None


def build_settings(build):
    """The program and the patch-list host of a CMake build folder."""
    with open(os.path.join(build, "CMakeCache.txt"), encoding="utf-8") as f:
        host = re.search(r"^QXWEB_PATCHLIST_HOST:STRING=(.*)$", f.read(), re.M).group(1)
    return os.path.join(build, "qxwebhelper"), host


def make_client(root, binary, version, documents):
    os.makedirs(root)
    shutil.copy2(binary, os.path.join(root, "qxwebhelper"))
    game = os.path.join(root, "vazazu.exe")
    with open(game, "w") as f:
        f.write(GAME_STAND_IN)
    os.chmod(game, 0o755)
    open(os.path.join(root, "vazazu.dll"), "wb").close()
    if version is None:
        os.makedirs(os.path.join(root, "HashRes"))
        for name in PACKAGES:
            open(os.path.join(root, "HashRes", name), "wb").close()
    else:
        with open(os.path.join(root, "findownload.dat"), "w") as f:
            f.write(version + "\r\n")
    if documents:
        shutil.copytree(documents, os.path.join(root, "Documents"))
    else:
        os.makedirs(os.path.join(root, "Documents"))


def start_server(root, port, rate, log):
    server = subprocess.Popen(
        [sys.executable, os.path.join(HERE, "patch_server.py"), "--root", root, "--port", str(port),
         "--rate", str(rate), "--log", log, "--quiet"],
        stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if not server.stdout.readline().strip():
        server.wait()
        sys.exit("try_patch_set: the patch server did not start: " + server.stderr.read().strip())
    return server


def downloads(log):
    """The archives the program asked for, in order: (method, path, status)."""
    if not os.path.exists(log):
        return []
    with open(log, encoding="utf-8") as f:
        records = [json.loads(line) for line in f if line.strip()]
    return [(r["method"], r["path"], r["status"]) for r in records if r["path"] != "/" + PATCH_LIST]


def report_outcome(events):
    """Prints what the dialog offered and how the repair ended; true when the client ends up
    current (repaired, or current already)."""
    texts = lambda control: [e.get("text") for e in events if e.get("id") == control]
    if not texts(IDC_ACTION):
        print("\nthe dialog did not open")
        return False
    # The button is created as the launch button and turned into the repair button at once when
    # the client is out of date.
    offered = REPAIR_BUTTON if REPAIR_BUTTON in texts(IDC_ACTION) else LAUNCH_BUTTON
    print("\nthe dialog offered: %s" % offered)
    if offered == LAUNCH_BUTTON:
        print("the client is current: nothing to repair")
        return True
    repaired = REPAIRED_HINT in texts(IDC_HINT)
    print("repair %s" % ("succeeded" if repaired else "did not succeed"))
    return repaired


def parse_args():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("folder", help="the patch set as it will lie on the web server")
    which = parser.add_mutually_exclusive_group(required=True)
    which.add_argument("--version", help="the client's version (its findownload.dat)")
    which.add_argument("--no-version", action="store_true", help="a client without findownload.dat")
    parser.add_argument("--documents", help="a folder to copy as the client's Documents")
    parser.add_argument("--build", default=os.path.join(HERE, "..", "build", "release"),
                        help="the Linux build folder (default: build/release)")
    parser.add_argument("--binary", help="the program (instead of --build's), with --host")
    parser.add_argument("--host", help="the patch-list host fixed into --binary")
    parser.add_argument("--rate", type=int, default=0, help="serve at about N bytes per second")
    parser.add_argument("--keep", help="an empty or new folder that keeps the server and client")
    return parser.parse_args()


def main():
    args = parse_args()
    binary, host = (args.binary, args.host) if args.binary else build_settings(args.build)
    match = re.fullmatch(r"127\.0\.0\.1:(\d+)", host or "")
    if not match or not os.path.isfile(binary):
        sys.exit("try_patch_set: needs a program built for 127.0.0.1:<port> (cmake "
                 "-DQXWEB_PATCHLIST_HOST=127.0.0.1:28080), not %r at %s" % (host, binary))
    with open(os.path.join(args.folder, PATCH_LIST), "rb") as f:
        original = f.read()
    work = args.keep or tempfile.mkdtemp(prefix="qxweb-try-")
    try:
        server_root = os.path.join(work, "server")
        shutil.copytree(args.folder, server_root)
        text, paths = localise(original, b"http://" + host.encode())
        with open(os.path.join(server_root, PATCH_LIST), "wb") as f:
            f.write(text)
        missing = [p for p in paths if not os.path.isfile(os.path.join(server_root, p.lstrip("/")))]
        for path in missing:
            print("missing archive: %s (named by the patch list)" % path.lstrip("/"))
        cumulative = cumulative_path(original)
        if cumulative:
            present = os.path.isfile(os.path.join(server_root, cumulative.lstrip("/")))
            print("cumulative patch: %s (%s)" % (cumulative.lstrip("/"),
                                                  "present" if present else "not in the set"))

        client = os.path.join(work, "client")
        make_client(client, binary, args.version, args.documents)
        before = os.path.join(work, "Documents.before")
        shutil.copytree(os.path.join(client, "Documents"), before)
        log = os.path.join(work, "requests.jsonl")
        transcript = os.path.join(work, "transcript.jsonl")
        server = start_server(server_root, match.group(1), args.rate, log)
        try:
            env = dict(os.environ, QXWEB_PREFIX=os.path.join(work, "prefix"),
                       XDG_RUNTIME_DIR=tempfile.mkdtemp(dir=work), QXWEB_TRANSCRIPT=transcript,
                       QXWEB_DIALOG="press", QXWEB_ANSWERS="")
            with open(os.path.join(work, "qxwebhelper.stderr"), "wb") as stderr:
                subprocess.run([os.path.join(client, "qxwebhelper")], cwd=client, env=env,
                               stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=stderr,
                               timeout=3600)
        finally:
            server.terminate()
            server.wait()

        print("client version: %s" % ("none (no findownload.dat)" if args.version is None
                                      else args.version))
        for method, path, status in downloads(log):
            print("%-8s %s -> %s" % ("download" if method == "GET" else "probe", path.lstrip("/"),
                                     status))
        print()
        demo_report.print_transcript(transcript)
        print()
        print("== What changed in Documents ==")
        demo_report.print_changes(before, os.path.join(client, "Documents"))
        return 0 if report_outcome(demo_report.events(transcript)) and not missing else 1
    finally:
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
