#!/usr/bin/env python3
"""Writes the starting corpora of the fuzz targets with the tests' own generators: patch lists in the
shapes the parser tests use, archives made by the end-to-end tests' zip builder, the demo's and
the real tools of the archive corpus (archive_corpus.py: zip64, data descriptors, UTF-8 names), and
the signature tests' files made by minisign, so the fuzzer starts from valid inputs and mutates
them.

Usage: make_corpus.py OUT_DIR   (creates OUT_DIR/patchlist, OUT_DIR/archive and OUT_DIR/signature)
"""
import os
import shutil
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
sys.path.insert(0, os.path.join(ROOT, "tools"))
import archive_corpus  # noqa: E402  archives made by real tools
import qxweb  # noqa: E402  the end-to-end tests' generators
import make_demo  # noqa: E402

PATCH_LISTS = {
    "empty": "",
    "crlf": qxweb.patch_list([qxweb.patch_line("1.0.1", "http://h/p/1.0.1.zip"),
                              qxweb.patch_line("1.0.10", "http://h/p/1.0.10.zip")],
                             headers={"channel": "web"}).replace("\n", "\r\n"),
    "full": qxweb.patch_list([qxweb.full_package_line("http://h/full.zip", "1.3.0"),
                              qxweb.patch_line("1.2.9", "a/b.zip", number=12)]),
    "odd": "#k  v\n#novalue\n  1.2.3   a/b.zip 10 x y 1.3.0 z \n0.0.0 u 5 i\n1.2 a 1 x\n"
           "-1.0.0 a 1 x\n99999999999.1.1 a 1 x\n1 .2.3 a 1 x\n0.0.00 u 1 i j 2.1.0 k\n",
}

ARCHIVES = {
    "nested": {"a/": None, "a/b/": None, "a/b/e.txt": "e", "g.txt": "g"},
    "empty_file": {"z/": None, "z/empty.bin": b""},
    "dirs_only": {"d1/": None, "d1/d2/": None},
    "duplicate": {"x.txt": "first"},
    "chinese": {"补丁/": None, "补丁/说明.txt": "累积补丁\n"},
    "big": {"data/": None, "data/blob.bin": bytes(range(256)) * 64},
}


def main():
    out = sys.argv[1]
    for kind in ("patchlist", "archive", "signature"):
        os.makedirs(os.path.join(out, kind), exist_ok=True)
    for name, text in PATCH_LISTS.items():
        with open(os.path.join(out, "patchlist", name), "wb") as f:
            f.write(text.encode("utf-8"))
    fixtures = os.path.join(ROOT, "tests", "unit", "signature", "fixtures")
    for name in os.listdir(fixtures):
        if name.endswith((".minisig", ".pub")):
            shutil.copy(os.path.join(fixtures, name), os.path.join(out, "signature", name))
    for name, files in ARCHIVES.items():
        qxweb.make_zip(os.path.join(out, "archive", name + ".zip"), files)
    absent = archive_corpus.missing_tools()
    if absent:
        sys.exit("missing tools for the archive seeds: %s (scripts/setup.sh installs them)"
                 % " ".join(absent))
    # The corpus's names and features with small contents: small seeds fuzz faster.
    small = {name: data[:64] for name, data in archive_corpus.TREE.items()}
    for name, path in archive_corpus.make_corpus(os.path.join(out, "tools"), small).items():
        os.replace(path, os.path.join(out, "archive", "tool-" + name + ".zip"))
    os.rmdir(os.path.join(out, "tools"))
    demo = os.path.join(out, "demo")
    make_demo.make_server(demo, "127.0.0.1:1")
    for entry in os.listdir(os.path.join(demo, "patches")):
        os.replace(os.path.join(demo, "patches", entry), os.path.join(out, "archive", entry))
    os.replace(os.path.join(demo, "qx_patchlist_win32"), os.path.join(out, "patchlist", "demo"))
    os.rmdir(os.path.join(demo, "patches"))
    os.rmdir(demo)


if __name__ == "__main__":
    main()
