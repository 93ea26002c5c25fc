#!/usr/bin/env python3
"""Benchmarks the program's heavy operations against the peer tools on the same data and server.

Prints, per target, the median wall time of RUNS runs of ours and of the peer, and their ratio:
  download   DownloadToFile of a 256 MiB archive vs `curl -s -o` (throughput ratio, want >= 0.95)
  extract    ExtractArchive of 2,000 files / 200 MiB vs `unzip -q -o` (time ratio, want <= 1.0)
  copytree   CopyTree of 5,000 files / 200 MiB vs `cp -r` (time ratio, want <= 1.1)
  repair     a whole scripted repair of five archives / 200 MiB vs curl + unzip alone (<= 0.9),
             and the same repair with its flushes made no-ops (eatmydata) in the same run: what
             the flushes cost; and how many flushes one repair makes (counted with strace)
  memory     peak resident memory of that repair vs the largest entry + 64 MiB
  entry      peak resident memory of ExtractArchive on one entry of 2 GiB beside one of 1 MiB:
             entries are streamed, so both stay under 64 MiB plus a small constant
  scaling    the same small repair (two small files) on clients holding 0, 1 and 4 GiB in their
             patch folders: time and the bytes the repair process wrote (the kernel's count,
             getrusage's block outputs); the extra bytes for a client's data want < 5 % of it.
             --baseline BINARY measures another build of the program beside ours in the same run.
  zip64      (only when asked for: --only zip64) ExtractArchive of a 4.3 GiB zip64 archive (66
             entries of 64 MiB, then small ones whose offsets lie past 4 GiB) vs `unzip -q -o`:
             time and peak resident memory of each; needs about 13 GiB of free disk

Usage: run.py --build BUILD_DIR [--work DIR] [--runs N] [--only TARGETS] [--baseline BINARY]
The build must hold qxwebhelper and qxbench, and its QXWEB_PATCHLIST_HOST must be a free
127.0.0.1 port: the repair run talks to the server there.
"""
import argparse
import json
import os
import random
import shutil
import statistics
import struct
import subprocess
import sys
import time
import zipfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
TOOLS = os.path.join(os.path.dirname(HERE), "tools")
sys.path.insert(0, TOOLS)
from one_entry_zip import write_one_entry_zip  # noqa: E402  (a large entry in a second)
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


def compare(runs, prepare, ours, peer, *others):
    """Medians of ours, the peer and any others, run in turn so that all see the same machine
    load."""
    times = [[] for _ in (ours, peer) + others]
    for _ in range(runs):
        for measure, kept in zip((ours, peer) + others, times):
            prepare()
            kept.append(measure())
    return tuple(statistics.median(kept) for kept in times)


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


