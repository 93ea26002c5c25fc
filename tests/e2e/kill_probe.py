"""Kills at real moments rather than at counted calls: a repair of a client holding some hundreds of
MiB in its patch folders is SIGKILLed after delays spread over the repair's length (measured first
by one whole repair). After each kill a plain start must open the dialog with every patch folder
wholly old or wholly new, and a repair must then succeed. Not part of the test run (minutes):

    QXWEB_BIN=build/release/qxwebhelper QXWEB_TEST_HOST=127.0.0.1:<port> \\
        python3 tests/e2e/kill_probe.py [--runs 30] [--mib 300] [--other-volume /dev/shm]
"""

import argparse
import hashlib
import os
import random
import shutil
import sys
import tempfile
import time

import qxweb
import real_fs
from fault_sweep import PATCH_FOLDERS, folder_state
from qxweb import ClientFolder, PatchServer
from repair_case import IDC_HINT, REPAIRED_HINT, move_documents

CHUNK = 1 << 20


def releases(patch_mib):
    """Two releases whose archives hold patch_mib MiB of incompressible files between them."""
    half = max(1, patch_mib // 2)
    first = {"pkres/p%02d.pk" % i: real_fs.incompressible(CHUNK, 100 + i) for i in range(half)}
    first.update({"subver/ver.txt": b"1.0.1", "qatools/t.txt": b"tool"})
    second = {"pkres/p00.pk": real_fs.incompressible(CHUNK, 999), "subver/ver.txt": b"1.0.2"}
    second.update({"patch_cache/q%02d.bin" % i: real_fs.incompressible(CHUNK, 200 + i)
                   for i in range(patch_mib - half)})
    return {"1.0.1": first, "1.0.2": second}


def digest(data):
    return hashlib.sha256(data).hexdigest()


def tree_digests(folder):
    return {k: (None if v is None else digest(v)) for k, v in qxweb.tree(folder).items()}


def make_template(folder, client_mib):
    """The old Documents: client_mib MiB spread over the four patch folders (files of 1 MiB), plus
    a file of the client's own."""
    for i in range(client_mib):
        sub = PATCH_FOLDERS[i % 3]
        qxweb.write_file(os.path.join(folder, sub, "d%d" % (i // 50), "f%04d.bin" % i),
                         real_fs.incompressible(CHUNK, i))
    qxweb.write_file(os.path.join(folder, "settings.ini"), b"mine")


class Probe:
    def __init__(self, server, template, old, new, other_volume):
        self.server = server
        self.template = template
        self.old = old
        self.new = new
        self.other_volume = other_volume
        self.problems = []

    def client(self):
        client = ClientFolder(version="1.0.0")
        os.rmdir(client.file("Documents"))
        shutil.copytree(self.template, client.file("Documents"))
        moved = move_documents(client, self.other_volume) if self.other_volume else None
        return client, moved

    def whole(self, digests):
        for folder in PATCH_FOLDERS:
            state = folder_state(digests, folder)
            if state not in (folder_state(self.old, folder), folder_state(self.new, folder)):
                return "%s is mixed or lost (%d files)" % (folder, len(state))
        if digests.get("settings.ini") != self.old["settings.ini"]:
            return "the client's own file changed"
        return None

    def measure(self):
        client, moved = self.client()
        try:
            began = time.monotonic()
            result = qxweb.run(client, answers=[], dialog=["press"], timeout=600)
            took = time.monotonic() - began
            if REPAIRED_HINT not in result.texts(IDC_HINT):
                raise AssertionError("the measuring repair failed: %r" % result)
            return took
        finally:
            self.dispose(client, moved)

    def dispose(self, client, moved):
        client.cleanup()
        if moved:
            shutil.rmtree(moved, ignore_errors=True)

    def case(self, delay):
        client, moved = self.client()
        try:
            run = qxweb.start(client, answers=[], dialog=["press"])
            time.sleep(delay)
            finished = run.proc.poll() is not None
            run.kill()
            succeeded = REPAIRED_HINT in run_hint_texts(run)
            start = qxweb.run(client, answers=[], dialog=["close"], timeout=600)
            after = tree_digests(client.file("Documents"))
            where = "kill at %.2f s%s" % (delay, " (already ended)" if finished else "")
            if "open" not in start.dialog_events() or start.boxes():
                self.problems.append("%s: the next start: %s %s"
                                     % (where, start.dialog_events(), start.boxes()))
            wrong = self.whole(after)
            if wrong:
                self.problems.append("%s: %s" % (where, wrong))
            if succeeded and after != self.new:
                self.problems.append("%s: a success shown was reverted" % where)
            final = qxweb.run(client, answers=[], dialog=["press"], timeout=600)
            if (REPAIRED_HINT not in final.texts(IDC_HINT) or final.boxes()
                    or tree_digests(client.file("Documents")) != self.new):
                self.problems.append("%s: the repair after it failed: %s" % (where, final.boxes()))
            state = "new" if after == self.new else "old" if after == self.old else "each whole"
            return state
        finally:
            self.dispose(client, moved)


def run_hint_texts(run):
    return [e["text"] for e in run.events()
            if e.get("id") == IDC_HINT and e.get("event") in ("create", "control") and "text" in e]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--runs", type=int, default=30)
    parser.add_argument("--mib", type=int, default=300, help="MiB in the client's patch folders")
    parser.add_argument("--patch-mib", type=int, default=40, help="MiB the patch brings")
    parser.add_argument("--other-volume", default="",
                        help="a folder on another file system to hold Documents (every move "
                             "then copied)")
    parser.add_argument("--variant", type=int, default=1,
                        help="which spread of kill delays to draw (the same number, the same delays)")
    args = parser.parse_args()

    work = tempfile.mkdtemp(prefix="qxweb-kill-probe-")
    try:
        template = os.path.join(work, "Documents")
        make_template(template, args.mib)
        old = tree_digests(template)
        rel = releases(args.patch_mib)
        new = {k: v for k, v in old.items()
               if k.split("/")[0] not in PATCH_FOLDERS}
        for files in rel.values():
            new.update({k: digest(v) for k, v in files.items()})
        with PatchServer() as server:
            real_fs.serve_releases(server, rel)
            probe = Probe(server, template, old, new, args.other_volume or None)
            length = probe.measure()
            print("a whole repair takes %.2f s (client %d MiB, patch %d MiB)%s"
                  % (length, args.mib, args.patch_mib,
                     ", Documents on " + args.other_volume if args.other_volume else ""),
                  flush=True)
            rng = random.Random(args.variant)
            states = {}
            for i in range(args.runs):
                # Evenly spread over the repair, each shifted at random within its slot.
                delay = length * (i + rng.random()) / args.runs
                state = probe.case(delay)
                states[state] = states.get(state, 0) + 1
                print("run %2d: killed at %5.2f s -> after the next start: %s"
                      % (i + 1, delay, state), flush=True)
        print("runs: %d, states after the next start: %s, problems: %d"
              % (args.runs, states, len(probe.problems)))
        for problem in probe.problems:
            print("  " + problem)
        return 0 if not probe.problems else 1
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
