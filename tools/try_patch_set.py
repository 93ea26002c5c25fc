#!/usr/bin/env python3
"""The release gate of a patch set: checks the set before it is published and exits non-zero on
any problem it finds.

It reads the patch list as the program does and reports every line the program would skip or
misread (a comment is a line "# text"), holds the set's files against the list (archives no line
names, lines whose archive is missing, hash lines that do not match), reads every archive as the
program would (names it refuses or that Chinese Windows would garble, links, entries it cannot
unpack), checks a signed list with the publisher's public key (minisign), and then repairs a
client at every starting version with the real program (without findownload.dat, at each
release, just before the list's releases, and of the line before each full package), comparing
each client's Documents with the newest release's own tree (--expect).

FOLDER is the set as it will lie on the web server: "qx_patchlist_win32" at its root, each archive
at the path of its address (http://patch.example.com/win32/a.zip is FOLDER/win32/a.zip). The
bundled patch server serves a copy whose addresses name it, so the list stays as published;
--server URL tries the set as the publisher's own server serves it instead.

Usage: try_patch_set.py FOLDER [--expect DIR] [--version V]... [--no-version] [--documents DIR]
                        [--public-key FILE] [--server URL] [--checks-only]
                        [--build DIR | --binary PATH [--host HOST]] [--rate N] [--keep DIR]
Exit status: 0 when the set has no problem, 1 when it has one, 2 on bad usage.
"""
import argparse
import os
import shutil
import sys
import tempfile
import urllib.error
import urllib.request

from patch_set import archives, signature, trial
from patch_set.patch_list import PATCH_LIST, read_patch_list, starting_versions
from patch_set.repairs import Repairs
from patch_set.report import Report
from patch_set.set_files import SIGNATURE, SetFiles

HERE = os.path.dirname(os.path.abspath(__file__))


def check_list(report, patch_list):
    report.section("The patch list")
    releases = [e for e in patch_list.entries if not e.package_version]
    report.note("%d release line%s, %d full package%s, %d hash line%s; in the program's order:" % (
        len(releases), "" if len(releases) == 1 else "s",
        len(patch_list.entries) - len(releases),
        "" if len(patch_list.entries) - len(releases) == 1 else "s",
        len(patch_list.hashes), "" if len(patch_list.hashes) == 1 else "s"))
    for entry in patch_list.entries:
        report.note("  line %-4d %-8s %s%s" % (
            entry.line, entry.version, entry.file_name,
            "  (full package of %s)" % entry.package_version if entry.package_version else ""))
    if patch_list.newest:
        report.note("newest version: %s (line %d)" % (patch_list.newest.version,
                                                      patch_list.newest.line))
    else:
        report.problem("no release line: the program offers no repair")
    report.problems_of(patch_list.problems)


def check_files(report, set_files):
    report.section("The files of the set")
    for note in set_files.notes:
        report.note(note)
    report.problems_of(set_files.problems)


def check_archives(report, set_files):
    report.section("The archives")
    read = [archives.Archive(path.lstrip("/"), local)
            for path, local in sorted(set_files.archives.items())]
    report.note("%d archive%s read" % (len(read), "" if len(read) == 1 else "s"))
    for archive in read:
        report.problems_of(archive.problems)
    report.problems_of(archives.case_clashes(read))


def is_signed(folder, public_key):
    return bool(public_key) or os.path.isfile(os.path.join(folder, SIGNATURE))


def check_signature(report, folder, public_key):
    """The publisher's signature, when the set is signed; its trusted comment or None."""
    if not is_signed(folder, public_key):
        return None
    signed = os.path.isfile(os.path.join(folder, SIGNATURE))
    report.section("The signature")
    if not signed:
        report.problem("--public-key given, but the set holds no %s (minisign -S -m %s)"
                       % (SIGNATURE, PATCH_LIST))
        return None
    if not public_key:
        report.problem("the set is signed (%s): check it with --public-key FILE" % SIGNATURE)
        return None
    problems, comment = signature.verify(os.path.join(folder, PATCH_LIST),
                                         os.path.join(folder, SIGNATURE), public_key)
    report.problems_of(problems)
    if not problems:
        report.note("verified with %s; trusted comment: %s" % (public_key, comment))
    return comment


