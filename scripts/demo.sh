#!/usr/bin/env bash
# The main job, from a fresh Debian 12 machine: installs, builds, generates the demo patch set and a
# demo client at an old version, starts the bundled patch server on 127.0.0.1, runs qxwebhelper in the
# client (drawn on the terminal and driven by the keyboard when there is one, scripted otherwise),
# stops the server and shows what the repair changed in "Documents". The patch list is signed as a
# publisher signs it: with a minisign key the demo makes once (build/demo-key), whose public key is
# built into the program.
#
#   scripts/demo.sh [--fast] [--port N]
#     (default)  a patch set of about 7.5 MB served at 1.2 MB/s: a repair of several seconds, so the
#                bar, the stage texts, the count and the speed can be watched
#     --fast     the small patch set at full speed: the repair takes a fraction of a second
#     --port N   the patch server's port on 127.0.0.1; the program is rebuilt to fetch its patch list
#                there (the port is fixed at build time; default 28080, or the last one chosen)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

usage() { sed -n '2,/^set /{/^set /d;s/^# \{0,1\}//;p}' "$0"; }

bulk=700        # generated files more in every archive and in the client
rate=1200000    # bytes per second the server sends
port_option=()
while [ "$#" -gt 0 ]; do
  case "$1" in
    --fast) bulk=0; rate=0 ;;
    --port)
      [[ "${2:-}" =~ ^[0-9]+$ ]] && [ "$2" -ge 1 ] && [ "$2" -le 65535 ] ||
        { echo "demo: --port needs a port number (1-65535)" >&2; exit 2; }
      port_option=(-DQXWEB_PATCHLIST_HOST="127.0.0.1:$2"); shift ;;
    -h|--help) usage; exit 0 ;;
    *) usage >&2; exit 2 ;;
  esac
  shift
done

# The port is taken by another program: say which, and how to choose another.
port_taken() {
  echo >&2
  echo "demo: port $1 on 127.0.0.1 is already in use by another program, so the demo's patch" >&2
  echo "      server cannot listen there. Stop that program (ss -ltnp 'sport = :$1' names it)," >&2
  echo "      or choose another port: scripts/demo.sh --port $(($1 + 1))" >&2
  exit 1
}

port_is_free() {
  python3 -c 'import socket, sys
s = socket.socket()
try:
    s.bind(("127.0.0.1", int(sys.argv[1])))
except OSError:
    sys.exit(1)' "$1"
}

"$root/scripts/setup.sh"

# The demo publisher's key pair, without a password so that the demo signs unattended. A real
# publisher keeps the secret key offline (docs/publishing.md, "Signing the patch list").
keys="$root/build/demo-key"
if [ ! -s "$keys/demo.pub" ] || [ ! -s "$keys/demo.key" ]; then
  mkdir -p "$keys"
  minisign -G -W -f -p "$keys/demo.pub" -s "$keys/demo.key" >/dev/null
fi
public_key="$(sed -n 2p "$keys/demo.pub")"
key_id="$(sed -n '1s/.*public key //p' "$keys/demo.pub")"

# A build folder of the demo's own: the key and the port built into the demo's program must not
# reach the build the tests run.
build="$root/build/demo-program"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQXWEB_TESTS=OFF \
  -DQXWEB_BENCH=OFF "${port_option[@]}" \
  -DQXWEB_LIST_PUBLIC_KEY="$public_key" >/dev/null
host="$(sed -n 's/^QXWEB_PATCHLIST_HOST:STRING=//p' "$build/CMakeCache.txt")"
port="${host##*:}"
if [ "${host%%:*}" != "127.0.0.1" ] || ! [[ "$port" =~ ^[0-9]+$ ]]; then
  echo "demo: $build is built for the patch-list host $host; the demo needs 127.0.0.1:<port>" >&2
  echo "      (scripts/demo.sh --port 28080 sets it)" >&2
  exit 1
fi
port_is_free "$port" || port_taken "$port"
cmake --build "$build" -j "$(nproc)" --target qxwebhelper

demo="$root/build/demo"
echo "Generating the demo patch set and client (bulk: $bulk files per archive)"
python3 "$root/tools/make_demo.py" "$demo" --host "$host" --binary "$build/qxwebhelper" \
  --bulk "$bulk" --secret-key "$keys/demo.key"
echo "The patch list is signed with the demo's minisign key $key_id, whose public key is built"
echo "into the program. minisign checks the signature as a publisher would:"
minisign -V -p "$keys/demo.pub" -m "$demo/server/qx_patchlist_win32" | sed 's/^/  /'
client="$demo/client"
cp -a "$client/Documents" "$demo/Documents.before"

python3 "$root/tools/patch_server.py" --root "$demo/server" --port "$port" --rate "$rate" \
  --port-file "$demo/server.port" >"$demo/server.out" 2>"$demo/server.log" &
server=$!
trap 'kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true' EXIT
for _ in $(seq 100); do
  [ -s "$demo/server.port" ] && break
  if ! kill -0 "$server" 2>/dev/null; then
    status=0
    wait "$server" || status=$?
    [ "$status" -eq 3 ] && port_taken "$port"
    echo "demo: the patch server did not start (exit $status):" >&2
    cat "$demo/server.log" >&2
    exit 1
  fi
  sleep 0.1
done
[ -s "$demo/server.port" ] || { echo "demo: the patch server did not start in 10 s" >&2; exit 1; }
if [ "$rate" -gt 0 ]; then
  echo "The patch server sends at most $((rate / 1000)) kB/s (scripts/demo.sh --fast: full speed)."
fi

export QXWEB_PREFIX="$demo/prefix"
export QXWEB_TRANSCRIPT="$demo/transcript.jsonl"
rm -f "$QXWEB_TRANSCRIPT"
cd "$client"
if [ -t 0 ] && [ -t 1 ]; then
  echo "The dialog is drawn below: Enter presses the button, q closes it."
  sleep 1
  ./qxwebhelper
else
  # No terminal: press the repair button, then the launch button once the repair has finished.
  QXWEB_ANSWERS="" QXWEB_DIALOG="press,press" ./qxwebhelper 2>"$demo/qxwebhelper.stderr"
fi
cd "$root"

echo
python3 "$root/tools/demo_report.py" "$QXWEB_TRANSCRIPT" "$demo/Documents.before" \
  "$client/Documents"
echo
if [ -d "$client/TmpPatch" ]; then echo "TmpPatch is still there"; else echo "TmpPatch was removed"; fi
