"""A patch whose one entry unpacks to far more than the memory bound, repaired by the real program:
the entry is streamed, so the program's peak memory stays under 64 MiB plus a small constant
however large the entry is, and the file arrives whole. The entry is 256 MiB in the test run and
2 GiB with QXWEB_LONG_TESTS=1 (the build target long_archive_tests, which also unpacks an entry
over 4 GiB). Skipped in the sanitizer build, whose shadow memory hides the program's own."""

import os
import struct
import time
import unittest
import zlib

import qxweb
from qxweb import ClientFolder, PatchServer, patch_line, patch_list
from repair_case import OLD_DOCUMENTS, REPAIRED_HINT

IDC_HINT = 1005
MIB = 1024 * 1024
ENTRY_SIZE = (2048 if os.environ.get("QXWEB_LONG_TESTS") == "1" else 256) * MIB
ENTRY_NAME = "patch_cache/large.bin"
# The memory bound of an extraction, and what the program needs besides (libcurl, TLS, the
# dialog): measured at about 12 MiB for a small repair.
BOUND = 64 * MIB + 32 * MIB


def piece():
    """1 MiB of the entry; every piece is the same."""
    lines = b"".join(b"%08d patch data of the large entry\n" % i for i in range(500))
    return lines[:16384] * 64


def write_large_zip(path):
    """A ZIP archive with ENTRY_NAME deflated: each piece is compressed once and flushed whole,
    so its compressed form repeats and the archive takes a second to write, not a minute. Its
    CRC-32 is computed as a reader would."""
    data = piece()
    compressor = zlib.compressobj(1, zlib.DEFLATED, -15)
    first = compressor.compress(data) + compressor.flush(zlib.Z_FULL_FLUSH)
    repeated = compressor.compress(data) + compressor.flush(zlib.Z_FULL_FLUSH)
    end = compressor.flush()
    count = ENTRY_SIZE // len(data)
    assert count * len(data) == ENTRY_SIZE
    crc = 0
    for _ in range(count):
        crc = zlib.crc32(data, crc)
    compressed = len(first) + len(repeated) * (count - 1) + len(end)
    name = ENTRY_NAME.encode()
    header = struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, 0, 8, 0, 0, crc, compressed,
                         ENTRY_SIZE, len(name), 0)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(header + name + first)
        for _ in range(count - 1):
            f.write(repeated)
        f.write(end)
        directory = f.tell()
        record = struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, 0, 8, 0, 0, crc,
                             compressed, ENTRY_SIZE, len(name), 0, 0, 0, 0, 0, 0) + name
        f.write(record)
        f.write(struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 1, 1, len(record), directory, 0))
    return crc


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
