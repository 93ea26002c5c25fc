"""One scripted repair for the fault and crash tests: a client at 1.0.0 with three of its four patch
folders and a file of its own in "Documents", a server with the patch 1.0.1, and the two states
"Documents" may be in afterwards (the old one, and the one a finished repair leaves)."""

import os
import shutil
import tempfile

import qxweb
from qxweb import ClientFolder, patch_line, patch_list

IDC_STATUS = 1003
IDC_HINT = 1005

PATCH_FOLDERS = ("pkres", "subver", "patch_cache", "qatools")

# Big enough that every copy reaches the kernel's copy call more than once per folder.
CACHE = bytes(range(256)) * 256

OLD_DOCUMENTS = {
    "pkres/a.pk": b"old a",
    "pkres/sub/b.pk": b"old b",
    "subver/ver.txt": b"1.0.0",
    "patch_cache/c.bin": CACHE,
    "settings.ini": b"mine",
}

# The patch brings a folder the client lacks (qatools) and drops one it has (patch_cache).
PATCH_FILES = {
    "pkres/a.pk": b"new a",
    "pkres/n.pk": b"new n",
    "subver/ver.txt": b"1.0.1",
    "qatools/t.txt": b"tool",
}

# A finished repair: the four folders as the patch has them, everything else as it was.
NEW_DOCUMENTS = dict(PATCH_FILES, **{"settings.ini": b"mine"})

ARCHIVE_PATH = "/p/1.0.1.zip"

# Boxes as the transcript reads them back.
DOWNLOAD_FAILED = ("提示", "下载patch失败", "OK", "ok")
EXTRACT_FAILED = ("提示", "解压patch失败", "OK", "ok")
BACKUP_FAILED = ("提示", "备份原patch失败", "OK", "ok")
REMOVAL_FAILED = ("提示", "删除残留patch失败", "OK", "ok")
COPY_FAILED = ("提示", "拷贝patch失败", "OK", "ok")
MERGE_FAILED = ("提示", "合并patch失败", "OK", "ok")
PATCH_LIST_FAILED = ("提示", "获取patchList失败", "OK", "ok")
RESTORE_FAILED = "恢复原补丁失败："
REPAIRED_HINT = "修复成功！可启动游戏。"


def make_client(test):
    return ClientFolder(test, version="1.0.0", documents=OLD_DOCUMENTS)


def with_folder_entries(files):
    """The archive's entries: every file with a directory entry for each of its folders, as
    most tools write them."""
    entries = {}
    for name in sorted(files):
        parts = name.split("/")[:-1]
        for depth in range(1, len(parts) + 1):
            entries["/".join(parts[:depth]) + "/"] = None
        entries[name] = files[name]
    return entries


def serve_patch(server, files=None):
    """The patch list with 1.0.1 and its archive (PATCH_FILES unless files are given)."""
    archive = os.path.join(server.root, *ARCHIVE_PATH.strip("/").split("/"))
    qxweb.make_zip(archive, with_folder_entries(PATCH_FILES if files is None else files))
    server.put_patch_list(patch_list([patch_line("1.0.1", server.url(ARCHIVE_PATH))]))


def start_repair(client, faults=None):
    """Starts the program pressing the button once; with faults, QXWEB_FAULTS holds them."""
    env = {"QXWEB_FAULTS": ",".join(faults)} if faults else None
    return qxweb.start(client, answers=[], dialog=["press"], env=env)


def repair(client, faults=None):
    return start_repair(client, faults).finish()


def documents(client):
    return qxweb.tree(client.file("Documents"))


def tmp_patch(client):
    return qxweb.tree(client.file("TmpPatch"))


def is_stopped(run):
    """True once the program is held by SIGSTOP; fails when it ended without reaching it."""
    if run.proc.poll() is not None:
        raise AssertionError("the program ended before the fault stopped it")
    with open("/proc/%d/stat" % run.proc.pid) as f:
        stat = f.read()
    return stat[stat.rindex(")") + 2] in "Tt"


def kill_at(client, fault):
    """Starts a repair, waits until the fault (a SIGSTOP) holds it, kills it; the transcript up to
    there."""
    run = start_repair(client, [fault])
    try:
        qxweb.wait_until(lambda: is_stopped(run), what="the program to stop at " + fault)
        return run.events()
    finally:
        run.kill()


def log_text(client):
    """The diagnostic log of the client's runs ("" when none was written)."""
    path = os.path.join(client.prefix, "drive_c", "QxWebHelper.txt")
    if not os.path.exists(path):
        return ""
    with open(path, encoding="utf-8", errors="replace") as f:
        return f.read()


def move_documents(client, parent):
    """Moves the client's Documents into a new folder under `parent` and leaves a link to it in its
    place; the new folder. With `parent` on another file system (/dev/shm), no move between
    TmpPatch and Documents can be a rename."""
    target = tempfile.mkdtemp(prefix="qxweb-documents-", dir=parent)
    os.rmdir(target)
    shutil.move(client.file("Documents"), target)
    os.symlink(target, client.file("Documents"))
    return target
