"""The publishing guide (docs/publishing.md) held to the real program: its worked example is built
as a publisher would, from the guide's own tables (each file's content is its path), and the
release gate tools/try_patch_set.py runs the program on it: what each client downloads, that
every client ends with the release tree, what a client loses without the cumulative patch, who
gets a deleted file back, what findownload.dat holds afterwards, and the guide's nginx block."""

import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import unittest

import qxweb
from qxweb import wait_until

GUIDE = os.path.join(qxweb.HERE, "..", "..", "docs", "publishing.md")
TRY = os.path.join(qxweb.TOOLS_DIR, "try_patch_set.py")
NGINX = shutil.which("nginx") or "/usr/sbin/nginx"
EXAMPLE_HOST = "http://patch.example.com"
ARCHIVE_FOLDER = "win32"

NGINX_CONFIG = """daemon off;
pid {state}/nginx.pid;
error_log {state}/error.log;
{user}
events {{ worker_connections 64; }}
http {{
    access_log {state}/access.log;
    client_body_temp_path {state}/body;
    proxy_temp_path {state}/proxy;
    fastcgi_temp_path {state}/fastcgi;
    uwsgi_temp_path {state}/uwsgi;
    scgi_temp_path {state}/scgi;
{server}
}}
"""


def lines_after(text, marker):
    """The lines after the one holding marker, up to the first blank line after them, without
    the fences of a code block."""
    rest = text[text.index(marker):].split("\n")[1:]
    rest = rest[:rest.index("")] if "" in rest else rest
    return [line for line in rest if not line.startswith("```")]


def table_after(text, marker):
    """The body rows of the table under marker, as lists of cells."""
    return [[cell.strip() for cell in line.strip("|").split("|")]
            for line in lines_after(text, marker)[2:]]


def quoted(cell):
    return re.findall(r"`([^`]+)`", cell)


class Guide:
    """The parts of the guide its tests hold to the program."""

    def __init__(self):
        with open(GUIDE, encoding="utf-8") as f:
            text = f.read()
        self.patch_list = "\n".join(lines_after(text, "<!-- checked: patch list")) + "\n"
        self.downloads = [(quoted(version)[0] if quoted(version) else version, offered,
                           quoted(names))
                          for version, offered, names in table_after(text, "checked: downloads")]
        self.release_tree = lines_after(text, "<!-- checked: release tree -->")
        self.archives = {quoted(name)[0]: quoted(files)
                         for name, files in table_after(text, "<!-- checked: archives -->")}
        self.first_build = {quoted(name)[0]: quoted(files)
                            for name, files in table_after(text, "<!-- checked: first build -->")}
        self.without_cumulative = lines_after(text, "<!-- checked: without the cumulative")
        self.gate_on_first_build = lines_after(text, "<!-- checked: gate on the first build")
        self.findownload = lines_after(text, "The gate shows both for one client:")
        self.nginx = "\n".join(lines_after(text, "<!-- checked: nginx -->"))


def write_files(root, paths):
    for path in paths:
        qxweb.write_file(os.path.join(root, path), path)


def problems(output):
    return [line for line in output.splitlines() if line.startswith("problem: ")]


