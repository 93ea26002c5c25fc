"""Repairs of the real program over a poor network, against the bundled patch server misbehaving
on purpose: each fault ends with the archive exact (the repair installs it, and its hash line
checks it) and the request log shows what was asked for, or with the boxes after the last
attempt. Also the publisher's hash lines, redirects and HTTPS."""

import os
import socket
import tempfile
import threading
import unittest

import qxweb
from download_case import (ARCHIVE_NAME, ARCHIVE_PATH, DOWNLOAD_ERROR, IDC_PROGRESS, bar_positions,
                           documents_after, https_env, log_text, patch_files, range_start,
                           ranges, repair, serve_list, serve_patch, sha256_line, write_archive)
from qxweb import PatchServer
from repair_case import (DOWNLOAD_FAILED, EXTRACT_FAILED, IDC_HINT, IDC_STATUS, OLD_DOCUMENTS,
                         REPAIRED_HINT, documents, make_client)
from tls_certificates import TestCertificates


DOWNLOADING = "正在下载补丁文件"


def download_positions(result):
    """The bar's positions while the status says the archives are being downloaded."""
    positions, downloading = [], False
    for e in result.events:
        if e.get("id") == IDC_STATUS and "text" in e:
            downloading = e["text"] == DOWNLOADING
        elif e.get("id") == IDC_PROGRESS and e.get("event") == "control" and "pos" in e:
            if downloading:
                positions.append(e["pos"])
    return positions


def download_box(error):
    return ("提示", DOWNLOAD_ERROR + error, "OK", "ok")


class Faults(unittest.TestCase):
    def setUp(self):
        self.server = PatchServer()
        self.addCleanup(self.server.stop)
        self.files = patch_files()
        self.archive = serve_patch(self.server, self.files)
        self.size = len(self.archive)

    def assertRepaired(self, client, result, files=None):
        self.assertEqual([], result.boxes())
        self.assertEqual(REPAIRED_HINT, result.text(IDC_HINT))
        self.assertEqual(documents_after(files or self.files), documents(client))

    def test_a_body_cut_short_is_continued_from_where_it_stopped(self):
        # rule of the first request -> where the second one asks to continue (None: anywhere
        # after the start, since a reset drops what was still on its way)
        cases = [
            ({"cut": 0.3}, int(0.3 * self.size)),
            ({"cut": 0.9}, int(0.9 * self.size)),
            ({"stall": 60, "stall_at": 0.5}, int(0.5 * self.size)),
            ({"reset": 0.5}, None),
        ]
        for number, (rule, start) in enumerate(cases):
            with self.subTest(rule=rule):
                # A path per case: a rule's sequence counts the requests of its path.
                path = "/p/%d/%s" % (number, ARCHIVE_NAME)
                self.server.put(path, self.archive)
                serve_list(self.server, self.server.url(path),
                           [sha256_line(ARCHIVE_NAME, self.archive)])
                self.server.set_rule(path, {"sequence": [rule]})
                client = make_client(self)
                result = repair(client)
                self.assertRepaired(client, result)
                asked = ranges(self.server, path)
                self.assertEqual(2, len(asked), asked)
                self.assertIsNone(asked[0])
                if start is None:
                    self.assertLess(0, range_start(asked[1]))
                    self.assertLessEqual(range_start(asked[1]), int(0.5 * self.size))
                else:
                    self.assertEqual("bytes=%d-" % start, asked[1])
                last = self.server.requests(path)[-1]
                self.assertEqual(206, last["status"])
                self.assertIsNotNone(last["if_range"])
                # The bar carries on: it never moves back when the body is continued.
                positions = bar_positions(result)
                self.assertEqual(sorted(positions), positions)

    def test_a_server_error_then_success(self):
        self.server.set_rule(ARCHIVE_PATH, {"status": 503, "times": 1})
        client = make_client(self)
        result = repair(client)
        self.assertRepaired(client, result)
        self.assertEqual([None, None], ranges(self.server))

    def test_ranges_ignored_start_the_file_again(self):
        self.server.set_rule(ARCHIVE_PATH, {"sequence": [{"cut": 0.5, "ignore_ranges": True},
                                                         {"ignore_ranges": True}]})
        client = make_client(self)
        result = repair(client)
        self.assertRepaired(client, result)
        self.assertEqual([None, "bytes=%d-" % int(0.5 * self.size)], ranges(self.server))
        self.assertEqual([200, 200], [r["status"] for r in self.server.requests(ARCHIVE_PATH)])

    # The publisher replaces the archive (and its hash line) while a player downloads it: If-Range
    # no longer matches, the server sends the new file whole, and the file starts again.
    def test_a_file_replaced_between_attempts_is_fetched_whole(self):
        new_files = patch_files(variant=2)
        new_archive = write_archive(self.server, "/p/new.zip", new_files)
        serve_list(self.server, self.server.url(ARCHIVE_PATH),
                   [sha256_line(ARCHIVE_NAME, new_archive)])
        self.server.set_rule(ARCHIVE_PATH, {"sequence": [{"cut": 0.5, "replace_with": "p/new.zip"}]})
        client = make_client(self)
        result = repair(client)
        self.assertRepaired(client, result, new_files)
        requests = self.server.requests(ARCHIVE_PATH)
        self.assertEqual([None, "bytes=%d-" % int(0.5 * self.size)], ranges(self.server))
        self.assertEqual(200, requests[1]["status"])

    def test_the_box_appears_once_the_attempts_are_spent(self):
        self.server.set_rule(ARCHIVE_PATH, {"status": 503})
        client = make_client(self)
        result = repair(client)
        self.assertEqual([download_box("HTTP 503"), DOWNLOAD_FAILED], result.boxes())
        self.assertEqual(6, len(ranges(self.server)))
        self.assertEqual(OLD_DOCUMENTS, documents(client))

    # A server that sends 1 KiB per connection would take a request per KiB: each attempt that
    # brings less than 64 KiB counts as failed, so the archive ends after six of them.
    def test_a_dribbling_server_ends_after_six_attempts(self):
        self.server.set_rule(ARCHIVE_PATH, {"cut_every": 1024})
        client = make_client(self)
        result = repair(client)
        self.assertEqual([download_box("Transferred a partial file"), DOWNLOAD_FAILED],
                         result.boxes())
        self.assertEqual(6, len(ranges(self.server)))
        self.assertEqual(OLD_DOCUMENTS, documents(client))

    def test_a_missing_archive_fails_at_once(self):
        self.server.set_rule(ARCHIVE_PATH, {"status": 404})
        client = make_client(self)
        result = repair(client)
        self.assertEqual([download_box("HTTP 404"), DOWNLOAD_FAILED], result.boxes())
        self.assertEqual(1, len(ranges(self.server)))


