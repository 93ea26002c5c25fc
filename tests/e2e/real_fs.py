"""Real file-system conditions for the end-to-end tests, beyond what QXWEB_FAULTS injects: a client
on a small tmpfs that really fills up, the program run as an unprivileged user, and the patch with
incompressible content so that its size on disk is what the archive says. Mounting and switching
users need root; callers skip without it."""

import os
import pwd
import random
import shutil
import subprocess
import tempfile

import qxweb
from qxweb import ClientFolder
from repair_case import OLD_DOCUMENTS, with_folder_entries

# The unprivileged user the permission cases run the program as.
PROBE_USER = "qxweb-probe"

PAGE = 4096


def is_root():
    return os.geteuid() == 0


def incompressible(size, variant):
    return random.Random(variant).randbytes(size)


# Two releases of incompressible files, 256 KiB each, so that downloading, unpacking and copying
# them needs that much room; the second replaces a file of the first.
BIG_RELEASES = {
    "1.0.1": {"pkres/a.pk": incompressible(256 * 1024, 1),
              "pkres/n.pk": incompressible(256 * 1024, 2),
              "subver/ver.txt": b"1.0.1", "qatools/t.txt": b"tool"},
    "1.0.2": {"pkres/a.pk": incompressible(256 * 1024, 3), "subver/ver.txt": b"1.0.2"},
}

# What a finished repair leaves in Documents.
BIG_NEW = {"pkres/a.pk": BIG_RELEASES["1.0.2"]["pkres/a.pk"],
           "pkres/n.pk": BIG_RELEASES["1.0.1"]["pkres/n.pk"], "subver/ver.txt": b"1.0.2",
           "qatools/t.txt": b"tool", "settings.ini": b"mine"}


# A client whose pkres holds a large file: its backup, copied when Documents is on another file
# system, needs that much room in TmpPatch, more than the downloaded archives free once merged.
LARGE_OLD = dict(OLD_DOCUMENTS, **{"pkres/large.pk": incompressible(1536 * 1024, 7)})


def serve_releases(server, releases):
    """The patch list with one archive per release {version: files}, oldest first."""
    lines = []
    for version, files in releases.items():
        qxweb.make_zip(os.path.join(server.root, "p", version + ".zip"), with_folder_entries(files))
        lines.append(qxweb.patch_line(version, server.url("/p/%s.zip" % version)))
    server.put_patch_list(qxweb.patch_list(lines))


def serve_big(server):
    serve_releases(server, BIG_RELEASES)


def big_archive_bytes(server):
    return sum(os.path.getsize(os.path.join(server.root, "p", v + ".zip")) for v in BIG_RELEASES)


def mount_tmpfs(test, folder, size):
    """A tmpfs of `size` bytes mounted on folder (created), unmounted when the test ends."""
    os.makedirs(folder, exist_ok=True)
    subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%d" % size, "tmpfs", folder], check=True)
    test.addCleanup(subprocess.run, ["umount", "-l", folder], check=False)
    return folder


def free_bytes(folder):
    st = os.statvfs(folder)
    return st.f_bavail * st.f_frsize


def leave_free(folder, free):
    """Fills the file system of folder with a file "filler" until about `free` bytes are left;
    the filler's path."""
    filler = os.path.join(folder, "filler")
    size = max(0, free_bytes(folder) - free)
    with open(filler, "wb") as f:
        f.write(b"\0" * size)
    return filler


def client_on_tmpfs(test, size, documents=None):
    """A client at 1.0.0 whose whole folder is a tmpfs of `size` bytes (on top of what the program
    itself takes)."""
    client = ClientFolder(test, version="1.0.0",
                          documents=OLD_DOCUMENTS if documents is None else documents)
    staged = client.path + ".staged"
    os.rename(client.path, staged)
    mount_tmpfs(test, client.path, size + os.path.getsize(os.path.join(staged, "qxwebhelper"))
                + 64 * PAGE)
    for name in os.listdir(staged):
        source = os.path.join(staged, name)
        if os.path.isdir(source):
            shutil.copytree(source, os.path.join(client.path, name), symlinks=True)
        else:
            shutil.copy2(source, os.path.join(client.path, name))
    shutil.rmtree(staged)
    return client


def documents_on_tmpfs(test, client, size):
    """Moves the client's Documents onto a tmpfs of `size` bytes and leaves a link in its place;
    the mount point."""
    target = tempfile.mkdtemp(prefix="qxweb-small-documents-")
    test.addCleanup(shutil.rmtree, target, True)
    mount_tmpfs(test, target, size)
    for name in os.listdir(client.file("Documents")):
        shutil.move(client.file("Documents", name), target)
    os.rmdir(client.file("Documents"))
    os.symlink(target, client.file("Documents"))
    return target


def ensure_probe_user():
    """The unprivileged user, created (without a home) when missing."""
    if subprocess.run(["id", "-u", PROBE_USER], capture_output=True).returncode != 0:
        subprocess.run(["useradd", "--system", "--no-create-home", "--shell", "/usr/sbin/nologin",
                        PROBE_USER], check=True)
    return PROBE_USER


def hand_to(client, user):
    """Gives the client folder, its prefix and its runtime folder to user (as an installation the
    user made would be)."""
    entry = pwd.getpwnam(user)
    os.chmod(client.root, 0o755)
    for dirpath, dirnames, filenames in os.walk(client.root):
        os.lchown(dirpath, entry.pw_uid, entry.pw_gid)
        for name in dirnames + filenames:
            os.lchown(os.path.join(dirpath, name), entry.pw_uid, entry.pw_gid)
