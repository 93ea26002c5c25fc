#!/usr/bin/env python3
"""Generates the demo patch set and a demo client folder.

The patch set is what the bundled patch server serves: a patch list with header lines, several
ordinary versions, a full-package line and a cumulative patch, and real ZIP archives with Chinese and
nested names. The client is an installed game at an old version, whose "Documents" holds the four
patch sub-folders and some files of its own.

With --bulk N every release, the cumulative patch and the client's own patch folders also carry N
generated files of about 5 KB (map tiles that compress about 3:1), so that each stage of a repair
takes long enough to be watched.

With --secret-key FILE the patch list is signed with the stock minisign tool, as a publisher signs
it: qx_patchlist_win32.minisig beside the list (the key must have no password, minisign -G -W).

Usage: make_demo.py OUT_DIR --host HOST[:PORT] [--binary PATH] [--bulk N] [--secret-key FILE]
Creates OUT_DIR/server (the server's root) and OUT_DIR/client (the client folder).
"""
import argparse
import os
import random
import shutil
import stat
import subprocess
import zipfile

from archive_hashes import hash_lines

LOCAL_VERSION = "1.0.0"

# version -> {archive path: content}. Directory entries are added for every parent folder.
RELEASES = {
    "1.0.1": {
        "pkres/角色/英雄.txt": "英雄 v1.0.1\n",
        "pkres/ui/main.layout": "layout 1.0.1\n",
        "subver/version.txt": "1.0.1\n",
    },
    "1.0.2": {
        "pkres/角色/英雄.txt": "英雄 v1.0.2\n",
        "patch_cache/地图/新手村.map": "map 1.0.2\n新手村 v2\n",
        "subver/version.txt": "1.0.2\n",
    },
    "1.0.3": {
        "qatools/检查.cfg": "check=1\n",
        "subver/version.txt": "1.0.3\n",
        "pkres/音效/背景音乐.ogg": "ogg-data-1.0.3 " * 500,
    },
    "1.0.10": {
        "subver/version.txt": "1.0.10\n",
        "pkres/ui/main.layout": "layout 1.0.10\n",
    },
}

# The cumulative patch of the newest release line: its files beat every release's.
CUMULATIVE = {
    "subver/version.txt": "1.0.10 (cumulative)\n",
    "pkres/累积/补丁说明.txt": "累积补丁\n",
}

# A full package for another minor line; the demo client (1.0.0) does not take it.
FULL_PACKAGE_VERSION = "2.0.0"
FULL_PACKAGE = {"pkres/完整包.txt": "full package 2.0.0\n"}

OLD_DOCUMENTS = {
    "pkres/角色/英雄.txt": "英雄 v1.0.0\n",
    "pkres/旧文件.txt": "only in the old client\n",
    "subver/version.txt": "1.0.0\n",
    "patch_cache/地图/新手村.map": "map 1.0.0\n",
    "qatools/检查.cfg": "check=0\n",
    "settings.ini": "[player]\nname=demo\n",
    "截图/2026-01-01.png.txt": "a screenshot of the player's own\n",
}

GAME_STAND_IN = """#!/bin/sh
# Stand-in for the game client: the demo has no game, so it only says that it was started.
echo "vazazu.exe: the game would start now (working directory: $(pwd))"
"""


def bulk_files(version, count):
    """count generated files for version: "pkres/地图块/<version>/tile_NNNN.dat", each different,
    half random hexadecimal and half repeated text."""
    rng = random.Random(version)
    files = {}
    for number in range(count):
        lines = ["tile %04d of %s: %s\n" % (number, version, rng.getrandbits(128).to_bytes(16, "big").hex())
                 for _ in range(100)]
        files["pkres/地图块/%s/tile_%04d.dat" % (version, number)] = "".join(lines)
    return files


def releases(bulk=0):
    """RELEASES, each with bulk generated files more."""
    return {version: dict(files, **bulk_files(version, bulk)) for version, files in RELEASES.items()}


def cumulative(bulk=0):
    return dict(CUMULATIVE, **bulk_files("cumulative", bulk))


def old_documents(bulk=0):
    return dict(OLD_DOCUMENTS, **bulk_files(LOCAL_VERSION, bulk))


