"""Signed patch lists through the real program: a build with a public key repairs from a list
signed with the stock minisign tool (prehashed or legacy), and refuses, fetching nothing beyond the
list and changing nothing, a list altered after signing, one signed by another key, a missing or
malformed signature, and a list older than one accepted before; an archive the signed list gives no
hash line is never fetched. The key reaches the Linux build through its test setting."""

import hashlib
import os
import shutil
import subprocess
import tempfile
import unittest

import qxweb
from qxweb import PatchServer, patch_line, patch_list
from repair_case import (ARCHIVE_PATH, DOWNLOAD_FAILED, IDC_HINT, NEW_DOCUMENTS, OLD_DOCUMENTS,
                         PATCH_FILES, PATCH_LIST_FAILED, REPAIRED_HINT, documents, log_text,
                         make_client, with_folder_entries)

MINISIGN = shutil.which("minisign")
REFUSED = ("提示", "获取PatchList网络异常，错误信息：更新列表签名校验失败", "OK", "ok")
RETRY = ("下载异常", "获取更新列表失败，是否需要重试！", "OKCANCEL", "cancel")


class Publisher:
    """A minisign key pair made for the test, without a password."""

    def __init__(self, test):
        self.folder = tempfile.mkdtemp(prefix="qxweb-key-")
        test.addCleanup(shutil.rmtree, self.folder, True)
        self.public = os.path.join(self.folder, "key.pub")
        self.secret = os.path.join(self.folder, "key.key")
        subprocess.run([MINISIGN, "-G", "-W", "-p", self.public, "-s", self.secret],
                       check=True, capture_output=True)

    def key_text(self):
        with open(self.public, encoding="ascii") as f:
            return f.read().splitlines()[1]

    def sign(self, path, *options):
        """minisign -S on the file, writing path + ".minisig"."""
        subprocess.run([MINISIGN, "-S", "-s", self.secret, "-m", path, *options],
                       check=True, capture_output=True)


@unittest.skipUnless(MINISIGN, "needs minisign")
class SignedLists(unittest.TestCase):
    def setUp(self):
        self.server = PatchServer()
        self.addCleanup(self.server.stop)
        self.publisher = Publisher(self)
        archive = os.path.join(self.server.root, *ARCHIVE_PATH.strip("/").split("/"))
        qxweb.make_zip(archive, with_folder_entries(PATCH_FILES))
        with open(archive, "rb") as f:
            digest = hashlib.sha256(f.read()).hexdigest()
        self.list_text = patch_list([patch_line("1.0.1", self.server.url(ARCHIVE_PATH))],
                                    headers={"sha256:1.0.1.zip": digest})
        self.list_path = os.path.join(self.server.root, "qx_patchlist_win32")

    def publish(self, text=None, *sign_options, publisher=None):
        self.server.put_patch_list(self.list_text if text is None else text)
        (publisher or self.publisher).sign(self.list_path, *sign_options)

    def start(self, client, answers=()):
        """A run of the program built with the publisher's key that presses the repair button."""
        env = {"QXWEB_LIST_PUBLIC_KEY": self.publisher.key_text()}
        return qxweb.run(client, answers=list(answers), dialog=["press"], env=env)

    def repair(self, client):
        return self.start(client)

    def assertRepaired(self, client, result):
        self.assertEqual([], result.boxes())
        self.assertEqual(REPAIRED_HINT, result.text(IDC_HINT))
        self.assertEqual(NEW_DOCUMENTS, documents(client))

    def assertRefused(self, client, result, reason):
        self.assertEqual([REFUSED, RETRY, PATCH_LIST_FAILED], result.boxes())
        self.assertEqual(OLD_DOCUMENTS, documents(client))
        self.assertEqual(0, self.server.count(ARCHIVE_PATH))
        self.assertIn("patch list refused: " + reason, log_text(client))

    def test_a_list_signed_by_the_publisher_is_repaired_from(self):
        for options in ((), ("-l",)):  # prehashed, minisign's default, and legacy
            with self.subTest(options=options):
                self.publish(None, *options)
                client = make_client(self)
                self.assertRepaired(client, self.repair(client))
                self.assertIn("patch list accepted: signed by key", log_text(client))

    def test_a_list_that_is_not_the_one_signed_is_refused(self):
        other = Publisher(self)
        cases = [
            ("altered after signing", lambda: self.altered(), "bad signature"),
            ("signed by another key", lambda: self.publish(None, publisher=other), "signed by key"),
            ("no signature file", lambda: self.unsigned(), "no signature file"),
            ("a malformed signature file", lambda: self.malformed(), "malformed signature file"),
        ]
        for case, prepare, reason in cases:
            with self.subTest(case):
                prepare()
                client = make_client(self)
                self.assertRefused(client, self.start(client, answers=["ok", "cancel"]), reason)

    def altered(self):
        self.publish()
        self.server.put_patch_list(self.list_text + "1.0.2 %s 1 x\n" % self.server.url("/evil.zip"))

    def unsigned(self):
        self.server.put_patch_list(self.list_text)
        os.remove(self.list_path + ".minisig")

    def malformed(self):
        self.publish()
        with open(self.list_path + ".minisig", "r+", encoding="ascii") as f:
            lines = f.read().splitlines()
            f.seek(0)
            f.truncate()
            f.write("\n".join(lines[:1] + ["RW not a signature"] + lines[2:]) + "\n")

    # A list accepted once keeps the client from every list signed before it (an attacker
    # replaying an older, signed list): the record of the newest stays in the client folder.
    def test_a_list_older_than_one_accepted_is_refused(self):
        client = make_client(self)
        self.publish(None, "-t", "timestamp:2000000000\tfile:qx_patchlist_win32")
        self.assertRepaired(client, self.repair(client))

        qxweb.write_file(client.file("findownload.dat"), "1.0.0")
        self.publish(None, "-t", "timestamp:1900000000\tfile:qx_patchlist_win32")
        result = self.start(client, answers=["ok", "cancel"])
        self.assertEqual([REFUSED, RETRY, PATCH_LIST_FAILED], result.boxes())
        self.assertIn("before the list accepted on 2033-05-18", log_text(client))

    def test_an_archive_without_its_hash_line_is_never_fetched(self):
        self.publish(patch_list([patch_line("1.0.1", self.server.url(ARCHIVE_PATH))]))
        client = make_client(self)
        result = self.repair(client)
        self.assertEqual([DOWNLOAD_FAILED], result.boxes())
        self.assertEqual(OLD_DOCUMENTS, documents(client))
        self.assertEqual(0, self.server.count(ARCHIVE_PATH))
        self.assertIn("archive 1.0.1.zip refused: the signed patch list has no SHA-256 line",
                      log_text(client))


if __name__ == "__main__":
    unittest.main()
