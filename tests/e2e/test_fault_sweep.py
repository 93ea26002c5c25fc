"""The fault sweep in the test run: every call on the client's Documents folder and on the backup
in TmpPatch\\OrgPatch that a repair makes, failed and killed in turn, with the client as it is and
with its Documents on another volume; every read of the journal, the backup and the archives; and
a power cut at every third flush, rename and unlink of a repair and of a start-up restore (see
fault_sweep.py; the sanitizer build sweeps every third call, and on the other volume and for the
power cuts every sixth). The sweeps of every call on any path and of every power cut are their own
targets: `cmake --build <build> --target fault_sweep` and `--target power_cut_sweep`."""

import os
import unittest

from fault_sweep import run_power_cut_sweep, run_sweep

CALLS = ["unlink", "rmdir", "open", "write", "copy", "rename"]
PATHS = ["/Documents", "/TmpPatch/OrgPatch"]
# What a repair reads that a read error must never turn into a loss: the journal (unreadable,
# never shorter), the backup (read where a restore compares) and the archives.
READ_PATHS = ["/TmpPatch/repair.journal", "/TmpPatch/OrgPatch", ".zip"]


def sanitized():
    return os.environ.get("QXWEB_SANITIZED", "OFF") == "ON"


# The sweeps are three classes, each its own entry of the test run, so that they run side by side.
class FaultSweep(unittest.TestCase):
    def test_every_failing_or_killed_call_leaves_the_client_whole(self):
        stride = 3 if sanitized() else 1
        figures = run_sweep(CALLS, PATHS, stride=stride)
        print(figures)
        self.assertEqual([], figures.problems[:20])

    def test_a_read_error_of_the_journal_the_backup_or_an_archive_loses_nothing(self):
        figures = run_sweep(["read"], READ_PATHS, stride=3 if sanitized() else 1)
        print(figures)
        self.assertEqual([], figures.problems[:20])


# Documents on another volume: every move between it and TmpPatch is refused and copied, so the
# copies the moves fall back to are swept too.
class FaultSweepAcrossVolumes(unittest.TestCase):
    def test_with_every_move_copied_too(self):
        stride = 6 if sanitized() else 1
        figures = run_sweep(CALLS, PATHS, stride=stride, other_volume="/dev/shm")
        print(figures)
        self.assertEqual([], figures.problems[:20])


class PowerCutSweep(unittest.TestCase):
    # The power cut at every third flush, rename and unlink of each pass of the sweep:
    # everything written since a file's last flush is lost, cut off or turned to garbage.
    def test_a_power_cut_leaves_each_folder_old_or_new_and_never_reverts_a_success(self):
        figures = run_power_cut_sweep(stride=6 if sanitized() else 3)
        print(figures)
        self.assertEqual([], figures.problems[:20])


if __name__ == "__main__":
    unittest.main()