class WorkedExample(unittest.TestCase):
    def setUp(self):
        self.guide = Guide()
        self.work = tempfile.mkdtemp(prefix="qxweb-guide-")
        self.addCleanup(shutil.rmtree, self.work, ignore_errors=True)
        self.set = os.path.join(self.work, "set")
        self.release = os.path.join(self.work, "release")
        write_files(self.release, self.guide.release_tree)
        self.publish(self.guide.patch_list, self.guide.archives)

    def publish(self, patch_list, archives):
        """The set as the guide builds it: the list and every archive of the table."""
        shutil.rmtree(self.set, ignore_errors=True)
        qxweb.write_file(os.path.join(self.set, "qx_patchlist_win32"), patch_list)
        for name, paths in archives.items():
            qxweb.make_zip(os.path.join(self.set, ARCHIVE_FOLDER, name),
                           {path: path for path in paths})

    def gate(self, *args):
        return subprocess.run(
            [sys.executable, TRY, self.set, "--expect", self.release, "--binary", qxweb.BIN,
             "--host", qxweb.TEST_HOST] + list(args), capture_output=True, text=True, timeout=600)

    def test_each_client_of_the_table_downloads_what_the_guide_says_and_ends_with_the_release(self):
        self.assertGreaterEqual(len(self.guide.downloads), 5)
        for version, offered, names in self.guide.downloads:
            with self.subTest(client=version):
                done = self.gate(*(["--no-version"] if version == "none" else
                                   ["--version", version]))
                self.assertEqual(0, done.returncode, done.stdout + done.stderr)
                self.assertIn("the dialog offered: %s\n" % offered, done.stdout)
                self.assertIn("downloads: %s\n" % (", ".join(names) or "nothing"), done.stdout)
                if version == "1.2.2":
                    for line in self.guide.findownload:
                        self.assertIn(line + "\n", done.stdout)

    def test_every_kind_of_client_ends_with_the_release_tree(self):
        done = self.gate()
        self.assertEqual(0, done.returncode, done.stdout + done.stderr)
        self.assertGreaterEqual(done.stdout.count("Documents holds the release tree"), 5)

    def test_without_the_cumulative_patch_a_client_loses_what_its_releases_lack(self):
        archives = {name: paths for name, paths in self.guide.archives.items()
                    if not name.endswith(".qx.all.win32")}
        self.publish(self.guide.patch_list, archives)
        done = self.gate("--version", "1.2.2")
        self.assertEqual(self.guide.without_cumulative, problems(done.stdout), done.stdout)

    def test_the_gate_names_every_client_that_gets_a_deleted_file_back(self):
        archives = dict(self.guide.archives, **self.guide.first_build)
        del archives["patch_1.2.1b.zip"]
        self.publish(self.guide.patch_list.replace("patch_1.2.1b.zip", "patch_1.2.1.zip"),
                     archives)
        done = self.gate()
        self.assertEqual(self.guide.gate_on_first_build, problems(done.stdout), done.stdout)

    def test_the_guides_nginx_block_serves_the_set_to_the_program(self):
        port = qxweb.unused_port()
        origin = "http://127.0.0.1:%d" % port
        self.publish(self.guide.patch_list.replace(EXAMPLE_HOST, origin), self.guide.archives)
        served = os.path.join(self.work, "served")
        shutil.copytree(self.set, served)
        self.start_nginx(self.guide.nginx.replace("listen 80;", "listen 127.0.0.1:%d;" % port)
                         .replace("/srv/qxweb/my-patch-set", served), port)
        done = self.gate("--server", origin, "--version", "1.2.0")
        self.assertEqual(0, done.returncode, done.stdout + done.stderr)
        self.assertIn("Documents holds the release tree", done.stdout)

        with open(os.path.join(served, "qx_patchlist_win32"), "a") as f:
            f.write("# changed on the server\n")
        done = self.gate("--server", origin, "--checks-only")
        self.assertEqual(["problem: %s/qx_patchlist_win32 is not the set's qx_patchlist_win32"
                          % origin], problems(done.stdout))

    def start_nginx(self, server_block, port):
        state = tempfile.mkdtemp(prefix="qxweb-nginx-")
        self.addCleanup(shutil.rmtree, state, ignore_errors=True)
        config = os.path.join(state, "nginx.conf")
        qxweb.write_file(config, NGINX_CONFIG.format(
            state=state, server=server_block,
            # As root the workers would run as www-data, who cannot enter the test's folders.
            user="user root;" if os.geteuid() == 0 else ""))
        proc = subprocess.Popen([NGINX, "-p", state, "-e", "stderr", "-c", config],
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.PIPE)
        self.addCleanup(self.stop_nginx, proc)

        def listening():
            if proc.poll() is not None:
                raise AssertionError("nginx ended: " + proc.stderr.read().decode())
            with socket.socket() as s:
                return s.connect_ex(("127.0.0.1", port)) == 0
        wait_until(listening, what="nginx on port %d" % port)

    @staticmethod
    def stop_nginx(proc):
        proc.terminate()
        proc.wait(timeout=30)
        proc.stderr.close()


if __name__ == "__main__":
    unittest.main()
