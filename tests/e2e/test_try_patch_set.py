"""The release gate (tools/try_patch_set.py) on sets made to hold one fault each: it must name the
fault and exit with 1, and pass the same set without it. The list and archive faults are found by
its checks alone; lost and stale files by its repairs with the real program; a signed set is
checked with minisign and tried with the program given a key."""

import hashlib
import os
import shutil
import socket
import stat
import subprocess
import sys
import tempfile
import unittest
import zipfile

import qxweb

TRY = os.path.join(qxweb.TOOLS_DIR, "try_patch_set.py")
HOST = "http://patch.example.com"
CUMULATIVE = "p/patch1.0.1.qx.all.win32"
RELEASE = {"pkres/a.txt": "a", "pkres/b.txt": "b2", "subver/v.txt": "1.0.2"}


class UnflaggedName(zipfile.ZipInfo):
    """A UTF-8 name stored without the UTF-8 flag, as Info-ZIP zip writes it on Linux."""

    def _encodeFilenameFlags(self):
        return self.filename.encode("utf-8"), self.flag_bits


def symbolic_link(name):
    info = zipfile.ZipInfo(name)
    info.create_system = 3
    info.external_attr = (stat.S_IFLNK | 0o777) << 16
    return info


class PatchSet:
    """A good set of two releases and the cumulative patch, each case changing one thing: lines
    (after the hash lines, which come first, three of them, made for every archive unless left
    out, so the first release is line 6), archives {path: {name or ZipInfo: content}}."""

    def __init__(self):
        self.lines = ["#channel web", "# releases of the 1.0 line",
                      "1.0.1 %s/p/a.zip 1 x" % HOST, "1.0.2 %s/p/b.zip 1 x" % HOST]
        self.archives = {"p/a.zip": {"pkres/a.txt": "a", "subver/v.txt": "1.0.1"},
                         "p/b.zip": {"pkres/b.txt": "b2", "subver/v.txt": "1.0.2"},
                         CUMULATIVE: dict(RELEASE)}
        self.unhashed = set()
        self.hash_lines = []

    def write(self, folder):
        for path, entries in self.archives.items():
            target = os.path.join(folder, path)
            os.makedirs(os.path.dirname(target), exist_ok=True)
            with zipfile.ZipFile(target, "w", zipfile.ZIP_DEFLATED) as z:
                for name, content in entries.items():
                    info = name if isinstance(name, zipfile.ZipInfo) else zipfile.ZipInfo(name)
                    info.compress_type = zipfile.ZIP_DEFLATED
                    z.writestr(info, content)
            if path not in self.unhashed:
                with open(target, "rb") as f:
                    self.hash_lines.append("#sha256:%s %s" % (
                        os.path.basename(path), hashlib.sha256(f.read()).hexdigest()))
        qxweb.write_file(os.path.join(folder, "qx_patchlist_win32"),
                         "\n".join(self.hash_lines + self.lines) + "\n")


def add_line(line):
    return lambda s: s.lines.append(line)


def add_entry(archive, name, content="x"):
    return lambda s: s.archives[archive].update({name: content})


def replace_hash_digest(s):
    s.hash_lines.append("#sha256:b.zip " + "0" * 64)
    s.unhashed.add("p/b.zip")


