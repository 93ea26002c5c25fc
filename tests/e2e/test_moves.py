"""A repair moves instead of copying: the merge, the backup, the install and a restore rename
folders and files. Where the system refuses a move (another volume, a file in use) that entry is
copied instead, with the same result; a Documents folder that is a link is used as the folder it
points to, and nothing outside it is touched."""

import fcntl
import os
import shutil
import tempfile
import unittest

import qxweb
from qxweb import PatchServer
from repair_case import (NEW_DOCUMENTS, OLD_DOCUMENTS, REPAIRED_HINT, IDC_HINT, COPY_FAILED,
                         PATCH_FILES, documents, is_stopped, log_text, make_client,
                         move_documents, repair, serve_patch, start_repair, tmp_patch)


def linked_documents(test, client, parent):
    target = move_documents(client, parent)
    test.addCleanup(shutil.rmtree, target, True)
    return target


class Moves(unittest.TestCase):
    def setUp(self):
        self.server = PatchServer()
        self.addCleanup(self.server.stop)
        serve_patch(self.server)

    def assertRepaired(self, client, result):
        self.assertEqual([], result.boxes())
        self.assertIn(REPAIRED_HINT, result.texts(IDC_HINT))
        self.assertEqual(NEW_DOCUMENTS, documents(client))
        self.assertFalse(os.path.exists(client.file("TmpPatch")))

    # A move the system refuses in each stage that moves (three folders go into All, three into
    # OrgPatch, then three into Documents): that folder is copied, and the repair ends the same.
    def test_a_refused_move_in_each_stage_copies_to_the_same_result(self):
        for stage, fault in (("merge", "rename:2:EXDEV:/TmpPatch/All/"),
                             ("backup", "rename:1:EXDEV:/TmpPatch/OrgPatch/"),
                             ("install", "rename:4:EXDEV:/TmpPatch/All/"),
                             ("install, as access denied", "rename:5:EACCES:/TmpPatch/All/")):
            with self.subTest(stage=stage):
                client = make_client(self)
                self.assertRepaired(client, repair(client, [fault]))

    # A file of the unpacked patch is held open by another program when the merge moves it: its
    # folder cannot move, the file itself cannot either; it is copied, and the repair ends the
    # same (the held file stays behind in TmpPatch until it is let go).
    def test_a_file_in_use_is_copied_instead_of_moved(self):
        client = make_client(self)
        run = start_repair(client, ["opendir:1:SIGSTOP:/TmpPatch/1.0.1"])
        qxweb.wait_until(lambda: is_stopped(run), what="the merge to begin")
        held = open(client.file("TmpPatch", "1.0.1", "pkres", "a.pk"), "rb")
        self.addCleanup(held.close)
        fcntl.flock(held.fileno(), fcntl.LOCK_SH)
        os.kill(run.proc.pid, 18)  # SIGCONT
        result = run.finish()
        self.assertEqual([], result.boxes())
        self.assertEqual(NEW_DOCUMENTS, documents(client))
        self.assertEqual(b"new a", qxweb.tree(client.file("TmpPatch"))["1.0.1/pkres/a.pk"])

    # Documents is a link: to a folder on the same volume, where everything moves, and to one on
    # another volume (/dev/shm), where every move into or out of it is refused and copied. The
    # repair lands in the folder it points to, the link stays a link, nothing beside it changes.
    def test_a_documents_folder_that_is_a_link_is_repaired_where_it_points(self):
        for volume in ("same", "other"):
            with self.subTest(volume=volume):
                client = make_client(self)
                parent = tempfile.mkdtemp(dir=client.root if volume == "same" else "/dev/shm")
                self.addCleanup(shutil.rmtree, parent, True)
                qxweb.write_file(os.path.join(parent, "beside.txt"), b"not the client's")
                target = linked_documents(self, client, parent)

                self.assertRepaired(client, repair(client))
                self.assertTrue(os.path.islink(client.file("Documents")))
                self.assertEqual(NEW_DOCUMENTS, qxweb.tree(target))
                self.assertEqual({"beside.txt", os.path.basename(target)}, set(os.listdir(parent)))

    # On another volume the install fails part way: the old folders come back, copied as well.
    def test_a_failed_install_on_another_volume_is_undone(self):
        serve_patch(self.server, dict(PATCH_FILES, **{"settings.ini": b"theirs"}))
        client = make_client(self)
        target = linked_documents(self, client, "/dev/shm")
        os.chmod(os.path.join(target, "settings.ini"), 0o444)
        self.addCleanup(os.chmod, os.path.join(target, "settings.ini"), 0o644)

        result = repair(client)
        self.assertEqual([COPY_FAILED], result.boxes())
        self.assertEqual(OLD_DOCUMENTS, qxweb.tree(target))
        self.assertNotIn("repair.journal", tmp_patch(client))

    # A link inside a patch folder moves with its folder into the backup and is removed with it;
    # the folder it leads to is never entered.
    def test_a_link_inside_a_patch_folder_is_never_followed(self):
        client = make_client(self)
        outside = os.path.join(client.root, "outside")
        qxweb.write_file(os.path.join(outside, "precious.txt"), b"p")
        os.symlink(outside, client.file("Documents", "pkres", "linked"))

        self.assertRepaired(client, repair(client))
        self.assertEqual({"precious.txt": b"p"}, qxweb.tree(outside))

    # A folder beside the patch folders links to a folder outside the client, and the patch brings
    # a file for it: the install never writes through the link. It fails cleanly with its box,
    # the old folders come back, the folder the link leads to is untouched and the log names the
    # link.
    def test_a_link_in_the_installs_way_fails_it_and_its_target_is_untouched(self):
        files = dict(PATCH_FILES, **{"res/new.txt": b"new"})
        serve_patch(self.server, files)
        for kind in ("folder", "file"):
            with self.subTest(link_to=kind):
                client = make_client(self)
                outside = os.path.join(client.root, "outside")
                qxweb.write_file(os.path.join(outside, "precious.txt"), b"p")
                if kind == "folder":
                    os.symlink(outside, client.file("Documents", "res"))
                else:
                    os.makedirs(client.file("Documents", "res"))
                    os.symlink(os.path.join(outside, "precious.txt"),
                               client.file("Documents", "res", "new.txt"))
                before = documents(client)

                result = repair(client)
                self.assertEqual([COPY_FAILED], result.boxes())
                self.assertEqual(before, documents(client))
                self.assertEqual({"precious.txt": b"p"}, qxweb.tree(outside))
                link = client.winpath("Documents", "res") + ("" if kind == "folder" else "\\new.txt")
                self.assertIn(link + " refused", log_text(client))


if __name__ == "__main__":
    unittest.main()
