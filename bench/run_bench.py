#!/usr/bin/env python3
"""End-to-end throughput of vesmer-batch against GNU join and cmp on the same data.

usage: bench/run_bench.py [--records N] [--build DIR] [--work DIR]

Generates two pairs of record files (key mode and line mode), then times:
  - vesmer-batch --key in key mode, against `join -a1 -a2` on the same key (LC_ALL=C, the files
    made joinable with a tab after the key, the tab-separated copies made outside the timing);
  - vesmer-batch in line mode, against `cmp` on two identical copies of the source;
  - vesmer-batch in line mode on a pair where every record differs (worst case for the list).
Throughput is the bytes of both inputs divided by wall time; peak RSS comes from GNU time.
"""
import argparse
import os
import shutil
import subprocess
import sys
import time


GNU_TIME = "/usr/bin/time"


def run(cmd, stdout=subprocess.DEVNULL, env=None):
    # GNU time reports the command's own peak RSS; a child forked from this Python process
    # would count Python's pages too.
    start = time.perf_counter()
    proc = subprocess.run([GNU_TIME, "-f", "%M"] + cmd, stdout=stdout, stderr=subprocess.PIPE,
                          env=env)
    elapsed = time.perf_counter() - start
    err = proc.stderr.decode(errors="replace").strip().splitlines()
    rss_kib = int(err[-1]) if err and err[-1].isdigit() else 0
    return elapsed, rss_kib / 1024.0, proc.returncode, "\n".join(err[:-1])


def best_of(n, cmd, **kw):
    results = [run(cmd, **kw) for _ in range(n)]
    return min(results, key=lambda r: r[0])


def tabbed(src, dst, key_len):
    with open(src, "rb") as f, open(dst, "wb") as out:
        for line in f:
            out.write(line[:key_len] + b"\t" + line[key_len:])


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--records", type=int, default=5_000_000)
    ap.add_argument("--build", default="build/release")
    ap.add_argument("--work", default="bench/out")
    ap.add_argument("--repeat", type=int, default=3)
    args = ap.parse_args()

    if not os.access(GNU_TIME, os.X_OK):
        sys.exit("GNU time is missing: apt-get install time")
    batch = os.path.join(args.build, "cli", "vesmer-batch")
    gen = os.path.join(args.build, "bench", "gen_records")
    for tool in (batch, gen):
        if not os.access(tool, os.X_OK):
            sys.exit(f"{tool} is missing: cmake --preset release && cmake --build --preset release")
    os.makedirs(args.work, exist_ok=True)
    w = lambda name: os.path.join(args.work, name)

    for mode in ("key", "line", "all"):
        if not os.path.exists(w(f"{mode}_b.prn")):
            subprocess.run([gen, w(f"{mode}_a.prn"), w(f"{mode}_b.prn"), str(args.records), mode],
                           check=True)
    size = lambda *names: sum(os.path.getsize(w(n)) for n in names)
    env_c = dict(os.environ, LC_ALL="C")

    # Key mode against join.
    for name in ("key_a", "key_b"):
        if not os.path.exists(w(name + ".tab")):
            tabbed(w(name + ".prn"), w(name + ".tab"), 12)
    key_bytes = size("key_a.prn", "key_b.prn")
    v = best_of(args.repeat, [batch, "-q", "-k", "1-12", w("key_a.prn"), w("key_b.prn")])
    with open(os.devnull, "wb") as null:
        j = best_of(args.repeat, ["join", "-t", "\t", "-a1", "-a2", w("key_a.tab"), w("key_b.tab")],
                    stdout=null, env=env_c)

    # Line mode against cmp on identical copies.
    if not os.path.exists(w("line_a_copy.prn")):
        shutil.copyfile(w("line_a.prn"), w("line_a_copy.prn"))
    line_bytes = size("line_a.prn", "line_b.prn")
    lv = best_of(args.repeat, [batch, "-q", w("line_a.prn"), w("line_b.prn")])
    c = best_of(args.repeat, ["cmp", w("line_a.prn"), w("line_a_copy.prn")])
    all_bytes = size("all_a.prn", "all_b.prn")
    av = best_of(args.repeat, [batch, "-q", w("all_a.prn"), w("all_b.prn")])

    mb = lambda n, t: n / t / 1e6
    print(f"records per file: {args.records:,}; key inputs {key_bytes / 1e6:.0f} MB, "
          f"line inputs {line_bytes / 1e6:.0f} MB")
    print(f"key mode   vesmer-batch {mb(key_bytes, v[0]):8.0f} MB/s  {v[0]:6.2f} s  "
          f"peak RSS {v[1]:6.1f} MiB  (exit {v[2]})")
    print(f"           join -a1 -a2 {mb(key_bytes, j[0]):8.0f} MB/s  {j[0]:6.2f} s  "
          f"peak RSS {j[1]:6.1f} MiB")
    print(f"           ratio vesmer/join  {j[0] / v[0]:.2f}x")
    print(f"line mode  vesmer-batch {mb(line_bytes, lv[0]):8.0f} MB/s  {lv[0]:6.2f} s  "
          f"peak RSS {lv[1]:6.1f} MiB  (exit {lv[2]})")
    print(f"           cmp          {mb(line_bytes, c[0]):8.0f} MB/s  {c[0]:6.2f} s")
    print(f"           ratio vesmer/cmp   {c[0] / lv[0]:.2f}x")
    print(f"all differ vesmer-batch {mb(all_bytes, av[0]):8.0f} MB/s  {av[0]:6.2f} s  "
          f"peak RSS {av[1]:6.1f} MiB  (exit {av[2]})")


if __name__ == "__main__":
    main()
