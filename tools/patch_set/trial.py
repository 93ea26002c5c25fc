"""Real repairs for the release gate: the Linux build of QxWebHelper in a client folder made for
one starting version, run in scripted mode (it presses the repair button) against the bundled
patch server or the publisher's own; what the dialog offered, the boxes it showed, the archives
it fetched and its Documents folder afterwards."""

import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

import demo_report
from patch_set.patch_list import PATCH_LIST

TOOLS = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
LIST_URL_SETTING = "QXWEB_PATCHLIST_URL"
KEY_SETTING = "QXWEB_LIST_PUBLIC_KEY"
# A publisher's proxy would carry the program's requests for 127.0.0.1 elsewhere.
PROXY_VARIABLES = {"http_proxy", "https_proxy", "all_proxy", "no_proxy"}
ADDRESS = re.compile(rb"^(https?://[^/\s]+)(/\S*)$")
GAME_STAND_IN = "#!/bin/sh\necho \"vazazu.exe: the game would start now\"\n"
PACKAGES = ("Json.npk", "res.npk", "script.npk")  # needed only without a local version
IDC_HINT = 1005
IDC_ACTION = 1006
REPAIR_BUTTON = "一键修复"
LAUNCH_BUTTON = "启动游戏"
REPAIRED_HINT = "修复成功！可启动游戏。"
RUN_SECONDS = 3600  # a repair of gigabytes over a slow line


class TrialError(Exception):
    pass


class Program:
    """The Linux build of the program and the patch-list host built into it."""

    def __init__(self, binary, host):
        if not os.path.isfile(binary):
            raise TrialError("no program at %s: build it first (cmake --build build/release "
                             "--target qxwebhelper)" % binary)
        self.binary = binary
        self.host = host

    @classmethod
    def of_build(cls, build):
        try:
            with open(os.path.join(build, "CMakeCache.txt"), encoding="utf-8") as f:
                found = re.search(r"^QXWEB_PATCHLIST_HOST:STRING=(.*)$", f.read(), re.M)
        except OSError:
            raise TrialError("%s is no CMake build folder: configure one (cmake -S . -B "
                             "build/release) or name the program with --binary" % build)
        return cls(os.path.join(build, "qxwebhelper"), found.group(1) if found else None)

def list_address_env(origin):
    """The environment that points the program at the patch list of origin (http://host:port):
    the Linux build takes the whole address from a test setting, so any server on any port."""
    return {LIST_URL_SETTING: "%s/%s" % (origin, PATCH_LIST)}


class BundledServer:
    """tools/patch_server.py on 127.0.0.1, logging every request."""

    def __init__(self, root, port, rate, log):
        self.log = log
        self.proc = subprocess.Popen(
            [sys.executable, os.path.join(TOOLS, "patch_server.py"), "--root", root, "--port",
             str(port), "--rate", str(rate), "--log", log, "--quiet"],
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        port_line = self.proc.stdout.readline().strip()
        if not port_line:
            self.proc.wait()
            raise TrialError("the patch server did not start: " + self.proc.stderr.read().strip())
        self.origin = "http://127.0.0.1:" + port_line

    def requests(self):
        if not os.path.exists(self.log):
            return []
        with open(self.log, encoding="utf-8") as f:
            return [json.loads(line) for line in f if line.strip()]

    def stop(self):
        self.proc.terminate()
        self.proc.wait()
        self.proc.stdout.close()
        self.proc.stderr.close()


def localise(text, origin):
    """The list with the scheme and host of every address replaced by origin."""
    lines = []
    for line in text.split(b"\n"):
        tokens = line.split(b" ")
        if not line.lstrip(b" ").startswith(b"#"):
            for index, token in enumerate(tokens):
                match = ADDRESS.match(token.rstrip(b"\r"))
                if match:
                    tokens[index] = origin.encode() + token[len(match.group(1)):]
                    break
        lines.append(b" ".join(tokens))
    return b"\n".join(lines)


class Outcome:
    """What one run showed: the button the dialog offered, whether the repair succeeded, the
    texts of its message boxes."""

    def __init__(self, events):
        def texts(control):
            return [e.get("text") for e in events if e.get("id") == control]
        # The button is created as the launch button and becomes the repair button at once when
        # the client is out of date.
        actions = texts(IDC_ACTION)
        self.offered = (REPAIR_BUTTON if REPAIR_BUTTON in actions else
                        LAUNCH_BUTTON if actions else None)
        self.repaired = REPAIRED_HINT in texts(IDC_HINT)
        self.boxes = [e["text"] for e in events if e["event"] == "box"]


class Client:
    """A client folder at one starting version (None: without findownload.dat), with a prefix
    and runtime folder of its own so that runs never meet."""

    def __init__(self, root, binary, version, documents):
        self.root = root
        self.path = os.path.join(root, "client")
        os.makedirs(self.path)
        shutil.copy2(binary, os.path.join(self.path, "qxwebhelper"))
        game = os.path.join(self.path, "vazazu.exe")
        with open(game, "w") as f:
            f.write(GAME_STAND_IN)
        os.chmod(game, 0o755)
        open(os.path.join(self.path, "vazazu.dll"), "wb").close()
        if version is None:
            os.makedirs(os.path.join(self.path, "HashRes"))
            for name in PACKAGES:
                open(os.path.join(self.path, "HashRes", name), "wb").close()
        else:
            with open(self.version_file, "w") as f:
                f.write(version + "\r\n")
        if documents:
            shutil.copytree(documents, self.documents)
        else:
            os.makedirs(self.documents)

    @property
    def documents(self):
        return os.path.join(self.path, "Documents")

    @property
    def version_file(self):
        return os.path.join(self.path, "findownload.dat")

    def version(self):
        """The text of findownload.dat, or None without one."""
        if not os.path.exists(self.version_file):
            return None
        with open(self.version_file, encoding="utf-8", errors="replace") as f:
            return f.read().strip()

    def run(self, settings, dialog):
        """One scripted run of the program; dialog is the list of dialog actions."""
        transcript = os.path.join(self.root, "transcript.jsonl")
        if os.path.exists(transcript):
            os.remove(transcript)
        env = dict(settings, QXWEB_PREFIX=os.path.join(self.root, "prefix"),
                   XDG_RUNTIME_DIR=tempfile.mkdtemp(dir=self.root), QXWEB_TRANSCRIPT=transcript,
                   QXWEB_DIALOG=",".join(dialog), QXWEB_ANSWERS="")
        with open(os.path.join(self.root, "qxwebhelper.stderr"), "ab") as stderr:
            subprocess.run([os.path.join(self.path, "qxwebhelper")], cwd=self.path, env=env,
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=stderr,
                           timeout=RUN_SECONDS)
        return transcript, Outcome(demo_report.events(transcript))


def program_environment(keep_proxies, **settings):
    """The environment of the program's runs: the caller's, with the given test settings."""
    env = {k: v for k, v in os.environ.items()
           if keep_proxies or k.lower() not in PROXY_VARIABLES}
    env.update(settings)
    return env
