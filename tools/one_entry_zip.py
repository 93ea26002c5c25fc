"""A ZIP archive of one large deflated entry, written in about a second whatever its size: the
entry is one MiB repeated, compressed once and flushed whole, so its compressed form repeats too.
For the tests and benchmarks of large entries (a 2 GiB entry under a memory bound)."""

import os
import struct
import zlib

MIB = 1024 * 1024


def repeated_mib():
    """The MiB the entry repeats: text-like lines, so that it deflates well."""
    lines = b"".join(b"%08d patch data of the large entry\n" % i for i in range(500))
    return lines[:16384] * 64


def write_one_entry_zip(path, size, name="entry.bin"):
    """Writes the archive with `name` holding `size` bytes (a whole number of MiB); the entry's
    CRC-32, computed as a reader would."""
    data = repeated_mib()
    count = size // len(data)
    assert count * len(data) == size, "the size must be a whole number of MiB"
    compressor = zlib.compressobj(1, zlib.DEFLATED, -15)
    first = compressor.compress(data) + compressor.flush(zlib.Z_FULL_FLUSH)
    repeated = compressor.compress(data) + compressor.flush(zlib.Z_FULL_FLUSH)
    end = compressor.flush()
    crc = 0
    for _ in range(count):
        crc = zlib.crc32(data, crc)
    compressed = len(first) + len(repeated) * (count - 1) + len(end)
    encoded = name.encode()
    header = struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, 0, 8, 0, 0, crc, compressed, size,
                         len(encoded), 0)
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    with open(path, "wb") as f:
        f.write(header + encoded + first)
        for _ in range(count - 1):
            f.write(repeated)
        f.write(end)
        directory = f.tell()
        record = struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, 0, 8, 0, 0, crc,
                             compressed, size, len(encoded), 0, 0, 0, 0, 0, 0) + encoded
        f.write(record)
        f.write(struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 1, 1, len(record), directory, 0))
    return crc
