"""The fault sweep in the test run: every call on the client's Documents folder and on the backup
in TmpPatch\\OrgPatch that a repair makes, failed and killed in turn, with the client as it is and
with its Documents on another volume (see fault_sweep.py; the sanitizer build sweeps every third,
and on the other volume every sixth, call). The sweep of every call on any path is its own target:
`cmake --build <build> --target fault_sweep`."""

import os
import unittest

from fault_sweep import run_sweep

CALLS = ["unlink", "rmdir", "open", "write", "copy", "rename"]
PATHS = ["/Documents", "/TmpPatch/OrgPatch"]


class FaultSweep(unittest.TestCase):
    def test_every_failing_or_killed_call_leaves_the_client_whole(self):
        stride = 3 if os.environ.get("QXWEB_SANITIZED", "OFF") == "ON" else 1
        figures = run_sweep(CALLS, PATHS, stride=stride)
        print(figures)
        self.assertEqual([], figures.problems[:20])

    # Documents on another volume: every move between it and TmpPatch is refused and copied, so
    # the copies the moves fall back to are swept too.
    def test_with_every_move_copied_too(self):
        stride = 6 if os.environ.get("QXWEB_SANITIZED", "OFF") == "ON" else 1
        figures = run_sweep(CALLS, PATHS, stride=stride, other_volume="/dev/shm")
        print(figures)
        self.assertEqual([], figures.problems[:20])


if __name__ == "__main__":
    unittest.main()
