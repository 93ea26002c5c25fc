#!/usr/bin/env python3
"""Patch archives made by real tools: one tree of nested folders with Chinese names, packed by
Info-ZIP zip, 7-Zip, bsdtar and Python's zipfile with the options that give the features a reader
must cope with (no folder entries, data descriptors, zip64 records and extra fields, the UTF-8 name
flag, "./" names, a comment, data in front of the archive), and the archives it must refuse
(encryption, other methods, symbolic links, split archives). Used by the end-to-end corpus test
and as seeds of the archive fuzz target.

Usage: archive_corpus.py OUT_DIR   writes OUT_DIR/<name>.zip and prints each archive's features.
Needs zip, 7z (p7zip-full) and bsdtar (libarchive-tools) on PATH.
"""

import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile

# The packed tree: text that deflates well, random bytes that do not, an empty file, a blank in a
# name, a file without extension; every file inside the patch folders a repair installs. The empty
# folder is listed apart.
_RNG = random.Random(2024)
TREE = {
    "pkres/角色/英雄.txt": "英雄 v1.0.1\n".encode("utf-8") * 40,
    "pkres/角色/技能/火球.bin": bytes(_RNG.getrandbits(8) for _ in range(70000)),
    "pkres/地图/新手村.map": b"".join(b"tile %06d grass\n" % i for i in range(12000)),
    "subver/ver.txt": b"1.0.1\n",
    "patch_cache/空.txt": b"",
    "qatools/说明 文档.txt": "检查=1\n".encode("utf-8"),
    # Both characters end in byte 0x5C ("\\") in code page 936: no separator there.
    "pkres/淺/籠": b"no extension",
}
EMPTY_FOLDERS = ("patch_cache/空目录",)

# name -> (tool, options as a publisher would type them, how to run them in the tree's folder).
# "{out}" stands for the archive's path; "| file" means the tool writes to a pipe.
CORPUS = {
    "infozip": ("Info-ZIP zip 3.0", "zip -r out.zip .", ["zip", "-q", "-r", "{out}", "."]),
    "infozip-no-folders": ("Info-ZIP zip 3.0", "zip -r -D out.zip .",
                           ["zip", "-q", "-r", "-D", "{out}", "."]),
    "infozip-zip64": ("Info-ZIP zip 3.0", "zip -r -fz out.zip .",
                      ["zip", "-q", "-r", "-fz", "{out}", "."]),
    "infozip-pipe": ("Info-ZIP zip 3.0", "zip -r - . | cat > out.zip",
                     ["zip", "-q", "-r", "-", "."]),
    "7zip": ("7-Zip (p7zip-full)", "7z a -tzip out.zip .", ["7z", "a", "-tzip", "{out}", "."]),
    "7zip-stored": ("7-Zip (p7zip-full)", "7z a -tzip -mx=0 out.zip .",
                    ["7z", "a", "-tzip", "-mx=0", "{out}", "."]),
    "bsdtar": ("bsdtar (libarchive-tools)", "bsdtar --format zip -cf out.zip .",
               ["bsdtar", "--format", "zip", "-cf", "{out}", "."]),
    "bsdtar-zip64": ("bsdtar (libarchive-tools)",
                     "bsdtar --format zip --options zip:zip64 -cf out.zip .",
                     ["bsdtar", "--format", "zip", "--options", "zip:zip64", "-cf", "{out}", "."]),
    "python-pipe": ("Python zipfile", "ZipFile(pipe, 'w').open(name, 'w', force_zip64=True)",
                    None),
    "infozip-comment": ("Info-ZIP zip 3.0", "echo text | zip -r -z out.zip .",
                        lambda root, out: _zip_with_comment(root, out)),
    # Self-extractor style: a program in front of the archive, its offsets as zip wrote them
    # (pointing before the program) or corrected with zip -A.
    "prepended": ("Info-ZIP zip 3.0", "cat stub out.zip > sfx.zip",
                  lambda root, out: _prepended(root, out, adjust=False)),
    "prepended-adjusted": ("Info-ZIP zip 3.0", "cat stub out.zip > sfx.zip; zip -A sfx.zip",
                           lambda root, out: _prepended(root, out, adjust=True)),
}

