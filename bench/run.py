#!/usr/bin/env python3
"""Benchmarks the program's heavy operations against the peer tools on the same data and server.

Prints, per target, the median wall time of RUNS runs of ours and of the peer, and their ratio:
  download   DownloadToFile of a 256 MiB archive vs `curl -s -o` (throughput ratio, want >= 0.95)
  extract    ExtractArchive of 2,000 files / 200 MiB vs `unzip -q -o` (time ratio, want <= 1.0)
  copytree   CopyTree of 5,000 files / 200 MiB vs `cp -r` (time ratio, want <= 1.1)
  repair     a whole scripted repair of five archives / 200 MiB vs curl + unzip + cp -r (<= 1.1)
  memory     peak resident memory of that repair vs the largest entry + 64 MiB
  zip64      (only when asked for: --only zip64) ExtractArchive of a 4.3 GiB zip64 archive (66
             entries of 64 MiB, then small ones whose offsets lie past 4 GiB) vs `unzip -q -o`:
             time and peak resident memory of each; needs about 13 GiB of free disk

Usage: run.py --build BUILD_DIR [--work DIR] [--runs N] [--only TARGETS]
The build must hold qxwebhelper and qxbench, and its QXWEB_PATCHLIST_HOST must be a free
127.0.0.1 port: the repair run talks to the server there.
"""
import argparse
import json
import os
import random
import shutil
import statistics
import subprocess
import sys
import time
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
TOOLS = os.path.join(os.path.dirname(HERE), "tools")
MIB = 1024 * 1024


def text_like(size, rng):
    words = [b"patch", b"client", b"zorvan", b"resource", b"texture", b"0123", b"\n", b"map"]
    out = bytearray()
    while len(out) < size:
        out += rng.choice(words) + b" "
    return bytes(out[:size])


def make_files(count, total, rng, empty_every=3, random_every=3):
    """count (name, data) pairs totalling about `total` bytes: text-like, random and empty files."""
    sizes = total // (count - count // empty_every)
    files = []
    for i in range(count):
        folder = "dir%02d/sub%d" % (i % 20, i % 3)
        if i % empty_every == 0:
            data = b""
        elif i % random_every == 1:
            data = os.urandom(sizes)
        else:
            data = text_like(sizes, rng)
        files.append(("%s/file%05d.dat" % (folder, i), data))
    return files


def write_zip(path, files):
    folders = set()
    for name, _ in files:
        parts = name.split("/")[:-1]
        for i in range(1, len(parts) + 1):
            folders.add("/".join(parts[:i]) + "/")
    with zipfile.ZipFile(path, "w", compression=zipfile.ZIP_DEFLATED, compresslevel=6) as z:
        for folder in sorted(folders):
            z.writestr(zipfile.ZipInfo(folder), b"")
        for name, data in files:
            z.writestr(name, data)


def write_tree(root, files):
    for name, data in files:
        path = os.path.join(root, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)


def timed(cmd, **kwargs):
    start = time.perf_counter()
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, **kwargs)
    return time.perf_counter() - start


def compare(runs, prepare, ours, peer):
    """Medians of ours and the peer, run alternately so that both see the same machine load."""
    ours_times, peer_times = [], []
    for _ in range(runs):
        prepare()
        ours_times.append(ours())
        prepare()
        peer_times.append(peer())
    return statistics.median(ours_times), statistics.median(peer_times)


def fresh(path):
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)