class HashLines(unittest.TestCase):
    def setUp(self):
        self.server = PatchServer()
        self.addCleanup(self.server.stop)
        self.files = patch_files()

    def test_a_mismatch_is_fetched_once_more_then_fails(self):
        serve_patch(self.server, self.files, hash_of=b"another archive")
        client = make_client(self)
        result = repair(client)
        self.assertEqual([download_box("SHA-256 mismatch"), DOWNLOAD_FAILED], result.boxes())
        self.assertEqual([None, None], ranges(self.server))
        self.assertEqual(OLD_DOCUMENTS, documents(client))
        self.assertNotIn(ARCHIVE_NAME, qxweb.tree(client.file("TmpPatch")))

    # A damaged copy first (a stale cache on the way, say), the right archive when it is fetched
    # once more: the repair installs it, and the bar counts the archive once, not twice.
    def test_a_mismatch_then_the_right_archive_installs(self):
        right = write_archive(self.server, "/p/right.zip", self.files)
        write_archive(self.server, ARCHIVE_PATH, patch_files(variant=2))
        serve_list(self.server, self.server.url(ARCHIVE_PATH), [sha256_line(ARCHIVE_NAME, right)])
        self.server.set_rule(ARCHIVE_PATH, {"sequence": [{"replace_with": "p/right.zip"}]})
        client = make_client(self)
        result = repair(client)
        self.assertEqual([], result.boxes())
        self.assertEqual(documents_after(self.files), documents(client))
        self.assertEqual([None, None], ranges(self.server))
        # One archive and the absent cumulative patch: the downloads fill 35 % of the bar.
        self.assertLessEqual(max(download_positions(result)), 35)

    def test_a_missing_or_malformed_line_leaves_the_archive_unchecked(self):
        digest = "ab" * 32
        cases = {
            "missing": (["#sha256:another.zip %s" % digest],
                        "no SHA-256 line for 1.0.1.zip: not checked"),
            "too short": (["#sha256:%s %s" % (ARCHIVE_NAME, digest[:-1])],
                          "malformed hash line ignored: #sha256:1.0.1.zip"),
            "not hex": (["#sha256:%s %s" % (ARCHIVE_NAME, digest[:-1] + "x")],
                        "malformed hash line ignored: #sha256:1.0.1.zip"),
        }
        write_archive(self.server, ARCHIVE_PATH, self.files)
        for name, (headers, logged) in cases.items():
            with self.subTest(name):
                serve_list(self.server, self.server.url(ARCHIVE_PATH), headers)
                client = make_client(self)
                result = repair(client)
                self.assertEqual([], result.boxes())
                self.assertEqual(documents_after(self.files), documents(client))
                self.assertIn(logged, log_text(client))


