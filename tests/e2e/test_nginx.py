"""The same repair served by a real web server: nginx (Debian's nginx-light), started here on
loopback ports with a generated configuration, over HTTP and over HTTPS with a certificate made
for the run. Its worker is killed half-way through the archive, which nginx sends at a limited
rate; the program continues the body from where it stopped with nginx's own range answers."""

import os
import shutil
import signal
import socket
import subprocess
import tempfile
import unittest

import qxweb
from download_case import (ARCHIVE_NAME, documents_after, free_port, https_env, patch_files,
                           serve_list, sha256_line, write_archive)
from qxweb import wait_until
from repair_case import IDC_HINT, REPAIRED_HINT, documents, make_client
from tls_certificates import TestCertificates

NGINX = shutil.which("nginx") or "/usr/sbin/nginx"
SLOW_PATH = "/slow/" + ARCHIVE_NAME

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
    client_body_temp_path {state}/body;
    proxy_temp_path {state}/proxy;
    fastcgi_temp_path {state}/fastcgi;
    uwsgi_temp_path {state}/uwsgi;
    scgi_temp_path {state}/scgi;
    server {{
        listen 127.0.0.1:{http_port};
        root {root};
        location /slow/ {{ limit_rate 1m; }}
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
    """nginx serving root on the build's patch-list port (HTTP) and on a free port (HTTPS)."""

    def __init__(self, root, certificates):
        self.state = tempfile.mkdtemp(prefix="qxweb-nginx-")
        self.root = root
        self.http_port = qxweb.test_port()
        self.https_port = free_port()
        config = os.path.join(self.state, "nginx.conf")
        with open(config, "w") as f:
            f.write(CONFIG.format(state=self.state, root=root, http_port=self.http_port,
                                  https_port=self.https_port, cert=certificates.server_cert,
                                  key=certificates.server_key,
                                  # As root the workers would run as www-data, who cannot enter
                                  # the test's private folders.
                                  user="user root;" if os.geteuid() == 0 else ""))
        self.proc = subprocess.Popen([NGINX, "-p", self.state, "-e", "stderr", "-c", config],
                                     stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.PIPE)
        for port in (self.http_port, self.https_port):
            wait_until(lambda: self._listening(port), what="nginx on port %d" % port)

    def _listening(self, port):
        if self.proc.poll() is not None:
            raise AssertionError("nginx ended: " + self.proc.stderr.read().decode())
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

    def stop(self):
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

    def repair_with_a_dropped_connection(self, https):
        serve_list(self.nginx, self.nginx.url(SLOW_PATH, https),
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
        method, asked, if_range, status, sent = self.nginx.requests(SLOW_PATH)[-1]
        self.assertEqual(("GET", 206), (method, status))
        start = int(asked[len("bytes="):-1])
        self.assertEqual("bytes=%d-" % start, asked)
        self.assertGreaterEqual(start, len(self.archive) // 3)
        self.assertEqual(len(self.archive) - start, sent)
        self.assertNotEqual("-", if_range)

    def test_http(self):
        self.repair_with_a_dropped_connection(https=False)

    def test_https(self):
        self.repair_with_a_dropped_connection(https=True)


if __name__ == "__main__":
    unittest.main()
