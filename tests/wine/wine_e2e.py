"""The real Windows program under Wine, driven from outside like a user would: the start-up boxes,
the dialog, a full repair against the bundled patch server on 127.0.0.1 and the launch of the game
stand-in; repairs of client folders named outside the ANSI code page (Hangul on a Chinese system,
Chinese on an English one) and a repair whose archives come over HTTPS through Schannel. Windows
are found by their captions with xdotool; keys and clicks are real X input. Screenshots of the
dialog in each state are written to the output folder.

tools/windows/wine_checks.sh runs this with Wine's environment set up (WINEPREFIX, DISPLAY, the
Chinese locale); the inputs come from the environment:
  QXWEB_WIN_EXE    the cross-built qxwebhelper.exe (patch list at 127.0.0.1:QXWEB_WINE_PORT)
  QXWEB_WIN_GAME   the game stand-in (tests/wine/game_stand_in.c) to install as "vazazu.exe"
  QXWEB_WINE_PORT  the port fixed into the program
  QXWEB_WINE_OUT   a folder for the client folders, the server's files and the screenshots
Standard library only.
"""

import collections
import hashlib
import os
import shutil
import ssl
import struct
import subprocess
import sys
import time
import unittest
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
TOOLS = os.path.join(HERE, "..", "..", "tools")
sys.path.insert(0, TOOLS)
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))
import archive_corpus  # noqa: E402  (archives made by real tools)
import demo_report  # noqa: E402  (the files of a folder)
import make_demo  # noqa: E402  (the demo's patch set and client, reused here)
import qxweb  # noqa: E402  (the end-to-end tests' helpers)
import tls_certificates  # noqa: E402  (a certificate authority for the HTTPS server)

write_utf8_zip = make_demo.write_zip

EXE = os.environ.get("QXWEB_WIN_EXE", "")
GAME = os.environ.get("QXWEB_WIN_GAME", "")
PORT = int(os.environ.get("QXWEB_WINE_PORT", "28110"))
OUT = os.path.abspath(os.environ.get("QXWEB_WINE_OUT", "wine-e2e"))
# The minisign secret key whose public key is built into the program: every list is signed.
LIST_KEY = os.environ.get("QXWEB_WINE_LIST_KEY", "")

DIALOG_CAPTION = "《Zorvan》手游客户端修复工具"
# The four patch folders of "Documents" that a repair replaces.
PATCH_FOLDERS = ("pkres", "subver", "patch_cache", "qatools")
# Positions in the dialog's client area: the panel's top-left frame pixel and the button's middle.
PANEL_TOP_LEFT = (18, 60)
BUTTON_MIDDLE = (200, 195)
FRAME_COLOUR = (197, 190, 190)
# What a painted picture shows, in the dialog's client area (the controls' rectangles) and in a
# message box (its text above its row of buttons, below the caption that Wine draws).
DIALOG_REGIONS = {
    "the newest version": (20, 20, 220, 50),
    "the hint": (45, 87, 395, 127),
    "the bar's filled part": (42, 77, 376, 103),
    "the status": (40, 110, 152, 136),
    "the count": (152, 110, 240, 136),
    "the speed": (240, 110, 310, 136),
    "the button": (150, 180, 250, 210),
}
BOX_REGIONS = {"the text": (8, 22, -8, -42), "the buttons": (8, -40, -8, -4)}
# A region is drawn when this many of its pixels differ by more than INK_CONTRAST (in one of the
# red, green and blue values) from its commonest colour.
MIN_INK = 20
INK_CONTRAST = 60
# The archive of the full repair that comes slowly, at about this many bytes per second, and the
# generated files more in each archive of that repair (about 4 KB each once packed).
SLOW_ARCHIVE = "/patches/patch_1.0.3.zip"
SLOW_RATE = 20000
SLOW_BULK = 40
# Generous bounds for one step; Wine waits about 2 s whenever a top-level window closes.
STEP_SECONDS = 60
# The locales of a Chinese and an English Windows (ANSI code pages 936 and 1252), made in LOCPATH
# by wine_checks.sh; Wine takes its code page from the locale each program starts in.
CHINESE_LOCALE = "zh_CN.UTF-8"
ENGLISH_LOCALE = "en_US.UTF-8"


class GbkName(zipfile.ZipInfo):
    """An entry whose name is in the client system's code page (GBK, as Chinese Windows tools
    write them) instead of UTF-8: the program hands names to the system unchanged."""

    def _encodeFilenameFlags(self):
        return self.filename.encode("gbk"), self.flag_bits


