"""The dialog and a whole repair through the real program, scripted, against the patch server: the
two offers the dialog makes, the game launch, a full repair with several archives and the
cumulative patch, and the failures that end a repair with their one box."""

import os
import stat
import unittest

import qxweb
from qxweb import ClientFolder, PatchServer, patch_line, patch_list
from repair_case import with_folder_entries

IDC_PROGRESS = 1001
IDC_LATEST_VERSION = 1002
IDC_STATUS = 1003
IDC_HINT = 1005
IDC_ACTION = 1006
IDC_DOWNLOAD_COUNT = 1007
IDC_DOWNLOAD_SPEED = 1008

REPAIR_HINT = "如果游戏下载patch失败，请使用“一键修复”功能。"
CURRENT_HINT = "您的客户端版本已经是最新版本。"
REPAIRED_HINT = "修复成功！可启动游戏。"

OLD_DOCUMENTS = {
    "pkres/a.pk": "old a",
    "pkres/only-old.pk": "dropped by the repair",
    "subver/ver.txt": "1.0.0",
    "qatools/q.txt": "old q",
    "settings.ini": "the player's own",
    "截图/one.txt": "the player's own too",
}

# Three releases and the cumulative patch of the 1.0 line; later ones win, the cumulative patch
# beats them all.
RELEASES = {
    "1.0.1": {"pkres/a.pk": "a1", "pkres/角色/英雄.txt": "hero 1", "subver/ver.txt": "1.0.1"},
    "1.0.2": {"pkres/a.pk": "a2", "patch_cache/map.bin": "map 2", "subver/ver.txt": "1.0.2"},
    "1.0.10": {"pkres/角色/英雄.txt": "hero 10", "subver/ver.txt": "1.0.10"},
}
CUMULATIVE = {"subver/ver.txt": "cumulative", "qatools/new.txt": "tool"}

MERGED = {
    "pkres/a.pk": b"a2",
    "pkres/角色/英雄.txt": b"hero 10",
    "patch_cache/map.bin": b"map 2",
    "subver/ver.txt": b"cumulative",
    "qatools/new.txt": b"tool",
    "settings.ini": "the player's own".encode(),
    "截图/one.txt": "the player's own too".encode(),
}


def documents(client):
    return qxweb.tree(client.file("Documents"))


class RepairServer:
    """The releases under /p/ with the patch list naming them, and the cumulative patch."""

    def __init__(self, test, releases=RELEASES, cumulative=CUMULATIVE):
        self.server = PatchServer()
        test.addCleanup(self.server.stop)
        lines = []
        for version, files in releases.items():
            qxweb.make_zip(os.path.join(self.server.root, "p", version + ".zip"),
                           with_folder_entries(files))
            lines.append(patch_line(version, self.server.url("/p/%s.zip" % version)))
        if cumulative:
            qxweb.make_zip(os.path.join(self.server.root, "p", "patch1.0.1.qx.all.win32"),
                           with_folder_entries(cumulative))
        self.server.put_patch_list(patch_list(lines, headers={"channel": "web"}))


class DialogOffers(unittest.TestCase):
    def test_a_current_client_launches_the_game_from_its_folder_and_closes(self):
        RepairServer(self)
        client = ClientFolder(self, version="1.0.10\r\n")
        # Started from a shortcut elsewhere: the check looks there, the launch uses its own folder.
        other = os.path.join(client.root, "elsewhere")
        for name in ("vazazu.exe", "vazazu.dll", "findownload.dat"):
            qxweb.write_file(os.path.join(other, name), b"1.0.10")
        result = qxweb.run(client, answers=[], dialog=["press"], cwd=other,
                           env={"PATH": os.environ["PATH"]})
        controls = result.controls()
        self.assertEqual("1.0.10", controls[IDC_LATEST_VERSION]["text"])
        self.assertEqual("启动游戏", controls[IDC_ACTION]["text"])
        self.assertEqual(CURRENT_HINT, controls[IDC_HINT]["text"])
        self.assertTrue(controls[IDC_DOWNLOAD_COUNT]["visible"])
        self.assertEqual([{"event": "exec", "file": client.winpath("vazazu.exe"), "params": "",
                           "dir": client.winpath() + "\\", "ok": True}], result.execs())
        self.assertEqual(["open", "close"], result.dialog_events())
        self.assertEqual([], result.boxes())
        started = qxweb.wait_until(lambda: os.path.exists(client.file("vazazu.started")),
                                   what="the game stand-in")
        self.assertTrue(started)
        with open(client.file("vazazu.started")) as f:
            self.assertEqual(client.path, f.readline().strip())

    def test_an_outdated_client_is_offered_the_repair(self):
        RepairServer(self)
        client = ClientFolder(self, version="1.0.2")
        result = qxweb.run(client, answers=[], dialog=["close"])
        controls = result.controls()
        self.assertEqual("一键修复", controls[IDC_ACTION]["text"])
        self.assertEqual(REPAIR_HINT, controls[IDC_HINT]["text"])
        self.assertFalse(controls[IDC_PROGRESS]["visible"])
        self.assertFalse(controls[IDC_DOWNLOAD_COUNT]["visible"])
        self.assertEqual([], result.execs())

    def test_a_game_that_cannot_start_shows_one_box_and_the_dialog_closes(self):
        RepairServer(self)
        client = ClientFolder(self, version="1.0.10")
        os.chmod(client.file("vazazu.exe"), stat.S_IRUSR | stat.S_IWUSR)
        result = qxweb.run(client, answers=[], dialog=["press"])
        self.assertEqual(["无法启动游戏程序"], result.box_texts())
        self.assertFalse(result.execs()[0]["ok"])
        self.assertEqual(["open", "close"], result.dialog_events())


