"""The gate's repairs: the bundled patch server (or the publisher's own) serving the set, one
client per starting version repaired by the real program, and each result judged: current,
repaired to the release tree, or the files lost, resurrected or stale."""

import os
import shutil
import subprocess

import demo_report
from patch_set import signature, trial
from patch_set.patch_list import PATCH_LIST
from patch_set.set_files import SIGNATURE
from patch_set.trees import Difference


def label(version):
    return "without findownload.dat" if version is None else "at " + version


def downloads_seen(requests):
    """The archives a run fetched, in order, each once, with any status that is not success."""
    seen = {}
    for request in requests:
        if request["method"] == "GET" and not request["path"].endswith(
                ("/" + PATCH_LIST, "/" + SIGNATURE)):
            seen[request["path"].rsplit("/", 1)[-1]] = request["status"]
    return ", ".join(name if status in (200, 206) else "%s (%d)" % (name, status)
                     for name, status in seen.items()) or "nothing"


class Repairs:
    """The runs of the real program: one server for all, one client per starting version."""

    def __init__(self, args, report, work, patch_list, trusted_comment):
        self.args = args
        self.report = report
        self.work = work
        self.patch_list = patch_list
        self.server = None
        self.release = demo_report.files(args.expect) if args.expect else None
        self.program = (trial.Program(args.binary, args.host) if args.binary
                        else trial.Program.of_build(args.build))
        try:
            self.settings = self._serve(trusted_comment)
        except BaseException:
            self.stop()
            raise

    def _serve(self, trusted_comment):
        """Starts the bundled server (unless the publisher's is tried); the runs' environment."""
        key = None
        if self.args.server:
            origin = self.args.server.rstrip("/")
            if trusted_comment is not None:
                key = signature.public_key_text(self.args.public_key)
        else:
            root = os.path.join(self.work, "server")
            shutil.copytree(self.args.folder, root)
            self.server = trial.BundledServer(root, 0,
                                              self.args.rate,
                                              os.path.join(self.work, "requests.jsonl"))
            origin = self.server.origin
            key = self._localise(os.path.join(root, PATCH_LIST), origin, trusted_comment)
        settings = trial.list_address_env(origin)
        if key:
            settings[trial.KEY_SETTING] = key
        return trial.program_environment(bool(self.args.server), **settings)

    def _localise(self, served, origin, trusted_comment):
        """Points the served copy's addresses at the bundled server; when the set is signed,
        signs that copy for the trial and returns the key the program is given."""
        with open(served, "rb") as f:
            text = f.read()
        with open(served, "wb") as f:
            f.write(trial.localise(text, origin))
        if trusted_comment is None:
            return None
        return signature.sign_trial_copy(served, self.work, trusted_comment)

    def stop(self):
        if self.server:
            self.server.stop()

    def try_start(self, index, version, detailed):
        self.report.section("A client %s" % label(version))
        client = trial.Client(os.path.join(self.work, "client%d" % index), self.program.binary,
                              version, self.args.documents)
        before = demo_report.files(client.documents)
        seen = len(self.server.requests()) if self.server else 0
        try:
            transcript, outcome = client.run(self.settings, ["press"])
        except subprocess.TimeoutExpired:
            self.report.problem("the client %s: the program had not ended after %d seconds"
                                % (label(version), trial.RUN_SECONDS))
            return
        if self.server:
            self.report.note("downloads: " + downloads_seen(self.server.requests()[seen:]))
        if detailed:
            demo_report.print_transcript(transcript)
        self._judge(version, outcome, before, demo_report.files(client.documents))
        if detailed and outcome.repaired:
            self._show_afterwards(client, before)

    def _judge(self, version, outcome, before, after):
        who = "the client " + label(version)
        if outcome.offered is None:
            self.report.problem("%s: the dialog did not open (%s)" % (
                who, "; ".join(outcome.boxes) or "no box"))
            return
        self.report.note("the dialog offered: " + outcome.offered)
        if outcome.offered == trial.LAUNCH_BUTTON:
            if self.patch_list.is_current(version):
                self.report.note("current: nothing to repair")
            else:
                self.report.problem("%s is older than %s but is offered no repair" % (
                    who, self.patch_list.newest.version if self.patch_list.newest else "-"))
            return
        if not outcome.repaired:
            self.report.problem("%s: the repair failed: %s" % (
                who, "; ".join(outcome.boxes) or "no box"))
            return
        self.report.note("the repair succeeded")
        if self.release is None:
            self.report.note("Documents not compared (no --expect)")
            return
        difference = Difference(self.release, before, after)
        for line in difference.lines():
            self.report.problem("%s: %s" % (who, line))
        if not difference:
            self.report.note("Documents holds the release tree")

    def _show_afterwards(self, client, before):
        print("\n-- What changed in Documents --")
        demo_report.print_file_changes(before, demo_report.files(client.documents))
        version = client.version() or "none"
        _, again = client.run(self.settings, [])
        print("\nfindownload.dat after the repair: %s (the game's own updater writes it)"
              % version)
        print("a second start offers: %s" % again.offered)
