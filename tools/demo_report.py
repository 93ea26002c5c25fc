#!/usr/bin/env python3
"""What the demo shows once the program has ended: what the user saw (the message boxes, the
dialog's texts and the programs started, from the program's transcript) and what the repair
changed in "Documents". A folder whose files all changed the same way is one line with a count,
so that the demo's generated map tiles do not flood the terminal.

Usage: demo_report.py TRANSCRIPT DOCUMENTS_BEFORE DOCUMENTS_AFTER
"""
import argparse
import json
import os

IDC_DOWNLOAD_SPEED = 1008
# A folder with more files than this that all changed the same way is shown as one line.
FOLDED = 5


def events(path):
    """The transcript's events, in order; none when the program left no transcript."""
    if not os.path.exists(path):
        return []
    with open(path, encoding="utf-8") as f:
        return [json.loads(line) for line in f if line.strip()]


def print_transcript(path):
    speeds = []
    for event in events(path):
        kind = event["event"]
        if kind == "box":
            print("message box  [%s] %s -> %s" % (event["caption"], event["text"], event["answer"]))
        elif kind == "dialog":
            print("dialog %-5s %s" % (event["action"], event["caption"]))
        elif kind == "control" and event["id"] == IDC_DOWNLOAD_SPEED:
            speeds += [event["text"]] if event.get("text") else []
        elif kind == "control" and event.get("text"):
            print("control %d    %s" % (event["id"], event["text"]))
        elif kind == "exec":
            print("started      %s (ok=%s)" % (event["file"], event["ok"]))
    if speeds:
        print("speed        shown %d times: %s" % (len(speeds), ", ".join(speeds[-3:])))


def files(root):
    """Every file under root as {relative path with "/": bytes}."""
    out = {}
    for folder, _, names in os.walk(root):
        for name in names:
            path = os.path.join(folder, name)
            with open(path, "rb") as f:
                out[os.path.relpath(path, root).replace(os.sep, "/")] = f.read()
    return out


def changes(before, after):
    """(status, path, detail) for every file, in path order."""
    for path in sorted(set(before) | set(after)):
        if path not in after:
            yield "removed", path, ""
        elif path not in before:
            yield "added", path, ""
        elif before[path] != after[path]:
            yield "changed", path, ": %r -> %r" % (before[path][:40].decode("utf-8", "replace"),
                                                  after[path][:40].decode("utf-8", "replace"))
        else:
            yield "kept", path, ""


def print_changes(before_root, after_root):
    print_file_changes(files(before_root), files(after_root))


def print_file_changes(before, after):
    """The changes between two {path: bytes} trees, a folder of like changes folded."""
    rows = list(changes(before, after))
    by_folder = {}
    for status, path, _ in rows:
        by_folder.setdefault(os.path.dirname(path), set()).add(status)
    counts = {}
    for status, path, _ in rows:
        counts[os.path.dirname(path)] = counts.get(os.path.dirname(path), 0) + 1
    shown = set()
    for status, path, detail in rows:
        folder = os.path.dirname(path)
        if counts[folder] > FOLDED and len(by_folder[folder]) == 1:
            if folder not in shown:
                shown.add(folder)
                print("%-8s %s/ (%d files)" % (status, folder, counts[folder]))
            continue
        print("%-8s %s%s" % (status, path, detail))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("transcript")
    parser.add_argument("before")
    parser.add_argument("after")
    args = parser.parse_args()
    print("== What the user saw (transcript: %s) ==" % args.transcript)
    print_transcript(args.transcript)
    print()
    print("== What changed in Documents ==")
    print_changes(args.before, args.after)


if __name__ == "__main__":
    main()