def write_zip(path, files, entry=zipfile.ZipInfo):
    """Writes a ZIP with an explicit directory entry for every folder, parents first. entry makes
    each entry's record (a ZipInfo subclass may encode the names differently)."""
    folders = set()
    for name in files:
        parts = name.split("/")[:-1]
        for i in range(1, len(parts) + 1):
            folders.add("/".join(parts[:i]) + "/")
    with zipfile.ZipFile(path, "w", compression=zipfile.ZIP_DEFLATED) as archive:
        for folder in sorted(folders):
            archive.writestr(entry(folder), b"")
        for name, content in sorted(files.items()):
            info = entry(name)
            info.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(info, content.encode("utf-8"))


def write_tree(root, files):
    for name, content in files.items():
        path = os.path.join(root, *name.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w", encoding="utf-8") as f:
            f.write(content)


def sign_list(root, secret_key):
    """Signs root/qx_patchlist_win32 into root/qx_patchlist_win32.minisig with minisign's default
    trusted comment, which carries the signing time."""
    subprocess.run(["minisign", "-S", "-s", secret_key, "-m", "qx_patchlist_win32"], cwd=root,
                   check=True, stdout=subprocess.DEVNULL)


def make_server(root, host, bulk=0, secret_key=None):
    patches = os.path.join(root, "patches")
    os.makedirs(patches, exist_ok=True)
    base = "http://%s/patches" % host
    lines = [
        "#channel web",
        "#note  demo patch list (the value keeps its leading blank)",
        "0.0.0 %s/full_%s.zip 900 full x %s fullpkg" % (base, FULL_PACKAGE_VERSION,
                                                      FULL_PACKAGE_VERSION),
    ]
    for number, (version, files) in enumerate(releases(bulk).items(), start=1):
        write_zip(os.path.join(patches, "patch_%s.zip" % version), files)
        lines.append("%s %s/patch_%s.zip %d release-%s" % (version, base, version, number, version))
    write_zip(os.path.join(patches, "full_%s.zip" % FULL_PACKAGE_VERSION), FULL_PACKAGE)
    newest = list(RELEASES)[-1]
    cumulative_name = "patch%s.1.qx.all.win32" % newest.rsplit(".", 1)[0]
    write_zip(os.path.join(patches, cumulative_name), cumulative(bulk))
    # The publisher's hashes: the program checks each archive before it unpacks it.
    lines[2:2] = hash_lines(patches)
    with open(os.path.join(root, "qx_patchlist_win32"), "w", newline="\r\n") as f:
        f.write("\n".join(lines) + "\n")
    if secret_key:
        sign_list(root, secret_key)


def make_client(root, binary, bulk=0):
    os.makedirs(root, exist_ok=True)
    game = os.path.join(root, "vazazu.exe")
    with open(game, "w") as f:
        f.write(GAME_STAND_IN)
    os.chmod(game, os.stat(game).st_mode | stat.S_IXUSR | stat.S_IXGRP | stat.S_IXOTH)
    with open(os.path.join(root, "vazazu.dll"), "wb") as f:
        f.write(b"demo library\n")
    with open(os.path.join(root, "findownload.dat"), "wb") as f:
        f.write(LOCAL_VERSION.encode() + b"\r\n")
    write_tree(os.path.join(root, "Documents"), old_documents(bulk))
    if binary:
        shutil.copy2(binary, os.path.join(root, "qxwebhelper"))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("out")
    parser.add_argument("--host", required=True, help="host[:port] the patch list points at")
    parser.add_argument("--binary", help="the qxwebhelper executable to place in the client")
    parser.add_argument("--bulk", type=int, default=0, metavar="N",
                        help="generated files more in every archive and in the client")
    parser.add_argument("--secret-key", metavar="FILE",
                        help="minisign secret key (without password) that signs the patch list")
    args = parser.parse_args()
    shutil.rmtree(args.out, ignore_errors=True)
    make_server(os.path.join(args.out, "server"), args.host, args.bulk,
                os.path.abspath(args.secret_key) if args.secret_key else None)
    make_client(os.path.join(args.out, "client"), args.binary, args.bulk)
    print("demo patch set: %s" % os.path.join(args.out, "server"))
    print("demo client:    %s" % os.path.join(args.out, "client"))


if __name__ == "__main__":
    main()