def bench_entry_memory(args, work):
    """Peak memory of unpacking one small and one 2 GiB entry, and the time of each, as qxbench
    measures them itself (a run of a few milliseconds ends before a sampler sees its peak)."""
    results = []
    for size in (MIB, 2048 * MIB):
        archive = os.path.join(work, "entry%d.zip" % (size // MIB))
        dest = os.path.join(work, "e_dest")
        write_one_entry_zip(archive, size)
        runs = []
        for _ in range(args.runs):
            fresh(dest)
            out = subprocess.run([args.qxbench, "extract", archive, dest], check=True,
                                 stdout=subprocess.PIPE, text=True).stdout.split()
            runs.append((float(out[0]), int(out[1])))
            if os.path.getsize(os.path.join(dest, "entry.bin")) != size:
                raise RuntimeError("the %d MiB entry was not extracted whole" % (size // MIB))
        shutil.rmtree(dest, ignore_errors=True)
        os.remove(archive)
        results.append((size, statistics.median(t for t, _ in runs),
                        statistics.median(p for _, p in runs)))
    for size, elapsed, peak in results:
        print("entry     %5d MiB entry   %8.3f s   peak %6.1f MiB" %
              (size // MIB, elapsed, peak / MIB))
    growth = results[-1][2] - results[0][2]
    print("entry     peak grows by %.1f MiB from 1 MiB to 2 GiB; bound 64 MiB + a small constant: %s"
          % (round(growth / MIB, 1) + 0.0,
             "met" if results[-1][2] < 64 * MIB + results[0][2] else "MISSED"))


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


def run_repair(root, prefix, wrapper=()):
    """One scripted repair: its wall time, peak memory and the bytes it wrote. The program is
    reaped with wait4, whose block outputs are the kernel's count of what it wrote (charged when a
    page is dirtied, so a rename counts nothing and a copy counts every byte). `wrapper` is a
    command the program runs under (eatmydata, strace)."""
    env = dict(os.environ, QXWEB_PREFIX=prefix, QXWEB_DIALOG="press", QXWEB_ANSWERS="",
               XDG_RUNTIME_DIR=prefix, QXWEB_TRANSCRIPT=os.path.join(prefix, "t.jsonl"))
    start = time.perf_counter()
    proc = subprocess.Popen(list(wrapper) + [os.path.join(root, "qxwebhelper")], cwd=root, env=env,
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    peak = 0
    while True:
        pid, status, usage = os.wait4(proc.pid, os.WNOHANG)
        if pid != 0:
            break
        peak = max(peak, high_water_mark(proc.pid))
        time.sleep(0.005)
    elapsed = time.perf_counter() - start
    proc.returncode = os.waitstatus_to_exitcode(status)
    with open(env["QXWEB_TRANSCRIPT"], encoding="utf-8") as f:
        if "修复成功！可启动游戏。" not in f.read():
            raise RuntimeError("the benchmark repair did not succeed")
    os.remove(env["QXWEB_TRANSCRIPT"])
    return elapsed, peak, usage.ru_oublock * 512


def count_flushes(client, prefix, trace):
    """The flushes of one repair, from strace's count of the program's fsync and syncfs calls."""
    run_repair(client, prefix, ["strace", "-f", "-c", "-o", trace, "-e", "trace=fsync,syncfs"])
    counts = {}
    with open(trace) as f:
        for line in f:
            fields = line.split()
            if fields and fields[-1] in ("fsync", "syncfs"):
                # "% time seconds usecs/call calls [errors] syscall": calls is the 4th field.
                counts[fields[-1]] = int(fields[3])
    return "%d fsync, %d syncfs" % (counts.get("fsync", 0), counts.get("syncfs", 0))


def bench_repair(args, work, port, rng):
    root = os.path.join(work, "repair")
    largest = make_repair_set(root, port, rng)
    server_root = os.path.join(root, "server")
    client = os.path.join(work, "r_client")
    prefix = os.path.join(work, "r_prefix")
    peaks = []

    def ours_once():
        elapsed, peak, _ = run_repair(client, prefix)
        peaks.append(peak)
        return elapsed

    # The peer fetches and unpacks the same archives; the merge and the install are moves for us,
    # so the peer does no copying either.
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
        return time.perf_counter() - start

    # The flushes made no-ops by eatmydata (LD_PRELOAD over fsync and syncfs, which the program
    # reaches through libc): the same repair without what makes it durable.
    def unflushed_once():
        return run_repair(client, prefix, ["eatmydata"])[0]

    def prepare():
        make_client(client, args.binary)
        fresh(prefix)

    server = Server(server_root, port)
    try:
        ours, peer, unflushed = compare(args.runs, prepare, ours_once, peer_once, unflushed_once)
        prepare()
        flushes = count_flushes(client, prefix, os.path.join(work, "r_strace"))
    finally:
        server.stop()
    report("repair", ours, peer, ours / peer, 0.9, "lower")
    print("flushes   with %.3f s   without (eatmydata) %.3f s   cost %+.1f %%   per repair: %s"
          % (ours, unflushed, 100 * (ours - unflushed) / unflushed, flushes))
    peak = statistics.median(peaks)
    limit = largest + 64 * MIB
    print("memory    peak %.1f MiB   limit (largest entry %.2f MiB + 64 MiB) %.1f MiB   %s" %
          (peak / MIB, largest / MIB, limit / MIB, "met" if peak < limit else "MISSED"))


def make_scaling_set(root, port):
    """The small patch: one archive of two small files at paths no client has."""
    server = os.path.join(root, "server")
    os.makedirs(os.path.join(server, "patches"))
    write_zip(os.path.join(server, "patches", "p1.0.1.zip"),
              [("pkres/new1.pk", b"n" * 100000), ("subver/new2.txt", b"1.0.1\n" * 1000)])
    with open(os.path.join(server, "qx_patchlist_win32"), "w") as f:
        f.write("1.0.1 http://127.0.0.1:%d/patches/p1.0.1.zip 1 x\n" % port)
    return server


def make_scaling_template(root, binary, gib):
    """A client whose four patch folders hold `gib` GiB: a few small files in each and the bulk
    in patch_cache, as 4 MiB files."""
    make_client(root, binary)
    documents = os.path.join(root, "Documents")
    for sub in ("pkres", "subver", "patch_cache", "qatools"):
        os.makedirs(os.path.join(documents, sub), exist_ok=True)
        for i in range(5):
            with open(os.path.join(documents, sub, "small%d.dat" % i), "wb") as f:
                f.write(b"s" * 1000)
    block = os.urandom(4 * MIB)
    for i in range(gib * 256):
        with open(os.path.join(documents, "patch_cache", "cache%05d.bin" % i), "wb") as f:
            f.write(block)
    subprocess.run(["sync"], check=True)


def linked_copy(template, client, binary):
    """The template client again, its files hard-linked: no data is written to make it, and the
    patch only adds files, so nothing the repair does can reach the template's data."""
    shutil.rmtree(client, ignore_errors=True)
    subprocess.run(["cp", "-al", template, client], check=True)
    os.remove(os.path.join(client, "qxwebhelper"))
    shutil.copy2(binary, os.path.join(client, "qxwebhelper"))


def bench_scaling(args, work, port):
    root = os.path.join(work, "scaling")
    server = Server(make_scaling_set(root, port), port)
    programs = [("ours", args.binary)] + ([("baseline", args.baseline)] if args.baseline else [])
    sizes = (0, 1, 4)
    results = {}
    try:
        for gib in sizes:
            template = os.path.join(root, "template%d" % gib)
            make_scaling_template(template, args.binary, gib)
            samples = {name: [] for name, _ in programs}
            for _ in range(args.runs):
                # Alternately, so that each program sees the same machine load.
                for name, binary in programs:
                    client = os.path.join(root, "client")
                    prefix = os.path.join(root, "prefix")
                    linked_copy(template, client, binary)
                    fresh(prefix)
                    subprocess.run(["sync"], check=True)
                    elapsed, _, written = run_repair(client, prefix)
                    samples[name].append((elapsed, written))
            for name, _ in programs:
                results[(name, gib)] = (statistics.median(t for t, _ in samples[name]),
                                        statistics.median(w for _, w in samples[name]))
            shutil.rmtree(template, ignore_errors=True)
    finally:
        server.stop()
    print("scaling   the same small repair (two files, 0.1 MiB) on clients of 0, 1 and 4 GiB:")
    print("          %-9s %8s %10s %12s %14s" % ("program", "client", "time", "written",
                                                   "extra/client"))
    for name, _ in programs:
        base_time, base_written = results[(name, 0)]
        for gib in sizes:
            elapsed, written = results[(name, gib)]
            extra = ("%.2f %%" % (100.0 * (written - base_written) / (gib * 1024 * MIB))
                     if gib else "-")
            print("          %-9s %4d GiB %8.3f s %8.1f MiB %14s" %
                  (name, gib, elapsed, written / MIB, extra))
        top_time, top_written = results[(name, sizes[-1])]
        ok = (top_written - base_written) < 0.05 * sizes[-1] * 1024 * MIB
        print("          %-9s time at %d GiB / at 0 GiB: %.1f times; extra bytes %s 5 %% of the "
              "client's data: %s" % (name, sizes[-1], top_time / base_time,
                                     "under" if ok else "over", "met" if ok else "MISSED"))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", required=True)
    parser.add_argument("--work", default="/tmp/qxweb-bench")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--only", help="comma-separated subset: download,extract,copytree,repair,"
                        "entry,scaling (the default), zip64")
    parser.add_argument("--baseline", help="another build of the program, measured beside ours "
                                           "in the scaling benchmark")
    args = parser.parse_args()
    args.qxbench = os.path.join(args.build, "bench", "qxbench")
    args.binary = os.path.join(args.build, "qxwebhelper")
    with open(os.path.join(args.build, "CMakeCache.txt")) as f:
        host = next(l.split("=", 1)[1].strip() for l in f
                    if l.startswith("QXWEB_PATCHLIST_HOST:"))
    port = int(host.rsplit(":", 1)[1])
    only = set((args.only or "download,extract,copytree,repair,entry,scaling").split(","))
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
    if "entry" in only:
        bench_entry_memory(args, work)
    if "scaling" in only:
        bench_scaling(args, work, port)
    if "zip64" in only:
        bench_zip64(args, work, rng)
    shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