# Archives of real tools a repair must refuse whole: methods other than stored and deflated,
# encryption, symbolic links (their data is the link's target, not a file) and an archive split
# over several files. name -> (options as typed, how to run them in the tree's folder).
REFUSED = {
    "infozip-encrypted": ("zip -r -P secret out.zip .",
                          ["zip", "-q", "-r", "-P", "secret", "{out}", "."]),
    "7zip-aes": ("7z a -tzip -psecret -mem=AES256 out.zip .",
                 ["7z", "a", "-tzip", "-psecret", "-mem=AES256", "{out}", "."]),
    "infozip-bzip2": ("zip -r -Z bzip2 out.zip .",
                      ["zip", "-q", "-r", "-Z", "bzip2", "{out}", "."]),
    "7zip-lzma": ("7z a -tzip -mm=LZMA out.zip .", ["7z", "a", "-tzip", "-mm=LZMA", "{out}", "."]),
    "7zip-deflate64": ("7z a -tzip -mm=Deflate64 out.zip .",
                       ["7z", "a", "-tzip", "-mm=Deflate64", "{out}", "."]),
    "infozip-symlinks": ("zip -r -y out.zip .", ["zip", "-q", "-r", "-y", "{out}", "."]),
    "7zip-symlinks": ("7z a -tzip -snl out.zip .", ["7z", "a", "-tzip", "-snl", "{out}", "."]),
    "infozip-split": ("zip -r -s 64k out.zip .", ["zip", "-q", "-r", "-s", "64k", "{out}", "."]),
}
# The links of the tree packed into the refused archives: one inside the tree, one out of it.
LINKS = {"pkres/角色/链接.txt": "../../subver/ver.txt", "pkres/etc": "/etc"}

TOOLS = ("zip", "7z", "bsdtar")


def missing_tools():
    return [tool for tool in TOOLS if shutil.which(tool) is None]


