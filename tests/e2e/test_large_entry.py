"""A patch whose one entry unpacks to far more than the memory bound, repaired by the real program:
the entry is streamed, so the program's peak memory stays under 64 MiB plus a small constant
however large the entry is, and the file arrives whole. The entry is 256 MiB in the test run and
2 GiB with QXWEB_LONG_TESTS=1 (the build target long_archive_tests, which also unpacks an entry
over 4 GiB). Skipped in the sanitizer build, whose shadow memory hides the program's own."""

import os
import sys
import time
import unittest
import zlib

import qxweb
from qxweb import ClientFolder, PatchServer, patch_line, patch_list
from repair_case import OLD_DOCUMENTS, REPAIRED_HINT

sys.path.insert(0, qxweb.TOOLS_DIR)
from one_entry_zip import write_one_entry_zip  # noqa: E402  (the tools' archive writer)

IDC_HINT = 1005
MIB = 1024 * 1024
ENTRY_SIZE = (2048 if os.environ.get("QXWEB_LONG_TESTS") == "1" else 256) * MIB
ENTRY_NAME = "patch_cache/large.bin"
# The memory bound of an extraction, and what the program needs besides (libcurl, TLS, the
# dialog): measured at about 12 MiB for a small repair.
BOUND = 64 * MIB + 32 * MIB


def write_large_zip(path):
    """The patch archive holding ENTRY_NAME; its CRC-32."""
    return write_one_entry_zip(path, ENTRY_SIZE, ENTRY_NAME)


def peak_memory(pid):
    """The process's peak resident memory so far (VmHWM), in bytes; 0 once it is gone."""
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1]) * 1024
    except OSError:
        pass
    return 0


def crc_of(path):
    crc = 0
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(8 * MIB), b""):
            crc = zlib.crc32(block, crc)
    return crc


@unittest.skipIf(os.environ.get("QXWEB_SANITIZED", "OFF") == "ON",
                 "the sanitizers' shadow memory hides the program's own")
class LargeEntry(unittest.TestCase):
    def test_a_large_entry_is_unpacked_whole_under_the_memory_bound(self):
        with PatchServer() as server:
            crc = write_large_zip(os.path.join(server.root, "p", "1.0.1.zip"))
            server.put_patch_list(patch_list([patch_line("1.0.1", server.url("/p/1.0.1.zip"))]))
            client = ClientFolder(self, version="1.0.0", documents=OLD_DOCUMENTS)
            run = qxweb.start(client, answers=[], dialog=["press"])
            peak = 0
            while run.proc.poll() is None:
                peak = max(peak, peak_memory(run.proc.pid))
                time.sleep(0.02)
            result = run.finish()
        self.assertEqual([], result.boxes())
        self.assertEqual(REPAIRED_HINT, result.text(IDC_HINT))
        self.assertLess(peak, BOUND, "peak %.1f MiB" % (peak / MIB))
        large = client.file("Documents", *ENTRY_NAME.split("/"))
        self.assertEqual(ENTRY_SIZE, os.path.getsize(large))
        self.assertEqual(crc, crc_of(large))


if __name__ == "__main__":
    unittest.main()
