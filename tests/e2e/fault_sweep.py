"""A fault sweep of the real program, in the manner of a database engine's I/O-error and crash
tests: a real repair of a small client runs once for every N from 1 up to the number of calls of
one kind the repair makes (unlink, rmdir, open, read, write, copy, rename, fsync, syncfs), with
QXWEB_FAULTS failing the Nth call (and, in a second pass, killing the program there). The power-cut
sweep cuts the power at the Nth flush, rename or unlink instead: the program dies and every file loses
what it wrote since its last flush (cut off, or turned to garbage), once in a repair, once in a
repair whose backup of pkres is copied, and once in the start-up restore after a repair killed
before it recorded its install. Each run is followed by a plain start and then a repair without
faults, and after every pair the client must be whole:

- the plain start opened the dialog;
- each of the four patch folders holds wholly the old or wholly the new content, the client's
  other files are untouched;
- a run that showed the success text is never reverted;
- the repair without faults succeeds.

The number of calls is found by the kill pass itself: the first N at which the program is not
killed is one past the last call. As a module the sweep serves the test run (a slice restricted to
the calls on some paths); as a program it runs the full sweep, once with the client as it is and
once with its Documents on another volume (every move then copied), or with --power-cut the full
power-cut sweep (on one volume only: a cut on a tmpfs such as /dev/shm loses everything anyway):

    QXWEB_BIN=build/release/qxwebhelper QXWEB_TEST_HOST=127.0.0.1:<port> \\
        python3 tests/e2e/fault_sweep.py [--calls unlink,copy] [--paths /Documents] [--stride 1]
        python3 tests/e2e/fault_sweep.py --power-cut [--stride 1]
"""

import argparse
import concurrent.futures
import os
import shutil
import sys
import time

import qxweb
from qxweb import ClientFolder, PatchServer, patch_line, patch_list
from repair_case import move_documents, with_folder_entries

IDC_HINT = 1005
REPAIRED_HINT = "修复成功！可启动游戏。"
PATCH_FOLDERS = ("pkres", "subver", "patch_cache", "qatools")

# The calls a repair makes on files, and the error each fails with.
CALLS = {"unlink": "EACCES", "rmdir": "EACCES", "open": "EACCES", "read": "EIO", "write": "ENOSPC",
         "copy": "ENOSPC", "rename": "EXDEV", "fsync": "EIO", "syncfs": "EIO"}

# The calls the power is cut at: every flush, and every rename and unlink (a cut between two
# flushes keeps the name changes made up to some point), and the two ways the unflushed bytes are
# lost.
CUT_CALLS = ("fsync", "syncfs", "rename", "unlink")
LOSSES = ("POWERCUT", "POWERCUT_GARBAGE")

# Killed with the patch moved in but its install not recorded (the third flush of the volume is
# the one before that record), a repair leaves a restore for the next start.
BEFORE_RECORDING_THE_INSTALL = "syncfs:3:SIGKILL"

# The passes of the power-cut sweep: a name, the faults of a repair killed before the run the power
# is cut in (that run then is a plain start, which restores), faults added to that run, and the
# calls the power is cut at.
CUT_PASSES = (
    ("repair", None, None, CUT_CALLS),
    # pkres's move into the backup is refused, so it is copied: those copies must be on the disk
    # before the journal says the backup is complete.
    ("repair, backup copied", None, "rename:1:EXDEV:/TmpPatch/OrgPatch/pkres", ("fsync", "syncfs")),
    ("start-up restore", BEFORE_RECORDING_THE_INSTALL, None, CUT_CALLS),
)

# A file big enough that the kernel's copy of it is more than one call.
CACHE = bytes(range(256)) * 512

# All four patch folders, nested ones among them, and a file of the client's own.
OLD = {
    "pkres/a.pk": b"old a",
    "pkres/sub/b.pk": b"old b",
    "subver/ver.txt": b"1.0.0",
    "patch_cache/c.bin": CACHE,
    "patch_cache/d.bin": b"d",
    "qatools/q.txt": b"old q",
    "settings.ini": b"mine",
}

# Two archives: the second overwrites part of the first; the four folders are all touched.
RELEASES = {
    "1.0.1": {"pkres/a.pk": b"a1", "pkres/n.pk": b"n1", "subver/ver.txt": b"1.0.1",
              "qatools/t.txt": b"tool"},
    "1.0.2": {"pkres/a.pk": b"a2", "subver/ver.txt": b"1.0.2", "patch_cache/e.bin": b"e2"},
}

# After the install: what the patch brings, over what the client had in Documents (the install
# copies into Documents, so files of the four folders that the patch lacks go with the removal).
NEW = {"pkres/a.pk": b"a2", "pkres/n.pk": b"n1", "subver/ver.txt": b"1.0.2",
       "qatools/t.txt": b"tool", "patch_cache/e.bin": b"e2", "settings.ini": b"mine"}