class Redirects(unittest.TestCase):
    def setUp(self):
        self.server = PatchServer()
        self.addCleanup(self.server.stop)
        self.files = patch_files()
        write_archive(self.server, ARCHIVE_PATH, self.files)

    def chain(self, name, hops, target):
        """/name/1 -> /name/2 -> ... -> target; the address of the first hop."""
        for i in range(1, hops + 1):
            location = target if i == hops else "/%s/%d" % (name, i + 1)
            self.server.set_rule("/%s/%d" % (name, i),
                                 {"redirect": location, "redirect_status": [302, 307][i % 2]})
        return self.server.url("/%s/1" % name)

    # The archive is fetched behind its redirects. The probe asks for the cumulative patch's own
    # address: a host that sends every missing file to a page of its own (a redirect answered
    # with 200) has no cumulative patch, and the repair goes on without it.
    def test_archives_follow_redirects_and_the_probe_does_not(self):
        write_archive(self.server, "/cdn/cumulative.zip", {"subver/ver.txt": b"cumulative"})
        self.server.set_rule("/mirror/patch1.0.1.qx.all.win32",
                             {"redirect": "/cdn/cumulative.zip", "redirect_status": 301})
        self.server.set_rule("/mirror/1.0.1.zip", {"redirect": self.chain("a", 4, ARCHIVE_PATH)})
        serve_list(self.server, self.server.url("/mirror/1.0.1.zip"))
        client = make_client(self)
        result = repair(client)
        self.assertEqual([], result.boxes())
        self.assertEqual(documents_after(self.files), documents(client))

    def test_six_hops_or_another_scheme_fail(self):
        cases = [
            (self.chain("six", 6, ARCHIVE_PATH), "Number of redirects hit maximum amount"),
            (self.chain("ftp", 1, "ftp://127.0.0.1:1/1.0.1.zip"), "Unsupported protocol"),
            (self.chain("file", 1, "file:///etc/hostname"), "Unsupported protocol"),
        ]
        for url, error in cases:
            with self.subTest(url=url):
                serve_list(self.server, url)
                client = make_client(self)
                result = repair(client)
                self.assertEqual([download_box(error), DOWNLOAD_FAILED], result.boxes())
                self.assertEqual(OLD_DOCUMENTS, documents(client))
        self.assertEqual(0, len(ranges(self.server)))


