"""The Windows build's own tools: the icon the build draws is a well-formed .ico, and the check of
the cross-built program rejects one that needs a DLL Windows does not ship, holds the name of a
test-only setting or lacks a resource.
The program checks need the MinGW-w64 cross compiler and are skipped where it is not installed.
"""

import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

TOOLS = os.environ.get("QXWEB_TOOLS_DIR") or os.path.join(
    os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools")
MAKE_ICON = os.path.join(TOOLS, "windows", "make_icon.py")
CHECK_EXE = os.path.join(TOOLS, "windows", "check_exe.sh")
HOST = "x86_64-w64-mingw32"

# TLS names the libcurl TLS backend whose version text the check looks for; NARROW and WIDE are
# texts the program holds (the real program's mutex name by default).
PROGRAM = ("#include <zlib.h>\n#include <stdio.h>\n"
           "int main(void) { puts(zlibVersion()); puts(TLS); puts(NARROW); _putws(WIDE);"
           " return 0; }\n")
MUTEX_NAME = 'L"__QXWEB_HELPER_MUTEX_NAME__"'
MANIFEST = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
            '<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0"/>\n')
RESOURCES = {
    "icon": '1 ICON "app.ico"\n',
    "dialog": "102 DIALOGEX 0, 0, 100, 50\nBEGIN\nEND\n",
    "version": ("1 VERSIONINFO\nFILEVERSION 1,0,0,0\nBEGIN\n BLOCK \"VarFileInfo\"\n BEGIN\n"
                "  VALUE \"Translation\", 0x0804, 1200\n END\nEND\n"),
    "manifest": '1 24 "app.manifest"\n',
}


def read_icon(data):
    """The .ico as a list of (size, pixels, mask_bits): pixels top-down as (b, g, r, a)."""
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    assert (reserved, kind) == (0, 1), "not an icon directory"
    images = []
    for index in range(count):
        width, height, colours, _, planes, depth, length, offset = struct.unpack_from(
            "<BBBBHHII", data, 6 + 16 * index)
        assert width == height and colours == 0 and planes == 1 and depth == 32
        size = width or 256
        (header_size, bmp_width, bmp_height, bmp_planes, bmp_bits, compression,
         image_size) = struct.unpack_from("<IiiHHII", data, offset)
        assert (header_size, bmp_width, bmp_height) == (40, size, 2 * size)
        assert (bmp_planes, bmp_bits, compression) == (1, 32, 0)
        stride = ((size + 31) // 32) * 4
        assert image_size == size * size * 4 + size * stride == length - 40
        colour = data[offset + 40:offset + 40 + size * size * 4]
        mask = data[offset + 40 + size * size * 4:offset + length]
        pixels = [[tuple(colour[(y * size + x) * 4:(y * size + x) * 4 + 4]) for x in range(size)]
                  for y in reversed(range(size))]
        mask_bits = [[bool(mask[y * stride + x // 8] & (0x80 >> (x % 8))) for x in range(size)]
                for y in reversed(range(size))]
        images.append((size, pixels, mask_bits, offset, length))
    return images


class DrawnIcon(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="qxicon-")
        self.addCleanup(shutil.rmtree, self.folder)

    def test_three_sizes_each_with_matching_mask_and_transparent_corners(self):
        path = os.path.join(self.folder, "app.ico")
        subprocess.run([sys.executable, MAKE_ICON, path], check=True)
        with open(path, "rb") as icon:
            data = icon.read()
        images = read_icon(data)
        self.assertEqual([16, 32, 48], [size for size, *_ in images])
        # The images follow the directory back to back and end with the file.
        end = 6 + 16 * len(images)
        for _, _, _, offset, length in images:
            self.assertEqual(end, offset)
            end = offset + length
        self.assertEqual(len(data), end)
        for size, pixels, mask, _, _ in images:
            with self.subTest(size=size):
                self.assertEqual(0, pixels[0][0][3])
                self.assertEqual(0, pixels[size - 1][size - 1][3])
                self.assertEqual(255, pixels[size // 2][size // 2][3])
                transparent = [[p[3] == 0 for p in row] for row in pixels]
                self.assertEqual(transparent, mask)

    def test_without_an_output_path_it_writes_nothing_and_fails(self):
        result = subprocess.run([sys.executable, MAKE_ICON], capture_output=True, text=True,
                                cwd=self.folder)
        self.assertEqual(2, result.returncode)
        self.assertIn("usage", result.stderr)
        self.assertEqual([], os.listdir(self.folder))


@unittest.skipUnless(shutil.which(HOST + "-gcc"), "MinGW-w64 is not installed")
class ExeCheck(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="qxexe-")
        self.addCleanup(shutil.rmtree, self.folder)
        self.write("main.c", PROGRAM)
        self.write("app.manifest", MANIFEST)
        icon = os.path.join(self.folder, "app.ico")
        subprocess.run([sys.executable, MAKE_ICON, icon], check=True)

    def write(self, name, text):
        with open(os.path.join(self.folder, name), "w", encoding="utf-8") as out:
            out.write(text)

    def build(self, resources, static=True, tls="libcurl/7.88.1 Schannel", narrow='""',
              wide=MUTEX_NAME):
        """A small program with the named resources, a libcurl version text and the given C string
        literals; its path."""
        self.write("app.rc", "".join(RESOURCES[name] for name in resources))
        subprocess.run([HOST + "-windres", "app.rc", "-O", "coff", "-o", "app.res.o"],
                       check=True, cwd=self.folder)
        command = [HOST + "-gcc", '-DTLS="%s"' % tls, "-DNARROW=" + narrow, "-DWIDE=" + wide,
                   "main.c", "app.res.o", "-o", "app.exe", "-lz"]
        subprocess.run(command + (["-static"] if static else []), check=True, cwd=self.folder)
        return os.path.join(self.folder, "app.exe")

    def check(self, exe):
        return subprocess.run(["bash", CHECK_EXE, exe], capture_output=True, text=True)

    def test_static_program_with_all_resources_passes(self):
        result = self.check(self.build(RESOURCES))
        self.assertEqual(0, result.returncode, result.stderr)

    def test_program_needing_zlib1_dll_fails_naming_it(self):
        result = self.check(self.build(RESOURCES, static=False))
        self.assertEqual(1, result.returncode)
        self.assertIn("zlib1.dll", result.stderr)

    def test_program_without_schannel_fails(self):
        result = self.check(self.build(RESOURCES, tls="libcurl/7.88.1"))
        self.assertEqual(1, result.returncode)
        self.assertIn("Schannel", result.stderr)

    def test_program_holding_a_test_only_setting_fails_naming_it(self):
        for narrow, wide in (('"QXWEB_CA_FILE"', MUTEX_NAME), ('""', 'L"QXWEB_CA_FILE"')):
            with self.subTest(narrow=narrow, wide=wide):
                result = self.check(self.build(RESOURCES, narrow=narrow, wide=wide))
                self.assertEqual(1, result.returncode)
                self.assertIn("test-only settings: QXWEB_CA_FILE", result.stderr)

    def test_program_missing_a_resource_fails(self):
        for missing, message in (("icon", "group icon"), ("dialog", "dialog template 102"),
                                 ("version", "version"), ("manifest", "Type: 24")):
            with self.subTest(missing=missing):
                result = self.check(self.build([r for r in RESOURCES if r != missing]))
                self.assertEqual(1, result.returncode)
                self.assertIn(message, result.stderr)


if __name__ == "__main__":
    unittest.main()
