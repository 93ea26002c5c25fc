"""Start-up of the real program, scripted: the single-instance guard, the mode chosen from the
command line, the start-up checks in their order with their boxes, and the folders it prepares."""

import os
import unittest

import qxweb
from qxweb import ClientFolder, PatchServer, patch_line, patch_list

ALREADY_RUNNING = ("启动失败", "当前已经有另一个修复工具正在运行", "OK", "ok")
INTEGRITY_FAILED = ("提示", "校验资源完整性失败，请重新安装客户端", "OK", "ok")
PATCH_LIST_FAILED = ("提示", "获取patchList失败", "OK", "ok")
TMP_FOLDER_FAILED = ("提示", "创建Patch临时文件夹失败", "OK", "ok")
DOCUMENTS_FAILED = ("提示", "创建Patch文件夹失败", "OK", "ok")
PLUGIN_NOT_INSTALLED = ("警告", "您并未安装Zorvan手游网页版插件", "OK", "ok")
RETRY_QUESTION = "获取更新列表失败，是否需要重试！"

IDC_LATEST_VERSION = 1002

TWO_PATCHES = patch_list([patch_line("1.0.2", "http://127.0.0.1:1/p2.zip"),
                          patch_line("1.0.1", "http://127.0.0.1:1/p1.zip")])


class SingleInstance(unittest.TestCase):
    def test_second_copy_is_refused_in_both_modes_while_the_first_runs(self):
        client = ClientFolder(self)
        with PatchServer() as server:
            # A patch list that trickles in keeps the first copy inside its transfer.
            server.put_patch_list(TWO_PATCHES + "#pad " + "x" * 100000 + "\n")
            server.set_rule(qxweb.PATCH_LIST_PATH, {"rate": 10})
            first = qxweb.start(client, answers=["ok", "cancel"], dialog=[])
            self.addCleanup(first.kill)
            qxweb.wait_until(lambda: server.count(qxweb.PATCH_LIST_PATH) >= 1,
                             what="the first copy to ask for the patch list")

            for args in ([], [qxweb.PLUGIN_KEYWORD, "0"]):
                second = qxweb.run(client, answers=[], args=args)
                self.assertEqual(0, second.returncode)
                self.assertEqual([ALREADY_RUNNING], second.boxes())
                self.assertEqual([], second.dialog_events())
            self.assertEqual(1, server.count(qxweb.PATCH_LIST_PATH))
        # The server is gone: the first copy's transfer breaks off and it ends as usual.
        result = first.finish()
        self.assertEqual(0, result.returncode)
        self.assertEqual([RETRY_QUESTION, PATCH_LIST_FAILED[1]], result.box_texts()[1:])


class CommandLine(unittest.TestCase):
    """Without "vazazu.dll" the repair mode stops at its integrity box, while the plug-in removal
    (no plug-in installed) shows its own box: the box tells which mode ran."""

    def run_with(self, args):
        client = ClientFolder(self, dll=False)
        result = qxweb.run(client, answers=[], args=args)
        self.assertEqual(0, result.returncode)
        return result.boxes()

    def test_keyword_and_number_select_the_plugin_removal(self):
        self.assertEqual([PLUGIN_NOT_INSTALLED], self.run_with([qxweb.PLUGIN_KEYWORD, "0"]))

    def test_anything_else_starts_the_repair(self):
        keyword = qxweb.PLUGIN_KEYWORD
        for args in ([], [keyword], [keyword, "abc"], [keyword.lower(), "1"],
                     [keyword + "X", "1"], ["1", keyword], ["/S"],
                     # longer than the token buffer, starting with the keyword
                     [keyword + "x" * 266, "1"], [keyword + "x" * 500]):
            with self.subTest(args=[a[:40] for a in args]):
                self.assertEqual([INTEGRITY_FAILED], self.run_with(args))