def write_gbk_zip(path, files):
    """make_demo's archive with GBK names."""
    write_utf8_zip(path, files, entry=GbkName)


def version_key(text):
    return tuple(int(part) for part in text.split("."))


def expected_documents(bulk=0):
    """Documents after the repair: the player's own files stay, the four patch folders are
    replaced by every newer release merged oldest first, then the cumulative patch."""
    tree = {name: content for name, content in make_demo.OLD_DOCUMENTS.items()
            if name.split("/")[0] not in PATCH_FOLDERS}
    local = version_key(make_demo.LOCAL_VERSION)
    releases = make_demo.releases(bulk)
    for version in sorted(releases, key=version_key):
        if version_key(version) > local:
            tree.update(releases[version])
    tree.update(make_demo.cumulative(bulk))
    return {name: content.encode("utf-8") for name, content in tree.items()}


tree_of = demo_report.files


def folders_of(folder):
    return {os.path.relpath(os.path.join(dirpath, name), folder).replace(os.sep, "/")
            for dirpath, dirnames, _ in os.walk(folder) for name in dirnames}


def folders_holding(names):
    return {"/".join(name.split("/")[:depth]) for name in names
            for depth in range(1, name.count("/") + 1)}


def winpath(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def wait_for(what, condition, seconds=STEP_SECONDS):
    return qxweb.wait_until(condition, timeout=seconds, what=what)


def xdotool(*args):
    done = subprocess.run(["xdotool"] + list(args), capture_output=True, text=True, timeout=30)
    return done.stdout.strip() if done.returncode == 0 else ""


def find_window(caption):
    """The X window id of the mapped top-level window with exactly this caption, or "". Wine
    creates a window's X window before it maps it, and an unmapped window cannot be captured."""
    for window in xdotool("search", "--onlyvisible", "--name", caption).split():
        if xdotool("getwindowname", window) == caption:
            return window
    return ""


def window_origin(window):
    values = dict(line.split("=", 1)
                  for line in xdotool("getwindowgeometry", "--shell", window).splitlines())
    return int(values["X"]), int(values["Y"])


class Picture:
    """A window's pixels as the X server holds them (Wine draws the caption and frame itself)."""

    def __init__(self, ppm):
        self.ppm = ppm
        # A binary PPM: "P6", width, height, 255, one whitespace byte, then RGB triples.
        fields = self.ppm.split(maxsplit=3)
        self.width, self.height = int(fields[1]), int(fields[2])
        self.pixels = fields[3][4:] if fields[3].startswith(b"255") else b""

    def rgb(self, x, y):
        offset = (y * self.width + x) * 3
        return tuple(self.pixels[offset:offset + 3])

    def find(self, colour):
        """The first pixel of this colour, row by row, or None."""
        offset = self.pixels.find(bytes(colour))
        while offset >= 0 and offset % 3:
            offset = self.pixels.find(bytes(colour), offset + 1)
        return None if offset < 0 else ((offset // 3) % self.width, (offset // 3) // self.width)

    def ink(self, box):
        """Pixels of the box (x0, y0, x1, y1; a negative number counts from the right or the
        bottom edge) that stand out from the box's commonest colour: the strokes of a text or
        the filled part of a bar."""
        x0, y0, x1, y1 = [v + (self.width if i % 2 == 0 else self.height) if v < 0 else v
                          for i, v in enumerate(box)]
        colours = collections.Counter(self.rgb(x, y) for y in range(y0, min(y1, self.height))
                                      for x in range(x0, min(x1, self.width)))
        if not colours:
            return 0
        background = colours.most_common(1)[0][0]
        return sum(count for colour, count in colours.items()
                   if max(abs(a - b) for a, b in zip(colour, background)) > INK_CONTRAST)

    def save(self, path):
        subprocess.run(["convert", "ppm:-", "-strip", "png:" + path], input=self.ppm, check=True,
                       timeout=60)


def picture_of(window):
    """The window's Picture, or None while the X server cannot give one: the window is being
    mapped, moved or resized by Wine at that moment, and a later try succeeds."""
    done = subprocess.run(["import", "-window", window, "-depth", "8", "ppm:-"], timeout=60,
                          capture_output=True)
    return Picture(done.stdout) if done.returncode == 0 and done.stdout.startswith(b"P6") else None


def capture(window, name, regions, origin=(0, 0), seconds=20):
    """Waits until every region of the window is drawn (enough ink in it: a window captured
    before its paint is blank), then saves the window as a PNG in the screenshots folder. regions:
    {what: box} as Picture.ink takes it, shifted by origin. Fails naming the blank regions when
    the window stays blank; the last picture is saved either way."""
    path = os.path.join(OUT, "screenshots", name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    deadline = time.monotonic() + seconds
    while True:
        picture = picture_of(window)
        blank = list(regions) if picture is None else [
            what for what, (x0, y0, x1, y1) in regions.items()
            if picture.ink((x0 + origin[0], y0 + origin[1], x1 + origin[0],
                            y1 + origin[1])) < MIN_INK]
        if not blank or time.monotonic() > deadline:
            if picture is None:
                raise AssertionError("%s: the window could not be captured for %d s"
                                     % (name, seconds))
            picture.save(path)
            break
        time.sleep(0.2)
    if blank:
        raise AssertionError("%s: still blank after %d s: %s" % (name, seconds, ", ".join(blank)))
    return path


def capture_dialog(window, name, *shown):
    """The dialog, once the named regions of its client area are drawn."""
    capture(window, name, {what: DIALOG_REGIONS[what] for what in shown}, client_origin(window))


def client_origin(window):
    """Where the dialog's client area starts inside its X window (Wine draws the caption and
    frame itself), found through the panel's frame pixel once the dialog has painted it."""
    def frame_pixel():
        picture = picture_of(window)
        return picture.find(FRAME_COLOUR) if picture else None

    frame = wait_for("the dialog's panel frame", frame_pixel)
    return frame[0] - PANEL_TOP_LEFT[0], frame[1] - PANEL_TOP_LEFT[1]


def press_button(window):
    """A real click on the dialog's one button."""
    wx, wy = window_origin(window)
    cx, cy = client_origin(window)
    xdotool("mousemove", str(wx + cx + BUTTON_MIDDLE[0]), str(wy + cy + BUTTON_MIDDLE[1]))
    xdotool("click", "1")
    # Away again: without a window manager a box that opens under the pointer later does not
    # get the keyboard.
    xdotool("mousemove", "0", "0")


def press_until_closed(window, caption, key):
    """Focuses the window and presses key until the window is gone. Without a window manager a key
    that arrives while Wine is still activating the window is lost (more often on a busy
    machine), so it is pressed again after a while."""
    for _ in range(5):
        xdotool("windowfocus", window)
        xdotool("key", key)
        deadline = time.monotonic() + 3
        while time.monotonic() < deadline:
            if window not in xdotool("search", "--name", caption).split():
                return
            time.sleep(0.1)
    raise AssertionError("the window %s did not close on %s" % (caption, key))


def answer_box(caption, shot_name, key="Return"):
    """Waits for the message box with this caption, takes its picture once its text and buttons
    are drawn, focuses the box and presses key (Return presses the default button) until the box
    is gone."""
    box = wait_for("the box " + caption, lambda: find_window(caption))
    xdotool("windowfocus", box)
    capture(box, shot_name, BOX_REGIONS)
    press_until_closed(box, caption, key)


def sign_list(root):
    """Signs the patch list in root as its publisher does (minisign -S), when it has one."""
    if os.path.isfile(os.path.join(root, "qx_patchlist_win32")):
        make_demo.sign_list(root, LIST_KEY)


class PatchServer:
    """tools/patch_server.py serving root, its patch list signed; tls=(certificate, key) serves
    HTTPS."""

    def __init__(self, root, rules, port=PORT, tls=None):
        sign_list(root)
        self.rules = os.path.join(root, "..", "rules.json")
        with open(self.rules, "w", encoding="utf-8") as f:
            f.write(rules)
        tls_args = ["--cert", tls[0], "--key", tls[1]] if tls else []
        self.process = subprocess.Popen(
            [sys.executable, os.path.join(TOOLS, "patch_server.py"), "--root", root,
             "--port", str(port), "--rules", self.rules, "--quiet"] + tls_args,
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        if not self.process.stdout.readline().strip():
            self.stop()
            raise AssertionError("the patch server did not start on port %d" % port)

    def stop(self):
        self.process.terminate()
        try:
            self.process.wait(timeout=20)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        self.process.stdout.close()


class Program:
    """One run of qxwebhelper.exe under Wine in the client folder, in the given locale."""

    def __init__(self, client, locale=CHINESE_LOCALE):
        env = dict(os.environ, LANG=locale, LC_ALL=locale)
        self.process = subprocess.Popen(["wine", os.path.join(client, "qxwebhelper.exe")],
                                        cwd=client, env=env, stdin=subprocess.DEVNULL,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def wait_exit(self):
        try:
            return self.process.wait(timeout=STEP_SECONDS)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            raise AssertionError("the program did not end")

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()


class WineProgramTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not os.path.isfile(EXE) or not os.path.isfile(GAME):
            raise unittest.SkipTest("QXWEB_WIN_EXE / QXWEB_WIN_GAME do not name built programs")

    def make_client(self, name, **changes):
        """The demo client at 1.0.0 with the real program and the game stand-in."""
        root = os.path.join(OUT, name)
        shutil.rmtree(root, ignore_errors=True)
        make_demo.make_client(root, None)
        shutil.copy2(EXE, os.path.join(root, "qxwebhelper.exe"))
        shutil.copy2(GAME, os.path.join(root, "vazazu.exe"))
        for relative in changes.get("remove", ()):
            os.remove(os.path.join(root, relative))
        return root

    def start_server(self, rules="{}", bulk=0, gbk_names=True):
        """The demo's patch set with GBK names, or UTF-8 ones as the demo writes them (and bulk
        generated files more per archive); its root folder."""
        root = os.path.join(OUT, "server", "root")
        shutil.rmtree(os.path.dirname(root), ignore_errors=True)
        original = make_demo.write_zip
        make_demo.write_zip = write_gbk_zip if gbk_names else original
        try:
            make_demo.make_server(root, "127.0.0.1:%d" % PORT, bulk)
        finally:
            make_demo.write_zip = original
        server = PatchServer(root, rules)
        self.addCleanup(server.stop)
        return root

    def serve_7zip_release(self, tree):
        """A server whose patch list offers only 1.0.1, packed by 7-Zip from tree {name: bytes};
        7-Zip flags names outside ASCII as UTF-8."""
        root = os.path.join(OUT, "server-7zip", "root")
        shutil.rmtree(os.path.dirname(root), ignore_errors=True)
        source = os.path.join(OUT, "server-7zip", "tree")
        archive_corpus.write_tree(source, tree)
        os.makedirs(os.path.join(root, "patches"))
        archive = archive_corpus.make_archive(
            "7zip", source, tree, os.path.join(root, "patches", "patch_1.0.1.zip"))
        self.assertIn("UTF-8 flag", archive_corpus.features(archive))
        with open(archive, "rb") as f:
            digest = hashlib.sha256(f.read()).hexdigest()
        with open(os.path.join(root, "qx_patchlist_win32"), "w", newline="\r\n") as f:
            f.write("#sha256:patch_1.0.1.zip %s\n" % digest)
            f.write("1.0.1 http://127.0.0.1:%d/patches/patch_1.0.1.zip 1 release\n" % PORT)
        server = PatchServer(root, "{}")
        self.addCleanup(server.stop)

    def repair_and_close(self, client, finished):
        """Presses the repair button, waits until finished() holds, answers the box that ends a
        failed repair if there is one, and closes the dialog."""
        program = self.run_program(client)
        dialog = wait_for("the dialog", lambda: find_window(DIALOG_CAPTION))
        time.sleep(1)  # the first paint
        press_button(dialog)
        wait_for("the end of the repair", finished, seconds=120)
        box = find_window("提示")
        if box:
            press_until_closed(box, "提示", "Return")
        time.sleep(2)  # the worker enables the button after the clean-up
        press_until_closed(dialog, DIALOG_CAPTION, "alt+F4")
        self.assertEqual(program.wait_exit(), 0)

    def run_program(self, client, locale=CHINESE_LOCALE):
        program = Program(client, locale)
        self.addCleanup(program.stop)
        return program

    def repair_then_launch(self, client, locale=CHINESE_LOCALE):
        """Presses the repair button and, once the repair has finished without a box, the launch
        button; the code page the game stand-in ran with."""
        program = self.run_program(client, locale)
        dialog = wait_for("the dialog", lambda: find_window(DIALOG_CAPTION))
        time.sleep(1)  # the first paint
        press_button(dialog)
        tmp_patch = os.path.join(client, "TmpPatch")
        wait_for("the end of the repair", lambda: not os.path.exists(tmp_patch) or
                 find_window("提示"), seconds=120)
        self.assertFalse(find_window("提示"), "the repair ended with a box")
        time.sleep(2)  # the worker enables the launch button after the clean-up
        press_button(dialog)
        self.assertEqual(program.wait_exit(), 0)
        marker = os.path.join(client, "vazazu.started")
        wait_for("the game's start", lambda: os.path.isfile(marker))
        with open(marker, encoding="utf-8-sig") as f:
            return int(f.read().splitlines()[2])

    def test_missing_client_files_end_the_start_up_after_one_box(self):
        client = self.make_client("client-incomplete", remove=["vazazu.dll"])
        program = self.run_program(client)
        answer_box("提示", "box-incomplete-client.png")
        self.assertEqual(program.wait_exit(), 0)
        self.assertFalse(os.path.exists(os.path.join(client, "TmpPatch")))

    def test_a_running_game_is_ended_after_asking(self):
        self.start_server()
        client = self.make_client("client-game-running")
        game = subprocess.Popen(["wine", os.path.join(client, "vazazu.exe"), "--stay"],
                                cwd=client, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(lambda: game.poll() is None and (game.kill(), game.wait()))
        wait_for("the game", lambda: os.path.isfile(os.path.join(client, "vazazu.started")))

        program = self.run_program(client)
        answer_box("提示", "box-game-running.png")  # "Yes", the default button: end the game
        dialog = wait_for("the dialog", lambda: find_window(DIALOG_CAPTION))
        self.assertEqual(game.wait(timeout=STEP_SECONDS), 0)  # TerminateProcess with 0

        press_until_closed(dialog, DIALOG_CAPTION, "alt+F4")
        self.assertEqual(program.wait_exit(), 0)
        self.assertEqual(tree_of(os.path.join(client, "Documents")),
                         {name: content.encode("utf-8")
                          for name, content in make_demo.OLD_DOCUMENTS.items()})

    def test_repair_then_launch_the_game(self):
        # The third archive comes slowly, so the repairing dialog shows the bar, the count and
        # the speed for a while.
        self.start_server('{"%s": {"rate": %d}}' % (SLOW_ARCHIVE, SLOW_RATE), bulk=SLOW_BULK)
        slow_size = os.path.getsize(os.path.join(OUT, "server", "root", SLOW_ARCHIVE[1:]))
        client = self.make_client("client")
        documents = os.path.join(client, "Documents")
        program = self.run_program(client)

        dialog = wait_for("the dialog", lambda: find_window(DIALOG_CAPTION))
        capture_dialog(dialog, "dialog-repair-offered.png", "the newest version", "the hint",
                       "the button")

        # A second copy meets the single-instance guard and ends after its box.
        second = self.run_program(client)
        answer_box("启动失败", "box-second-copy.png")
        self.assertEqual(second.wait_exit(), 0)

        press_button(dialog)
        slow = os.path.join(client, "TmpPatch", os.path.basename(SLOW_ARCHIVE))
        wait_for("a third of the slow archive", lambda: os.path.isfile(slow) and
                 os.path.getsize(slow) > slow_size // 3)
        capture_dialog(dialog, "dialog-repairing.png", "the newest version",
                       "the bar's filled part", "the status", "the count", "the speed")

        wait_for("the end of the repair", lambda: not os.path.exists(
            os.path.join(client, "TmpPatch")), seconds=120)
        time.sleep(2)  # the worker enables the launch button after the clean-up
        capture_dialog(dialog, "dialog-repaired.png", "the newest version", "the hint",
                       "the button")
        self.assertEqual(tree_of(documents), expected_documents(SLOW_BULK))

        press_button(dialog)
        self.assertEqual(program.wait_exit(), 0)
        marker = os.path.join(client, "vazazu.started")
        wait_for("the game's start", lambda: os.path.isfile(marker))
        with open(marker, encoding="utf-8-sig") as f:
            work_dir, command_line = f.read().splitlines()[:2]
        self.assertEqual(work_dir.rstrip("\\"), winpath(client))
        self.assertIn(winpath(os.path.join(client, "vazazu.exe")), command_line)


    def test_utf8_names_of_a_7zip_archive_reach_the_disk_in_code_page_936(self):
        self.serve_7zip_release(archive_corpus.TREE)
        client = self.make_client("client-7zip-utf8")
        documents = os.path.join(client, "Documents")
        expected = {name: content.encode("utf-8")
                    for name, content in make_demo.OLD_DOCUMENTS.items()
                    if name.split("/")[0] not in PATCH_FOLDERS}
        expected.update(archive_corpus.TREE)
        self.repair_and_close(client, lambda: tree_of(documents) == expected and not
                              os.path.exists(os.path.join(client, "TmpPatch")))
        self.assertFalse(find_window("提示"))
        # No folder made of half a character: "淺" and "籠" end in the byte of "\\" in GBK.
        self.assertEqual(folders_of(documents),
                         folders_holding(expected) | set(archive_corpus.EMPTY_FOLDERS))

    def test_a_utf8_name_without_a_form_in_code_page_936_reaches_the_disk(self):
        tree = {"pkres/角色/英雄.txt": b"hero", "pkres/한국어.txt": b"korean"}
        self.serve_7zip_release(tree)
        client = self.make_client("client-7zip-hangul-name")
        documents = os.path.join(client, "Documents")
        expected = {name: content.encode("utf-8")
                    for name, content in make_demo.OLD_DOCUMENTS.items()
                    if name.split("/")[0] not in PATCH_FOLDERS}
        expected.update(tree)
        self.repair_and_close(client, lambda: not os.path.exists(
            os.path.join(client, "TmpPatch")) or find_window("提示"))
        self.assertEqual(tree_of(documents), expected)

    def test_a_client_folder_named_in_hangul_is_repaired_in_code_page_936(self):
        self.start_server()
        client = self.make_client("客户端 한글")
        self.assertEqual(self.repair_then_launch(client, CHINESE_LOCALE), 936)
        self.assertEqual(tree_of(os.path.join(client, "Documents")), expected_documents())
        self.assertEqual(folders_of(os.path.join(client, "Documents")),
                         folders_holding(expected_documents()))

    def test_a_client_folder_named_in_chinese_is_repaired_in_code_page_1252(self):
        self.start_server(gbk_names=False)
        client = self.make_client("客户端")
        self.assertEqual(self.repair_then_launch(client, ENGLISH_LOCALE), 1252)
        self.assertEqual(tree_of(os.path.join(client, "Documents")), expected_documents())
        self.assertEqual(folders_of(os.path.join(client, "Documents")),
                         folders_holding(expected_documents()))

    def test_archives_over_https_are_fetched_through_schannel(self):
        # Wine's Schannel does not validate the server's certificate by itself (a certificate of
        # an authority nobody trusts passes too), so this proves the TLS transfer through Schannel
        # and https addresses; verification is proven on Linux, over OpenSSL (test_downloads.py).
        # The authority is trusted as Windows needs it, so the check holds where it validates.
        certificates = tls_certificates.TestCertificates(os.path.join(OUT, "tls"))
        trust_in_wine(certificates.ca)
        root = self.start_server()
        # The patch list stays on plain HTTP; the archives are only on the HTTPS server.
        tls_root = os.path.join(OUT, "server-tls", "root")
        shutil.rmtree(os.path.dirname(tls_root), ignore_errors=True)
        os.makedirs(tls_root)
        shutil.move(os.path.join(root, "patches"), os.path.join(tls_root, "patches"))
        patch_list = os.path.join(root, "qx_patchlist_win32")
        with open(patch_list, "rb") as f:
            text = f.read()
        with open(patch_list, "wb") as f:
            f.write(text.replace(b"http://127.0.0.1:%d/" % PORT,
                                 b"https://127.0.0.1:%d/" % (PORT + 1)))
        sign_list(root)  # the publisher signs every change of the list
        server = PatchServer(tls_root, "{}", PORT + 1,
                             (certificates.server_cert, certificates.server_key))
        self.addCleanup(server.stop)
        client = self.make_client("client-https")
        self.assertEqual(self.repair_then_launch(client), 936)
        self.assertEqual(tree_of(os.path.join(client, "Documents")), expected_documents())


def trust_in_wine(ca_pem):
    """Adds the certificate authority to the Wine prefix's trusted roots, as an administrator
    would on Windows: the registry store of the machine's "Root", one value "Blob" holding the
    certificate as a serialized property (CERT_CERT_PROP_ID) under its SHA-1 thumbprint."""
    with open(ca_pem, encoding="ascii") as f:
        der = ssl.PEM_cert_to_DER_cert(f.read())
    blob = struct.pack("<III", 32, 1, len(der)) + der
    key = ("HKLM\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\" +
           hashlib.sha1(der).hexdigest().upper())
    subprocess.run(["wine", "reg", "add", key, "/v", "Blob", "/t", "REG_BINARY", "/d",
                    blob.hex(), "/f"], check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=STEP_SECONDS)


if __name__ == "__main__":
    unittest.main(verbosity=2)
