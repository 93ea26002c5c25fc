"""The patch list as QxWebHelper reads it: its entries in the program's order, its hash lines,
and what each client version downloads. Every line the program would skip, misread or read
differently from what its writer meant is reported with its number instead of being dropped."""

import functools
import re

PATCH_LIST = "qx_patchlist_win32"
FULL_PACKAGE_VERSION = "0.0.0"
MAX_WITHOUT_LOCAL_VERSION = 8
HASH_KEY = "sha256:"
# The folders the repair builds in TmpPatch; an archive of that name would be one of them.
TMP_PATCH_FOLDERS = ("all", "orgpatch", "undone")
DEVICE_NAME = re.compile(r"(con|prn|aux|nul|conin\$|conout\$|com[0-9]|lpt[0-9]) *(\..*)?$", re.I)
# What the program's "%d.%d.%d" reads: blanks before each number, a sign, digits; the rest is
# ignored.
VERSION = re.compile(r"\s*([+-]?\d+)\.\s*([+-]?\d+)\.\s*([+-]?\d+)", re.ASCII)
PLAIN_VERSION = re.compile(r"\d+\.\d+\.\d+", re.ASCII)
ADDRESS = re.compile(r"(https?)://([^/]+)(/.*)", re.ASCII)
# Characters that stand for themselves in an address path and in a Windows file name.
PLAIN_PATH = re.compile(r"[A-Za-z0-9._~/+-]+", re.ASCII)
HEX_DIGEST = re.compile(r"[0-9A-Fa-f]{64}")


def read_version(text):
    """The three numbers the program reads from text, or None when it is not a version."""
    match = VERSION.match(text)
    return tuple(int(n) for n in match.groups()) if match else None


def compare_versions(a, b):
    """1, -1 or 0 like the program's CompareVersions: 0 also when either is not a version."""
    va, vb = read_version(a), read_version(b)
    if va is None or vb is None:
        return 0
    return (va > vb) - (va < vb)


def is_next_minor(local, package):
    va, vb = read_version(local), read_version(package)
    return va is not None and vb is not None and vb[1] == va[1] + 1


def file_name_of(url):
    """The archive's name in TmpPatch: the text after the address's last "/"."""
    return url.rsplit("/", 1)[-1]


class Entry:
    """One release or full-package line as the program records it."""

    def __init__(self, line, version, url, package_version):
        self.line = line
        self.version = version
        self.url = url
        self.package_version = package_version

    @property
    def file_name(self):
        return file_name_of(self.url)

    @property
    def path(self):
        """The archive's path on the server (and in the publisher's folder), or None."""
        match = ADDRESS.fullmatch(self.url)
        return match.group(3) if match else None

    def __repr__(self):
        return "Entry(%d, %s, %s)" % (self.line, self.version, self.url)


class HashLine:
    def __init__(self, line, name, digest):
        self.line = line
        self.name = name
        self.digest = digest.lower()


class PatchList:
    def __init__(self):
        self.entries = []  # in the program's order: by version, equal versions as listed
        self.hashes = []
        self.problems = []

    @property
    def newest(self):
        return self.entries[-1] if self.entries else None

    def cumulative_name(self):
        """The name under which the program looks for the cumulative patch, or None."""
        if not self.newest:
            return None
        return "patch%s.1.qx.all.win32" % self.newest.version.rsplit(".", 1)[0]

    def cumulative_path(self):
        """The cumulative patch's path on the server: beside the newest version's archive."""
        newest = self.newest
        if not newest or not newest.path:
            return None
        return newest.path.rsplit("/", 1)[0] + "/" + self.cumulative_name()

    def downloads(self, local):
        """The entries a client at version local (None: no findownload.dat) downloads, oldest
        first, as the program chooses them; the cumulative patch is not among them."""
        ordinary = [e for e in reversed(self.entries) if not e.package_version]
        if local is None:
            return list(reversed(ordinary[:MAX_WITHOUT_LOCAL_VERSION]))
        for entry in reversed(self.entries):
            if entry.package_version and is_next_minor(local, entry.package_version):
                return [entry]
        return list(reversed([e for e in ordinary if compare_versions(e.version, local) > 0]))

    def is_current(self, local):
        return (local is not None and self.newest is not None
                and compare_versions(self.newest.version, local) <= 0)


def read_patch_list(data):
    """The list in the bytes of the file qx_patchlist_win32."""
    result = PatchList()
    if data.startswith(b"\xef\xbb\xbf"):
        data = data[3:]  # the program drops a leading byte-order mark
    entries = []
    for number, raw in enumerate(data.split(b"\n"), start=1):
        line = raw.decode("utf-8", "replace")
        problems = line_problems(raw, line)
        line = line.strip(" \r")
        if not line:
            continue
        if line.startswith("#"):
            problems += read_header_line(number, line, result.hashes)
        else:
            entry, more = read_patch_line(number, line)
            problems += more
            if entry:
                entries.append(entry)
        result.problems += ["line %d: %s" % (number, problem) for problem in problems]
    result.entries = sorted(entries, key=functools.cmp_to_key(
        lambda a, b: compare_versions(a.version, b.version)))
    result.problems += set_problems(result)
    return result


def line_problems(raw, line):
    problems = []
    if any(byte > 0x7F for byte in raw):
        problems.append("characters outside ASCII: the program reads the list in the player's "
                        "code page (GBK on Chinese Windows)")
    if "\r" in line.rstrip("\r"):
        problems.append("a carriage return inside the line: lines end in \\n or \\r\\n")
    if any(c < " " and c != "\r" or c == "\x7f" for c in line):
        problems.append("a tab or another control character: the program separates the "
                        "tokens at blanks only")
    return problems


