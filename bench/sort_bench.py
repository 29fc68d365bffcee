#!/usr/bin/env python3
"""Sorting record files by key: SortedInput (bench/sort_inputs) against GNU sort, in one run.

usage: bench/sort_bench.py [--records N] [--build DIR] [--work DIR] [--repeat R]
                           [--memory 64,256]

Generates two record files with gen_records (sorted, keys in columns 1-12), shuffles copies
of them and makes tab-separated copies (a tab after the key) for GNU sort and join, all outside
the timing. Before timing it checks that sort_inputs puts the shuffled file back into exactly
the generated order. Then, for each memory cap M (MiB), best of R:
  - sort_inputs --memory M on both shuffled files (both at once on two threads, every record
    handed out and dropped);
  - LC_ALL=C sort -S M -t TAB -k1,1 on each tab-separated file, one after the other, and both
    at once as two processes;
and once: join -a1 -a2 on the two sorted tab-separated files, and vesmer-batch -k 1-12 on the
two sorted files (the comparison that follows the sort). Prints wall time, CPU time (user +
system) and peak RSS (GNU time), and the ratio of sort + join against sort + compare.
"""
import argparse
import os
import random
import subprocess
import sys
import time

GNU_TIME = "/usr/bin/time"


class Measure:
    def __init__(self, wall, cpu, rss_mib, code, err):
        self.wall, self.cpu, self.rss, self.code, self.err = wall, cpu, rss_mib, code, err


def timed(cmd, stdout=subprocess.DEVNULL, env=None):
    # GNU time reports the command's own CPU time and peak RSS, not this script's.
    return subprocess.Popen([GNU_TIME, "-f", "@@ %U %S %M"] + cmd, stdout=stdout,
                            stderr=subprocess.PIPE, env=env)


def finish(proc, start):
    _, err = proc.communicate()
    wall = time.perf_counter() - start
    lines = err.decode(errors="replace").strip().splitlines()
    tail = [l for l in lines if l.startswith("@@ ")]
    user, system, rss = tail[-1].split()[1:] if tail else ("0", "0", "0")
    rest = "\n".join(l for l in lines if not l.startswith("@@ "))
    return Measure(wall, float(user) + float(system), int(rss) / 1024.0, proc.returncode, rest)


def run(cmd, **kw):
    start = time.perf_counter()
    return finish(timed(cmd, **kw), start)


def run_together(cmds, **kw):
    """Runs the commands at once; wall time of the whole, CPU summed, the largest peak RSS."""
    start = time.perf_counter()
    procs = [timed(c, **kw) for c in cmds]
    ms = [finish(p, start) for p in procs]
    wall = time.perf_counter() - start
    return Measure(wall, sum(m.cpu for m in ms), max(m.rss for m in ms),
                   max(m.code for m in ms), "\n".join(m.err for m in ms if m.err))


def best_of(n, fn, ok_codes=(0,)):
    results = [fn() for _ in range(n)]
    for r in results:
        if r.code not in ok_codes:
            sys.exit(f"command failed (exit {r.code}):\n{r.err}")
    return min(results, key=lambda m: m.wall)