class Server:
    def __init__(self, root, port):
        self.proc = subprocess.Popen(
            [sys.executable, os.path.join(TOOLS, "patch_server.py"), "--root", root, "--port",
             str(port)], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        url = "http://127.0.0.1:%d/" % port
        for _ in range(100):
            if subprocess.run(["curl", "-s", "-o", "/dev/null", url]).returncode == 0:
                return
            time.sleep(0.1)
        raise RuntimeError("the patch server did not start")

    def stop(self):
        self.proc.terminate()
        self.proc.wait()


def report(name, ours, peer, ratio, target, better):
    ok = ratio >= target if better == "higher" else ratio <= target
    print("%-9s ours %8.3f s   peer %8.3f s   ratio %.3f   target %s %.2f   %s" %
          (name, ours, peer, ratio, ">=" if better == "higher" else "<=", target,
           "met" if ok else "MISSED"))


def bench_download(args, work, port):
    url = "http://127.0.0.1:%d/big.bin" % port
    client = os.path.join(work, "dl_client")
    out = os.path.join(work, "dl_curl.bin")

    def prepare():
        fresh(os.path.join(client, "TmpPatch"))
        if os.path.exists(out):
            os.remove(out)

    ours, peer = compare(args.runs, prepare,
                         lambda: timed([args.qxbench, "download", url, client, "big.bin"]),
                         lambda: timed(["curl", "-s", "-o", out, url]))
    report("download", ours, peer, peer / ours, 0.95, "higher")


def bench_extract(args, work, archive):
    dest = os.path.join(work, "x_dest")
    ours, peer = compare(args.runs, lambda: fresh(dest),
                         lambda: timed([args.qxbench, "extract", archive, dest]),
                         lambda: timed(["unzip", "-q", "-o", archive, "-d", dest]))
    report("extract", ours, peer, ours / peer, 1.0, "lower")


def bench_copytree(args, work, tree):
    dest = os.path.join(work, "c_dest")

    def prepare():
        shutil.rmtree(dest, ignore_errors=True)

    ours, peer = compare(args.runs, prepare,
                         lambda: timed([args.qxbench, "copytree", tree, dest]),
                         lambda: timed(["cp", "-r", tree, dest]))
    report("copytree", ours, peer, ours / peer, 1.1, "lower")


def write_zip64(path, rng):
    """More than 4 GiB: 66 stored entries of 64 MiB (one random block, each copy marked apart),
    then deflated and stored small files whose local headers lie past 4 GiB, so the archive needs
    zip64 offsets and records. Returns {name: size}."""
    block = bytearray(os.urandom(64 * MIB))
    sizes = {}
    with zipfile.ZipFile(path, "w", allowZip64=True) as z:
        for i in range(66):
            block[:8] = b"%08d" % i
            name = "pkres/大文件/part%02d.bin" % i
            z.writestr(zipfile.ZipInfo(name), bytes(block), compress_type=zipfile.ZIP_STORED)
            sizes[name] = len(block)
        for i in range(20):
            name = "pkres/尾部/tail%02d.txt" % i
            data = text_like(rng.randrange(1000, 200000), rng)
            method = zipfile.ZIP_DEFLATED if i % 2 else zipfile.ZIP_STORED
            z.writestr(name, data, compress_type=method)
            sizes[name] = len(data)
    return sizes


def run_measured(cmd):
    """Wall time and peak resident memory (VmHWM) of one run of cmd."""
    start = time.perf_counter()
    proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    peak = 0
    while proc.poll() is None:
        peak = max(peak, high_water_mark(proc.pid))
        time.sleep(0.01)
    elapsed = time.perf_counter() - start
    if proc.returncode != 0:
        raise RuntimeError("%s failed with %d" % (cmd[0], proc.returncode))
    return elapsed, peak


def extracted_sizes(root):
    return {os.path.relpath(os.path.join(folder, name), root): os.path.getsize(
        os.path.join(folder, name)) for folder, _, names in os.walk(root) for name in names}


def bench_zip64(args, work, rng):
    archive = os.path.join(work, "big64.zip")
    sizes = write_zip64(archive, rng)
    dest = os.path.join(work, "z_dest")
    print("zip64     archive %.2f GiB, %d entries, largest entry %d MiB" %
          (os.path.getsize(archive) / 1024 ** 3, len(sizes), max(sizes.values()) // MIB))
    results = {"ours": [], "unzip": []}
    for _ in range(args.runs):
        for who, cmd in (("ours", [args.qxbench, "extract", archive, dest]),
                         ("unzip", ["unzip", "-q", "-o", archive, "-d", dest])):
            fresh(dest)
            results[who].append(run_measured(cmd))
            if extracted_sizes(dest) != sizes:
                raise RuntimeError("%s did not extract the zip64 archive whole" % who)
    shutil.rmtree(dest, ignore_errors=True)
    for who, runs in results.items():
        print("zip64     %-5s %8.3f s   peak %7.1f MiB" %
              (who, statistics.median(t for t, _ in runs),
               statistics.median(p for _, p in runs) / MIB))


def make_repair_set(root, port, rng):
    """Five archives of about 40 MiB each into the client's patch folders, and their patch list."""
    patches = os.path.join(root, "server", "patches")
    os.makedirs(patches)
    lines, largest = [], 0
    for n in range(1, 6):
        files = []
        for i in range(300):
            size = rng.randrange(40 * 1024, 240 * 1024)
            data = os.urandom(size) if i % 2 else text_like(size, rng)
            largest = max(largest, size)
            files.append(("%s/v%d/f%04d.bin" % (["pkres", "subver", "patch_cache", "qatools"][i % 4],
                                                 n, i), data))
        write_zip(os.path.join(patches, "p1.0.%d.zip" % n), files)
        lines.append("1.0.%d http://127.0.0.1:%d/patches/p1.0.%d.zip %d x" % (n, port, n, n))
    with open(os.path.join(root, "server", "qx_patchlist_win32"), "w") as f:
        f.write("\n".join(lines) + "\n")
    return largest


def make_client(root, binary):
    fresh(root)
    shutil.copy2(binary, os.path.join(root, "qxwebhelper"))
    for name, data in (("vazazu.exe", b"#!/bin/sh\n"), ("vazazu.dll", b"x"),
                       ("findownload.dat", b"1.0.0")):
        with open(os.path.join(root, name), "wb") as f:
            f.write(data)
    os.chmod(os.path.join(root, "vazazu.exe"), 0o755)
    os.makedirs(os.path.join(root, "Documents", "pkres"))


def high_water_mark(pid):
    """Peak resident memory of the running program (VmHWM), in bytes; 0 once it is gone.
    Read from /proc rather than from wait4, whose figure includes the forked interpreter's
    memory from before the program was executed."""
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1]) * 1024
    except OSError:
        pass
    return 0


def run_repair(root, prefix):
    env = dict(os.environ, QXWEB_PREFIX=prefix, QXWEB_DIALOG="press", QXWEB_ANSWERS="",
               XDG_RUNTIME_DIR=prefix, QXWEB_TRANSCRIPT=os.path.join(prefix, "t.jsonl"))
    start = time.perf_counter()
    proc = subprocess.Popen([os.path.join(root, "qxwebhelper")], cwd=root, env=env,
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    peak = 0
    while proc.poll() is None:
        peak = max(peak, high_water_mark(proc.pid))
        time.sleep(0.02)
    elapsed = time.perf_counter() - start
    with open(env["QXWEB_TRANSCRIPT"], encoding="utf-8") as f:
        if "修复成功！可启动游戏。" not in f.read():
            raise RuntimeError("the benchmark repair did not succeed")
    return elapsed, peak


def bench_repair(args, work, port, rng):
    root = os.path.join(work, "repair")
    largest = make_repair_set(root, port, rng)
    server_root = os.path.join(root, "server")
    client = os.path.join(work, "r_client")
    prefix = os.path.join(work, "r_prefix")
    peaks = []

    def ours_once():
        elapsed, peak = run_repair(client, prefix)
        peaks.append(peak)
        return elapsed

    def peer_once():
        tmp = os.path.join(work, "r_peer")
        fresh(tmp)
        start = time.perf_counter()
        for n in range(1, 6):
            archive = os.path.join(tmp, "p1.0.%d.zip" % n)
            subprocess.run(["curl", "-s", "-o", archive,
                            "http://127.0.0.1:%d/patches/p1.0.%d.zip" % (port, n)], check=True)
            subprocess.run(["unzip", "-q", "-o", archive, "-d", os.path.join(tmp, "1.0.%d" % n)],
                           check=True)
            subprocess.run(["cp", "-r", os.path.join(tmp, "1.0.%d" % n, "."),
                            os.path.join(tmp, "All")], check=True)
        subprocess.run(["cp", "-r", os.path.join(tmp, "All", "."),
                        os.path.join(client, "Documents")], check=True)
        return time.perf_counter() - start

    server = Server(server_root, port)
    try:
        ours, peer = compare(args.runs, lambda: (make_client(client, args.binary), fresh(prefix)),
                             ours_once, peer_once)
    finally:
        server.stop()
    report("repair", ours, peer, ours / peer, 1.1, "lower")
    peak = statistics.median(peaks)
    limit = largest + 64 * MIB
    print("memory    peak %.1f MiB   limit (largest entry %.2f MiB + 64 MiB) %.1f MiB   %s" %
          (peak / MIB, largest / MIB, limit / MIB, "met" if peak < limit else "MISSED"))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", required=True)
    parser.add_argument("--work", default="/tmp/qxweb-bench")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--only", help="comma-separated subset: download,extract,copytree,repair"
                        " (the default), zip64")
    args = parser.parse_args()
    args.qxbench = os.path.join(args.build, "bench", "qxbench")
    args.binary = os.path.join(args.build, "qxwebhelper")
    with open(os.path.join(args.build, "CMakeCache.txt")) as f:
        host = next(l.split("=", 1)[1].strip() for l in f
                    if l.startswith("QXWEB_PATCHLIST_HOST:"))
    port = int(host.rsplit(":", 1)[1])
    only = set((args.only or "download,extract,copytree,repair").split(","))
    rng = random.Random(7)
    work = args.work
    fresh(work)

    print("median of %d runs each; peers measured in the same run on the same data" % args.runs)
    if {"download", "extract"} & only:
        data = os.path.join(work, "data")
        os.makedirs(data)
        with open(os.path.join(data, "big.bin"), "wb") as f:
            for _ in range(256):
                f.write(os.urandom(MIB))
        if "download" in only:
            server = Server(data, port)
            try:
                bench_download(args, work, port)
            finally:
                server.stop()
        if "extract" in only:
            archive = os.path.join(work, "mixed.zip")
            write_zip(archive, make_files(2000, 200 * MIB, rng))
            bench_extract(args, work, archive)
    if "copytree" in only:
        tree = os.path.join(work, "tree")
        write_tree(tree, make_files(5000, 200 * MIB, rng, empty_every=10**9))
        bench_copytree(args, work, tree)
    if "repair" in only:
        bench_repair(args, work, port, rng)
    if "zip64" in only:
        bench_zip64(args, work, rng)
    shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
