"""Shared helpers of the end-to-end tests: a client folder holding the real program, a scripted run
of it with its transcript read back, the bundled patch server on a port of its own, and a zip
builder for patch archives. Standard library only.

The program under test is env QXWEB_BIN; the patch-list host fixed into it is env QXWEB_TEST_HOST
(127.0.0.1:<port>); tools/patch_server.py is found through env QXWEB_TOOLS_DIR. Every server
listens on a port the system picked, and each run is told where its patch list is with the
test-only setting QXWEB_PATCHLIST_URL, so test files run in parallel without meeting.
"""

import json
import os
import shutil
import signal
import socket
import stat
import subprocess
import sys
import tempfile
import threading
import time
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
BIN = os.environ.get("QXWEB_BIN", "")
TEST_HOST = os.environ.get("QXWEB_TEST_HOST", "127.0.0.1:28080")
TOOLS_DIR = os.environ.get("QXWEB_TOOLS_DIR", os.path.join(HERE, "..", "..", "tools"))
PATCH_LIST_PATH = "/qx_patchlist_win32"

# The one command-line keyword that selects the plug-in removal.
PLUGIN_KEYWORD = "__VOREZ_EREDID_IZAZUZEZOD_URIVID__"

# A stand-in for the game: records how it was started, then exits.
GAME_SCRIPT = """#!/bin/sh
printf '%s\\n' "$PWD" "$@" > "$(dirname "$0")/vazazu.started"
exit 0
"""


def unused_port():
    """A port that was free a moment ago, for a server that cannot listen on port 0 and say which
    it got (nginx)."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def test_port():
    """The port of the patch-list host fixed into the program."""
    return int(TEST_HOST.rsplit(":", 1)[1])


class _RefusingPort:
    """A port of 127.0.0.1 bound for the life of the test process but never listening: every
    connection to it is refused, as to a patch-list server that is down."""

    def __init__(self):
        self.socket = socket.socket()
        self.socket.bind(("127.0.0.1", 0))
        self.port = self.socket.getsockname()[1]


_REFUSING = _RefusingPort()
# The patch-list addresses of the servers that serve one, oldest first; a run fetches its list
# from the first (a second server of a test serves archives only).
_list_urls = []


def serve_patch_list_at(url):
    """Makes url the patch list of the runs to come, unless another server already serves it."""
    _list_urls.append(url)


def stop_serving_patch_list_at(url):
    if url in _list_urls:
        _list_urls.remove(url)


def patch_list_url():
    """Where the next run fetches its patch list: the first server that serves one, else a port
    that refuses every connection."""
    if _list_urls:
        return _list_urls[0]
    return "http://127.0.0.1:%d%s" % (_REFUSING.port, PATCH_LIST_PATH)


def winpath(path):
    """How the program sees a host path: drive Z: is the Linux root."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def write_file(path, content=b""):
    """Writes bytes or text (UTF-8) to path, creating its folders."""
    os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    with open(path, "wb") as f:
        f.write(content.encode("utf-8") if isinstance(content, str) else content)


def write_script(path, text):
    """An executable shell script."""
    write_file(path, text)
    os.chmod(path, os.stat(path).st_mode | stat.S_IXUSR | stat.S_IXGRP | stat.S_IXOTH)


def tree(folder):
    """Every file under folder as {relative path with "/": bytes}, every empty folder as None."""
    result = {}
    for dirpath, dirnames, filenames in os.walk(folder):
        rel = os.path.relpath(dirpath, folder)
        if not dirnames and not filenames and rel != ".":
            result[rel.replace(os.sep, "/")] = None
        for name in filenames:
            path = os.path.join(dirpath, name)
            with open(path, "rb") as f:
                result[os.path.relpath(path, folder).replace(os.sep, "/")] = f.read()
    return result


def make_zip(path, files):
    """A ZIP archive at path holding files {name: bytes or text}; a name ending in "/" is a
    folder entry (its value is ignored)."""
    os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for name, content in files.items():
            if name.endswith("/"):
                z.writestr(zipfile.ZipInfo(name), b"")
            else:
                z.writestr(name, content.encode("utf-8") if isinstance(content, str) else content)
    return path


