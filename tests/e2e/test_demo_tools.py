"""The tools behind the demo and the publishers' trials: the patch server's slow sending serves
the same bytes as at full speed, a taken port ends it at once with a message naming the port (the
demo relies on both), and the demo's generated patch set repairs a client to the expected tree."""

import os
import shutil
import socket
import subprocess
import sys
import tempfile
import unittest
import urllib.request

import qxweb

SERVER = os.path.join(qxweb.TOOLS_DIR, "patch_server.py")
sys.path.insert(0, qxweb.TOOLS_DIR)
import make_demo  # noqa: E402


class PatchServerOptions(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="qxweb-server-")
        self.addCleanup(shutil.rmtree, self.root, ignore_errors=True)

    def test_a_taken_port_ends_the_server_with_a_message_naming_it(self):
        with socket.socket() as taken:
            taken.bind(("127.0.0.1", 0))
            taken.listen()
            port = taken.getsockname()[1]
            done = subprocess.run([sys.executable, SERVER, "--root", self.root, "--port",
                                   str(port)], capture_output=True, text=True, timeout=30)
        self.assertEqual(3, done.returncode)
        self.assertIn("port %d on 127.0.0.1 is already in use" % port, done.stderr)
        self.assertEqual("", done.stdout)  # no port printed: nobody takes it for started

    def test_a_slow_server_sends_whole_bodies_and_ranges(self):
        body = os.urandom(30000)
        qxweb.write_file(os.path.join(self.root, "a.bin"), body)
        server = subprocess.Popen([sys.executable, SERVER, "--root", self.root, "--port", "0",
                                   "--rate", "100000", "--quiet"],
                                  stdout=subprocess.PIPE, text=True)
        self.addCleanup(lambda: (server.terminate(), server.wait(), server.stdout.close()))
        url = "http://127.0.0.1:%s/a.bin" % server.stdout.readline().strip()
        with urllib.request.urlopen(url, timeout=30) as answer:
            self.assertEqual(body, answer.read())
        request = urllib.request.Request(url, headers={"Range": "bytes=1000-"})
        with urllib.request.urlopen(request, timeout=30) as answer:
            self.assertEqual(206, answer.status)
            self.assertEqual(body[1000:], answer.read())


class DemoPatchSet(unittest.TestCase):
    def test_the_bulky_demo_set_repairs_the_demo_client(self):
        out = tempfile.mkdtemp(prefix="qxweb-demo-")
        self.addCleanup(shutil.rmtree, out, ignore_errors=True)
        with qxweb.PatchServer(root=os.path.join(out, "server")) as server:
            make_demo.make_server(server.root, "127.0.0.1:%d" % server.port, bulk=3)
            client = qxweb.ClientFolder(self, version=make_demo.LOCAL_VERSION,
                                        documents=make_demo.old_documents(bulk=3))
            result = qxweb.run(client, answers=[], dialog=["press"])
        self.assertIn("修复成功！可启动游戏。", result.texts(1005), result)
        expected = {name: content for name, content in make_demo.OLD_DOCUMENTS.items()
                    if name.split("/")[0] not in ("pkres", "subver", "patch_cache", "qatools")}
        for files in make_demo.releases(bulk=3).values():
            expected.update(files)
        expected.update(make_demo.cumulative(bulk=3))
        self.assertEqual({name: content.encode("utf-8") for name, content in expected.items()},
                         qxweb.tree(client.file("Documents")))


if __name__ == "__main__":
    unittest.main()