def write_tree(root, tree):
    for name, data in tree.items():
        path = os.path.join(root, *name.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
    for name in EMPTY_FOLDERS:
        os.makedirs(os.path.join(root, *name.split("/")), exist_ok=True)


def _python_to_pipe(root, tree, pipe):
    """zipfile writing to a pipe cannot seek back, so it uses data descriptors; force_zip64
    gives every local header a zip64 extra field. No folder entries, as many scripts do."""
    with zipfile.ZipFile(pipe, "w", zipfile.ZIP_DEFLATED) as archive:
        for name in sorted(tree):
            with archive.open(name, "w", force_zip64=True) as entry:
                with open(os.path.join(root, *name.split("/")), "rb") as f:
                    entry.write(f.read())


def _run_in(root, command, out, stdin=None):
    subprocess.run([out if arg == "{out}" else arg for arg in command], cwd=root, check=True,
                   input=stdin, stdout=subprocess.DEVNULL)


def _zip_with_comment(root, out):
    _run_in(root, ["zip", "-q", "-r", "-z", "{out}", "."], out, stdin="补丁 1.0.1\n".encode())


def _prepended(root, out, adjust):
    plain = out + ".plain"
    _run_in(root, ["zip", "-q", "-r", "{out}", "."], plain)
    with open(out, "wb") as sfx, open(plain, "rb") as archive:
        sfx.write(b"MZ" + bytes(range(256)) * 40)
        shutil.copyfileobj(archive, sfx)
    os.remove(plain)
    if adjust:
        _run_in(root, ["zip", "-q", "-A", "{out}"], out)


def make_archive(name, root, tree, out):
    command = CORPUS[name][2]
    if callable(command):
        command(root, out)
        return out
    if command is not None and "{out}" in command:
        _run_in(root, command, out)
        return out
    # The writer's output goes through cat, so it is a pipe that cannot seek.
    with open(out, "wb") as sink:
        cat = subprocess.Popen(["cat"], stdin=subprocess.PIPE, stdout=sink)
        if command is None:
            _python_to_pipe(root, tree, cat.stdin)
            failed = False
        else:
            failed = subprocess.run(command, cwd=root, stdout=cat.stdin).returncode != 0
        cat.stdin.close()
        if cat.wait() != 0 or failed:
            raise RuntimeError("writing %s failed" % name)
    return out


def make_corpus(out_dir, tree=None):
    """Every archive of CORPUS in out_dir, packing tree (TREE unless given; {name: bytes});
    returns {name: path}."""
    tree = TREE if tree is None else tree
    os.makedirs(out_dir, exist_ok=True)
    with tempfile.TemporaryDirectory(prefix="qxweb-corpus-") as root:
        write_tree(root, tree)
        return {name: make_archive(name, root, tree, os.path.join(out_dir, name + ".zip"))
                for name in CORPUS}


def make_refused(out_dir):
    """Every archive of REFUSED in out_dir, packing TREE and LINKS; returns {name: path}."""
    os.makedirs(out_dir, exist_ok=True)
    paths = {}
    with tempfile.TemporaryDirectory(prefix="qxweb-corpus-") as plain, \
            tempfile.TemporaryDirectory(prefix="qxweb-corpus-") as linked:
        write_tree(plain, TREE)
        # Apart: the other archivers would follow the links and pack what they point to.
        write_tree(linked, TREE)
        for name, target in LINKS.items():
            os.symlink(target, os.path.join(linked, *name.split("/")))
        for name, (_, command) in REFUSED.items():
            paths[name] = os.path.join(out_dir, name + ".zip")
            _run_in(linked if name.endswith("-symlinks") else plain, command, paths[name])
    return paths


def raw_name(info):
    """The entry's name as stored: zipfile decodes unflagged names as code page 437."""
    return info.orig_filename.encode("utf-8" if info.flag_bits & 0x800 else "cp437")


def _extra_ids(extra):
    ids, at = set(), 0
    while at + 4 <= len(extra):
        header_id, size = struct.unpack("<HH", extra[at:at + 4])
        ids.add(header_id)
        at += 4 + size
    return ids


def local_header(data, info):
    """(offset of the local header, offset of the entry's data) of an entry."""
    at = info.header_offset
    name_length, extra_length = struct.unpack("<HH", data[at + 26:at + 30])
    return at, at + 30 + name_length + extra_length


def _local_extra(data, info):
    at, data_start = local_header(data, info)
    name_length = struct.unpack("<H", data[at + 26:at + 28])[0]
    return data[at + 30 + name_length:data_start]


def features(path):
    """What of interest the archive holds, as short labels."""
    with open(path, "rb") as f:
        data = f.read()
    found = set()
    with zipfile.ZipFile(path) as archive:
        infos = archive.infolist()
        comment = archive.comment
    names = {raw_name(info).decode("utf-8") for info in infos}
    for info in infos:
        if info.flag_bits & 0x08:
            found.add("data descriptors")
        if info.flag_bits & 0x800:
            found.add("UTF-8 flag")
        elif any(b > 0x7F for b in raw_name(info)):
            found.add("unflagged UTF-8 names")
        if 1 in _extra_ids(info.extra):
            found.add("zip64 extra (central)")
        if 1 in _extra_ids(_local_extra(data, info)):
            found.add("zip64 extra (local)")
        found.add("stored" if info.compress_type == zipfile.ZIP_STORED else "deflated")
        name = raw_name(info).decode("utf-8")
        if name.startswith("./"):
            found.add("./ names")
        parts = name.rstrip("/").split("/")[:-1]
        if any("/".join(parts[:i]) + "/" not in names for i in range(1, len(parts) + 1)):
            found.add("folders without entries")
    if comment:
        found.add("comment")
    if not data.startswith(b"PK\x03\x04"):
        found.add("data in front")
    if b"PK\x06\x06" in data and b"PK\x06\x07" in data:
        found.add("zip64 end records")
    # Files only: a folder entry is stored, and says nothing about how files are.
    if all(info.compress_type == zipfile.ZIP_DEFLATED for info in infos if not info.is_dir()):
        found.discard("stored")
    return found


def main():
    out = sys.argv[1]
    absent = missing_tools()
    if absent:
        sys.exit("missing tools: %s (scripts/setup.sh installs them)" % " ".join(absent))
    for name, path in make_corpus(out).items():
        tool, options = CORPUS[name][:2]
        print("%-20s %-26s %-55s %s" % (name, tool, options, ", ".join(sorted(features(path)))))


if __name__ == "__main__":
    main()