# (case, change to the good set, text of the problem the gate must report)
FAULTS = [
    ("a tab between tokens", add_line("1.0.3\t%s/p/c.zip 1 x" % HOST),
     "line 8: a tab or another control character"),
    ("a line missing two fields", add_line("1.0.3 %s/p/c.zip" % HOST),
     "line 8: skipped by the program: 2 tokens"),
    ("a header without a value", add_line("#note"),
     "line 8: skipped by the program: a header line is"),
    ("a version of two numbers", add_line("1.0 %s/p/a.zip 1 x" % HOST),
     "the version '1.0' is not three numbers"),
    ("a full package without its package version", add_line("0.0.0 %s/p/b.zip 1 x" % HOST),
     "needs its sixth token"),
    ("a full package no client takes", add_line("0.0.0 %s/p/b.zip 1 x - 2.0.0 y" % HOST),
     "no client takes the full package of 2.0.0"),
    ("an address with a query", add_line("1.0.3 %s/p/c.zip?v=2 1 x" % HOST),
     "holds characters other than"),
    ("two lines downloading into one file", add_line("1.0.0 %s/q/a.zip 1 x" % HOST),
     "line 8: the file name a.zip is also line 6's"),
    ("an archive no line names", lambda s: s.archives.update({"p/old.zip": {"pkres/o": "o"}}),
     "p/old.zip: a file named by no line"),
    ("a line whose archive is missing", add_line("1.0.3 %s/p/c.zip 1 x" % HOST),
     "its archive p/c.zip is not in the set"),
    ("a hash line that does not match", replace_hash_digest,
     "the hash of b.zip does not match the file"),
    ("a malformed hash line", add_line("#sha256:a.zip 1234"), "a malformed hash line"),
    ("an archive without a hash line", lambda s: s.unhashed.add("p/b.zip"),
     "p/b.zip has no #sha256: line"),
    ("a UTF-8 name without the UTF-8 flag", add_entry("p/a.zip", UnflaggedName("pkres/角色.txt")),
     "UTF-8 names without the UTF-8 flag"),
    ("a name GBK cannot write", add_entry("p/a.zip", "pkres/캐릭터.txt"),
     "characters Chinese Windows cannot write"),
    ("a device name", add_entry("p/a.zip", "pkres/aux.txt"), "a Windows device name"),
    ("a parent segment", add_entry("p/a.zip", "pkres/../x.txt"), "a \"..\" segment"),
    ("a symbolic link", add_entry("p/a.zip", symbolic_link("pkres/link"), "/etc/passwd"),
     "symbolic links"),
    ("a path outside the patch folders", add_entry("p/a.zip", "Documents/pkres/a.txt"),
     "outside the four patch folders"),
    ("paths that differ only in case", add_entry("p/b.zip", "pkres/A.txt"),
     "differ only in case, one path on Windows: pkres/A.txt (p/b.zip), pkres/a.txt (p/a.zip)"),
]


class GateCase(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="qxweb-gate-")
        self.addCleanup(shutil.rmtree, self.work, ignore_errors=True)

    def make_set(self, change=None):
        """The good set with one change, and its release tree beside it (folder + ".release")."""
        patch_set = PatchSet()
        if change:
            change(patch_set)
        folder = tempfile.mkdtemp(dir=self.work)
        patch_set.write(folder)
        for path, content in RELEASE.items():
            qxweb.write_file(os.path.join(folder + ".release", path), content)
        return folder

    def run_gate(self, folder, *args, env=None):
        return subprocess.run(
            [sys.executable, TRY, folder, "--expect", folder + ".release", "--binary", qxweb.BIN,
             "--host", qxweb.TEST_HOST] + list(args), capture_output=True, text=True,
            timeout=600, env=dict(os.environ, **(env or {})))

    def gate(self, change=None, *args, env=None):
        return self.run_gate(self.make_set(change), *args, env=env)

    def assertProblem(self, text, done):
        self.assertEqual(1, done.returncode, done.stdout + done.stderr)
        found = [line for line in done.stdout.splitlines()
                 if line.startswith("problem: ") and text in line]
        self.assertTrue(found, "no problem %r in:\n%s" % (text, done.stdout))


class ChecksOfTheListAndTheArchives(GateCase):
    def test_the_good_set_passes(self):
        done = self.gate(None, "--checks-only")
        self.assertEqual(0, done.returncode, done.stdout + done.stderr)
        self.assertIn("no problems found", done.stdout)

    def test_each_fault_is_named(self):
        for case, change, text in FAULTS:
            with self.subTest(case):
                done = self.gate(change, "--checks-only")
                self.assertProblem(text, done)


