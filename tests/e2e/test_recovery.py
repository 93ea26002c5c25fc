"""The recovery as a user meets it, with the real program: a finished repair is never undone, no
state of TmpPatch and its journal keeps the tool from its dialog, a start after a crash puts the
old patch folders back before it needs the network, and a restore that cannot finish names the
file and lets the user go on."""

import fcntl
import os
import shutil
import subprocess
import unittest

import qxweb
from qxweb import PatchServer
from repair_case import (BACKUP_FAILED, COPY_FAILED, EXTRACT_FAILED, IDC_HINT, MERGE_FAILED,
                         NEW_DOCUMENTS, OLD_DOCUMENTS, PATCH_FILES, PATCH_LIST_FAILED,
                         REMOVAL_FAILED, REPAIRED_HINT, RESTORE_FAILED, documents, kill_at,
                         log_text, make_client, repair, serve_patch, tmp_patch)

# Killed here the install has begun: some of the patch is in, the old folders are gone. (Three
# folders move into All in the merge, then the install moves them on.)
IN_THE_INSTALL = "rename:5:SIGSTOP:/TmpPatch/All/"

GAME_QUESTION = ("提示", "当前有游戏客户端进程正在运行中，需结束游戏进程才能使用本工具。是否立即结束进程？")

# A start whose restore cannot finish: pkres, moved aside, cannot be moved back, and the first
# file of its copy is refused.
RESTORE_REFUSED = "rename:2:EXDEV:/Documents/,copy:1:EACCES:/Documents/"


def plain_start(client, faults=None, dialog=("close",)):
    env = {"QXWEB_FAULTS": ",".join(faults)} if faults else None
    return qxweb.run(client, answers=[], dialog=list(dialog), env=env)


def hold(test, path, shared=False):
    """A flock on path as another program holding it open has, released when the test ends."""
    held = open(path, "rb")
    fcntl.flock(held.fileno(), fcntl.LOCK_SH if shared else fcntl.LOCK_EX)
    test.addCleanup(held.close)
    return held


def is_held(path):
    """Whether another program holds a flock on path."""
    with open(path, "rb") as probe:
        try:
            fcntl.flock(probe.fileno(), fcntl.LOCK_EX | fcntl.LOCK_NB)
        except BlockingIOError:
            return True
        fcntl.flock(probe.fileno(), fcntl.LOCK_UN)
        return False


def make_read_only(test, path):
    os.chmod(path, 0o444)
    test.addCleanup(lambda: os.path.exists(path) and os.chmod(path, 0o644))


class RecoveryCase(unittest.TestCase):
    def setUp(self):
        self.server = PatchServer()
        self.addCleanup(self.server.stop)
        serve_patch(self.server)

    def assertOpensCleanly(self, result):
        self.assertEqual([], result.boxes())
        self.assertEqual(["open", "close"], result.dialog_events())


class FinishedRepair(RecoveryCase):
    # The journal, or anything in TmpPatch, cannot be removed after the install: the success shown
    # is final, and the next plain start neither restores nor complains.
    def test_a_journal_that_cannot_be_removed_never_undoes_the_repair(self):
        for fault in ("unlink:1:EACCES:TmpPatch", "unlink:1:EACCES:repair.journal",
                      "open:1:EACCES:repair.journal,unlink:1:EACCES:repair.journal"):
            with self.subTest(fault=fault):
                client = make_client(self)
                result = repair(client, [fault])
                self.assertEqual([], result.boxes())
                self.assertIn(REPAIRED_HINT, result.texts(IDC_HINT))

                self.assertOpensCleanly(plain_start(client))
                self.assertEqual(NEW_DOCUMENTS, documents(client))
                self.assertEqual({"All": None}, tmp_patch(client))

    # The line that records the completion is refused (a full disk): without it the repair is not
    # finished, so the old folders go back and the failure is shown; nothing is left half done.
    def test_a_completion_that_cannot_be_written_is_undone_and_shown(self):
        client = make_client(self)
        old = documents(client)
        # The journal's 7th line would record the completion.
        result = repair(client, ["write:7:ENOSPC:repair.journal", "unlink:1:EACCES:repair.journal"])
        self.assertEqual([COPY_FAILED], result.boxes())
        self.assertNotIn(REPAIRED_HINT, result.texts(IDC_HINT))
        self.assertEqual(old, documents(client))
        self.assertOpensCleanly(plain_start(client))
        self.assertEqual(old, documents(client))


