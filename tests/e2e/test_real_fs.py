"""The repair on real file-system conditions that injected faults do not reach: a disk that really
fills up (a small tmpfs, root only), a client run by an unprivileged user with folders it may not
write, and patch folders that are symbolic links to folders elsewhere. In every case the user gets
a clear box, nothing is lost or changed outside the client, and the next start opens the dialog."""

import os
import shutil
import subprocess
import tempfile
import unittest

import qxweb
import real_fs
from download_case import log_text
from qxweb import PatchServer
from repair_case import (BACKUP_FAILED, COPY_FAILED, DOWNLOAD_FAILED, EXTRACT_FAILED, IDC_HINT,
                         NEW_DOCUMENTS, OLD_DOCUMENTS, PATCH_FILES, REMOVAL_FAILED, REPAIRED_HINT,
                         documents, make_client, move_documents, repair, serve_patch)

NEEDS_ROOT = "needs root (mount, runuser)"


def plain_start(client, user=None):
    return qxweb.run(client, answers=[], dialog=["close"], user=user)


class RealFsCase(unittest.TestCase):
    def setUp(self):
        self.server = PatchServer()
        self.addCleanup(self.server.stop)

    def assertOpensCleanly(self, result):
        self.assertEqual([], result.boxes())
        self.assertEqual(["open", "close"], result.dialog_events())

    def assertRepaired(self, client, result, expected):
        self.assertEqual([], result.boxes())
        self.assertIn(REPAIRED_HINT, result.texts(IDC_HINT))
        self.assertEqual(expected, documents(client))


@unittest.skipUnless(real_fs.is_root(), NEEDS_ROOT)
class FullDisk(RealFsCase):
    def setUp(self):
        super().setUp()
        real_fs.serve_big(self.server)
        self.archives = real_fs.big_archive_bytes(self.server)

    # The whole client on a small file system, left with less room than the download, then than
    # the unpacked patch (refused before the unpacking begins): the stage's box, Documents as it
    # was; once room is made, a plain start opens and a repair succeeds.
    def test_a_disk_full_in_the_download_or_the_extraction_loses_nothing(self):
        for stage, free, last_box in (("download", 64 * 1024, DOWNLOAD_FAILED),
                                      ("extraction", self.archives + 96 * 1024, EXTRACT_FAILED)):
            with self.subTest(stage=stage):
                client = real_fs.client_on_tmpfs(self, 4 * self.archives)
                filler = real_fs.leave_free(client.path, free)
                result = repair(client)
                self.assertEqual(last_box, result.boxes()[-1])
                self.assertEqual(OLD_DOCUMENTS, documents(client))
                if stage == "extraction":
                    # Found before unpacking anything: the log names both sizes.
                    log = log_text(client)
                    self.assertIn("error 112: There is not enough space on the disk.", log)
                    self.assertRegex(log, r"the archives unpack to \d+ bytes; the volume of "
                                          r".*TmpPatch has \d+ bytes free")
                    unpacked = [name for name in os.listdir(client.file("TmpPatch"))
                                if name.startswith("1.0.") and not name.endswith(".zip")]
                    self.assertEqual([], unpacked)

                os.unlink(filler)
                self.assertOpensCleanly(plain_start(client))
                self.assertRepaired(client, repair(client), real_fs.BIG_NEW)

    # Documents on another file system, so the backup is a copy into TmpPatch, which has room for
    # the unpacked patch but not for the copy: the backup's box, Documents as it was.
    def test_a_backup_copy_that_fills_the_disk_loses_nothing(self):
        client = real_fs.client_on_tmpfs(self, 4 * self.archives + 1024 * 1024, real_fs.LARGE_OLD)
        target = move_documents(client, "/dev/shm")
        self.addCleanup(shutil.rmtree, target, True)
        filler = real_fs.leave_free(client.path, 2 * self.archives + 256 * 1024)
        result = repair(client)
        self.assertEqual([BACKUP_FAILED], result.boxes())
        self.assertEqual(real_fs.LARGE_OLD, qxweb.tree(target))

        os.unlink(filler)
        self.assertOpensCleanly(plain_start(client))
        self.assertRepaired(client, repair(client), real_fs.BIG_NEW)

    # Documents on a small file system of its own (behind a link): the install copies into it and
    # runs out of room part way. The old folders come back whole; with room, the repair succeeds.
    def test_documents_filling_up_during_the_install_is_undone(self):
        client = make_client(self)
        target = real_fs.documents_on_tmpfs(self, client, 400 * 1024)
        result = repair(client)
        self.assertEqual(COPY_FAILED, result.boxes()[-1])
        self.assertEqual(OLD_DOCUMENTS, qxweb.tree(target))

        subprocess.run(["mount", "-o", "remount,size=4m", target], check=True)
        self.assertOpensCleanly(plain_start(client))
        self.assertRepaired(client, repair(client), real_fs.BIG_NEW)
        self.assertTrue(os.path.islink(client.file("Documents")))