class StartupChecks(unittest.TestCase):
    def test_missing_library_fails_the_integrity_check_and_nothing_else_runs(self):
        client = ClientFolder(self, dll=False)
        game = client.start_game()
        result = qxweb.run(client, answers=["yes"])
        self.assertEqual(0, result.returncode)
        self.assertEqual([INTEGRITY_FAILED], result.boxes())
        self.assertIsNone(game.poll())
        self.assertFalse(os.path.exists(client.file("TmpPatch")))

    def test_clean_start_prepares_the_folders_and_opens_the_dialog(self):
        client = ClientFolder(self)
        os.rmdir(client.file("Documents"))
        os.makedirs(client.file("TmpPatch", "1.0.1", "old"))
        qxweb.write_file(client.file("TmpPatch", "stale.zip"), b"old")
        with PatchServer() as server:
            server.put_patch_list(TWO_PATCHES)
            result = qxweb.run(client, answers=[], dialog=[])
            self.assertEqual(1, server.count(qxweb.PATCH_LIST_PATH))
        self.assertEqual(0, result.returncode)
        self.assertEqual([], result.boxes())
        self.assertEqual(["open", "close"], result.dialog_events())
        self.assertIn("1.0.2", result.text(IDC_LATEST_VERSION))
        self.assertEqual({"TmpPatch/All": None, "Documents": None},
                         {k: v for k, v in qxweb.tree(client.path).items()
                          if k.startswith(("TmpPatch", "Documents"))})

    def test_empty_patch_list_shows_an_unknown_newest_version(self):
        client = ClientFolder(self)
        with PatchServer() as server:
            server.put_patch_list("")
            result = qxweb.run(client, answers=[], dialog=[])
        self.assertEqual([], result.boxes())
        self.assertIn("未知", result.text(IDC_LATEST_VERSION))

    def test_unreachable_server_ends_with_the_patch_list_box(self):
        client = ClientFolder(self)
        result = qxweb.run(client, answers=["ok"] * 6)
        self.assertEqual(0, result.returncode)
        self.assertEqual(PATCH_LIST_FAILED, result.boxes()[-1])
        self.assertEqual(3, result.box_texts().count(RETRY_QUESTION))
        self.assertEqual([], result.dialog_events())
        self.assertFalse(os.path.exists(client.file("TmpPatch")))

    def test_folders_that_cannot_be_made_end_start_up_with_their_box(self):
        for folder, box in (("TmpPatch", TMP_FOLDER_FAILED), ("Documents", DOCUMENTS_FAILED)):
            with self.subTest(folder=folder):
                client = ClientFolder(self)
                os.rmdir(client.file("Documents"))
                with PatchServer() as server:
                    server.put_patch_list(TWO_PATCHES)
                    result = qxweb.run(client, answers=[], dialog=[],
                                       env={"QXWEB_FAULTS": "mkdir:1:EACCES:" + folder})
                self.assertEqual(0, result.returncode)
                self.assertEqual([box], result.boxes())
                self.assertEqual([], result.dialog_events())

    def test_documents_behind_a_link_is_accepted(self):
        client = ClientFolder(self)
        os.rmdir(client.file("Documents"))
        os.makedirs(client.file("RealDocuments", "pkres"))
        os.symlink(client.file("RealDocuments"), client.file("Documents"))
        with PatchServer() as server:
            server.put_patch_list(TWO_PATCHES)
            result = qxweb.run(client, answers=[], dialog=[])
        self.assertEqual([], result.boxes())
        self.assertEqual(["open", "close"], result.dialog_events())
        self.assertTrue(os.path.isdir(client.file("RealDocuments", "pkres")))


class CurrentDirectory(unittest.TestCase):
    """The integrity check and the process detection look in the current directory; every later
    step works in the executable's folder."""

    def setUp(self):
        # The executable's folder has no game files; the current directory is a whole client.
        self.client = ClientFolder(self, dll=False, exe=False)
        self.elsewhere = ClientFolder(self)

    def test_checks_look_in_the_current_directory_and_work_happens_beside_the_executable(self):
        with PatchServer() as server:
            server.put_patch_list(TWO_PATCHES)
            result = qxweb.run(self.client, answers=[], dialog=[], cwd=self.elsewhere.path)
        self.assertEqual([], result.boxes())
        self.assertEqual(["open", "close"], result.dialog_events())
        self.assertTrue(os.path.isdir(self.client.file("TmpPatch", "All")))
        self.assertFalse(os.path.exists(self.elsewhere.file("TmpPatch")))

    def test_incomplete_current_directory_fails_the_check(self):
        os.remove(self.elsewhere.file("vazazu.dll"))
        qxweb.write_file(self.client.file("vazazu.dll"), b"dll")
        qxweb.write_script(self.client.file("vazazu.exe"), qxweb.GAME_SCRIPT)
        result = qxweb.run(self.client, answers=[], cwd=self.elsewhere.path)
        self.assertEqual([INTEGRITY_FAILED], result.boxes())

    def test_games_are_looked_for_in_the_current_directory(self):
        in_current = self.elsewhere.start_game()
        beside_executable = self.client.start_game(os.path.join("bin", "vazazu.exe"))
        with PatchServer() as server:
            server.put_patch_list(TWO_PATCHES)
            result = qxweb.run(self.client, answers=["yes"], dialog=[], cwd=self.elsewhere.path)
        self.assertEqual(["提示"], [box[0] for box in result.boxes()])
        self.assertEqual(["open", "close"], result.dialog_events())
        self.assertIsNotNone(in_current.wait(timeout=10))
        self.assertIsNone(beside_executable.poll())


if __name__ == "__main__":
    unittest.main()