def serve(server):
    lines = []
    for version, files in RELEASES.items():
        qxweb.make_zip(os.path.join(server.root, "p", version + ".zip"),
                       with_folder_entries(files))
        lines.append(patch_line(version, server.url("/p/%s.zip" % version)))
    server.put_patch_list(patch_list(lines))


def folder_state(tree, folder):
    """The files of one patch folder in a Documents tree."""
    prefix = folder + "/"
    return {k: v for k, v in tree.items() if k.startswith(prefix) and v is not None}


def whole(tree):
    """None when every patch folder is wholly old or wholly new and the rest is the client's own;
    else what is wrong."""
    for folder in PATCH_FOLDERS:
        state = folder_state(tree, folder)
        if state not in (folder_state(OLD, folder), folder_state(NEW, folder)):
            return "%s is mixed or lost: %s" % (folder, sorted(state))
    if tree.get("settings.ini") != b"mine":
        return "the client's own file changed"
    return None


class Figures:
    def __init__(self):
        self.runs = 0
        self.start_failed = 0
        self.mixed = 0
        self.reverted = 0
        self.final_failed = 0
        self.problems = []

    def add(self, other):
        for name in ("runs", "start_failed", "mixed", "reverted", "final_failed"):
            setattr(self, name, getattr(self, name) + getattr(other, name))
        self.problems += other.problems

    def ok(self):
        return not self.problems

    def __str__(self):
        return ("sweep runs made: %d (each a faulty repair, a plain start and a repair: %d runs "
                "of the program) / next starts that failed to open: %d / folders mixed or lost: "
                "%d / successes reverted: %d / final repairs failed: %d"
                % (self.runs, 3 * self.runs, self.start_failed, self.mixed, self.reverted,
                   self.final_failed))


class Sweeper:
    """One patch server and the cases; `case` runs one faulty repair and its two followers. With
    `other_volume` (a folder such as /dev/shm on another file system) the client's Documents lives
    there behind a link, so no move between it and TmpPatch can be a rename: every one is copied."""

    def __init__(self, server, other_volume=None):
        self.server = server
        self.other_volume = other_volume

    def case(self, fault, killed_repair=None):
        """One faulty run and its two followers. With killed_repair, a repair killed by those faults
        comes first and the faulty run is a plain start, which restores what it left."""
        figures = Figures()
        figures.runs = 1
        client = ClientFolder(version="1.0.0", documents=OLD)
        moved = move_documents(client, self.other_volume) if self.other_volume else None
        try:
            if killed_repair:
                first = qxweb.run(client, answers=[], dialog=["press"],
                                  env={"QXWEB_FAULTS": killed_repair})
                if first.returncode != -9 or "removal begun" not in journal_text(client):
                    figures.problems.append("%s: the repair killed first left no restore to do"
                                            % killed_repair)
                faulty = qxweb.run(client, answers=[], dialog=["close"],
                                   env={"QXWEB_FAULTS": fault})
            else:
                faulty = qxweb.run(client, answers=[], dialog=["press"],
                                   env={"QXWEB_FAULTS": fault})
            killed = faulty.returncode == -9
            succeeded = REPAIRED_HINT in faulty.texts(IDC_HINT)

            start = qxweb.run(client, answers=[], dialog=["close"])
            after_start = qxweb.tree(client.file("Documents"))
            if "open" not in start.dialog_events():
                figures.start_failed += 1
                figures.problems.append("%s: the next start did not open: %s"
                                        % (fault, start.boxes()))
            wrong = whole(after_start)
            if wrong:
                figures.mixed += 1
                figures.problems.append("%s: %s" % (fault, wrong))
            if succeeded and after_start != NEW:
                figures.reverted += 1
                figures.problems.append("%s: a repair that showed its success was reverted"
                                        % fault)

            final = qxweb.run(client, answers=[], dialog=["press"])
            if (REPAIRED_HINT not in final.texts(IDC_HINT) or final.boxes() or
                    qxweb.tree(client.file("Documents")) != NEW):
                figures.final_failed += 1
                figures.problems.append("%s: the repair after it failed: %s"
                                        % (fault, final.boxes()))
            return figures, killed
        finally:
            client.cleanup()
            if moved:
                shutil.rmtree(moved, ignore_errors=True)

    def sweep_call(self, call, path, stride=1, kill=True, fail=True, workers=2):
        """Every Nth call of one kind whose path contains `path` ("" for any): the kill pass finds
        how many there are, the error pass fails each of them."""
        figures = Figures()
        suffix = ":" + path if path else ""
        count = 0
        with concurrent.futures.ThreadPoolExecutor(max_workers=workers) as pool:
            n = 1
            # Killed runs mark the calls that exist; the first run that lives ends the pass.
            while True:
                batch = list(range(n, n + workers * stride, stride))
                results = list(pool.map(
                    lambda k: self.case("%s:%d:SIGKILL%s" % (call, k, suffix)), batch))
                alive = [k for k, (_, killed) in zip(batch, results) if not killed]
                for k, (case_figures, _) in zip(batch, results):
                    if kill and (not alive or k <= alive[0]):
                        figures.add(case_figures)
                if alive:
                    # The calls end somewhere in this batch; a stride hides exactly where.
                    count = alive[0] - 1
                    break
                n += workers * stride
            if fail:
                faults = ["%s:%d:%s%s" % (call, k, CALLS[call], suffix)
                          for k in range(1, count + 1, stride)]
                for case_figures, _ in pool.map(self.case, faults):
                    figures.add(case_figures)
        return figures, count


    def sweep_cuts(self, call, loss, stride=1, killed_repair=None, extra=None, workers=2):
        """The power cut at every Nth call of one kind, until a run the cut never reaches."""
        figures = Figures()
        count = 0
        with concurrent.futures.ThreadPoolExecutor(max_workers=workers) as pool:
            n = 1
            while True:
                batch = list(range(n, n + workers * stride, stride))
                faults = [",".join(filter(None, [extra, "%s:%d:%s" % (call, k, loss)]))
                          for k in batch]
                results = list(pool.map(lambda f: self.case(f, killed_repair), faults))
                alive = [k for k, (_, killed) in zip(batch, results) if not killed]
                for k, (case_figures, _) in zip(batch, results):
                    if not alive or k <= alive[0]:
                        figures.add(case_figures)
                if alive:
                    count = alive[0] - 1
                    break
                n += workers * stride
        return figures, count


