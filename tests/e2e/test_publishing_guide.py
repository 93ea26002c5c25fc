"""The publishing guide's table of what a client downloads (docs/publishing.md), checked with the
real program: the guide's worked example is served with an archive for every name it mentions,
and tools/try_patch_set.py repairs a client at each version of the table, as a publisher would."""

import os
import re
import subprocess
import sys
import shutil
import tempfile
import unittest

import qxweb

GUIDE = os.path.join(qxweb.HERE, "..", "..", "docs", "publishing.md")
TRY = os.path.join(qxweb.TOOLS_DIR, "try_patch_set.py")
DOWNLOAD = re.compile(r"^download (\S+) -> (\d+)$", re.M)
OFFERED = re.compile(r"^the dialog offered: (\S+)$", re.M)


def lines_after(text, marker):
    """The lines after the one holding marker, up to the first blank line after them."""
    rest = text[text.index(marker):].split("\n")[1:]
    return rest[:rest.index("")] if "" in rest else rest


def guide_parts():
    with open(GUIDE, encoding="utf-8") as f:
        text = f.read()
    example = [line for line in lines_after(text, "<!-- checked: patch list")
               if not line.startswith("```")]
    rows = []
    for line in lines_after(text, "<!-- checked: downloads")[2:]:
        version, offered, names = [cell.strip() for cell in line.strip("|").split("|")]
        rows.append((version.strip("`"), offered, re.findall(r"`([^`]+)`", names)))
    return "\n".join(example) + "\n", rows


class DownloadsTable(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="qxweb-guide-")
        self.addCleanup(shutil.rmtree, self.folder, ignore_errors=True)

    def publish(self, example, rows):
        """The example as the publisher's folder: the list, and an archive at every address and
        for every name in the table (the cumulative patch among them)."""
        qxweb.write_file(os.path.join(self.folder, "qx_patchlist_win32"), example)
        paths = re.findall(r"https?://[^/\s]+/(\S+)", example)
        folders = {os.path.dirname(path) for path in paths}
        self.assertEqual(1, len(folders), "the example's archives lie in one folder")
        folder = folders.pop()
        for path in paths + [os.path.join(folder, name) for _, _, names in rows for name in names]:
            self.archive(path)

    def archive(self, path):
        target = os.path.join(self.folder, path)
        if not os.path.exists(target):
            name = os.path.basename(path)
            qxweb.make_zip(target, {"subver/version.txt": name, "pkres/%s.txt" % name: name})

    def test_each_client_of_the_table_downloads_what_the_guide_says(self):
        example, rows = guide_parts()
        self.assertGreaterEqual(len(rows), 5)
        self.publish(example, rows)
        for version, offered, names in rows:
            with self.subTest(client=version):
                which = ["--no-version"] if version == "none" else ["--version", version]
                done = subprocess.run(
                    [sys.executable, TRY, self.folder, "--binary", qxweb.BIN, "--host",
                     qxweb.TEST_HOST] + which, capture_output=True, text=True, timeout=300)
                self.assertEqual(0, done.returncode, done.stdout + done.stderr)
                self.assertEqual([offered], OFFERED.findall(done.stdout), done.stdout)
                downloads = DOWNLOAD.findall(done.stdout)
                self.assertEqual(names, [os.path.basename(path) for path, _ in downloads])
                self.assertEqual({"200"}, {status for _, status in downloads} or {"200"})


if __name__ == "__main__":
    unittest.main()
