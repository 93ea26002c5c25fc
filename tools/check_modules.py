#!/usr/bin/env python3
"""Holds the product's folders to the module graph that CMake declares.

Every folder of src/ is one library (qx_module in CMakeLists.txt) that links the modules below
it. Each module exposes the whole of src/ to the compiler, so an include of a folder the module
does not link still compiles; this check catches it, and a circle between modules. It reads the
module map that CMake writes into the build folder (one line per module: name, folder, linked
modules, sources; lists separated by ";") and the sources themselves, and checks that:

- the modules' edges form no circle;
- every #include "..." of a product file names a header of its own module or of a module it
  reaches through its edges;
- every .cpp file under src/ is built by a module or the program;
- the calls that belong to one part of the program appear nowhere else (as curl's source checker
  bans functions): message boxes only in ui/ and app/, posting to the dialog only from the one
  file that reports a repair to it, and libcurl only in net/. The layer (src/platform/) that
  implements them is not checked.
- no product file outside src/platform/ calls a narrow file-system function (fopen, _mkdir,
  CreateFileA...): a path converted to the ANSI code page loses every character the code page
  lacks, so paths stay wide up to the system call.

Usage: check_modules.py BUILD/qx_modules.txt SOURCE_DIR [--print]
With --print it also prints the module graph's edges, one module a line.
"""

import argparse
import os
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)

# A name the product may only use in the listed files or folders, and why.
CALL_RULES = [
    (re.compile(r"\bMessageBoxW\b"), ("src/ui/", "src/app/"),
     "message boxes are shown by the dialog's module and the entry only"),
    (re.compile(r"\bPostMessageW\b"), ("src/ui/repair_reports.cpp",),
     "the dialog hears of a repair from one place"),
    (re.compile(r"\bcurl_\w+\s*\("), ("src/net/",),
     "libcurl is the network layer's alone"),
]
# File-system functions that take a narrow path (the ANSI code page on Windows). The wide ones
# (_wfopen, _wmkdir, CreateFileW...) take their place; minizip opens archives only through the
# reader's own wide file functions.
NARROW_FILE_CALLS = (
    "fopen", "fopen_s", "freopen", "_fsopen", "_open", "_sopen", "_creat", "_mkdir", "mkdir",
    "_rmdir", "rmdir", "remove", "rename", "_unlink", "unlink", "_access", "access", "_stat",
    "_stat64", "stat", "_chmod", "_findfirst", "_findfirst64", "opendir", "_chdir", "_fullpath",
    "CreateFileA", "CreateDirectoryA", "RemoveDirectoryA", "DeleteFileA", "CopyFileA",
    "MoveFileA", "MoveFileExA", "GetFileAttributesA", "GetFileAttributesExA",
    "SetFileAttributesA", "FindFirstFileA", "FindFirstFileExA", "GetDiskFreeSpaceExA",
    "GetFullPathNameA", "LoadLibraryA", "ShellExecuteA", "ShellExecuteExA", "unzOpen",
    "unzOpen64",
)
# A call of one of them (not a member of the same name, nor std::remove of <algorithm>), or a
# file stream of the standard library, whose paths are narrow on Windows.
NARROW_FILE_CALL = re.compile(
    r"(?<![\w.>:~])(" + "|".join(NARROW_FILE_CALLS) + r")\s*\(|"
    r"\b(?:std::)?(ifstream|ofstream|fstream)\b|\bstd::(fopen|freopen|rename)\s*\(")
# Comments, and string and character literals, whose text is no call.
NOT_CODE = re.compile(r'//[^\n]*|/\*.*?\*/|"(?:\\.|[^"\\\n])*"|\'(?:\\.|[^\'\\\n])*\'',
                      re.DOTALL)


def read_map(path):
    modules = {}
    program_sources = set()
    with open(path, encoding="utf-8") as f:
        for line in f.read().splitlines():
            if not line.strip():
                continue
            name, folder, links, sources = (line.split("\t") + ["", "", ""])[:4]
            sources = {s for s in sources.split(";") if s and not s.endswith("NOTFOUND")}
            if not folder:
                program_sources |= sources
                continue
            modules[name] = {
                "folder": folder.rstrip("/"),
                "links": [l for l in links.split(";") if l],
                "sources": sources,
            }
    return modules, program_sources