def journal_text(client):
    try:
        with open(client.file("TmpPatch", "repair.journal"), "rb") as journal:
            return journal.read().decode("utf-8", "replace")
    except OSError:
        return ""


def run_power_cut_sweep(stride=1, losses=LOSSES, passes=CUT_PASSES, report=print):
    """The power cut at every flush and rename of each pass, with each kind of loss."""
    total = Figures()
    with PatchServer() as server:
        serve(server)
        sweeper = Sweeper(server)
        for name, killed_repair, extra, calls in passes:
            for call in calls:
                for loss in losses:
                    began = time.monotonic()
                    figures, count = sweeper.sweep_cuts(call, loss, stride, killed_repair, extra)
                    report("%-22s %-6s %-16s %3d calls, %3d runs, %5.1f s"
                           % (name, call, loss, count, figures.runs, time.monotonic() - began))
                    total.add(figures)
    return total


def run_sweep(calls, paths, stride=1, kill=True, fail=True, other_volume=None, report=print):
    """Sweeps every call kind on every path; the total figures."""
    total = Figures()
    with PatchServer() as server:
        serve(server)
        sweeper = Sweeper(server, other_volume)
        for path in paths:
            for call in calls:
                began = time.monotonic()
                figures, count = sweeper.sweep_call(call, path, stride, kill, fail)
                report("%-6s %-22s %-9s %3d calls, %3d runs, %5.1f s"
                       % (call, path or "(any path)", "other vol" if other_volume else "",
                          count, figures.runs, time.monotonic() - began))
                total.add(figures)
    return total


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--calls", default=",".join(CALLS),
                        help="comma-separated call kinds (default: %(default)s)")
    parser.add_argument("--paths", default="",
                        help="comma-separated path parts a call must hold (default: any path)")
    parser.add_argument("--stride", type=int, default=1, help="sweep every Nth call only")
    parser.add_argument("--power-cut", action="store_true",
                        help="the power-cut sweep instead of the fault sweep")
    parser.add_argument("--other-volume", default="/dev/shm",
                        help="a folder on another file system for the second pass, where every "
                             "move is copied; empty for none (default: %(default)s)")
    args = parser.parse_args()
    began = time.monotonic()
    figures = Figures()
    if args.power_cut:
        figures = run_power_cut_sweep(args.stride, report=lambda line: print(line, flush=True))
    for volume in [] if args.power_cut else [None] + ([args.other_volume] if args.other_volume
                                                      else []):
        figures.add(run_sweep(args.calls.split(","), args.paths.split(","), args.stride,
                              other_volume=volume, report=lambda line: print(line, flush=True)))
    print(figures)
    print("%.0f s" % (time.monotonic() - began))
    for problem in figures.problems[:50]:
        print("  " + problem)
    return 0 if figures.ok() else 1


if __name__ == "__main__":
    sys.exit(main())