class HeldOriginals(RecoveryCase):
    """A read-only or in-use file of the client's in the patch folders."""

    def make_client_with_tools(self):
        client = qxweb.ClientFolder(self, version="1.0.0",
                                    documents=dict(OLD_DOCUMENTS, **{"qatools/q.txt": b"old q"}))
        return client, documents(client)

    # A read-only file does not keep its folder from moving into the backup, so the repair goes
    # through. Where the move is refused and the folder copied, the read-only file stops the
    # removal; it still holds what the backup holds, so the restore is complete and no later start
    # is blocked. Cleared by the player, the repair goes through that way too.
    def test_a_read_only_file_in_qatools_never_locks_the_user_out(self):
        client, old = self.make_client_with_tools()
        make_read_only(self, client.file("Documents", "qatools", "q.txt"))
        qatools_copied = ["rename:1:EXDEV:/TmpPatch/OrgPatch/qatools"]

        for _ in range(2):
            result = repair(client, qatools_copied)
            self.assertEqual([REMOVAL_FAILED], result.boxes())
            self.assertEqual(old, documents(client))
            self.assertOpensCleanly(plain_start(client))
            self.assertEqual({"All": None}, tmp_patch(client))
        self.assertIn("removal failed: DeleteFileW " + client.winpath("Documents", "qatools",
                                                                      "q.txt"), log_text(client))

        result = repair(client)
        self.assertEqual([], result.boxes())
        self.assertEqual(NEW_DOCUMENTS, documents(client))
        self.assertFalse(os.path.exists(client.file("TmpPatch")))

        client, _ = self.make_client_with_tools()
        os.chmod(client.file("Documents", "qatools", "q.txt"), 0o644)
        result = repair(client, qatools_copied)
        self.assertEqual([], result.boxes())
        self.assertEqual(NEW_DOCUMENTS, documents(client))

    def test_a_file_in_use_in_each_stage_fails_that_stage_and_loses_nothing(self):
        cases = [
            # Not even readable: the backup cannot copy it.
            ("backup", ("Documents", "pkres", "a.pk"), False, BACKUP_FAILED),
            # Readable, not removable: the removal stops, the restore finds it unchanged.
            ("removal", ("Documents", "pkres", "sub", "b.pk"), True, REMOVAL_FAILED),
            # The patch brings settings.ini, which cannot be replaced.
            ("install", ("Documents", "settings.ini"), False, COPY_FAILED),
        ]
        serve_patch(self.server, dict(PATCH_FILES, **{"settings.ini": b"theirs"}))
        for stage, parts, shared, box in cases:
            with self.subTest(stage=stage):
                client = make_client(self)
                held = hold(self, client.file(*parts), shared)
                result = repair(client)
                self.assertEqual([box], result.boxes())
                self.assertEqual(OLD_DOCUMENTS, documents(client))
                self.assertOpensCleanly(plain_start(client))
                held.close()
                self.assertEqual([], repair(client).boxes())

    def test_a_read_only_file_the_patch_replaces_fails_the_install_and_loses_nothing(self):
        serve_patch(self.server, dict(PATCH_FILES, **{"settings.ini": b"theirs"}))
        client = make_client(self)
        make_read_only(self, client.file("Documents", "settings.ini"))
        result = repair(client)
        self.assertEqual([COPY_FAILED], result.boxes())
        self.assertEqual(OLD_DOCUMENTS, documents(client))
        self.assertOpensCleanly(plain_start(client))


class HeldLeftovers(RecoveryCase):
    """Files in TmpPatch, the tool's own folder, that an earlier run left behind."""

    # The backup carries the client's read-only attribute into OrgPatch; the copy left there by a
    # failed run must not fail every later backup once the player cleared the flag in Documents.
    def test_read_only_copies_in_tmp_patch_do_not_stand_in_the_way(self):
        client = make_client(self)
        for parts in (("OrgPatch", "pkres", "a.pk"), ("1.0.1", "pkres", "a.pk"),
                      ("All", "pkres", "a.pk"), ("1.0.1.zip",)):
            path = client.file("TmpPatch", *parts)
            qxweb.write_file(path, b"left over")
            make_read_only(self, path)
        result = repair(client)
        self.assertEqual([], result.boxes())
        self.assertEqual(NEW_DOCUMENTS, documents(client))
        self.assertFalse(os.path.exists(client.file("TmpPatch")))

    # A leftover another program holds cannot be removed: the start still opens the dialog, and the
    # stage that meets the file fails with its box, Documents untouched.
    def test_a_held_leftover_fails_the_stage_that_meets_it(self):
        cases = [
            ("extraction", ("1.0.1", "pkres", "a.pk"), EXTRACT_FAILED),
            ("merge", ("All", "pkres", "a.pk"), MERGE_FAILED),
            ("backup", ("OrgPatch", "pkres", "a.pk"), BACKUP_FAILED),
        ]
        for stage, parts, box in cases:
            with self.subTest(stage=stage):
                client = make_client(self)
                path = client.file("TmpPatch", *parts)
                qxweb.write_file(path, b"left over")
                held = hold(self, path)
                result = repair(client)
                self.assertEqual([box], result.boxes())
                self.assertEqual(OLD_DOCUMENTS, documents(client))
                held.close()
                self.assertEqual([], repair(client).boxes())

    # A file held in TmpPatch through the whole repair: only the clean-up meets it, after the
    # success; the next start opens as usual and the repair stays.
    def test_a_held_file_in_the_clean_up_leaves_the_repair_in_place(self):
        client = make_client(self)
        path = client.file("TmpPatch", "stray.bin")
        qxweb.write_file(path, b"held")
        hold(self, path)
        result = repair(client)
        self.assertEqual([], result.boxes())
        self.assertIn(REPAIRED_HINT, result.texts(IDC_HINT))
        self.assertOpensCleanly(plain_start(client))
        self.assertEqual(NEW_DOCUMENTS, documents(client))


