"""The same repair served by a real web server: nginx (Debian's nginx-light), started here on
loopback ports with a generated configuration, over HTTP and over HTTPS with a certificate made
for the run. Its worker is killed half-way through the archive, which nginx sends at a limited
rate; the program continues the body from where it stopped with nginx's own range answers."""

import gzip
import os
import shutil
import signal
import socket
import subprocess
import tempfile
import unittest

import qxweb
from download_case import (ARCHIVE_NAME, DOWNLOAD_ERROR, FAST_RETRIES, documents_after, https_env,
                           patch_files, serve_list, sha256_line, write_archive)
from qxweb import wait_until
from repair_case import (DOWNLOAD_FAILED, IDC_HINT, OLD_DOCUMENTS, PATCH_LIST_FAILED, REPAIRED_HINT,
                         documents, make_client)
from tls_certificates import TestCertificates

NGINX = shutil.which("nginx") or "/usr/sbin/nginx"
SLOW_PATH = "/slow/" + ARCHIVE_NAME
# libcurl's text for CURLE_BAD_CONTENT_ENCODING.
BAD_ENCODING = "Unrecognized or bad HTTP Content or Transfer-Encoding"
COPIED_PATH = "/copied/" + ARCHIVE_NAME

CONFIG = """daemon off;
master_process on;
worker_processes 1;
pid {state}/nginx.pid;
error_log {state}/error.log info;
{user}
events {{ worker_connections 64; }}
http {{
    default_type application/octet-stream;
    log_format ranges '$request_method $uri "$http_range" "$http_if_range" $status $body_bytes_sent';
    access_log {state}/access.log ranges;
    sendfile on;
    client_body_temp_path {state}/body;
    proxy_temp_path {state}/proxy;
    fastcgi_temp_path {state}/fastcgi;
    uwsgi_temp_path {state}/uwsgi;
    scgi_temp_path {state}/scgi;
    server {{
        listen 127.0.0.1:{http_port};
        root {root};
        location /slow/ {{ limit_rate 1m; }}
        # The same files read and written by nginx itself, without the kernel's sendfile.
        location /copied/ {{ sendfile off; limit_rate 1m; }}
        # gzip for every type, given only to clients that ask for it.
        location /gzip/ {{ gzip on; gzip_types *; gzip_min_length 0; }}
        # A filter that changes the body: chunked, without a length, and no ranges.
        location /chunked/ {{
            sub_filter_types *;
            sub_filter "no such text" "";
            location /chunked/slow/ {{ limit_rate 1m; }}
        }}
        # The patch list as the publisher stored it compressed, sent whether asked for or not.
        location = {patch_list} {{ gzip_static always; default_type text/plain; }}
    }}
    server {{
        listen 127.0.0.1:{https_port} ssl;
        ssl_certificate {cert};
        ssl_certificate_key {key};
        root {root};
        location /slow/ {{ limit_rate 1m; }}
    }}
}}
"""


class Nginx:
    """nginx serving root over HTTP and HTTPS on two free ports, the HTTP one serving the runs'
    patch list. A port taken between its choice and nginx's start is chosen again."""

    def __init__(self, root, certificates):
        self.state = tempfile.mkdtemp(prefix="qxweb-nginx-")
        self.root = root
        for attempt in range(5):
            if self._start(certificates):
                break
        else:
            raise AssertionError("nginx found no free ports: " + self.error)
        qxweb.serve_patch_list_at(self.url(qxweb.PATCH_LIST_PATH))

    def _start(self, certificates):
        """Starts nginx on two fresh ports; False when one of them was taken meanwhile."""
        self.http_port, self.https_port = qxweb.unused_port(), qxweb.unused_port()
        config = os.path.join(self.state, "nginx.conf")
        with open(config, "w") as f:
            f.write(CONFIG.format(state=self.state, root=self.root, http_port=self.http_port,
                                  https_port=self.https_port, patch_list=qxweb.PATCH_LIST_PATH,
                                  cert=certificates.server_cert,
                                  key=certificates.server_key,
                                  # As root the workers would run as www-data, who cannot enter
                                  # the test's private folders.
                                  user="user root;" if os.geteuid() == 0 else ""))
        self.proc = subprocess.Popen([NGINX, "-p", self.state, "-e", "stderr", "-c", config],
                                     stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.PIPE)
        for port in (self.http_port, self.https_port):
            wait_until(lambda: self._listening(port), what="nginx on port %d" % port)
            if self.proc.poll() is not None:
                self.error = self.proc.stderr.read().decode()
                self.proc.stderr.close()
                if "Address already in use" not in self.error:
                    raise AssertionError("nginx ended: " + self.error)
                return False
        return True

    def _listening(self, port):
        """True once port listens, or once nginx has ended (the caller looks which)."""
        if self.proc.poll() is not None:
            return True
        with socket.socket() as s:
            return s.connect_ex(("127.0.0.1", port)) == 0

    def url(self, path, https=False):
        if https:
            return "https://127.0.0.1:%d%s" % (self.https_port, path)
        return "http://127.0.0.1:%d%s" % (self.http_port, path)

    def put_patch_list(self, text):
        qxweb.write_file(os.path.join(self.root, qxweb.PATCH_LIST_PATH.strip("/")), text)

    def kill_worker(self):
        """Kills nginx's worker (the master starts another): its connections drop at once."""
        for pid in os.listdir("/proc"):
            if not pid.isdigit():
                continue
            try:
                with open("/proc/%s/stat" % pid) as f:
                    parent = int(f.read().rsplit(")", 1)[1].split()[1])
            except (OSError, IndexError, ValueError):
                continue
            if parent == self.proc.pid:
                os.kill(int(pid), signal.SIGKILL)

    def requests(self, path):
        """(method, range, if-range, status, bytes) of every request of a path, from the log."""
        records = []
        with open(os.path.join(self.state, "access.log")) as f:
            for line in f:
                method, uri, rest = line.split(" ", 2)
                quoted = rest.split('"')
                status, sent = quoted[4].split()
                if uri == path:
                    records.append((method, quoted[1], quoted[3], int(status), int(sent)))
        return records

    def clear_log(self):
        open(os.path.join(self.state, "access.log"), "w").close()

    def stop(self):
        qxweb.stop_serving_patch_list_at(self.url(qxweb.PATCH_LIST_PATH))
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            self.proc.wait(timeout=10)
        self.proc.stderr.close()
        shutil.rmtree(self.state, ignore_errors=True)


