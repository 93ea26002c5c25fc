"""The real program killed in the middle of a repair, in each of its stages, then started again:
"Documents" holds either its old patch folders or the new ones, never a mix and never neither.
A fault that raises SIGSTOP (QXWEB_FAULTS) holds the program at a chosen file operation, the
test checks where it stands and kills it with SIGKILL, as a power cut or the task manager would.
"""

import unittest

import qxweb
from qxweb import PatchServer
from repair_case import (IDC_STATUS, NEW_DOCUMENTS, OLD_DOCUMENTS, REPAIRED_HINT, IDC_HINT,
                         documents, is_stopped, kill_at, make_client, repair, serve_patch,
                         tmp_patch)

# stage, the call the program stops at, the status line the worker shows there (None where the
# dialog sets it from a posted message, which may not be handled yet), what Documents holds
# after the next start. A repair moves folders: three into All (the merge), three into OrgPatch
# (the backup), three into Documents (the install); the journal's lines are "backup begun", one
# per moved folder, "backup complete", "removal begun" and "install complete".
KILL_POINTS = [
    ("download", "write:1:SIGSTOP:/TmpPatch/1.0.1.zip", None, OLD_DOCUMENTS),
    ("extraction", "write:2:SIGSTOP:/TmpPatch/1.0.1/", None, OLD_DOCUMENTS),
    ("merge", "rename:2:SIGSTOP:/TmpPatch/All/", "正在合并临时补丁", OLD_DOCUMENTS),
    ("backup", "rename:2:SIGSTOP:/TmpPatch/OrgPatch/", "正在备份原补丁", OLD_DOCUMENTS),
    # Only what a refused move left to copy is removed: pkres here.
    ("removal", "rename:1:EXDEV:/TmpPatch/OrgPatch/pkres,unlink:2:SIGSTOP:/Documents/",
     "正在备份原补丁", OLD_DOCUMENTS),
    ("install", "rename:5:SIGSTOP:/TmpPatch/All/", "正在安装新补丁", OLD_DOCUMENTS),
    # The install moved everything but its completion is not recorded: it counts as unfinished.
    ("record of the install", "write:7:SIGSTOP:/TmpPatch/repair.journal", "正在安装新补丁",
     OLD_DOCUMENTS),
    # Recorded: from here on the repair is final, whatever the clean-up gets done.
    ("clean-up", "unlink:1:SIGSTOP:/TmpPatch/OrgPatch/", "正在删除临时文件", NEW_DOCUMENTS),
    ("removal of the journal", "unlink:1:SIGSTOP:/TmpPatch/repair.journal", "正在删除临时文件",
     NEW_DOCUMENTS),
]


def last_status(events):
    texts = [e["text"] for e in events
             if e.get("id") == IDC_STATUS and e.get("event") in ("create", "control")
             and "text" in e]
    return texts[-1] if texts else None


class KilledRepair(unittest.TestCase):
    def setUp(self):
        self.server = PatchServer()
        self.addCleanup(self.server.stop)
        serve_patch(self.server)

    def start_again(self, client, faults=None):
        """A plain start that opens the dialog and closes it; no box may appear."""
        env = {"QXWEB_FAULTS": ",".join(faults)} if faults else None
        result = qxweb.run(client, answers=[], dialog=["close"], env=env)
        self.assertEqual([], result.boxes())
        self.assertEqual(["open", "close"], result.dialog_events())
        return result

    def test_a_kill_in_any_stage_leaves_the_old_or_the_new_folders_after_the_next_start(self):
        for stage, fault, status, expected in KILL_POINTS:
            with self.subTest(stage=stage):
                client = make_client(self)
                events = kill_at(client, fault)
                if status is not None:
                    self.assertEqual(status, last_status(events))

                self.start_again(client)
                self.assertEqual(expected, documents(client))
                self.assertEqual({"All": None}, tmp_patch(client))

    # The start that puts the backup back is itself cut short between moving the install's pkres
    # aside and moving the old one back: the journal names the folder, so the start after it
    # finishes the job.
    def test_a_kill_while_the_backup_goes_back_is_recovered_by_the_start_after(self):
        client = make_client(self)
        kill_at(client, "rename:5:SIGSTOP:/TmpPatch/All/")
        run = qxweb.start(client, answers=[], dialog=["close"],
                          env={"QXWEB_FAULTS": "rename:2:SIGSTOP:/Documents/"})
        try:
            qxweb.wait_until(lambda: is_stopped(run), what="the restore to stop")
        finally:
            run.kill()
        self.assertNotEqual(OLD_DOCUMENTS, documents(client))

        self.start_again(client)
        self.assertEqual(OLD_DOCUMENTS, documents(client))

    def test_after_a_kill_and_the_recovery_a_new_repair_installs_the_patch(self):
        client = make_client(self)
        kill_at(client, "rename:5:SIGSTOP:/TmpPatch/All/")
        result = repair(client)
        self.assertEqual([], result.boxes())
        self.assertEqual(REPAIRED_HINT, result.text(IDC_HINT))
        self.assertEqual(NEW_DOCUMENTS, documents(client))


if __name__ == "__main__":
    unittest.main()