class CrashRecovery(RecoveryCase):
    # Offline after the crash: the old folders come back before the patch list is asked for.
    def test_an_offline_start_after_a_crash_in_the_install_puts_the_folders_back(self):
        client = make_client(self)
        kill_at(client, IN_THE_INSTALL)
        self.assertNotEqual(OLD_DOCUMENTS, documents(client))
        self.server.stop()

        result = qxweb.run(client, answers=["cancel"], dialog=[])
        self.assertEqual(PATCH_LIST_FAILED, result.boxes()[-1])
        self.assertEqual(OLD_DOCUMENTS, documents(client))

    # A game still running may hold a file the restore must take away: the restore waits until
    # the user has let the running game be ended, and then puts everything back.
    def test_the_restore_runs_once_the_running_game_is_ended(self):
        client = make_client(self)
        kill_at(client, IN_THE_INSTALL)
        installed = sorted(set(documents(client)) - set(OLD_DOCUMENTS))
        self.assertTrue(installed)
        held = client.file("Documents", installed[0])
        # The game is flock(1) under the game's name, holding the file until it is ended.
        game = client.file("vazazu.exe")
        os.replace(game, game + ".script")
        shutil.copy2(shutil.which("flock"), game)
        # Its sleep outlives it once ended: no output pipe may keep the test runner waiting.
        proc = subprocess.Popen([game, "-o", held, "sleep", "60"], stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        client.processes.append(proc)
        qxweb.wait_until(lambda: is_held(held), what="the game holding " + held)

        result = qxweb.run(client, answers=["yes"], dialog=["close"])
        self.assertEqual([GAME_QUESTION], [box[:2] for box in result.boxes()])
        self.assertEqual(OLD_DOCUMENTS, documents(client))

    # The restore cannot finish: one box names the file and the reason, the dialog still opens,
    # the backup stays, and the next start finishes the job.
    def test_a_restore_that_cannot_finish_names_the_file_and_goes_on(self):
        client = make_client(self)
        kill_at(client, IN_THE_INSTALL)
        backup = qxweb.tree(client.file("TmpPatch", "OrgPatch"))
        pkres = {k: v for k, v in backup.items() if k.startswith("pkres/")}

        result = plain_start(client, [RESTORE_REFUSED])
        self.assertEqual(1, len(result.boxes()))
        caption, text, buttons, _ = result.boxes()[0]
        self.assertEqual(("提示", "OK"), (caption, buttons))
        self.assertTrue(text.startswith(RESTORE_FAILED + client.winpath("Documents") + "\\"), text)
        self.assertTrue(text.endswith("\nAccess is denied."), text)
        self.assertEqual(["open", "close"], result.dialog_events())
        # The other folders are back; pkres still waits in the backup.
        self.assertEqual(pkres, qxweb.tree(client.file("TmpPatch", "OrgPatch")))
        self.assertIn("restoring the patch folders failed: CopyFileW", log_text(client))

        self.assertOpensCleanly(plain_start(client))
        self.assertEqual(OLD_DOCUMENTS, documents(client))
        self.assertEqual({"All": None}, tmp_patch(client))

    # A repair pressed while the backup still waits to go back keeps it as its own: when the
    # repair fails, that backup (the client's last whole state) is what comes back; when it
    # succeeds, the backup goes with TmpPatch.
    def test_a_repair_started_while_a_backup_is_pending_keeps_it(self):
        # The patch also brings settings.ini; read-only, it fails the install.
        serve_patch(self.server, dict(PATCH_FILES, **{"settings.ini": b"mine"}))
        for install_fails in (False, True):
            with self.subTest(install_fails=install_fails):
                client = make_client(self)
                kill_at(client, IN_THE_INSTALL)
                if install_fails:
                    make_read_only(self, client.file("Documents", "settings.ini"))
                result = qxweb.run(client, answers=[], dialog=["press"],
                                   env={"QXWEB_FAULTS": RESTORE_REFUSED})
                self.assertTrue(result.box_texts()[0].startswith(RESTORE_FAILED))
                self.assertEqual([COPY_FAILED] if install_fails else [], result.boxes()[1:])
                expected = OLD_DOCUMENTS if install_fails else NEW_DOCUMENTS
                self.assertEqual(expected, documents(client))
                self.assertOpensCleanly(plain_start(client))
                self.assertEqual(expected, documents(client))


if __name__ == "__main__":
    unittest.main()
