#!/usr/bin/env python3
"""Prints the patch-list header lines that let QxWebHelper check the archives it downloads:
one "#sha256:<file name> <64 hex digits>" line per file of a folder, in name order. Put them at
the top of the patch list; readers that do not know them ignore them.

Usage: archive_hashes.py FOLDER [FOLDER...]   (files directly in each folder, not below)
"""
import argparse
import hashlib
import os
import sys

PIECE = 1 << 20


def sha256_of(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for piece in iter(lambda: f.read(PIECE), b""):
            digest.update(piece)
    return digest.hexdigest()


def hash_lines(folder):
    """The header lines for the files directly in folder. The name is what the program derives
    from an archive's address: the text after its last "/"."""
    lines = []
    for name in sorted(os.listdir(folder)):
        path = os.path.join(folder, name)
        if os.path.isfile(path):
            lines.append("#sha256:%s %s" % (name, sha256_of(path)))
    return lines


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("folders", nargs="+", metavar="FOLDER")
    args = parser.parse_args()
    for folder in args.folders:
        for line in hash_lines(folder):
            print(line)
    return 0


if __name__ == "__main__":
    sys.exit(main())
