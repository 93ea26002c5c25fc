#!/usr/bin/env bash
# The main job, from a fresh Debian 12 machine: installs, builds, generates the demo patch set and a
# demo client at an old version, starts the bundled patch server on 127.0.0.1, runs qxwebhelper in the
# client (drawn on the terminal and driven by the keyboard when there is one, scripted otherwise),
# stops the server and shows what the repair changed in "Documents".
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

"$root/scripts/setup.sh"

build="$root/build/release"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target qxwebhelper
host="$(sed -n 's/^QXWEB_PATCHLIST_HOST:STRING=//p' "$build/CMakeCache.txt")"
port="${host##*:}"

demo="$root/build/demo"
python3 "$root/tools/make_demo.py" "$demo" --host "$host" --binary "$build/qxwebhelper"
client="$demo/client"
cp -a "$client/Documents" "$demo/Documents.before"

python3 "$root/tools/patch_server.py" --root "$demo/server" --port "$port" \
  >"$demo/server.log" 2>&1 &
server=$!
trap 'kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true' EXIT
for _ in $(seq 50); do
  curl -fs -o /dev/null "http://$host/qx_patchlist_win32" && break
  sleep 0.1
done

export QXWEB_PREFIX="$demo/prefix"
export QXWEB_TRANSCRIPT="$demo/transcript.jsonl"
rm -f "$QXWEB_TRANSCRIPT"
cd "$client"
if [ -t 0 ] && [ -t 1 ]; then
  echo "The dialog is drawn below: Enter presses the button, q closes it."
  ./qxwebhelper
else
  # No terminal: press the repair button, then the launch button once the repair has finished.
  QXWEB_ANSWERS="" QXWEB_DIALOG="press,press" ./qxwebhelper 2>"$demo/qxwebhelper.stderr"
fi
cd "$root"

echo
echo "== What the user saw (transcript: $QXWEB_TRANSCRIPT) =="
python3 - "$QXWEB_TRANSCRIPT" <<'PY'
import json, sys
for line in open(sys.argv[1], encoding="utf-8"):
    e = json.loads(line)
    kind = e["event"]
    if kind == "box":
        print("message box  [%s] %s -> %s" % (e["caption"], e["text"], e["answer"]))
    elif kind == "dialog":
        print("dialog %-5s %s" % (e["action"], e["caption"]))
    elif kind == "control" and "text" in e and e["text"]:
        print("control %d    %s" % (e["id"], e["text"]))
    elif kind == "exec":
        print("started      %s (ok=%s)" % (e["file"], e["ok"]))
PY
echo
echo "== What changed in Documents =="
python3 - "$demo/Documents.before" "$client/Documents" <<'PY'
import os, sys
def files(root):
    out = {}
    for folder, _, names in os.walk(root):
        for name in names:
            path = os.path.join(folder, name)
            with open(path, "rb") as f:
                out[os.path.relpath(path, root)] = f.read()
    return out
before, after = files(sys.argv[1]), files(sys.argv[2])
for path in sorted(set(before) | set(after)):
    if path not in after:
        print("removed  " + path)
    elif path not in before:
        print("added    " + path)
    elif before[path] != after[path]:
        print("changed  %s: %r -> %r" % (path, before[path][:40].decode("utf-8", "replace"),
                                        after[path][:40].decode("utf-8", "replace")))
    else:
        print("kept     " + path)
PY
echo
if [ -d "$client/TmpPatch" ]; then echo "TmpPatch is still there"; else echo "TmpPatch was removed"; fi
