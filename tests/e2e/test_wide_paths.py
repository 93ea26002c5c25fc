"""Repairs of clients whose folder names lie outside the ANSI code page: the layer's code page is
set as on a Chinese Windows (936) or an English one (1252), so a path that went through narrow
text anywhere would lose those characters and the repair would fail. The log, kept in the ANSI
code page, shows what it cannot hold as <U+XXXX>."""

import os
import unittest

import qxweb
from qxweb import ClientFolder, PatchServer
from repair_case import (EXTRACT_FAILED, NEW_DOCUMENTS, OLD_DOCUMENTS, PATCH_FILES,
                         REPAIRED_HINT, documents, serve_patch)

IDC_HINT = 1005

# Names outside code page 936 (Hangul) and outside 1252 (Chinese), flagged as UTF-8 in the archive.
NAMED_FILES = {"pkres/한글/지도.pk": b"hangul", "pkres/角色/英雄.txt": b"hero"}


def client_named(test, name):
    """A client at 1.0.0 (repair_case's Documents) in a folder of that name."""
    client = ClientFolder(test, version="1.0.0", documents=OLD_DOCUMENTS)
    renamed = os.path.join(client.root, name)
    os.rename(client.path, renamed)
    client.path = renamed
    client.binary = os.path.join(renamed, os.path.basename(client.binary))
    return client


class WidePaths(unittest.TestCase):
    def test_a_client_folder_outside_the_code_page_is_repaired_with_every_name_right(self):
        for code_page, folder in (("936", "客户端 한글"), ("1252", "客户端")):
            with self.subTest(code_page=code_page):
                with PatchServer() as server:
                    serve_patch(server, dict(PATCH_FILES, **NAMED_FILES))
                    client = client_named(self, folder)
                    result = qxweb.run(client, answers=[], dialog=["press"],
                                       env={"QXWEB_ANSI_CODEPAGE": code_page})
                self.assertEqual([], result.boxes())
                self.assertEqual(REPAIRED_HINT, result.text(IDC_HINT))
                self.assertEqual(dict(NEW_DOCUMENTS, **NAMED_FILES), documents(client))
                self.assertFalse(os.path.exists(client.file("TmpPatch")))

    def test_the_log_names_such_a_path_with_what_the_code_page_lacks_escaped(self):
        with PatchServer() as server:
            serve_patch(server)
            server.put("/p/1.0.1.zip", b"PK\x03\x04 no archive")
            client = client_named(self, "客户端 한글")
            result = qxweb.run(client, answers=[], dialog=["press"],
                               env={"QXWEB_ANSI_CODEPAGE": "936"})
        self.assertEqual([EXTRACT_FAILED], result.boxes())
        with open(os.path.join(client.prefix, "drive_c", "QxWebHelper.txt"), "rb") as f:
            log = f.read().decode("gbk")
        archive = qxweb.winpath(client.file("TmpPatch", "1.0.1.zip"))
        self.assertIn(archive.replace("한글", "<U+D55C><U+AE00>"), log)
        self.assertEqual(OLD_DOCUMENTS, documents(client))


if __name__ == "__main__":
    unittest.main()