class Repairs(GateCase):
    # A publisher's proxy must not carry the program's requests for the trial's server away.
    ENV = {"http_proxy": "http://127.0.0.1:9", "HTTP_PROXY": "http://127.0.0.1:9"}

    def test_every_starting_version_of_the_good_set_ends_with_the_release_tree(self):
        done = self.gate(None, env=self.ENV)
        self.assertEqual(0, done.returncode, done.stdout + done.stderr)
        for client in ("without findownload.dat", "at 1.0.0", "at 1.0.1"):
            self.assertIn("== A client %s ==\n" % client, done.stdout)
        self.assertEqual(3, done.stdout.count("Documents holds the release tree"))
        self.assertIn("== A client at 1.0.2 ==\ndownloads: nothing\n", done.stdout)

    def test_files_the_repair_loses_or_leaves_old_are_named_per_client(self):
        cases = [
            ("a cumulative patch without a file only the oldest release holds",
             lambda s: s.archives[CUMULATIVE].pop("pkres/a.txt"),
             "the client at 1.0.1: lost 1: pkres/a.txt"),
            ("an old cumulative patch that undoes the newest release",
             lambda s: s.archives[CUMULATIVE].update({"pkres/b.txt": "b1"}),
             "the client at 1.0.1: not the release's content 1: pkres/b.txt"),
        ]
        for case, change, text in cases:
            with self.subTest(case):
                done = self.gate(change, "--version", "1.0.1", env=self.ENV)
                self.assertProblem(text, done)

    # The port built into the program is taken by another program: the trial does not need it.
    def test_the_trial_server_takes_any_port(self):
        with socket.socket() as taken:
            taken.bind(("127.0.0.1", qxweb.test_port()))
            taken.listen()
            done = self.gate(None, "--version", "1.0.1")
        self.assertEqual(0, done.returncode, done.stdout + done.stderr)


@unittest.skipUnless(shutil.which("minisign"), "needs minisign")
class SignedSets(GateCase):
    def setUp(self):
        super().setUp()
        self.public = os.path.join(self.work, "key.pub")
        self.secret = os.path.join(self.work, "key.sec")
        self.minisign("-G", "-W", "-p", self.public, "-s", self.secret)

    def minisign(self, *args):
        subprocess.run(["minisign"] + list(args), check=True, capture_output=True,
                       stdin=subprocess.DEVNULL)

    def signed_gate(self, change=None, *args, comment=None, after=None):
        """The gate on a set signed with the test's key; after(folder) changes it afterwards."""
        folder = self.make_set(change)
        self.minisign("-S", "-s", self.secret, "-m", os.path.join(folder, "qx_patchlist_win32"),
                      *(["-t", comment] if comment else []))
        if after:
            after(folder)
        return self.run_gate(folder, *args)

    def test_a_signed_set_verifies_and_repairs_with_the_key_given_to_the_program(self):
        done = self.signed_gate(None, "--public-key", self.public, "--version", "1.0.1")
        self.assertEqual(0, done.returncode, done.stdout + done.stderr)
        self.assertIn("verified with %s" % self.public, done.stdout)
        self.assertIn("Documents holds the release tree", done.stdout)

    def test_each_fault_of_a_signed_set_is_named(self):
        def append_to_list(folder):
            with open(os.path.join(folder, "qx_patchlist_win32"), "a") as f:
                f.write("# changed after signing\n")

        def remove_signature(folder):
            os.remove(os.path.join(folder, "qx_patchlist_win32.minisig"))

        cases = [
            ("a list changed after signing", {"after": append_to_list},
             ["--public-key", self.public], "does not verify with"),
            ("a signed set checked without the key", {}, [], "check it with --public-key"),
            ("a key given for a set without signature", {"after": remove_signature},
             ["--public-key", self.public], "holds no qx_patchlist_win32.minisig"),
            ("a trusted comment without a timestamp", {"comment": "release 1.0.2"},
             ["--public-key", self.public], "has no timestamp"),
        ]
        for case, options, args, text in cases:
            with self.subTest(case):
                self.assertProblem(text, self.signed_gate(None, "--checks-only", *args,
                                                          **options))
        with self.subTest("an archive without a hash line"):
            done = self.signed_gate(lambda s: s.unhashed.add("p/b.zip"), "--checks-only",
                                    "--public-key", self.public)
            self.assertProblem("with a signed list the program never unpacks it", done)


if __name__ == "__main__":
    unittest.main()
