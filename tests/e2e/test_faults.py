"""A repair of the real program meeting a full disk (through QXWEB_FAULTS) or a file that another
process holds locked: each failing stage shows its one box, and "Documents" is left exactly as it
was, whatever the repair had already done to it."""

import fcntl
import os
import shutil
import unittest

import qxweb
from qxweb import PatchServer
from repair_case import (BACKUP_FAILED, COPY_FAILED, DOWNLOAD_FAILED, EXTRACT_FAILED,
                         NEW_DOCUMENTS, OLD_DOCUMENTS, PATCH_FILES, REMOVAL_FAILED,
                         REPAIRED_HINT, IDC_HINT, documents, make_client, move_documents,
                         repair, serve_patch, tmp_patch)


class HeldLock:
    """A flock on a file, as another program holding it open would have: shared, it still lets
    the file be read (and backed up) but not deleted or overwritten; exclusive, not even read."""

    def __init__(self, path, shared=False):
        self.file = open(path, "rb")
        fcntl.flock(self.file.fileno(), fcntl.LOCK_SH if shared else fcntl.LOCK_EX)

    def release(self):
        if not self.file.closed:
            self.file.close()


class FullDisk(unittest.TestCase):
    def setUp(self):
        self.server = PatchServer()
        self.addCleanup(self.server.stop)
        serve_patch(self.server)

    def test_a_repair_without_faults_installs_the_patch(self):
        client = make_client(self)
        result = repair(client)
        self.assertEqual([], result.boxes())
        self.assertEqual(REPAIRED_HINT, result.text(IDC_HINT))
        self.assertEqual(NEW_DOCUMENTS, documents(client))
        self.assertFalse(os.path.exists(client.file("TmpPatch")))

    def test_full_disk_before_anything_was_removed_leaves_documents_alone(self):
        # The stage's own box comes last; a download failure may show the transfer's box first.
        cases = [
            ("download", "write:1:ENOSPC:/TmpPatch/1.0.1.zip", DOWNLOAD_FAILED, 2),
            ("extraction", "write:1:ENOSPC:/TmpPatch/1.0.1/", EXTRACT_FAILED, 1),
            # A move refused, and its copy meets a full disk: the folder moved before goes back.
            ("backup", "rename:2:EXDEV:/TmpPatch/OrgPatch/,copy:1:ENOSPC:/TmpPatch/OrgPatch/",
             BACKUP_FAILED, 1),
            ("record of the backup", "write:1:ENOSPC:/TmpPatch/repair.journal", BACKUP_FAILED, 1),
            ("record of a move", "write:3:ENOSPC:/TmpPatch/repair.journal", BACKUP_FAILED, 1),
            ("record of the whole backup", "write:5:ENOSPC:/TmpPatch/repair.journal",
             BACKUP_FAILED, 1),
            ("record of the removal", "write:6:ENOSPC:/TmpPatch/repair.journal", BACKUP_FAILED, 1),
        ]
        for stage, fault, box, most_boxes in cases:
            with self.subTest(stage=stage):
                client = make_client(self)
                result = repair(client, [fault])
                self.assertEqual(box, result.boxes()[-1])
                self.assertLessEqual(len(result.boxes()), most_boxes)
                self.assertNotIn(REPAIRED_HINT, result.texts(IDC_HINT))
                self.assertEqual(OLD_DOCUMENTS, documents(client))

    # Documents on another volume, so every move into it is refused and copied instead; the disk
    # fills during the install after the old folders were removed and part of the patch went in:
    # the backup goes back (copied too), and qatools, which the client never had, goes again.
    def test_full_disk_during_the_install_puts_the_old_folders_back(self):
        client = make_client(self)
        target = move_documents(client, "/dev/shm")
        self.addCleanup(shutil.rmtree, target, True)
        result = repair(client, ["copy:3:ENOSPC:/Documents/"])
        self.assertEqual([COPY_FAILED], result.boxes())
        self.assertEqual(OLD_DOCUMENTS, documents(client))
        self.assertNotIn("repair.journal", tmp_patch(client))

        # The next start finds nothing to put back and prepares an empty TmpPatch.
        result = qxweb.run(client, answers=[], dialog=[])
        self.assertEqual([], result.boxes())
        self.assertEqual({"All": None}, tmp_patch(client))
        self.assertEqual(OLD_DOCUMENTS, documents(client))


class LockedFile(unittest.TestCase):
    def setUp(self):
        self.server = PatchServer()
        self.addCleanup(self.server.stop)

    # The removal cannot delete a file another program holds; the restore finds it still holding
    # its old content, so the client is whole again at once and the next start is a plain one.
    def test_locked_file_during_the_removal(self):
        serve_patch(self.server)
        client = make_client(self)
        lock = HeldLock(client.file("Documents", "subver", "ver.txt"), shared=True)
        self.addCleanup(lock.release)

        result = repair(client)
        self.assertEqual([REMOVAL_FAILED], result.boxes())
        self.assertEqual(OLD_DOCUMENTS, documents(client))
        self.assertNotIn("repair.journal", tmp_patch(client))

        result = qxweb.run(client, answers=[], dialog=[])
        self.assertEqual([], result.boxes())
        self.assertEqual(["open", "close"], result.dialog_events())
        self.assertEqual({"All": None}, tmp_patch(client))

        lock.release()
        result = repair(client)
        self.assertEqual([], result.boxes())
        self.assertEqual(NEW_DOCUMENTS, documents(client))

    # A locked file of the client's own beside the patch folders stops the install copy.
    def test_locked_file_during_the_install(self):
        serve_patch(self.server, dict(PATCH_FILES, **{"settings.ini": b"theirs"}))
        client = make_client(self)
        lock = HeldLock(client.file("Documents", "settings.ini"))
        self.addCleanup(lock.release)

        result = repair(client)
        self.assertEqual([COPY_FAILED], result.boxes())
        self.assertEqual(OLD_DOCUMENTS, documents(client))


if __name__ == "__main__":
    unittest.main()
