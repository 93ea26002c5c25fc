"""The entries of a patch archive held to what the program unpacks: names it refuses (devices,
"..", colons, links), names Chinese Windows would garble (UTF-8 without the UTF-8 flag) or cannot
write, entries it cannot read, and paths outside the four patch folders."""

import re
import stat
import zipfile

from patch_set.patch_list import DEVICE_NAME

UTF8_FLAG = 0x800
ENCRYPTED_FLAG = 0x1
MADE_ON_UNIX = 3
# The archive reader's name buffer holds names shorter than this many bytes.
NAME_BUFFER = 256
READABLE_METHODS = (zipfile.ZIP_STORED, zipfile.ZIP_DEFLATED)
PATCH_FOLDERS = ("pkres", "subver", "patch_cache", "qatools")
SHOWN = 3  # names shown per kind of problem; the rest are counted
# "..", and "..." or ".. ", which Windows trims back to "..".
PARENT = re.compile(r"[. ]*\.[. ]*\.[. ]*")


def stored_name(info):
    """The name's bytes as the archive holds them."""
    if info.flag_bits & UTF8_FLAG:
        return info.orig_filename.encode("utf-8")
    return info.orig_filename.encode("cp437")  # how zipfile decoded them


def name_problem(info):
    """Why the program would refuse or garble the entry's name, or None."""
    raw = stored_name(info)
    flagged = info.flag_bits & UTF8_FLAG
    if len(raw) >= NAME_BUFFER:
        return "names of %d bytes or more, which the program refuses" % NAME_BUFFER
    if not flagged and any(byte > 0x7F for byte in raw):
        try:
            raw.decode("utf-8")
        except UnicodeDecodeError:
            return ("names in a local code page without the UTF-8 flag, right only on a system "
                    "with that code page")
        return "UTF-8 names without the UTF-8 flag, which Chinese Windows reads as GBK and garbles"
    if flagged:
        try:
            info.orig_filename.encode("gbk")
        except UnicodeEncodeError:
            return "names with characters Chinese Windows cannot write (GBK), failing the repair"
    return unsafe_name_problem(info.orig_filename)


def unsafe_name_problem(name):
    """The program's rules for a name that could write outside Documents or onto a device."""
    if not name or "\0" in name or ":" in name:
        return "names the program refuses (empty, a colon or a drive letter)"
    segments = re.split(r"[/\\]", name.rstrip("/\\"))
    if any(not segment for segment in segments):
        return "names the program refuses (absolute, or an empty segment as in a//b)"
    if any(PARENT.fullmatch(segment) for segment in segments):
        return "names the program refuses (a \"..\" segment)"
    if any(DEVICE_NAME.match(segment) for segment in segments):
        return "names the program refuses (a Windows device name such as CON, NUL or COM1)"
    if segments[0] not in PATCH_FOLDERS:
        if segments[0].lower() in PATCH_FOLDERS:
            return "paths whose patch folder differs in case from %s" % ", ".join(PATCH_FOLDERS)
        return ("paths outside the four patch folders, which land in Documents beside the "
                "player's files and are never removed again")
    return None


def entry_problem(info):
    unix_mode = info.external_attr >> 16 if info.create_system == MADE_ON_UNIX else 0
    if stat.S_ISLNK(unix_mode):
        return "symbolic links, which the program refuses"
    if info.flag_bits & ENCRYPTED_FLAG:
        return "encrypted entries, which the program cannot read"
    if info.compress_type not in READABLE_METHODS:
        return "entries compressed other than with Deflate, which the program cannot read"
    if info.file_size >= 1 << 32:
        return "entries of 4 GiB or more, which the program cannot unpack"
    return name_problem(info)


class Archive:
    """One archive's problems and the paths of its files and folders."""

    def __init__(self, label, path):
        self.label = label
        self.problems = []
        self.paths = []
        try:
            with zipfile.ZipFile(path) as archive:
                infos = archive.infolist()
        except (zipfile.BadZipFile, OSError) as error:
            self.problems.append("%s: not a ZIP archive the program can open (%s)"
                                 % (label, error))
            return
        by_kind = {}
        seen = set()
        for info in infos:
            kind = entry_problem(info)
            folded = info.filename.rstrip("/").lower()
            if kind is None and folded in seen:
                kind = "names given twice (in any case), of which Windows keeps one"
            seen.add(folded)
            if kind:
                by_kind.setdefault(kind, []).append(info.filename)
            else:
                self.paths.append(info.filename.rstrip("/"))
        for kind, names in by_kind.items():
            more = " and %d more" % (len(names) - SHOWN) if len(names) > SHOWN else ""
            self.problems.append("%s: %s: %s%s" % (label, kind, ", ".join(names[:SHOWN]), more))


def case_clashes(archives):
    """Paths of the set's archives that differ only in case: one file or folder on Windows, two
    in the trial on Linux."""
    spellings = {}
    for archive in archives:
        for path in archive.paths:
            parts = path.split("/")
            for end in range(1, len(parts) + 1):
                prefix = "/".join(parts[:end])
                spellings.setdefault(prefix.lower(), {}).setdefault(prefix, archive.label)
    problems = []
    for found in spellings.values():
        if len(found) > 1:
            problems.append("differ only in case, one path on Windows: " + ", ".join(
                "%s (%s)" % (path, label) for path, label in sorted(found.items())))
    return problems