class ClientFolder:
    """A temporary installed client: the program as "qxwebhelper", the game stand-in "vazazu.exe",
    "vazazu.dll", "findownload.dat" (when a version is given), optional "HashRes" packages and
    "Documents" content. Beside the client it keeps the run's own prefix (drive C:, registry) and
    runtime folder (the single-instance lock), so two runs of one ClientFolder see each other.

    documents: {relative path: bytes/text, or None for an empty folder}.
    hashres: True for the three packages, or a list of package names.
    Pass a unittest.TestCase as test to remove everything when the test ends."""

    def __init__(self, test=None, version="1.0.0", dll=True, exe=True, hashres=False,
                 documents=None):
        self.root = tempfile.mkdtemp(prefix="qxweb-e2e-")
        self.path = os.path.join(self.root, "client")
        self.prefix = os.path.join(self.root, "prefix")
        self.runtime = os.path.join(self.root, "runtime")
        for folder in (self.path, self.prefix, self.runtime):
            os.makedirs(folder)
        os.chmod(self.runtime, 0o700)
        self.processes = []
        self.binary = os.path.join(self.path, "qxwebhelper")
        self._install_binary()
        if exe:
            write_script(self.file("vazazu.exe"), GAME_SCRIPT)
        if dll:
            write_file(self.file("vazazu.dll"), b"dll")
        if version is not None:
            write_file(self.file("findownload.dat"), version)
        if hashres:
            names = ["Json.npk", "res.npk", "script.npk"] if hashres is True else hashres
            for name in names:
                write_file(self.file("HashRes", name), b"npk")
        os.makedirs(self.file("Documents"))
        for rel, content in (documents or {}).items():
            if content is None:
                os.makedirs(self.file("Documents", rel), exist_ok=True)
            else:
                write_file(self.file("Documents", rel), content)
        if test is not None:
            test.addCleanup(self.cleanup)

    def _install_binary(self):
        if not BIN or not os.path.isfile(BIN):
            raise RuntimeError("QXWEB_BIN does not name the built program: %r" % BIN)
        try:
            os.link(BIN, self.binary)
        except OSError:
            shutil.copy2(BIN, self.binary)

    def file(self, *parts):
        """A host path inside the client folder."""
        return os.path.join(self.path, *parts)

    def winpath(self, *parts):
        """The program's view of a path inside the client folder."""
        return winpath(self.file(*parts))

    def start_game(self, relpath="vazazu.exe", seconds=600):
        """Starts a real long-running process whose executable is relpath in the client folder
        (a copy of sleep, since the process listing names a process after its executable file).
        A thread reaps it as soon as it ends, so a terminated game leaves no zombie behind; it is
        killed at clean-up if still running."""
        exe = self.file(relpath)
        os.makedirs(os.path.dirname(exe), exist_ok=True)
        shutil.copy2(shutil.which("sleep"), exe)
        proc = subprocess.Popen([exe, str(seconds)], stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.processes.append(proc)
        threading.Thread(target=proc.wait, daemon=True).start()
        return proc

    def use_binary_name(self, relpath):
        """Puts the program at relpath in the client folder instead of "qxwebhelper"."""
        target = self.file(relpath)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        os.replace(self.binary, target)
        self.binary = target

    def cleanup(self):
        for proc in self.processes:
            if proc.poll() is None:
                proc.kill()
            proc.wait()
        shutil.rmtree(self.root, ignore_errors=True)


class Result:
    """What one run left behind: exit code, standard output and the transcript's events."""

    def __init__(self, returncode, stdout, stderr, events):
        self.returncode = returncode
        self.stdout = stdout
        self.stderr = stderr
        self.events = events

    def of(self, kind):
        return [e for e in self.events if e.get("event") == kind]

    def boxes(self):
        """Every message box as (caption, text, buttons, answer), in order."""
        return [(e["caption"], e["text"], e["buttons"], e["answer"]) for e in self.of("box")]

    def box_texts(self):
        return [e["text"] for e in self.of("box")]

    def execs(self):
        return self.of("exec")

    def stdout_lines(self):
        return [e["text"] for e in self.of("stdout")]

    def dialog_events(self):
        return [e["action"] for e in self.of("dialog")]

    def controls(self):
        """The final state of every control, {id: {"class", "text", "visible", "enabled", ...}},
        replaying each creation and the later changes in order."""
        state = {}
        for e in self.events:
            if e.get("event") == "create":
                state[e["id"]] = {k: v for k, v in e.items() if k not in ("event", "id")}
            elif e.get("event") == "control":
                state.setdefault(e["id"], {}).update(
                    {k: v for k, v in e.items() if k not in ("event", "id")})
        return state

    def text(self, control_id):
        """The final text of a control (None when it was never created)."""
        return self.controls().get(control_id, {}).get("text")

    def texts(self, control_id):
        """Every text a control showed, from its creation on, in order."""
        return [e["text"] for e in self.events
                if e.get("id") == control_id and e.get("event") in ("create", "control")
                and "text" in e]

    def __repr__(self):
        return "Result(rc=%r, boxes=%r, stderr=%r)" % (self.returncode, self.boxes(),
                                                       self.stderr[-2000:])


def read_transcript(path):
    events = []
    if os.path.exists(path):
        with open(path, encoding="utf-8") as f:
            for line in f:
                if line.strip():
                    events.append(json.loads(line))
    return events


class Run:
    """A started copy of the program; finish() waits for it and returns its Result."""

    def __init__(self, client, answers=None, dialog=None, args=(), cwd=None, env=None,
                 user=None):
        fd, self.transcript = tempfile.mkstemp(prefix="transcript-", suffix=".jsonl",
                                               dir=client.root)
        os.close(fd)
        command = [client.binary] + list(args)
        if user is not None:
            # Runs as that user (the caller is root): the transcript must be theirs to write.
            shutil.chown(self.transcript, user)
            command = ["runuser", "-u", user, "--"] + command
        full_env = dict(os.environ)
        for name in ("QXWEB_ANSWERS", "QXWEB_DIALOG"):
            full_env.pop(name, None)
        full_env.update({
            "QXWEB_PREFIX": client.prefix,
            "XDG_RUNTIME_DIR": client.runtime,
            "QXWEB_TRANSCRIPT": self.transcript,
            "QXWEB_PATCHLIST_URL": patch_list_url(),
        })
        if answers is not None:
            full_env["QXWEB_ANSWERS"] = ",".join(answers)
        if dialog is not None:
            full_env["QXWEB_DIALOG"] = ",".join(dialog)
        full_env.update(env or {})
        self.proc = subprocess.Popen(command, cwd=cwd or client.path,
                                     env=full_env, stdin=subprocess.DEVNULL,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    def events(self):
        """The transcript so far."""
        return read_transcript(self.transcript)

    def finish(self, timeout=60):
        try:
            out, err = self.proc.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            out, err = self.proc.communicate()
            raise AssertionError("qxwebhelper did not end within %ss; stderr: %s"
                                 % (timeout, err.decode("utf-8", "replace")[-2000:]))
        stderr = err.decode("utf-8", "replace")
        # In the sanitizer build a finding must fail the test even where the exit code is not
        # looked at.
        for marker in ("ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "runtime error:"):
            if marker in stderr:
                raise AssertionError("sanitizer finding in qxwebhelper:\n" + stderr[-4000:])
        return Result(self.proc.returncode, out.decode("utf-8", "replace"), stderr,
                      read_transcript(self.transcript))

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.communicate()


def start(client, answers=None, dialog=None, args=(), cwd=None, env=None, user=None):
    """Starts the program in the client folder (or cwd) without waiting; see run()."""
    return Run(client, answers, dialog, args, cwd, env, user)


def run(client, answers=None, dialog=None, args=(), cwd=None, env=None, timeout=60, user=None):
    """Runs the program of the client folder to its end, scripted: answers are the message-box
    answers ("ok", "cancel", "yes", "no", "retry"), dialog the dialog actions ("press", "close");
    None leaves the variable unset. No terminal: stdin is empty, stdout and stderr are captured.
    user (as root only) runs it as that user through runuser."""
    return start(client, answers, dialog, args, cwd, env, user).finish(timeout)


def wait_until(condition, timeout=30, what="a condition"):
    """Polls condition() until it is true; fails the test after timeout seconds. (Only to wait
    for another process to reach a state, never to assert on speed.)"""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError("gave up waiting for " + what)
        time.sleep(0.05)


class PatchServer:
    """tools/patch_server.py on a port the system picks, serving a root folder of its own; the
    first one running serves the runs' patch list (serve_patch_list_at). Use as a context
    manager, or call stop(). tls=(certificate, key) serves HTTPS instead."""

    def __init__(self, root=None, tls=None):
        self.state = tempfile.mkdtemp(prefix="qxweb-server-")
        self.root = root or os.path.join(self.state, "root")
        os.makedirs(self.root, exist_ok=True)
        self.scheme = "https" if tls else "http"
        self.rules_path = os.path.join(self.state, "rules.json")
        self.counts_path = os.path.join(self.state, "counts.json")
        self.log_path = os.path.join(self.state, "requests.jsonl")
        self.rules = {}
        self._write_rules()
        tls_args = ["--cert", tls[0], "--key", tls[1]] if tls else []
        self.proc = subprocess.Popen(
            [sys.executable, os.path.join(TOOLS_DIR, "patch_server.py"), "--root", self.root,
             "--port", "0", "--rules", self.rules_path, "--counts", self.counts_path,
             "--log", self.log_path, "--quiet"] + tls_args,
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        # The server prints its port once it listens.
        line = self.proc.stdout.readline().decode().strip()
        if not line.isdigit():
            self.proc.wait()
            raise AssertionError("patch server did not start: " + self.proc.stderr.read().decode())
        self.port = int(line)
        serve_patch_list_at(self.url(PATCH_LIST_PATH))

    def url(self, path):
        return "%s://127.0.0.1:%d%s" % (self.scheme, self.port, path)

    def requests(self, path=None):
        """The requests served so far (of one URL path when given), in order: dicts with method,
        path, range, if_range, status and sent (body bytes)."""
        if not os.path.exists(self.log_path):
            return []
        with open(self.log_path, encoding="utf-8") as f:
            records = [json.loads(line) for line in f if line.strip()]
        return [r for r in records if path is None or r["path"] == path]

    def put(self, relpath, content):
        """A file under the root; relpath uses "/" ("/" in front is allowed)."""
        write_file(os.path.join(self.root, *relpath.strip("/").split("/")), content)

    def put_patch_list(self, text):
        """The patch list the program fetches, in the system code page (UTF-8 on Linux)."""
        self.put(PATCH_LIST_PATH, text)

    def set_rule(self, path, rule):
        """Misbehaviour for a URL path (see tools/patch_server.py); None removes it."""
        if rule is None:
            self.rules.pop(path, None)
        else:
            self.rules[path] = rule
        self._write_rules()

    def _write_rules(self):
        tmp = self.rules_path + ".tmp"
        with open(tmp, "w", encoding="utf-8") as f:
            json.dump(self.rules, f)
        os.replace(tmp, self.rules_path)

    def count(self, path):
        """Requests seen for a URL path."""
        try:
            with open(self.counts_path, encoding="utf-8") as f:
                return json.load(f).get(path, 0)
        except (OSError, ValueError):
            return 0

    def stop(self):
        stop_serving_patch_list_at(self.url(PATCH_LIST_PATH))
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.proc.stdout.close()
        self.proc.stderr.close()
        shutil.rmtree(self.state, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()


def patch_line(version, url, number=1, info="info"):
    """One patch line: version, archive address, number, info."""
    return "%s %s %d %s" % (version, url, number, info)


def full_package_line(url, package_version, number=1, info="full"):
    """One full-package line (version "0.0.0") bringing a client to package_version."""
    return "0.0.0 %s %d %s - %s pkg" % (url, number, info, package_version)


def patch_list(lines, headers=None):
    """A patch-list document: header lines {key: value} first, then the given lines."""
    head = ["#%s %s" % (k, v) for k, v in (headers or {}).items()]
    return "\n".join(head + list(lines)) + "\n"
