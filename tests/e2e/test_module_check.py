"""The module check's bans on calls: each rule names a use outside its part and lets the part
itself, comments and strings through. The whole tree is checked by the module_boundaries test."""

import os
import subprocess
import sys
import tempfile
import unittest

TOOLS = os.environ.get("QXWEB_TOOLS_DIR") or os.path.join(
    os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools")
CHECK = os.path.join(TOOLS, "check_modules.py")

# (file, code, the name the check must report, or None)
CASES = [
    ("src/repair/worker.cpp", 'void F() { MessageBoxW(nullptr, L"x", L"y", 0); }', "MessageBoxW"),
    ("src/ui/boxes.cpp", 'void F() { MessageBoxW(nullptr, L"x", L"y", 0); }', None),
    ("src/app/entry.cpp", "void F() { Remove(1, MessageBoxW); }", None),
    ("src/ui/repair_dialog.cpp", "void F() { PostMessageW(nullptr, 0, 0, 0); }", "PostMessageW"),
    ("src/ui/repair_reports.cpp", "void F() { PostMessageW(nullptr, 0, 0, 0); }", None),
    ("src/patchlist/fetch.cpp", "void F() { curl_easy_perform(handle); }", "curl_easy_perform"),
    ("src/net/client.cpp", "void F() { curl_easy_perform(handle); }", None),
    ("src/repair/plan.cpp", '// MessageBoxW(...)\nconst char* t = "curl_easy_init(";', None),
    ("src/platform/posix/msgbox.cpp", "int MessageBoxW(HWND, LPCWSTR, LPCWSTR, UINT) {}", None),
]


class CallRules(unittest.TestCase):
    def test_each_rule_reports_a_use_outside_its_part_only(self):
        for path, code, banned in CASES:
            with self.subTest(path=path, code=code), tempfile.TemporaryDirectory() as tree:
                folder = os.path.dirname(path)
                os.makedirs(os.path.join(tree, folder))
                with open(os.path.join(tree, path), "w", encoding="utf-8") as f:
                    f.write(code + "\n")
                module_map = os.path.join(tree, "modules.txt")
                with open(module_map, "w", encoding="utf-8") as f:
                    f.write("m\t%s\t\t%s\n" % (folder, path))
                result = subprocess.run([sys.executable, CHECK, module_map, tree],
                                        capture_output=True, text=True)
                if banned is None:
                    self.assertEqual(0, result.returncode, result.stdout)
                else:
                    self.assertEqual(1, result.returncode)
                    self.assertIn("%s: uses %s" % (path, banned), result.stdout)


if __name__ == "__main__":
    unittest.main()