def check_server(report, folder, server):
    """The list (and its signature) as the publisher's server serves them."""
    report.section("The server")
    for name in (PATCH_LIST, SIGNATURE):
        local = os.path.join(folder, name)
        if name == SIGNATURE and not os.path.exists(local):
            continue
        url = "%s/%s" % (server.rstrip("/"), name)
        try:
            with urllib.request.urlopen(url, timeout=30) as answer:
                served = answer.read()
        except (urllib.error.URLError, OSError) as error:
            report.problem("%s cannot be fetched: %s" % (url, error))
            continue
        with open(local, "rb") as f:
            if f.read() == served:
                report.note("%s is the set's %s" % (url, name))
            else:
                report.problem("%s is not the set's %s" % (url, name))


def starts_of(args, patch_list):
    if args.version or args.no_version:
        return ([None] if args.no_version else []) + list(args.version or [])
    return starting_versions(patch_list)


def parse_args():
    parser = argparse.ArgumentParser(
        description=__doc__.split("\n\n")[0],
        epilog="See docs/publishing.md, \"The release gate\".")
    parser.add_argument("folder", help="the patch set as it will lie on the web server")
    parser.add_argument("--expect", metavar="DIR",
                        help="the newest release's Documents: its patch folders as released")
    parser.add_argument("--version", action="append", metavar="V",
                        help="try a client at this version only (repeatable)")
    parser.add_argument("--no-version", action="store_true",
                        help="try a client without findownload.dat only (with --version: also)")
    parser.add_argument("--documents", metavar="DIR",
                        help="a folder every client has as its Documents before the repair")
    parser.add_argument("--public-key", metavar="FILE",
                        help="the publisher's minisign public key (.pub) for a signed set")
    parser.add_argument("--server", metavar="URL",
                        help="try the set on this server (http://host[:port]) instead of the "
                             "bundled one")
    parser.add_argument("--checks-only", action="store_true",
                        help="check the list and the archives, repair no client")
    parser.add_argument("--build", default=os.path.join(HERE, "..", "build", "release"),
                        help="the Linux build folder (default: build/release)")
    parser.add_argument("--binary", help="the program (instead of --build's)")
    parser.add_argument("--host", help="the patch-list host built into --binary")
    parser.add_argument("--rate", type=int, default=0, help="serve at about N bytes per second")
    parser.add_argument("--keep", metavar="DIR",
                        help="an empty or new folder that keeps the server and the clients")
    args = parser.parse_args()
    if not os.path.isfile(os.path.join(args.folder, PATCH_LIST)):
        parser.error("%s holds no %s" % (args.folder, PATCH_LIST))
    for option in ("expect", "documents"):
        if getattr(args, option) and not os.path.isdir(getattr(args, option)):
            parser.error("--%s %s is not a folder" % (option, getattr(args, option)))
    if args.keep and os.path.exists(args.keep) and os.listdir(args.keep):
        parser.error("--keep %s is not empty" % args.keep)
    return args


def main():
    args = parse_args()
    with open(os.path.join(args.folder, PATCH_LIST), "rb") as f:
        patch_list = read_patch_list(f.read())
    report = Report()
    try:
        set_files = SetFiles(args.folder, patch_list, is_signed(args.folder, args.public_key))
        check_list(report, patch_list)
        check_files(report, set_files)
        check_archives(report, set_files)
        trusted_comment = check_signature(report, args.folder, args.public_key)
        if args.server:
            check_server(report, args.folder, args.server)
        if args.checks_only:
            return report.finish()
        starts = starts_of(args, patch_list)
        work = args.keep or tempfile.mkdtemp(prefix="qxweb-try-")
        try:
            runs = Repairs(args, report, work, patch_list, trusted_comment)
            try:
                for index, version in enumerate(starts):
                    runs.try_start(index, version, detailed=bool(args.version or
                                                                 args.no_version))
            finally:
                runs.stop()
        finally:
            if not args.keep:
                shutil.rmtree(work, ignore_errors=True)
    except (trial.TrialError, signature.SignatureError) as error:
        print("try_patch_set: %s" % error, file=sys.stderr)
        return 2
    return report.finish()


if __name__ == "__main__":
    sys.exit(main())