@unittest.skipUnless(os.path.exists(NGINX), "nginx is not installed (scripts/setup.sh installs it)")
class RealWebServer(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="qxweb-www-")
        self.addCleanup(shutil.rmtree, self.root, True)
        self.certificates = TestCertificates(os.path.join(self.root, "..",
                                                          os.path.basename(self.root) + "-tls"))
        self.addCleanup(shutil.rmtree, os.path.dirname(self.certificates.ca), True)
        self.nginx = Nginx(self.root, self.certificates)
        self.addCleanup(self.nginx.stop)
        self.files = patch_files()
        self.archive = write_archive(self.nginx, SLOW_PATH, self.files)

    def repair_with_a_dropped_connection(self, https, path=SLOW_PATH):
        self.archive = write_archive(self.nginx, path, self.files)
        serve_list(self.nginx, self.nginx.url(path, https),
                   [sha256_line(ARCHIVE_NAME, self.archive)])
        client = make_client(self)
        env = https_env(self.certificates.ca) if https else {}
        run = qxweb.start(client, answers=[], dialog=["press"],
                          env=dict({"QXWEB_RETRY_PAUSE_MS": "50"}, **env))
        partial = client.file("TmpPatch", ARCHIVE_NAME)
        wait_until(lambda: os.path.exists(partial) and
                   os.path.getsize(partial) >= len(self.archive) // 3,
                   what="a third of the archive")
        self.nginx.kill_worker()
        result = run.finish(timeout=60)

        self.assertEqual([], result.boxes())
        self.assertEqual(REPAIRED_HINT, result.text(IDC_HINT))
        self.assertEqual(documents_after(self.files), documents(client))
        # The killed worker never logged the first request; the continued one asked for the rest
        # from at least the third the file held, with the ETag nginx gave, and got it.
        method, asked, if_range, status, sent = self.nginx.requests(path)[-1]
        self.assertEqual(("GET", 206), (method, status))
        start = int(asked[len("bytes="):-1])
        self.assertEqual("bytes=%d-" % start, asked)
        self.assertGreaterEqual(start, len(self.archive) // 3)
        self.assertEqual(len(self.archive) - start, sent)
        self.assertNotEqual("-", if_range)

    def test_http(self):
        for path in (SLOW_PATH, COPIED_PATH):
            with self.subTest(path=path):
                self.repair_with_a_dropped_connection(https=False, path=path)

    def test_https(self):
        self.repair_with_a_dropped_connection(https=True)

    def repair(self, path, headers=()):
        serve_list(self.nginx, self.nginx.url(path), headers)
        client = make_client(self)
        return client, qxweb.run(client, answers=[], dialog=["press"], env=FAST_RETRIES)

    def assertRepaired(self, client, result, files):
        self.assertEqual([], result.boxes())
        self.assertEqual(REPAIRED_HINT, result.text(IDC_HINT))
        self.assertEqual(documents_after(files), documents(client))

    def test_gzip_and_chunked_answers_give_the_archive_whole(self):
        # gzip is only for clients that ask: the archive comes as it is. The filtered answer is
        # chunked: the log counts the chunks' framing too.
        for folder, framed in (("/gzip/", False), ("/chunked/", True)):
            with self.subTest(folder=folder):
                path = folder + ARCHIVE_NAME
                archive = write_archive(self.nginx, path, self.files)
                client, result = self.repair(path, [sha256_line(ARCHIVE_NAME, archive)])
                self.assertRepaired(client, result, self.files)
                [(method, asked, if_range, status, sent)] = self.nginx.requests(path)
                self.assertEqual(("GET", 200), (method, status))
                self.assertEqual(framed, sent > len(archive))

    # A chunked answer cut half-way. nginx's filter leaves only a weak ETag and no Last-Modified, so
    # nothing can tell that a continuation would be of the same file: the next attempt asks for the
    # whole file and writes it from its start.
    def test_a_chunked_answer_cut_short_starts_again(self):
        path = "/chunked/slow/" + ARCHIVE_NAME
        archive = write_archive(self.nginx, path, self.files)
        serve_list(self.nginx, self.nginx.url(path), [sha256_line(ARCHIVE_NAME, archive)])
        client = make_client(self)
        run = qxweb.start(client, answers=[], dialog=["press"], env=FAST_RETRIES)
        partial = client.file("TmpPatch", ARCHIVE_NAME)
        wait_until(lambda: os.path.exists(partial) and
                   os.path.getsize(partial) >= len(archive) // 3, what="a third of the archive")
        self.nginx.kill_worker()
        result = run.finish(timeout=60)

        self.assertRepaired(client, result, self.files)
        [(method, asked, if_range, status, sent)] = self.nginx.requests(path)
        self.assertEqual(("-", 200), (asked, status))
        self.assertGreater(sent, len(archive))  # whole, in chunks

    # The publisher replaces the archive while a player downloads it: the If-Range of the resume
    # no longer matches, nginx sends the new file whole, and it is written from its start.
    def test_an_archive_replaced_between_a_cut_and_the_resume_is_fetched_again(self):
        client = make_client(self)
        serve_list(self.nginx, self.nginx.url(SLOW_PATH))
        run = qxweb.start(client, answers=[], dialog=["press"], env=FAST_RETRIES)
        partial = client.file("TmpPatch", ARCHIVE_NAME)
        wait_until(lambda: os.path.exists(partial) and
                   os.path.getsize(partial) >= len(self.archive) // 3,
                   what="a third of the archive")
        new_files = patch_files(variant=2)
        target = os.path.join(self.root, *SLOW_PATH.strip("/").split("/"))
        replaced = write_archive(self.nginx, SLOW_PATH + ".new", new_files)
        os.utime(target + ".new", (os.stat(target).st_mtime + 60,) * 2)
        os.replace(target + ".new", target)  # the running answer keeps reading the old file
        self.nginx.kill_worker()
        result = run.finish(timeout=60)

        self.assertRepaired(client, result, new_files)
        method, asked, if_range, status, sent = self.nginx.requests(SLOW_PATH)[-1]
        self.assertEqual((200, len(replaced)), (status, sent))
        self.assertNotEqual("-", asked)

    def serve_list_file(self, text, compressed=None):
        """The patch list as text; with compressed (bytes) also its .gz, which nginx then sends
        in its place, with Content-Encoding: gzip."""
        path = os.path.join(self.root, qxweb.PATCH_LIST_PATH.strip("/"))
        qxweb.write_file(path, text)
        if compressed is not None:
            qxweb.write_file(path + ".gz", compressed)
        elif os.path.exists(path + ".gz"):
            os.remove(path + ".gz")

    # Each list leads with a hash line that does not match the archive: the mismatch shows that
    # the header line was read as one and the patch line after it was found.
    def test_patch_lists_as_editors_and_servers_store_them(self):
        write_archive(self.nginx, "/p/" + ARCHIVE_NAME, self.files)
        text = "\n".join([sha256_line(ARCHIVE_NAME, b"another archive"),
                          qxweb.patch_line("1.0.1", self.nginx.url("/p/" + ARCHIVE_NAME))]) + "\n"
        long_lines = "#note %s\n%s %s\n" % ("n" * 200000, text.rstrip("\n"), "i" * 100000)
        cases = {
            "CRLF line ends": (text.replace("\n", "\r\n"), None),
            "a UTF-8 byte-order mark": ("\ufeff" + text, None),
            "very long lines": (long_lines, None),
            # The plain file is empty: only the decoded .gz names the patch.
            "Content-Encoding: gzip": ("", gzip.compress(text.encode())),
        }
        for case, (listed, compressed) in cases.items():
            with self.subTest(case=case):
                self.serve_list_file(listed, compressed)
                self.nginx.clear_log()
                client = make_client(self)
                result = qxweb.run(client, answers=[], dialog=["press"], env=FAST_RETRIES)
                self.assertEqual([("提示", DOWNLOAD_ERROR + "SHA-256 mismatch", "OK", "ok"),
                                  DOWNLOAD_FAILED], result.boxes())
                self.assertEqual(2, len(self.nginx.requests("/p/" + ARCHIVE_NAME)))
                self.assertEqual(OLD_DOCUMENTS, documents(client))

    def test_a_damaged_compressed_list_is_a_failed_transfer(self):
        packed = gzip.compress(b"1.0.1 http://127.0.0.1/p/a.zip 1 info\n" * 50)
        self.serve_list_file("", packed[:len(packed) // 2])
        result = qxweb.run(make_client(self), answers=["ok", "cancel"])
        self.assertEqual([("提示", "获取PatchList网络异常，错误信息：" + BAD_ENCODING, "OK", "ok"),
                          ("下载异常", "获取更新列表失败，是否需要重试！", "OKCANCEL", "cancel"),
                          PATCH_LIST_FAILED], result.boxes())


if __name__ == "__main__":
    unittest.main()
