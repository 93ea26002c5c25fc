"""A full disk for real, at every amount of free room: the client (or only its Documents, behind a
link) on a small tmpfs filled up to leave N bytes, for N from nothing to more than the repair
needs in small steps, so the disk runs out in the download, the extraction, the journal, the merge
or the copy fallback. After each faulty repair, room is made; then a plain start must open the
dialog with every patch folder wholly old or wholly new, and a repair must succeed. Needs root
(mount). Not part of the test run:

    QXWEB_BIN=build/release/qxwebhelper QXWEB_TEST_HOST=127.0.0.1:<port> \\
        python3 tests/e2e/disk_full_probe.py [--step 8192]
"""

import argparse
import os
import shutil
import subprocess
import sys
import unittest

import qxweb
import real_fs
from fault_sweep import PATCH_FOLDERS, folder_state
from qxweb import PatchServer
from repair_case import (IDC_HINT, OLD_DOCUMENTS, REPAIRED_HINT, documents, make_client,
                         move_documents)

LARGE_OLD = real_fs.LARGE_OLD


def whole(tree, old=OLD_DOCUMENTS):
    for folder in PATCH_FOLDERS:
        state = folder_state(tree, folder)
        if state not in (folder_state(old, folder), folder_state(real_fs.BIG_NEW, folder)):
            return "%s is mixed or lost: %s" % (folder, sorted(state))
    if tree.get("settings.ini") != b"mine":
        return "the client's own file changed"
    return None


SWEEPS = {"whole": "whole_client", "documents": "small_documents", "backup": "backup_copy"}


class Sweep(unittest.TestCase):
    """A TestCase only for its clean-ups (mounts, folders); driven by main()."""

    def runTest(self):
        pass

    def case(self, where, free, make_room, old=OLD_DOCUMENTS):
        problems = []
        faulty = qxweb.run(self.client, answers=[], dialog=["press"])
        succeeded = REPAIRED_HINT in faulty.texts(IDC_HINT)
        make_room()
        start = qxweb.run(self.client, answers=[], dialog=["close"])
        after = documents(self.client)
        label = "%s, %d bytes free" % (where, free)
        if "open" not in start.dialog_events() or start.boxes():
            problems.append("%s: the next start: %s" % (label, start.boxes()))
        wrong = whole(after, old)
        if wrong:
            problems.append("%s: %s" % (label, wrong))
        if succeeded and after != real_fs.BIG_NEW:
            problems.append("%s: a success shown was reverted" % label)
        final = qxweb.run(self.client, answers=[], dialog=["press"])
        if REPAIRED_HINT not in final.texts(IDC_HINT) or documents(self.client) != real_fs.BIG_NEW:
            problems.append("%s: the repair after it failed: %s" % (label, final.boxes()))
        boxes = [b[1] for b in faulty.boxes()]
        return problems, (boxes[-1][:24] if boxes else "success")

    def whole_client(self, free):
        self.client = real_fs.client_on_tmpfs(self, 4 * self.archives)
        filler = real_fs.leave_free(self.client.path, free)
        return self.case("client on tmpfs", free, lambda: os.unlink(filler))

    def backup_copy(self, free):
        """The client on a tmpfs, its Documents on /dev/shm: the backup is a copy into TmpPatch."""
        self.client = real_fs.client_on_tmpfs(self, 4 * self.archives + 1024 * 1024, LARGE_OLD)
        self.addCleanup(shutil.rmtree, move_documents(self.client, "/dev/shm"), True)
        filler = real_fs.leave_free(self.client.path, free)
        return self.case("backup copied into a full TmpPatch", free, lambda: os.unlink(filler),
                         LARGE_OLD)

    def small_documents(self, size):
        self.client = make_client(self)
        target = real_fs.documents_on_tmpfs(self, self.client, size)

        def make_room():
            subprocess.run(["mount", "-o", "remount,size=8m", target], check=True)

        return self.case("Documents on a tmpfs", size, make_room)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--step", type=int, default=8192, help="bytes between two runs")
    args = parser.parse_args()
    if not real_fs.is_root():
        print("needs root (mount)")
        return 2
    problems = []
    runs = 0
    outcomes = {}
    with PatchServer() as server:
        real_fs.serve_big(server)
        archives = real_fs.big_archive_bytes(server)
        needed = 2 * archives + 512 * 1024
        sweeps = [("whole", range(0, needed, args.step)),
                  ("documents", range(160 * 1024, 1200 * 1024, args.step)),
                  ("backup", range(archives, needed + 1024 * 1024, args.step))]
        for kind, amounts in sweeps:
            for amount in amounts:
                sweep = Sweep()
                sweep.archives = archives
                try:
                    found, outcome = getattr(sweep, SWEEPS[kind])(amount)
                finally:
                    sweep.doCleanups()
                runs += 1
                outcomes[(kind, outcome)] = outcomes.get((kind, outcome), 0) + 1
                problems += found
    print("runs: %d (each a repair on a full disk, a plain start and a repair with room)" % runs)
    for (kind, outcome), count in sorted(outcomes.items()):
        print("  %-9s %-28s %d" % (kind, outcome, count))
    print("problems: %d" % len(problems))
    for problem in problems[:50]:
        print("  " + problem)
    return 0 if not problems else 1


if __name__ == "__main__":
    sys.exit(main())