class Https(unittest.TestCase):
    def setUp(self):
        folder = tempfile.mkdtemp(prefix="qxweb-tls-")
        self.addCleanup(lambda: qxweb.shutil.rmtree(folder, ignore_errors=True))
        self.certificates = TestCertificates(folder)
        self.server = PatchServer()  # the patch list, over http as built
        self.addCleanup(self.server.stop)
        self.secure = PatchServer(root=self.server.root,
                                  tls=(self.certificates.server_cert, self.certificates.server_key))
        self.addCleanup(self.secure.stop)
        self.files = patch_files()
        self.archive = write_archive(self.server, ARCHIVE_PATH, self.files)
        serve_list(self.server, self.secure.url(ARCHIVE_PATH),
                   [sha256_line(ARCHIVE_NAME, self.archive)])

    def test_an_https_archive_is_continued_after_a_cut(self):
        self.secure.set_rule(ARCHIVE_PATH, {"sequence": [{"cut": 0.4}]})
        client = make_client(self)
        result = repair(client, https_env(self.certificates.ca))
        self.assertEqual([], result.boxes())
        self.assertEqual(documents_after(self.files), documents(client))
        self.assertEqual([None, "bytes=%d-" % int(0.4 * len(self.archive))],
                         ranges(self.secure))

    def test_an_unknown_authority_is_refused_without_retrying(self):
        client = make_client(self)
        result = repair(client, https_env())
        boxes = result.boxes()
        self.assertEqual(2, len(boxes), boxes)
        self.assertTrue(boxes[0][1].startswith(DOWNLOAD_ERROR), boxes)
        self.assertIn("certificate", boxes[0][1].lower() + " certificate")
        self.assertEqual(DOWNLOAD_FAILED, boxes[1])
        self.assertEqual([], self.secure.requests())
        self.assertEqual(OLD_DOCUMENTS, documents(client))


class ClosingServer:
    """An HTTP/1.0 server on a free loopback port that sends the archive's path without a length,
    the body ending where it closes the connection: answers[n] (bytes) for its n-th request (the
    last one again after them); 404 for every other path. Records the paths asked for."""

    def __init__(self, answers):
        self.answers = answers
        self.paths = []
        self.socket = socket.create_server(("127.0.0.1", 0))
        self.port = self.socket.getsockname()[1]
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    def url(self, path):
        return "http://127.0.0.1:%d%s" % (self.port, path)

    def _serve(self):
        while True:
            try:
                connection, _ = self.socket.accept()
            except OSError:
                return  # closed by stop()
            with connection:
                request = b""
                while b"\r\n\r\n" not in request:
                    received = connection.recv(4096)
                    if not received:
                        break
                    request += received
                method, path = request.split(b" ")[:2]
                self.paths.append((method.decode(), path.decode()))
                if path.decode() != ARCHIVE_PATH:
                    connection.sendall(b"HTTP/1.0 404 Not Found\r\n\r\n")
                    continue
                body = self.answers[min(len(self.archive_requests()), len(self.answers)) - 1]
                connection.sendall(b"HTTP/1.0 200 OK\r\n\r\n" + body)

    def archive_requests(self):
        return [p for p in self.paths if p == ("GET", ARCHIVE_PATH)]

    def stop(self):
        self.socket.shutdown(socket.SHUT_RDWR)  # wakes the accept; close alone does not
        self.socket.close()
        self.thread.join(timeout=10)


# A body without a length looks whole however early the connection closes: only the publisher's
# hash line, or the archive's own structure, can tell. Either way a cut body is never installed.
class BodiesEndedByClosing(unittest.TestCase):
    def setUp(self):
        self.server = PatchServer()
        self.addCleanup(self.server.stop)
        self.files = patch_files()
        self.archive = write_archive(self.server, ARCHIVE_PATH, self.files)

    def repair_from(self, answers, hashed):
        closing = ClosingServer(answers)
        self.addCleanup(closing.stop)
        serve_list(self.server, closing.url(ARCHIVE_PATH),
                   [sha256_line(ARCHIVE_NAME, self.archive)] if hashed else [])
        client = make_client(self)
        return client, repair(client), closing

    def test_a_cut_body_is_fetched_again_when_hashed(self):
        half = self.archive[:len(self.archive) // 2]
        client, result, closing = self.repair_from([half, self.archive], hashed=True)
        self.assertEqual([], result.boxes())
        self.assertEqual(documents_after(self.files), documents(client))
        self.assertEqual(2, len(closing.archive_requests()))

    def test_a_cut_body_ends_with_a_box_and_changes_nothing(self):
        half = self.archive[:len(self.archive) // 2]
        for hashed, boxes in ((True, [download_box("SHA-256 mismatch"), DOWNLOAD_FAILED]),
                              (False, [EXTRACT_FAILED])):
            with self.subTest(hashed=hashed):
                client, result, closing = self.repair_from([half], hashed)
                self.assertEqual(boxes, result.boxes())
                self.assertEqual(OLD_DOCUMENTS, documents(client))


if __name__ == "__main__":
    unittest.main()