def read_header_line(number, line, hashes):
    """A "#" line: a comment ("#" alone or "# text"), a header "#key value", or a hash line."""
    if line == "#" or line[1] == " ":
        return []
    if " " not in line:
        return ["skipped by the program: a header line is \"#key value\"; a comment starts "
                "with \"# \""]
    key, value = line[1:].split(" ", 1)
    if not key.startswith(HASH_KEY):
        return []
    # The program splits the name from the digest at the line's last blank.
    name, _, digest = (key[len(HASH_KEY):] + " " + value).rpartition(" ")
    if not name or not HEX_DIGEST.fullmatch(digest):
        return ["a malformed hash line, which the program ignores: \"#sha256:<file name> "
                "<64 hexadecimal digits>\""]
    hashes.append(HashLine(number, name, digest))
    return []


def read_patch_line(number, line):
    """The entry the program makes of a line (None when it skips it) and the line's problems."""
    tokens = [token for token in line.split(" ") if token]
    if len(tokens) < 4:
        return None, ["skipped by the program: %d token%s; a release line needs four (version, "
                      "address, number, info), separated by blanks"
                      % (len(tokens), "" if len(tokens) == 1 else "s")]
    version, url = tokens[0], tokens[1]
    package = version == FULL_PACKAGE_VERSION
    problems = version_problems(version) + address_problems(url)
    if len(tokens) > 7:
        problems.append("%d tokens: the program ignores those after the seventh" % len(tokens))
    if package:
        if len(tokens) < 6:
            problems.append("a full-package line needs its sixth token, the package version; "
                            "without it the line is a release of version 0.0.0")
        elif not PLAIN_VERSION.fullmatch(tokens[5]):
            problems.append("the package version %r is not three numbers: no client takes "
                            "this full package" % tokens[5])
        elif read_version(tokens[5])[1] == 0:
            problems.append("no client takes the full package of %s: a client takes the one "
                            "whose middle number is its own plus one" % tokens[5])
    elif len(tokens) > 5:
        problems.append("a package version on a release line: only a line of version 0.0.0 "
                        "is a full package")
    package_version = tokens[5] if package and len(tokens) >= 6 else ""
    return Entry(number, version, url, package_version), problems


def version_problems(version):
    if PLAIN_VERSION.fullmatch(version):
        return []
    numbers = read_version(version)
    if numbers is None:
        return ["the version %r is not three numbers with dots: the program cannot place the "
                "line among the others" % version]
    if numbers == (0, 0, 0):
        return ["the version %r reads as 0.0.0, but only the exact text 0.0.0 makes a full "
                "package" % version]
    return ["the version %r reads as %d.%d.%d: write three plain numbers" % ((version,) + numbers)]


def address_problems(url):
    match = ADDRESS.fullmatch(url)
    if not match:
        return ["the address %r does not start with http:// or https://" % url]
    path = match.group(3)
    problems = []
    if not PLAIN_PATH.fullmatch(path):
        problems.append("the address %r holds characters other than letters, digits and "
                        "\"._~/+-\": the program names the downloaded file after the text as "
                        "it stands (a query or %%-escape included)" % url)
    name = file_name_of(url)
    if name in ("", ".", "..") or name.lower() in TMP_PATCH_FOLDERS:
        problems.append("the address %r does not end in a file name the program may use" % url)
    elif DEVICE_NAME.match(name) or name[-1] in ". ":
        problems.append("the file name %r cannot be made on Windows" % name)
    return problems


def set_problems(patch_list):
    """Problems of the lines together: clashing file names, hash lines given twice."""
    problems = []
    seen = {}
    cumulative = (patch_list.cumulative_name() or "").lower()
    for entry in sorted(patch_list.entries, key=lambda e: e.line):
        name = entry.file_name.lower()
        if name in seen:
            problems.append("line %d: the file name %s is also line %d's: both are downloaded "
                            "into one file" % (entry.line, entry.file_name, seen[name]))
        seen.setdefault(name, entry.line)
        if name == cumulative:
            problems.append("line %d: %s is the cumulative patch's name, which the program "
                            "fetches by itself: it is not listed" % (entry.line, entry.file_name))
    digests = {}
    for line in patch_list.hashes:
        if digests.setdefault(line.name, line).digest != line.digest:
            problems.append("line %d: a second hash line for %s, with another digest (line %d)"
                            % (line.line, line.name, digests[line.name].line))
    return problems


def starting_versions(patch_list):
    """The clients a gate tries: one without findownload.dat, then one client version for each
    distinct choice of downloads, oldest first. The candidates are each release's own version,
    the version just below it, the start of its release line and of the line before it, and the
    line before each full package's."""
    candidates = []
    for entry in reversed(patch_list.entries):
        if entry.package_version or not PLAIN_VERSION.fullmatch(entry.version):
            continue
        candidates.append(entry.version)
    for entry in reversed(patch_list.entries):
        numbers = read_version(entry.package_version or entry.version)
        if numbers is None or not PLAIN_VERSION.fullmatch(entry.package_version or
                                                           entry.version):
            continue
        major, minor, patch = numbers
        if not entry.package_version:
            candidates += ["%d.%d.%d" % (major, minor, patch - 1)] if patch else []
            candidates.append("%d.%d.0" % (major, minor))
        if minor:
            candidates.append("%d.%d.0" % (major, minor - 1))
        elif major and not entry.package_version:
            candidates.append("%d.0.0" % (major - 1))
    chosen = {}
    for version in candidates:
        if patch_list.is_current(version):
            choice = "current"
        else:
            choice = tuple(entry.line for entry in patch_list.downloads(version))
        chosen.setdefault(choice, version)
    return [None] + sorted(chosen.values(), key=read_version)
