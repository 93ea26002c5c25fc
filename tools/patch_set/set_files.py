"""The files of a patch set held against its list: every line's archive is there, every file is
named by a line (or is the cumulative patch, the list's signature or its compressed copy), and
every hash line matches its archive."""

import gzip
import os

from archive_hashes import sha256_of
from patch_set.patch_list import PATCH_LIST

SIGNATURE = PATCH_LIST + ".minisig"
COMPRESSED_LIST = PATCH_LIST + ".gz"  # what nginx's gzip_static sends
def files_under(folder):
    """Every file of the folder as a server path ("/win32/a.zip")."""
    found = set()
    for parent, _, names in os.walk(folder):
        for name in names:
            rel = os.path.relpath(os.path.join(parent, name), folder)
            found.add("/" + rel.replace(os.sep, "/"))
    return found


class SetFiles:
    """The archives of the set: {server path: local file}, with their problems."""

    def __init__(self, folder, patch_list, signed):
        self.folder = folder
        self.archives = {}
        self.problems = []
        self.notes = []
        self._match_lines(patch_list)
        self._match_files(patch_list)
        self._check_hashes(patch_list, signed)

    def local(self, path):
        return os.path.join(self.folder, *path.strip("/").split("/"))

    def _match_lines(self, patch_list):
        for entry in sorted(patch_list.entries, key=lambda e: e.line):
            if entry.path is None or entry.path in self.archives:
                continue
            if os.path.isfile(self.local(entry.path)):
                self.archives[entry.path] = self.local(entry.path)
            else:
                self.problems.append("line %d: its archive %s is not in the set"
                                     % (entry.line, entry.path.lstrip("/")))
        cumulative = patch_list.cumulative_path()
        if cumulative and os.path.isfile(self.local(cumulative)):
            self.archives[cumulative] = self.local(cumulative)
            self.notes.append("cumulative patch: %s" % cumulative.lstrip("/"))
        elif cumulative:
            self.notes.append("no cumulative patch (%s): every repair ends without one"
                              % cumulative.lstrip("/"))

    def _match_files(self, patch_list):
        for path in sorted(files_under(self.folder) - set(self.archives)):
            if path in ("/" + PATCH_LIST, "/" + SIGNATURE):
                continue
            if path == "/" + COMPRESSED_LIST and self._holds_the_list():
                continue
            self.problems.append("%s: a file named by no line of the list (nor the cumulative "
                                 "patch of its newest version)" % path.lstrip("/"))

    def _holds_the_list(self):
        try:
            with gzip.open(self.local(COMPRESSED_LIST)) as packed, \
                    open(self.local(PATCH_LIST), "rb") as plain:
                return packed.read() == plain.read()
        except (OSError, EOFError):
            return False

    def _check_hashes(self, patch_list, signed):
        digests = {path: sha256_of(local) for path, local in self.archives.items()}
        by_name = {path.rsplit("/", 1)[-1]: path for path in self.archives}
        named = set()
        for line in patch_list.hashes:
            path = by_name.get(line.name)
            if path is None:
                self.problems.append("line %d: the hash line names %s, which is no archive of "
                                     "the set" % (line.line, line.name))
            elif digests[path] != line.digest:
                self.problems.append("line %d: the hash of %s does not match the file: the "
                                     "repair would fail with \"SHA-256 mismatch\""
                                     % (line.line, line.name))
            named.add(line.name)
        if not patch_list.hashes and not signed:
            self.notes.append("no #sha256: lines: the program unpacks the archives unchecked")
            return
        for name, path in sorted(by_name.items()):
            if name not in named:
                self.problems.append(
                    "%s has no #sha256: line%s" % (path.lstrip("/"), ": with a signed list the "
                                                   "program never unpacks it" if signed else ""))