def shuffled(src, dst, seed):
    with open(src, "rb") as f:
        data = f.read()
    lines = data.split(b"\r\n")
    if lines and lines[-1] == b"":
        lines.pop()
    random.Random(seed).shuffle(lines)
    with open(dst, "wb") as out:
        out.write(b"\r\n".join(lines))
        out.write(b"\r\n")


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
    ap.add_argument("--memory", default="64,256")
    args = ap.parse_args()

    if not os.access(GNU_TIME, os.X_OK):
        sys.exit("GNU time is missing: apt-get install time")
    sorter = os.path.join(args.build, "bench", "sort_inputs")
    gen = os.path.join(args.build, "bench", "gen_records")
    batch = os.path.join(args.build, "cli", "vesmer-batch")
    for tool in (sorter, gen, batch):
        if not os.access(tool, os.X_OK):
            sys.exit(f"{tool} is missing: cmake --preset release && cmake --build --preset release")
    os.makedirs(args.work, exist_ok=True)
    w = lambda name: os.path.join(args.work, f"sort{args.records}_{name}")
    temp = w("temp")
    os.makedirs(temp, exist_ok=True)

    if not os.path.exists(w("b.prn")):
        subprocess.run([gen, w("a.prn"), w("b.prn"), str(args.records), "key"], check=True)
    for seed, name in enumerate(("a", "b"), start=1):
        if not os.path.exists(w(f"shuf_{name}.tab")):
            shuffled(w(f"{name}.prn"), w(f"shuf_{name}.prn"), seed)
            tabbed(w(f"shuf_{name}.prn"), w(f"shuf_{name}.tab"), 12)
            tabbed(w(f"{name}.prn"), w(f"{name}.tab"), 12)
    size = sum(os.path.getsize(w(f"shuf_{n}.prn")) for n in ("a", "b"))

    # The order, checked at full size: the generator writes its keys ascending and unique.
    check = run([sorter, "--memory", "64", "--temp", temp, "--output", w("check.prn"),
                 w("shuf_a.prn")])
    same = check.code == 0 and subprocess.run(["cmp", "-s", w("check.prn"), w("a.prn")]).returncode == 0
    os.remove(w("check.prn"))
    if not same:
        sys.exit("sort_inputs did not restore the generated order")
    print(f"records per file: {args.records:,}; both inputs {size / 1e6:.0f} MB; "
          "order checked against the generated file")

    env_c = dict(os.environ, LC_ALL="C")
    show = lambda label, m: print(f"  {label:34s} {m.wall:7.2f} s wall {m.cpu:7.2f} s CPU "
                                  f"peak RSS {m.rss:7.1f} MiB")
    join = best_of(args.repeat, lambda: run(["join", "-t", "\t", "-a1", "-a2", w("a.tab"),
                                             w("b.tab")], env=env_c))
    # Exit status 1: differences found, as there are.
    compare = best_of(args.repeat, lambda: run([batch, "-q", "-k", "1-12", w("a.prn"),
                                                w("b.prn")]), ok_codes=(0, 1))
    print("after the sort:")
    show("join -a1 -a2", join)
    show("vesmer-batch -k 1-12 (sorted)", compare)

    for mib in (int(m) for m in args.memory.split(",")):
        ours = best_of(args.repeat, lambda: run([sorter, "--memory", str(mib), "--temp", temp,
                                                 w("shuf_a.prn"), w("shuf_b.prn")]))

        def gnu(name):
            return ["sort", "-S", f"{mib}M", "-t", "\t", "-k1,1", "-T", temp,
                    "-o", w(f"gnu_{name}.tab"), w(f"shuf_{name}.tab")]

        def gnu_in_turn():
            a, b = run(gnu("a"), env=env_c), run(gnu("b"), env=env_c)
            return Measure(a.wall + b.wall, a.cpu + b.cpu, max(a.rss, b.rss), max(a.code, b.code),
                           a.err + b.err)

        seq = best_of(args.repeat, gnu_in_turn)
        par = best_of(args.repeat, lambda: run_together([gnu("a"), gnu("b")], env=env_c))
        for name in ("a", "b"):
            os.remove(w(f"gnu_{name}.tab"))
        print(f"memory {mib} MiB (sort_inputs: each input; GNU sort: -S {mib}M per process):")
        show("sort_inputs, both at once", ours)
        show("GNU sort, one after the other", seq)
        show("GNU sort, both at once", par)
        print(f"  sort: GNU sort in turn / ours {seq.wall / ours.wall:.2f}x, "
              f"at once / ours {par.wall / ours.wall:.2f}x (wall); "
              f"CPU {seq.cpu / ours.cpu:.2f}x")
        theirs = seq.wall + join.wall
        ours_total = ours.wall + compare.wall
        print(f"  sort + join {theirs:.2f} s against sort + compare {ours_total:.2f} s: "
              f"{theirs / ours_total:.2f}x; the sort's share {ours.wall / ours_total:.0%} "
              f"(CPU: {(seq.cpu + join.cpu) / (ours.cpu + compare.cpu):.2f}x, "
              f"share {ours.cpu / (ours.cpu + compare.cpu):.0%})")


if __name__ == "__main__":
    main()
