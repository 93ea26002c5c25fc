"""The plug-in removal mode of the real program, in a temporary prefix: the control file in the
system folder, its registration key in the registry folder tree and the browser's download record.
"""

import os
import subprocess
import sys
import unittest

import qxweb
from qxweb import ClientFolder

NOT_INSTALLED = ("警告", "您并未安装Zorvan手游网页版插件", "OK", "ok")
GAVE_UP = ("警告", "尝试卸载Zorvan手游网页版插件文件失败", "OK", "ok")
UNREGISTER_FAILED = ("警告", "可能因为权限的问题，卸载Zorvan网页版插件失败", "OK", "ok")
SUCCESS = ("Zorvan手游网页版", "卸载Zorvan手游网页版插件成功，请您重新打开浏览器更新插件", "OK", "ok")
IN_USE_CAPTION = "文件正在使用"
IN_USE_FIRST = "需卸载的文件正在被使用，请关闭浏览器后再点击重试"
IN_USE_LATER = "需卸载的文件正在被使用，请确保已结束浏览器进程后再点击重试"

CONTROL_WINPATH = "C:\\windows\\system32\\ZURuzezuZ.ocx"


def in_use(text, answer):
    return (IN_USE_CAPTION, text, "RETRYCANCEL", answer)


class PluginRemoval(unittest.TestCase):
    def setUp(self):
        self.client = ClientFolder(self)
        prefix = self.client.prefix
        self.control = os.path.join(prefix, "drive_c", "windows", "system32", "ZURuzezuZ.ocx")
        self.key = os.path.join(prefix, "registry", "HKEY_CLASSES_ROOT",
                                "ZURUZEZUZ.ZURuzezuZCtrl.1")
        self.record = os.path.join(prefix, "drive_c", "WINDOWS", "Downloaded Program Files",
                                   "ZURuzezuZ.inf")
        self.tools = os.path.join(self.client.root, "tools")
        os.makedirs(self.tools)

    def install(self, control=True, key=True, record=True):
        if control:
            qxweb.write_file(self.control, b"MZ control")
        if key:
            qxweb.write_file(os.path.join(self.key, "CLSID", "default"), "{0000-1111}")
        if record:
            qxweb.write_file(self.record, "[Add.Code]\n")

    def remove(self, mode="0", answers=(), env=None, extra_args=()):
        return qxweb.run(self.client, answers=list(answers), env=env,
                         args=[qxweb.PLUGIN_KEYWORD, mode] + list(extra_args))

    def start_remove(self, mode="0", answers=(), env=None):
        return qxweb.start(self.client, answers=list(answers), env=env,
                           args=[qxweb.PLUGIN_KEYWORD, mode])

    def installed(self):
        return {"control": os.path.exists(self.control), "key": os.path.isdir(self.key),
                "record": os.path.exists(self.record)}

    def fake_regsvr32(self, hold_file=None):
        """A regsvr32 on PATH that writes its arguments, one a line, and, given a hold file,
        waits until that file is removed. Returns the environment that finds it."""
        args_file = os.path.join(self.tools, "regsvr32.args")
        script = "#!/bin/sh\nprintf '%%s\\n' \"$@\" > '%s'\n" % args_file
        if hold_file:
            script += "while [ -e '%s' ]; do sleep 0.05; done\n" % hold_file
        qxweb.write_script(os.path.join(self.tools, "regsvr32"), script)
        self.regsvr32_args = args_file
        return {"PATH": self.tools + os.pathsep + os.environ.get("PATH", "")}

    def hold_lock(self, path):
        """Another process holding an exclusive flock on path until release() is called."""
        holder = subprocess.Popen(
            [sys.executable, "-c",
             "import fcntl, sys\n"
             "f = open(sys.argv[1], 'rb')\n"
             "fcntl.flock(f, fcntl.LOCK_EX)\n"
             "print('locked', flush=True)\n"
             "sys.stdin.read()\n", path],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.assertEqual(b"locked\n", holder.stdout.readline())

        def release():
            if holder.poll() is None:
                holder.stdin.close()
                holder.wait()
                holder.stdout.close()
        self.addCleanup(release)
        return release

    def test_nothing_installed_shows_one_box_and_touches_nothing(self):
        self.install(control=False)
        result = self.remove()
        self.assertEqual(0, result.returncode)
        self.assertEqual([NOT_INSTALLED], result.boxes())
        self.assertEqual({"control": False, "key": True, "record": True}, self.installed())

    def test_mode_0_deletes_file_key_and_record(self):
        self.install()
        result = self.remove("0")
        self.assertEqual(0, result.returncode)
        self.assertEqual([SUCCESS], result.boxes())
        self.assertEqual([], result.execs())
        self.assertEqual({"control": False, "key": False, "record": False}, self.installed())
        self.assertTrue(os.path.isdir(os.path.dirname(self.key)))

    def test_missing_key_gives_up_although_the_file_is_gone(self):
        self.install(key=False)
        result = self.remove("0")
        self.assertEqual([GAVE_UP], result.boxes())
        self.assertEqual({"control": False, "key": False, "record": True}, self.installed())

    def test_mode_1_unregisters_through_regsvr32_and_leaves_the_key(self):
        self.install()
        result = self.remove("1", env=self.fake_regsvr32())
        self.assertEqual(0, result.returncode)
        self.assertEqual([SUCCESS], result.boxes())
        self.assertEqual([{"event": "exec", "file": "regsvr32",
                           "params": '/u "%s"' % CONTROL_WINPATH, "dir": "", "ok": True}],
                         [dict(e, dir=e.get("dir") or "") for e in result.execs()])
        with open(self.regsvr32_args, encoding="utf-8") as f:
            self.assertEqual(["/u", CONTROL_WINPATH], f.read().splitlines())
        self.assertEqual({"control": False, "key": True, "record": False}, self.installed())

    def test_mode_1_without_regsvr32_reports_the_failure_and_keeps_the_file(self):
        self.install()
        result = self.remove("1", env={"PATH": self.tools})
        self.assertEqual([UNREGISTER_FAILED], result.boxes())
        self.assertEqual({"control": True, "key": True, "record": True}, self.installed())

    def test_file_in_use_and_cancel_leaves_everything(self):
        self.install()
        self.hold_lock(self.control)
        result = self.remove("0", answers=["cancel"])
        self.assertEqual(0, result.returncode)
        self.assertEqual([in_use(IN_USE_FIRST, "cancel")], result.boxes())
        self.assertEqual({"control": True, "key": True, "record": True}, self.installed())

    def test_sixth_in_use_box_asks_to_end_the_browser_process(self):
        self.install()
        self.hold_lock(self.control)
        result = self.remove("0", answers=["retry"] * 6 + ["cancel"])
        self.assertEqual([in_use(IN_USE_FIRST, "retry")] * 5 + [in_use(IN_USE_LATER, "retry"),
                                                                 in_use(IN_USE_LATER, "cancel")],
                         result.boxes())
        self.assertEqual({"control": True, "key": True, "record": True}, self.installed())

    def test_retry_after_the_browser_lets_go_goes_on(self):
        self.install()
        release = self.hold_lock(self.control)
        run = self.start_remove("0", answers=["retry"] * 100)
        self.addCleanup(run.kill)
        qxweb.wait_until(lambda: any(e.get("event") == "box" for e in run.events()),
                         what="the first in-use box")
        release()
        result = run.finish()
        boxes = result.boxes()
        self.assertEqual(SUCCESS, boxes[-1])
        self.assertTrue(boxes[:-1])
        self.assertTrue(all(box[0] == IN_USE_CAPTION for box in boxes[:-1]))
        self.assertEqual({"control": False, "key": False, "record": False}, self.installed())

    def test_delete_denied_asks_like_a_file_in_use(self):
        self.install()
        result = self.remove("0", answers=["retry"], env={"QXWEB_FAULTS": "unlink:1:EACCES"})
        self.assertEqual([in_use(IN_USE_FIRST, "retry"), SUCCESS], result.boxes())
        self.assertFalse(os.path.exists(self.control))

    def test_other_delete_errors_are_retried_without_a_box(self):
        self.install()
        faults = "unlink:1:EIO:ZURuzezuZ.ocx,unlink:2:EBUSY:ZURuzezuZ.ocx"
        result = self.remove("0", env={"QXWEB_FAULTS": faults})
        self.assertEqual([SUCCESS], result.boxes())
        self.assertFalse(os.path.exists(self.control))

    def test_file_vanishing_before_the_delete_counts_as_not_installed(self):
        self.install()
        result = self.remove("0", env={"QXWEB_FAULTS": "unlink:1:ENOENT"})
        self.assertEqual([NOT_INSTALLED], result.boxes())
        self.assertTrue(os.path.isdir(self.key))

    def test_any_mode_but_1_deletes_the_key_and_further_words_are_ignored(self):
        self.install(record=False)
        result = self.remove("3", extra_args=["and", "more", "words"])
        self.assertEqual([SUCCESS], result.boxes())
        self.assertEqual({"control": False, "key": False, "record": False}, self.installed())

    def test_second_copy_is_refused_while_regsvr32_runs(self):
        self.install()
        hold = os.path.join(self.tools, "hold")
        qxweb.write_file(hold, b"")
        first = self.start_remove("1", env=self.fake_regsvr32(hold_file=hold))
        self.addCleanup(first.kill)
        qxweb.wait_until(lambda: os.path.exists(self.regsvr32_args), what="regsvr32 to start")
        for args in ([qxweb.PLUGIN_KEYWORD, "0"], []):
            second = qxweb.run(self.client, answers=[], args=args)
            self.assertEqual([("启动失败", "当前已经有另一个修复工具正在运行", "OK", "ok")],
                             second.boxes())
        self.assertTrue(os.path.exists(self.control))
        os.remove(hold)
        self.assertEqual([SUCCESS], first.finish().boxes())


if __name__ == "__main__":
    unittest.main()