@unittest.skipUnless(real_fs.is_root(), NEEDS_ROOT)
class UnprivilegedUser(RealFsCase):
    def setUp(self):
        super().setUp()
        serve_patch(self.server)
        self.user = real_fs.ensure_probe_user()

    def client(self):
        client = make_client(self)
        real_fs.hand_to(client, self.user)
        # Whatever a case locked, the clean-up must be able to remove.
        self.addCleanup(subprocess.run, ["chmod", "-R", "u+rwx", client.root], check=False)
        return client

    def repair(self, client):
        return qxweb.run(client, answers=[], dialog=["press"], user=self.user)

    # A patch folder, or Documents itself, the user may not write: its old patch cannot be
    # removed, the box says so, Documents stays as it was and the next start opens.
    def test_a_folder_without_write_permission_stops_the_repair_cleanly(self):
        for locked in ("Documents/pkres", "Documents"):
            with self.subTest(locked=locked):
                client = self.client()
                os.chmod(client.file(locked), 0o555)
                result = self.repair(client)
                self.assertEqual([REMOVAL_FAILED], result.boxes())
                self.assertEqual(OLD_DOCUMENTS, documents(client))
                self.assertOpensCleanly(plain_start(client, self.user))
                self.assertEqual(OLD_DOCUMENTS, documents(client))

    # Inside a patch folder, a folder the user may not open, one owned by someone else or a
    # read-only file of someone else's: the patch folder moves whole into the backup, so the
    # repair succeeds; the backup then cannot be emptied, and still neither the next start nor
    # the next repair is locked out.
    def test_what_the_user_may_not_remove_never_locks_out_a_start_or_a_repair(self):
        for case in ("a folder of mode 000", "a folder owned by root", "a read-only root file"):
            with self.subTest(case=case):
                serve_patch(self.server)
                client = self.client()
                sub = client.file("Documents", "pkres", "sub")
                if case == "a folder of mode 000":
                    os.chmod(sub, 0)
                elif case == "a folder owned by root":
                    shutil.chown(sub, "root", "root")
                else:
                    shutil.chown(os.path.join(sub, "b.pk"), "root", "root")
                    os.chmod(os.path.join(sub, "b.pk"), 0o444)
                self.assertRepaired(client, self.repair(client), NEW_DOCUMENTS)
                self.assertOpensCleanly(plain_start(client, self.user))
                self.assertEqual(NEW_DOCUMENTS, documents(client))

                serve_patch(self.server, dict(PATCH_FILES, **{"pkres/a.pk": b"newer a"}))
                self.assertRepaired(client, self.repair(client),
                                    dict(NEW_DOCUMENTS, **{"pkres/a.pk": b"newer a"}))


class LinkedPatchFolder(RealFsCase):
    def setUp(self):
        super().setUp()
        serve_patch(self.server)

    # The patch folder pkres is a link to a folder elsewhere (on this volume or on /dev/shm), with
    # Documents itself in place or on another volume, and the repair succeeds or fails in the
    # install: the folder the link leads to is never changed.
    def test_the_folder_a_patch_folder_links_to_is_never_changed(self):
        for volume in ("same", "other"):
            for documents_elsewhere in (False, True):
                for install_fails in (False, True):
                    with self.subTest(volume=volume, documents_elsewhere=documents_elsewhere,
                                      install_fails=install_fails):
                        self.check_linked_pkres(volume, documents_elsewhere, install_fails)

    def check_linked_pkres(self, volume, documents_elsewhere, install_fails):
        client = make_client(self)
        parent = tempfile.mkdtemp(dir=client.root if volume == "same" else "/dev/shm")
        self.addCleanup(shutil.rmtree, parent, True)
        outside = os.path.join(parent, "pkres")
        shutil.move(client.file("Documents", "pkres"), outside)
        os.symlink(outside, client.file("Documents", "pkres"))
        if documents_elsewhere:
            self.addCleanup(shutil.rmtree, move_documents(client, "/dev/shm"), True)
        if install_fails:
            serve_patch(self.server, dict(PATCH_FILES, **{"settings.ini": b"theirs"}))
            os.chmod(client.file("Documents", "settings.ini"), 0o444)
        before = qxweb.tree(parent)
        old_pkres = qxweb.tree(outside)

        result = repair(client)
        self.assertEqual(before, qxweb.tree(parent))
        if install_fails:
            self.assertEqual([COPY_FAILED], result.boxes())
            self.assertEqual(old_pkres, qxweb.tree(client.file("Documents", "pkres")))
            if not documents_elsewhere:
                self.assertTrue(os.path.islink(client.file("Documents", "pkres")))
        else:
            self.assertEqual([], result.boxes())
        self.assertOpensCleanly(plain_start(client))
        self.assertEqual(before, qxweb.tree(parent))


if __name__ == "__main__":
    unittest.main()