def find_circle(modules):
    """A list of modules forming a circle, or None."""
    state = {}

    def visit(name, path):
        state[name] = "open"
        for dep in modules[name]["links"]:
            if dep not in modules:
                continue
            if state.get(dep) == "open":
                return path[path.index(dep):] + [dep]
            if dep not in state:
                circle = visit(dep, path + [dep])
                if circle:
                    return circle
        state[name] = "done"
        return None

    for name in sorted(modules):
        if name not in state:
            circle = visit(name, [name])
            if circle:
                return circle
    return None


def reachable(modules, name):
    seen = set()
    stack = [name]
    while stack:
        current = stack.pop()
        if current in seen or current not in modules:
            continue
        seen.add(current)
        stack.extend(modules[current]["links"])
    return seen


def module_of(modules, relative_path):
    """The module whose folder holds the file most closely, or None."""
    holders = [n for n, m in modules.items() if relative_path.startswith(m["folder"] + "/")]
    return max(holders, key=lambda n: len(modules[n]["folder"]), default=None)


def product_files(source_dir):
    for root, _, files in os.walk(os.path.join(source_dir, "src")):
        for file in files:
            if file.endswith((".cpp", ".h")):
                yield os.path.relpath(os.path.join(root, file), source_dir)


def resolve_include(source_dir, including_file, target):
    """The included file relative to source_dir: beside the including file, else below src/."""
    beside = os.path.normpath(os.path.join(os.path.dirname(including_file), target))
    if os.path.exists(os.path.join(source_dir, beside)):
        return beside
    below_src = os.path.normpath(os.path.join("src", target))
    if os.path.exists(os.path.join(source_dir, below_src)):
        return below_src
    return None


def call_problems(path, text):
    """The uses of names that the file may not use."""
    if path.startswith("src/platform/"):
        return []
    code = NOT_CODE.sub(" ", text)
    problems = []
    for pattern, allowed, reason in CALL_RULES:
        if pattern.search(code) and not path.startswith(allowed):
            name = pattern.search(code).group(0).rstrip("( ")
            problems.append(f"{path}: uses {name}: {reason}")
    return problems


def check(modules, program_sources, source_dir):
    problems = []
    circle = find_circle(modules)
    if circle:
        problems.append("modules form a circle: " + " -> ".join(circle))
    built = set(program_sources)
    for module in modules.values():
        built |= module["sources"]
    for path in sorted(product_files(source_dir)):
        own = module_of(modules, path)
        if own is None:
            problems.append(f"{path}: in no module's folder")
            continue
        if path.endswith(".cpp") and path not in built:
            problems.append(f"{path}: built by no module")
        allowed = reachable(modules, own)
        with open(os.path.join(source_dir, path), encoding="utf-8") as f:
            text = f.read()
        problems.extend(call_problems(path, text))
        for target in INCLUDE.findall(text):
            included = resolve_include(source_dir, path, target)
            if included is None:
                continue  # outside the product (the resource stand-in's "dialog.h")
            other = module_of(modules, included)
            if other is not None and other not in allowed:
                problems.append(f"{path}: includes {target} of {other}, which {own} does not link")
    return problems


def narrow_file_calls(source_dir):
    """Every call of a narrow file-system function in product code outside the platform layer."""
    problems = []
    for path in sorted(product_files(source_dir)):
        if path.startswith(os.path.join("src", "platform") + os.sep):
            continue
        with open(os.path.join(source_dir, path), encoding="utf-8") as f:
            code = NOT_CODE.sub(lambda m: "\n" * m.group(0).count("\n"), f.read())
        for number, line in enumerate(code.splitlines(), start=1):
            for match in NARROW_FILE_CALL.finditer(line):
                name = next(group for group in match.groups() if group)
                problems.append(f"{path}:{number}: calls {name} with a narrow path; use its "
                                "wide form")
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("module_map")
    parser.add_argument("source_dir")
    parser.add_argument("--print", action="store_true", help="print the module graph's edges")
    args = parser.parse_args()

    modules, program_sources = read_map(args.module_map)
    if args.print:
        for name in sorted(modules, key=lambda n: len(reachable(modules, n))):
            links = [l for l in modules[name]["links"] if l in modules]
            print(f"{name} -> {', '.join(links) if links else '(none)'}")
    problems = check(modules, program_sources, args.source_dir)
    problems += narrow_file_calls(args.source_dir)
    for problem in problems:
        print(problem)
    if problems:
        return 1
    print(f"{len(modules)} modules, no circle, every include follows the modules' edges, "
          "every call is in its part, no narrow file call")
    return 0


if __name__ == "__main__":
    sys.exit(main())
