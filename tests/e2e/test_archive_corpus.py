"""Repairs from patch archives made by real tools (archive_corpus.py): each one installs exactly
what Python's zipfile reads from it; one the reader cannot use whole (encrypted, another method, a
symbolic link, split) and a damaged copy (truncated, or a byte flipped in the data, the central
directory or a local header) end with the extraction box and leave "Documents" as it was."""

import os
import shutil
import struct
import tempfile
import unittest
import zipfile

import archive_corpus
from qxweb import ClientFolder, PatchServer, patch_line, patch_list
from repair_case import ARCHIVE_PATH, EXTRACT_FAILED, IDC_HINT, REPAIRED_HINT, documents, repair

OLD_DOCUMENTS = {
    "pkres/角色/英雄.txt": b"old hero",
    "pkres/old.pk": b"dropped by the repair",
    "subver/ver.txt": b"1.0.0",
    "settings.ini": b"the player's own",
    "截图/one.txt": b"the player's own too",
}


def expected_documents(archive_path):
    """Documents after a repair from the archive, from Python's zipfile: the player's own files,
    and the patch folders as the archive has them (names in the system code page, UTF-8 here)."""
    tree = {name: data for name, data in OLD_DOCUMENTS.items()
            if name.split("/")[0] not in ("pkres", "subver", "patch_cache", "qatools")}
    with zipfile.ZipFile(archive_path) as archive:
        infos = archive.infolist()
        for info in infos:
            name = os.path.normpath(archive_corpus.raw_name(info).decode("utf-8"))
            if name == ".":
                continue
            if info.is_dir():
                tree.setdefault(name, None)
            else:
                tree[name] = archive.read(info)
    # A folder holding anything is not listed as an empty one.
    return {name: data for name, data in tree.items()
            if data is not None or not any(other.startswith(name + "/") for other in tree)}


def links_below(folder):
    return [os.path.join(parent, name) for parent, folders, files in os.walk(folder)
            for name in folders + files if os.path.islink(os.path.join(parent, name))]


def flipped(data, offset):
    return data[:offset] + bytes([data[offset] ^ 0xFF]) + data[offset + 1:]


def central_record(data, start, target):
    """Offset of the central-directory record of the entry named target (raw bytes), reading the
    records from start, where the central directory begins."""
    while data[start:start + 4] == b"PK\x01\x02":
        name_length, extra_length, comment_length = struct.unpack("<HHH",
                                                                  data[start + 28:start + 34])
        if data[start + 46:start + 46 + name_length] == target:
            return start
        start += 46 + name_length + extra_length + comment_length
    raise AssertionError("no central record for %r" % target)


def damaged_copies(archive_path):
    """{what: bytes} for the four kinds of damage, each in the largest file entry."""
    with open(archive_path, "rb") as f:
        data = f.read()
    with zipfile.ZipFile(archive_path) as archive:
        largest = max(archive.infolist(), key=lambda info: info.compress_size)
        central = central_record(data, archive.start_dir, archive_corpus.raw_name(largest))
    header, data_start = archive_corpus.local_header(data, largest)
    return {
        "truncated": data[:len(data) // 2],
        "data": flipped(data, data_start + largest.compress_size // 2),
        # The entry's checksum.
        "central directory": flipped(data, central + 16),
        # The compression method, which must match the central record's.
        "local header": flipped(data, header + 8),
    }


class ArchivesOfRealTools(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        absent = archive_corpus.missing_tools()
        if absent:
            raise AssertionError("missing tools: %s (scripts/setup.sh installs them)"
                                 % " ".join(absent))
        cls.folder = tempfile.mkdtemp(prefix="qxweb-corpus-")
        cls.corpus = archive_corpus.make_corpus(cls.folder)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.folder, ignore_errors=True)

    def setUp(self):
        self.server = PatchServer()
        self.addCleanup(self.server.stop)
        self.server.put_patch_list(patch_list([patch_line("1.0.1",
                                                          self.server.url(ARCHIVE_PATH))]))

    def serve(self, content):
        self.server.put(ARCHIVE_PATH, content)

    def test_the_corpus_has_every_feature(self):
        seen = set()
        for path in self.corpus.values():
            seen |= archive_corpus.features(path)
        for feature in ("folders without entries", "data descriptors", "zip64 end records",
                        "zip64 extra (central)", "zip64 extra (local)", "UTF-8 flag",
                        "unflagged UTF-8 names", "stored", "deflated", "./ names", "comment",
                        "data in front"):
            self.assertIn(feature, seen)

    def test_each_archive_installs_what_zipfile_reads(self):
        for name, path in self.corpus.items():
            with self.subTest(archive=name):
                with open(path, "rb") as f:
                    self.serve(f.read())
                client = ClientFolder(self, version="1.0.0", documents=OLD_DOCUMENTS)
                result = repair(client)
                self.assertEqual([], result.boxes())
                self.assertEqual(REPAIRED_HINT, result.text(IDC_HINT))
                installed = documents(client)
                self.assertEqual(expected_documents(path), installed)
                # zipfile's view is the packed tree itself.
                for file_name, data in archive_corpus.TREE.items():
                    self.assertEqual(data, installed[file_name])

    def test_an_archive_it_cannot_use_whole_ends_with_the_extraction_box(self):
        # Never a link, nor a link's target written as the file in its place.
        for name, path in archive_corpus.make_refused(os.path.join(self.folder, "refused")).items():
            with self.subTest(archive=name):
                with open(path, "rb") as f:
                    self.serve(f.read())
                client = ClientFolder(self, version="1.0.0", documents=OLD_DOCUMENTS)
                result = repair(client)
                self.assertEqual([EXTRACT_FAILED], result.boxes())
                self.assertEqual(OLD_DOCUMENTS, documents(client))
                self.assertEqual([], links_below(client.root))

    def test_a_damaged_archive_ends_with_the_extraction_box(self):
        for name in ("7zip", "python-pipe"):
            for damage, content in damaged_copies(self.corpus[name]).items():
                with self.subTest(archive=name, damage=damage):
                    self.serve(content)
                    client = ClientFolder(self, version="1.0.0", documents=OLD_DOCUMENTS)
                    result = repair(client)
                    self.assertEqual([EXTRACT_FAILED], result.boxes())
                    self.assertEqual(OLD_DOCUMENTS, documents(client))


if __name__ == "__main__":
    unittest.main()
