"""The publisher's minisign signature of the patch list, checked with Debian's minisign, and the
stand-in signature of the trial's copy of the list (whose addresses name the trial's server, so
the publisher's signature cannot cover it)."""

import os
import re
import shutil
import subprocess

TIMESTAMP = re.compile(r"(?:^|\s)timestamp:\d+(?:\s|$)")
TRUSTED = re.compile(r"^Trusted comment: (.*)$", re.M)


class SignatureError(Exception):
    pass


def minisign():
    found = shutil.which("minisign")
    if not found:
        raise SignatureError("a signed set needs minisign to be checked (apt-get install "
                             "minisign)")
    return found


def public_key_text(path):
    """The key as the program takes it: the second line of the .pub file minisign -G writes."""
    with open(path, encoding="ascii", errors="replace") as f:
        lines = f.read().splitlines()
    if len(lines) < 2 or not lines[1].startswith("RW"):
        raise SignatureError("%s is not a minisign public key (minisign -G writes one)" % path)
    return lines[1].strip()


def verify(list_path, signature_path, public_key_path):
    """The problems of the signature (none when it verifies) and its trusted comment."""
    done = subprocess.run([minisign(), "-V", "-p", public_key_path, "-m", list_path,
                           "-x", signature_path], capture_output=True, text=True,
                          stdin=subprocess.DEVNULL)
    if done.returncode != 0:
        reason = (done.stderr or done.stdout).strip().splitlines()
        return ["%s does not verify with %s: %s" % (os.path.basename(signature_path),
                                                    public_key_path,
                                                    reason[-1] if reason else "minisign failed")
                ], None
    found = TRUSTED.search(done.stdout)
    comment = found.group(1) if found else ""
    if not TIMESTAMP.search(comment):
        return ["the signature's trusted comment has no timestamp:<seconds>, so the program "
                "refuses the list (minisign -S writes one unless told -t)"], comment
    return [], comment


def sign_trial_copy(list_path, work, trusted_comment):
    """Signs the trial's copy of the list with a key made for the trial, keeping the publisher's
    trusted comment; returns that key's text for the program."""
    public, secret = os.path.join(work, "trial.pub"), os.path.join(work, "trial.key")
    for command in ([minisign(), "-G", "-W", "-f", "-p", public, "-s", secret],
                    [minisign(), "-S", "-s", secret, "-m", list_path, "-t", trusted_comment]):
        done = subprocess.run(command, capture_output=True, text=True, stdin=subprocess.DEVNULL)
        if done.returncode != 0:
            raise SignatureError("minisign could not sign the trial's list: "
                                 + (done.stderr or done.stdout).strip())
    return public_key_text(public)
