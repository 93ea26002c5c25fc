"""Running game clients at start-up, with real processes: the question, ending them on Yes, ending
the tool silently on No, and never counting the tool itself."""

import os
import unittest

import qxweb
from qxweb import ClientFolder, PatchServer, patch_line, patch_list

QUESTION = ("提示", "当前有游戏客户端进程正在运行中，需结束游戏进程才能使用本工具。是否立即结束进程？",
            "YESNO")
WAIT_LINE = "terminate process wait for project failed, dw = 0"

PATCHES = patch_list([patch_line("1.0.1", "http://127.0.0.1:1/p1.zip")])


class GameProcesses(unittest.TestCase):
    def setUp(self):
        self.client = ClientFolder(self)
        self.server = PatchServer()
        self.addCleanup(self.server.stop)
        self.server.put_patch_list(PATCHES)

    def test_no_game_running_asks_nothing_and_goes_on_to_the_patch_list(self):
        result = qxweb.run(self.client, answers=[], dialog=[])
        self.assertEqual(0, result.returncode)
        self.assertEqual([], result.boxes())
        self.assertEqual(1, self.server.count(qxweb.PATCH_LIST_PATH))
        self.assertEqual(["open", "close"], result.dialog_events())

    def test_answering_no_ends_silently_and_leaves_the_game_running(self):
        game = self.client.start_game()
        result = qxweb.run(self.client, answers=["no"], dialog=[])
        self.assertEqual(0, result.returncode)
        self.assertEqual([QUESTION + ("no",)], result.boxes())
        self.assertEqual([], result.dialog_events())
        self.assertEqual(0, self.server.count(qxweb.PATCH_LIST_PATH))
        self.assertIsNone(game.poll())

    def test_yes_ends_every_client_then_start_up_goes_on(self):
        beside_library = self.client.start_game("vazazu.exe")
        in_bin = self.client.start_game(os.path.join("bin", "vazazu.exe"))
        other_name = self.client.start_game(os.path.join("bin", "VAZAZU.EXE"))
        result = qxweb.run(self.client, answers=["yes"], dialog=[])
        self.assertEqual(0, result.returncode)
        self.assertEqual([QUESTION + ("yes",)], result.boxes())
        self.assertEqual([WAIT_LINE, WAIT_LINE], result.stdout_lines())
        self.assertEqual(1, self.server.count(qxweb.PATCH_LIST_PATH))
        self.assertEqual(["open", "close"], result.dialog_events())
        self.assertIsNotNone(beside_library.wait(timeout=10))
        self.assertIsNotNone(in_bin.wait(timeout=10))
        self.assertIsNone(other_name.poll())

    def test_game_from_another_installation_is_left_alone(self):
        other = ClientFolder(self)
        game = other.start_game()
        result = qxweb.run(self.client, answers=[], dialog=[])
        self.assertEqual([], result.boxes())
        self.assertIsNone(game.poll())

    def test_the_tool_named_like_the_game_does_not_find_itself(self):
        self.client.use_binary_name("vazazu.exe")
        result = qxweb.run(self.client, answers=[], dialog=[])
        self.assertEqual(0, result.returncode)
        self.assertEqual([], result.boxes())
        self.assertEqual(["open", "close"], result.dialog_events())


if __name__ == "__main__":
    unittest.main()