class FullRepair(unittest.TestCase):
    def test_a_client_at_1_0_0_is_brought_to_the_newest_version(self):
        RepairServer(self)
        client = ClientFolder(self, version="1.0.0", documents=OLD_DOCUMENTS)
        result = qxweb.run(client, answers=[], dialog=["press"])
        self.assertEqual([], result.boxes())
        controls = result.controls()
        self.assertEqual(100, controls[IDC_PROGRESS]["pos"])
        positions = [e["pos"] for e in result.of("control")
                     if e["id"] == IDC_PROGRESS and "pos" in e]
        self.assertEqual(sorted(positions), positions)  # the bar never moves back
        self.assertFalse(controls[IDC_PROGRESS]["visible"])
        self.assertEqual(REPAIRED_HINT, controls[IDC_HINT]["text"])
        self.assertTrue(controls[IDC_ACTION]["enabled"])
        self.assertEqual("启动游戏", controls[IDC_ACTION]["text"])
        self.assertEqual(["(%d/4)，速度：" % n for n in range(1, 5)],
                         result.texts(IDC_DOWNLOAD_COUNT)[1:])
        self.assertIn("正在解压补丁文件(4/4)", result.texts(IDC_STATUS))
        self.assertEqual(MERGED, documents(client))
        self.assertFalse(os.path.exists(client.file("TmpPatch")))

    def test_without_a_cumulative_patch_the_newest_release_wins(self):
        RepairServer(self, cumulative=None)
        client = ClientFolder(self, version="1.0.0")
        result = qxweb.run(client, answers=[], dialog=["press"])
        self.assertEqual(REPAIRED_HINT, result.text(IDC_HINT))
        self.assertEqual(b"1.0.10", documents(client)["subver/ver.txt"])
        self.assertEqual("(3/4)，速度：", result.text(IDC_DOWNLOAD_COUNT))


    # Two lines of one version: both archives are installed, the later line's files win.
    def test_every_line_of_one_version_is_installed_in_the_order_of_the_list(self):
        server = PatchServer()
        self.addCleanup(server.stop)
        archives = {"first.zip": {"pkres/a.pk": "first", "pkres/first.pk": "only in the first"},
                    "second.zip": {"pkres/a.pk": "second", "subver/ver.txt": "1.0.1"}}
        lines = []
        for name, files in archives.items():
            qxweb.make_zip(os.path.join(server.root, "p", name), with_folder_entries(files))
            lines.append(patch_line("1.0.1", server.url("/p/" + name)))
        server.put_patch_list(patch_list(lines))
        client = ClientFolder(self, version="1.0.0")
        result = qxweb.run(client, answers=[], dialog=["press"])
        self.assertEqual(REPAIRED_HINT, result.text(IDC_HINT))
        self.assertEqual({"pkres/a.pk": b"second", "pkres/first.pk": b"only in the first",
                          "subver/ver.txt": b"1.0.1"}, documents(client))


class FailedRepair(unittest.TestCase):
    def assert_failed_with(self, result, box):
        self.assertEqual(("提示", box, "OK", "ok"), result.boxes()[-1])
        controls = result.controls()
        self.assertFalse(controls[IDC_ACTION]["enabled"])
        self.assertEqual("一键修复", controls[IDC_ACTION]["text"])
        self.assertNotIn(REPAIRED_HINT, result.texts(IDC_HINT))

    def test_a_missing_archive_ends_with_the_download_box(self):
        server = RepairServer(self).server
        server.set_rule("/p/1.0.2.zip", {"status": 404})
        client = ClientFolder(self, version="1.0.0", documents=OLD_DOCUMENTS)
        result = qxweb.run(client, answers=[], dialog=["press"])
        self.assertEqual(["下载Patch网络异常，错误信息：HTTP 404", "下载patch失败"],
                         result.box_texts())
        self.assert_failed_with(result, "下载patch失败")
        self.assertTrue(result.controls()[IDC_DOWNLOAD_SPEED]["visible"])
        self.assertEqual(1, server.count("/p/1.0.10.zip"))  # the later transfers still ran
        self.assertEqual({k: v.encode() for k, v in OLD_DOCUMENTS.items()}, documents(client))

    def test_a_broken_archive_ends_with_the_extraction_box(self):
        server = RepairServer(self).server
        server.put("/p/1.0.2.zip", b"PK\x03\x04 this is no archive")
        client = ClientFolder(self, version="1.0.0", documents=OLD_DOCUMENTS)
        result = qxweb.run(client, answers=[], dialog=["press"])
        self.assertEqual(["解压patch失败"], result.box_texts())
        self.assert_failed_with(result, "解压patch失败")
        self.assertFalse(result.controls()[IDC_DOWNLOAD_COUNT]["visible"])
        self.assertEqual({k: v.encode() for k, v in OLD_DOCUMENTS.items()}, documents(client))

    def test_a_failed_install_copy_puts_the_old_patch_folders_back(self):
        releases = dict(RELEASES)
        releases["1.0.10"] = dict(RELEASES["1.0.10"], **{"settings.ini": "from the patch"})
        RepairServer(self, releases=releases)
        client = ClientFolder(self, version="1.0.0", documents=OLD_DOCUMENTS)
        os.chmod(client.file("Documents", "settings.ini"), stat.S_IRUSR)  # read-only
        result = qxweb.run(client, answers=[], dialog=["press"])
        self.assertEqual(["拷贝patch失败"], result.box_texts())
        self.assert_failed_with(result, "拷贝patch失败")
        self.assertEqual("正在安装新补丁", result.text(IDC_STATUS))
        self.assertEqual({k: v.encode() for k, v in OLD_DOCUMENTS.items()}, documents(client))


if __name__ == "__main__":
    unittest.main()
