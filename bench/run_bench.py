#!/usr/bin/env python3
"""End-to-end speed and memory of vesmer-batch, each case beside a peer in the same invocation.

usage: bench/run_bench.py [--records N] [--host-records N] [--csv-records N] [--build DIR]
                          [--work DIR] [--repeat N]
                          [--cases key,line,all,short,utf8,report,rules,sort,same,fixed,host,csv,typed,jobs,scale]

Cases (all by default), on generated record files of 120 bytes (N records per file, 5 million
by default: 600 MB each):
  key    --key against GNU `join -a1 -a2` on the same key (LC_ALL=C; the files made joinable with
         a tab after the key, outside the timing);
  line   line mode against `cmp` of two identical copies of the source;
  all    every pair differs (the result list's worst case) against `dd` writing the bytes the run
         writes;
  short  10-byte records (10 x N per file, the same bytes) against the 120-byte key run;
  utf8   converting a UTF-8 input (bench/utf8_convert, the run's own conversion) against
         `iconv -f UTF-8 -t CP932` on the same file;
  report the key run with --layout, --report and --summary-csv against the plain key run and
         against the floor the processors set for hashing both inputs (`openssl dgst -sha256`);
  rules  the key run with --layout and --rules against the plain key run;
  sort   --sort on shuffled inputs against `sort` of both files and `join` (sort -S as much
         memory as --sort-memory gives: 64 and 256 MiB), and --sort on sorted inputs against
         the key run without it;
  same   results with every shortcut off (VESMER_NO_FAST_PATHS=1) against results with them on:
         the result files must be byte for byte the same (key, line, all, short).
The format cases read other record formats (bench/gen_host_records and bench/gen_csv_records
write their files; --host-records records of 200 bytes a file, 3 million by default: 600 MB,
and --csv-records CSV records, 1 million by default):
  fixed  both inputs fixed=200,ibm-930 (SBCS fields and DBCS fields between SO and SI, EBCDIC
         blanks to the end; 1% of the records changed, key 1-10) against the same texts as code
         page 932 lines (198 bytes and CR LF), and fixed=200 records of code page 932 bytes
         against those lines;
  typed  host records of 20 typed fields (5 packed, 5 zoned; bench/gen_typed_records, as many
         as --host-records) compared by value through their layout, against the same files
         compared as plain bytes (--format fixed=200 -k 1-10)
  host   a fixed=200,ibm-930 source against the same texts as code page 932 lines (texts
         compared, padding trimmed) against `iconv -f IBM930 -t CP932` of the source alone
         (to /dev/null);
  csv    --format csv,header --key-fields 1 on files of ten fields, some quoted with commas
         inside, against `mlr --icsv --ojson join --ul --ur -j KEY` of the same files (Debian's
         miller).
The scale case (not among the defaults: --cases scale) generates 2 x 5 GB (--scale-records
records a file), times a first run against dd writing the same result bytes to a new file (and
against that dd while both inputs are read by two more: what reading costs beside the writes)
and reruns against the 2 x 600 MB key run per byte (each after the results before it are written
back, as a rerun minutes later finds them), and removes every file it made.
The jobs case (not among the defaults: --cases jobs) runs folders of pairs (--folders
--output-dir, -k 1-12): 200 pairs of 5 MB with --jobs 2 against --jobs 1, as a first run (a new
output folder each time, removed outside the timing) and as a rerun (the results replaced in
place); 2,000 pairs of 1 kB with the default --jobs; and peak RSS at 100 and 200 pairs.
Each format case takes medians of --repeat alternating runs and the median of the pairs'
ratios, and runs each command once more on files of half the records: peak RSS must not
follow the size of the input.
Times are the best of --repeat runs (wall clock; the report, short and scale cases take the
medians of alternating runs' ratios instead); peak RSS and processor time come from GNU time.
"""
import argparse
import hashlib
import importlib.util
import itertools
import os
import random
import shutil
import statistics
import subprocess
import sys
import time


GNU_TIME = "/usr/bin/time"
HERE = os.path.dirname(os.path.abspath(__file__))


class Result:
    def __init__(self, wall, rss_mib, code, err, cpu=0.0):
        self.wall, self.rss_mib, self.code, self.err = wall, rss_mib, code, err
        self.cpu = cpu  # user + system seconds of the command and what it waited for


def run(cmd, stdout=subprocess.DEVNULL, env=None):
    # GNU time reports the command's own peak RSS; a child forked from this Python process
    # would count Python's pages too.
    start = time.perf_counter()
    proc = subprocess.run([GNU_TIME, "-f", "%M %U %S"] + cmd, stdout=stdout,
                          stderr=subprocess.PIPE, env=env)
    elapsed = time.perf_counter() - start
    err = proc.stderr.decode(errors="replace").strip().splitlines()
    figures = err[-1].split() if err else []
    try:
        rss_kib, user, system = int(figures[0]), float(figures[1]), float(figures[2])
    except (IndexError, ValueError):
        rss_kib, user, system = 0, 0.0, 0.0
    return Result(elapsed, rss_kib / 1024.0, proc.returncode, "\n".join(err[:-1]),
                  user + system)


def fastest(results):
    return min(results, key=lambda r: r.wall)


def best_of(n, cmd, ok=(0, 1), **kw):
    results = [run(cmd, **kw) for _ in range(n)]
    for r in results:
        if r.code not in ok:
            sys.exit(f"{' '.join(cmd)} exited {r.code}: {r.err}")
    return fastest(results)


def alternate(n, commands, ok=(0, 1), before=None):
    """Runs each (name, command, stdout) in turn, n rounds: a drift of the machine's speed hits
    each alike; `before`, when given, is called ahead of each run, outside its timing. Returns
    {name: [Result, ...]}."""
    runs = {name: [] for name, _, _ in commands}
    for _ in range(n):
        for name, cmd, stdout in commands:
            if before is not None:
                before()
            res = run(cmd, stdout=stdout)
            if res.code not in ok:
                sys.exit(f"{' '.join(cmd)} exited {res.code}: {res.err}")
            runs[name].append(res)
    return runs


def median_of(results, attr):
    return statistics.median(getattr(r, attr) for r in results)


def pair_ratio(a, b):
    """The median of a's wall time over b's, run by run."""
    return statistics.median(x.wall / y.wall for x, y in zip(a, b))


def medians(label, results):
    print(f"  {label:<44} {median_of(results, 'wall'):7.2f} s wall "
          f"{median_of(results, 'cpu'):6.2f} s cpu  peak RSS "
          f"{max(r.rss_mib for r in results):7.1f} MiB")


def flat(label, full, half):
    """Peak RSS of one run on the full files and one on files of half the records."""
    big, small = run(full), run(half)
    for r, cmd in ((big, full), (small, half)):
        if r.code not in (0, 1):
            sys.exit(f"{' '.join(cmd)} exited {r.code}: {r.err}")
    print(f"  {label:<44} peak RSS {big.rss_mib:7.1f} MiB, at half the records "
          f"{small.rss_mib:7.1f} MiB")


def tabbed(src, dst, key_len):
    with open(src, "rb") as f, open(dst, "wb") as out:
        for line in f:
            out.write(line[:key_len] + b"\t" + line[key_len:])


def shuffled(src, dst, seed):
    with open(src, "rb") as f:
        lines = f.read().split(b"\r\n")
    if lines and lines[-1] == b"":
        lines.pop()
    random.Random(seed).shuffle(lines)
    with open(dst, "wb") as out:
        out.write(b"\r\n".join(lines) + b"\r\n")


def digest(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


def line(label, r, peer=None, peer_label="", nbytes=0):
    mbs = f"{nbytes / r.wall / 1e6:8.0f} MB/s" if nbytes else " " * 13
    text = f"  {label:<34} {r.wall:7.2f} s {mbs}  peak RSS {r.rss_mib:7.1f} MiB"
    print(text)
    if peer is not None:
        print(f"  {peer_label:<34} {peer.wall:7.2f} s {' ' * 13}  peak RSS {peer.rss_mib:7.1f} MiB")


# The records gen_records writes: key 1-12, a date 14-21, half-width kana 23-38, kanji 40-63,
# a full-width space 64-65, kanji 66-73, numbers 75-86 and 88-95, letters 97-118.
LAYOUT = ("項目名,開始桁,桁数,属性\n"
          "キー,1,12,X\n日付,14,8,9\nカナ,23,16,X\n漢字,40,24,N\n空白,64,2,N\n"
          "漢字2,66,8,N\n番号,75,12,9\n数量,88,8,9\n記号,97,22,X\n")
RULES = ("# 評価はされるが、変更された記録を許容しない規則\n"
         "カナ,全半角\n漢字,かなカナ\n数量,数値,1\n記号,前後空白\n記号,全半角\n")


def scale_case(batch, gen, w, n, records, key_bytes):
    a, b = w("scale_a.prn"), w("scale_b.prn")
    results = [w(f"scale_a_{k}.TXT") for k in range(6)] + [w("scale_dd.out")]

    def remove(paths):
        for path in paths:
            if os.path.exists(path):
                os.remove(path)

    subprocess.run([gen, a, b, str(records), "key"], check=True)
    try:
        total = os.path.getsize(a) + os.path.getsize(b)
        cmd = [batch, "-q", "-k", "1-12", a, b]
        # Each first run follows the removal of the other's output, so that both write into
        # pages the machine used before: under a virtual machine, pages never used are many
        # times slower to fill, and which of the two met them first would decide the ratio.
        remove(results)
        os.sync()
        best_of(1, cmd)
        written = sum(os.path.getsize(p) for p in results[:6] if os.path.exists(p))
        dd = ["dd", "if=/dev/zero", "of=" + results[6], "bs=1000000",
              f"count={(written + 999999) // 1000000}"]
        # What reading both inputs costs beside writing those bytes: the two inputs read (into
        # 1 MB buffers, as dd reads) while dd writes, three processes at once.
        floor = ["sh", "-c", f"dd if={a} of=/dev/null bs=1M 2>/dev/null & "
                 f"dd if={b} of=/dev/null bs=1M 2>/dev/null & {' '.join(dd)} 2>/dev/null; wait"]
        firsts, dds, floors = [], [], []
        for _ in range(n):
            remove(results)
            os.sync()
            firsts.append(run(cmd))
            if firsts[-1].code not in (0, 1):
                sys.exit(f"{' '.join(cmd)} exited {firsts[-1].code}: {firsts[-1].err}")
            remove(results)
            os.sync()
            dds.append(run(dd))
            remove(results)
            os.sync()
            floors.append(run(floor))
        remove(results[6:])
        best_of(1, cmd)
        # Reruns, each paired with the 2 x 600 MB key run: both find the results of the run
        # before on the disk, as a rerun minutes later does (5 GB of results still being written
        # back would share the processors with the run after them, and decide the figure).
        small = [batch, "-q", "-k", "1-12", w("key_a.prn"), w("key_b.prn")]
        reruns = alternate(n, [("again", cmd, subprocess.DEVNULL),
                               ("small", small, subprocess.DEVNULL)], before=os.sync)
        agains, smalls = reruns["again"], reruns["small"]
        again, reference = fastest(agains), fastest(smalls)
        print(f"scale: 2 x {total / 2e9:.1f} GB ({records:,} records of 120 bytes a file), -k 1-12, "
              f"writes {written / 1e9:.1f} GB")
        medians("vesmer-batch, first run (new results)", firsts)
        medians("dd of the same bytes to a new file", dds)
        medians("the same dd while both inputs are read", floors)
        line("vesmer-batch, rerun (in place)", again, reference, "the same at 2 x 600 MB",
             total)
        per_byte = pair_ratio(agains, smalls) * key_bytes / total
        print(f"  ratio: time per byte {per_byte:.2f}x that of 2 x 600 MB (at most 1.25; the "
              f"median of {n} pairs); "
              f"first run {pair_ratio(firsts, dds):.2f}x dd (at most 1.5; medians of {n} "
              f"alternating runs), {pair_ratio(firsts, floors):.2f}x dd while both inputs are "
              f"read, which is {pair_ratio(floors, dds):.2f}x dd alone; peak RSS "
              f"{again.rss_mib:.1f} MiB against {reference.rss_mib:.1f} MiB")
    finally:
        remove([a, b] + results)


def jobs_case(batch, gen, w, n):
    def folders(name, pairs, records):
        old, new = w(f"{name}_old"), w(f"{name}_new")
        if not os.path.exists(os.path.join(new, f"F{pairs:04}.DAT")):
            for side in (old, new):
                shutil.rmtree(side, ignore_errors=True)
                os.makedirs(side)
            for i in range(1, pairs + 1):
                subprocess.run([gen, os.path.join(old, f"F{i:04}.DAT"),
                                os.path.join(new, f"F{i:04}.DAT"), str(records), "key", str(i)],
                               check=True, stdout=subprocess.DEVNULL)
        return old, new

    def job(old, new, out, *more):
        return [batch, "-q", "-k", "1-12", "--folders", old, new, "--output-dir", out, *more]

    # A first run's output folder is new. The last one is moved aside and its files emptied, not
    # removed: ext4 without a journal skips, for minutes, every inode freed nearby when it makes
    # a file, so thousands of files removed just before a run would make each of its files slow
    # to create. Emptied, they leave no pages behind either: pages the machine never used before
    # are slow to fill, under a virtual machine much slower.
    trash = w("jobs_trash")
    shutil.rmtree(trash, ignore_errors=True)
    os.makedirs(trash)
    moved = itertools.count()

    def timed(cmd, fresh):
        if fresh:
            out = cmd[cmd.index("--output-dir") + 1]
            if os.path.exists(out):
                aside = os.path.join(trash, str(next(moved)))
                os.rename(out, aside)
                for folder, _, files in os.walk(aside):
                    for f in files:
                        os.truncate(os.path.join(folder, f), 0)
            os.sync()
        r = run(cmd)
        if r.code not in (0, 1):
            sys.exit(f"{' '.join(cmd)} exited {r.code}: {r.err}")
        return r

    old, new = folders("jobs", 200, 42_000)
    total = sum(os.path.getsize(os.path.join(d, f)) for d in (old, new) for f in os.listdir(d))
    print(f"jobs: 200 pairs of 5 MB ({total / 1e6:.0f} MB in all), -k 1-12; medians of {n} "
          "alternating runs")
    for fresh, what in ((True, "first run (new output folder)"),
                        (False, "rerun (results replaced in place)")):
        runs = {"1": [], "2": []}
        for _ in range(n):
            for j in ("1", "2"):
                runs[j].append(timed(job(old, new, w(f"jobs_out{j}"), "--jobs", j), fresh))
        print(f"  {what}")
        medians("--jobs 1", runs["1"])
        medians("--jobs 2", runs["2"])
        print(f"  ratio: --jobs 2 {1 / pair_ratio(runs['2'], runs['1']):.2f}x the speed of "
              "--jobs 1 (at least 1.8)")
    small_old, small_new = folders("jobs_small", 2000, 8)
    runs = [timed(job(small_old, small_new, w("jobs_small_out")), fresh) for fresh in
            [True] * n + [False] * n]
    medians("2,000 pairs of 1 kB, first run (under 5 s)", runs[:n])
    medians("2,000 pairs of 1 kB, rerun (under 5 s)", runs[n:])
    half_old, half_new = w("jobs_half_old"), w("jobs_half_new")
    for side, full in ((half_old, old), (half_new, new)):
        if not os.path.exists(side):
            os.makedirs(side)
            for i in range(1, 101):
                os.link(os.path.join(full, f"F{i:04}.DAT"), os.path.join(side, f"F{i:04}.DAT"))
    big = timed(job(old, new, w("jobs_out2"), "--jobs", "2"), False)
    small = timed(job(half_old, half_new, w("jobs_half_out"), "--jobs", "2"), False)
    single = run([batch, "-q", "-k", "1-12", os.path.join(old, "F0001.DAT"),
                  os.path.join(new, "F0001.DAT"), "--output-dir", w("jobs_single_out"),
                  "--report", w("jobs_single_out/report.html")])
    print(f"  peak RSS --jobs 2: {big.rss_mib:.1f} MiB at 200 pairs, {small.rss_mib:.1f} MiB at "
          f"100 pairs; one pair run alone with its report {single.rss_mib:.1f} MiB")
    shutil.rmtree(trash, ignore_errors=True)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--records", type=int, default=5_000_000)
    ap.add_argument("--build", default="build/release")
    ap.add_argument("--work", default="bench/out")
    ap.add_argument("--repeat", type=int, default=3)
    ap.add_argument("--cases",
                    default="key,line,all,short,utf8,report,rules,sort,same,fixed,host,csv,typed")
    ap.add_argument("--utf8-mb", type=int, default=850)
    ap.add_argument("--host-records", type=int, default=3_000_000)
    ap.add_argument("--csv-records", type=int, default=1_000_000)
    ap.add_argument("--scale-records", type=int, default=42_000_000)
    args = ap.parse_args()
    cases = set(args.cases.split(","))

    if not os.access(GNU_TIME, os.X_OK):
        sys.exit("GNU time is missing: apt-get install time")
    batch = os.path.join(args.build, "cli", "vesmer-batch")
    gen = os.path.join(args.build, "bench", "gen_records")
    convert = os.path.join(args.build, "bench", "utf8_convert")
    gen_host = os.path.join(args.build, "bench", "gen_host_records")
    gen_typed = os.path.join(args.build, "bench", "gen_typed_records")
    gen_csv = os.path.join(args.build, "bench", "gen_csv_records")
    for tool in (batch, gen, convert, gen_host, gen_csv, gen_typed):
        if not os.access(tool, os.X_OK):
            sys.exit(f"{tool} is missing: cmake --preset release && cmake --build --preset release")
    os.makedirs(args.work, exist_ok=True)
    w = lambda name: os.path.join(args.work, name)
    size = lambda *names: sum(os.path.getsize(w(n)) for n in names)
    env_c = dict(os.environ, LC_ALL="C")
    n = args.repeat

    def data(mode, records):
        a, b = w(f"{mode}_a.prn"), w(f"{mode}_b.prn")
        if not os.path.exists(b):
            subprocess.run([gen, a, b, str(records), mode], check=True)
        return a, b

    if cases - {"fixed", "host", "csv", "typed"}:
        print(f"records per file: {args.records:,} (120 bytes); best of {n}")
    key_a, key_b = w("key_a.prn"), w("key_b.prn")
    if cases & {"key", "report", "rules", "short", "sort", "same", "scale"}:
        key_a, key_b = data("key", args.records)
    key_bytes = size("key_a.prn", "key_b.prn") if os.path.exists(key_b) else 0
    plain_key = None
    if cases & {"key", "report", "rules", "sort"}:
        plain_key = best_of(n, [batch, "-q", "-k", "1-12", key_a, key_b])

    if "key" in cases:
        for name in ("key_a", "key_b"):
            if not os.path.exists(w(name + ".tab")):
                tabbed(w(name + ".prn"), w(name + ".tab"), 12)
        with open(os.devnull, "wb") as null:
            j = best_of(n, ["join", "-t", "\t", "-a1", "-a2", w("key_a.tab"), w("key_b.tab")],
                        stdout=null, env=env_c)
        print(f"key mode ({key_bytes / 1e6:.0f} MB)")
        line("vesmer-batch -k 1-12", plain_key, j, "join -a1 -a2", key_bytes)
        print(f"  ratio: vesmer {j.wall / plain_key.wall:.2f}x the speed of join")

    if "line" in cases:
        la, lb = data("line", args.records)
        if not os.path.exists(w("line_a_copy.prn")):
            shutil.copyfile(la, w("line_a_copy.prn"))
        v = best_of(n, [batch, "-q", la, lb])
        c = best_of(n, ["cmp", la, w("line_a_copy.prn")])
        print(f"line mode ({size('line_a.prn', 'line_b.prn') / 1e6:.0f} MB)")
        line("vesmer-batch", v, c, "cmp (identical copies)", size("line_a.prn", "line_b.prn"))
        print(f"  ratio: vesmer takes {v.wall / c.wall:.2f}x the time of cmp")

    if "all" in cases:
        aa, ab = data("all", args.records // 5)
        best_of(1, [batch, "-q", aa, ab])
        written = sum(os.path.getsize(w(f"all_a_{k}.TXT")) for k in range(2, 6))
        dd = ["dd", "if=/dev/zero", "of=" + w("dd.out"), "bs=1000000",
              f"count={(written + 999999) // 1000000}"]
        # Replaced in place, the old bytes on the disk, as a rerun finds them minutes later.
        again = {"vesmer": [], "dd": []}
        for _ in range(n):
            for name, cmd in (("vesmer", [batch, "-q", aa, ab]), ("dd", dd)):
                os.sync()
                again[name].append(run(cmd))
        print(f"every pair differs ({args.records // 5:,} pairs; writes {written / 1e6:.0f} MB)")
        medians("vesmer-batch, results replaced in place", again["vesmer"])
        medians("dd of the same bytes, in place", again["dd"])
        print(f"  ratio: vesmer takes {pair_ratio(again['vesmer'], again['dd']):.2f}x the time of "
              "dd (results replaced in place)")
        # A first run: every result file new, as dd's output is (both removed outside the timing,
        # before each of the two, so that both write into pages the machine freed just before:
        # see the scale case).
        first = {"vesmer": [], "dd": []}
        for _ in range(n):
            for name, cmd in (("vesmer", [batch, "-q", aa, ab]), ("dd", dd)):
                for path in [w(f"all_a_{k}.TXT") for k in range(6)] + [w("dd.out")]:
                    if os.path.exists(path):
                        os.remove(path)
                os.sync()
                first[name].append(run(cmd))
        medians("vesmer-batch, first run (new result files)", first["vesmer"])
        medians("dd of the same bytes to a new file", first["dd"])
        print(f"  ratio: vesmer takes {pair_ratio(first['vesmer'], first['dd']):.2f}x the time of "
              "dd on new files")

    if "short" in cases:
        sa, sb = data("short", args.records * 10)
        # In turn with the 120-byte run, the median of the pairs' ratios: a drift of the
        # machine's speed hits both alike.
        runs = alternate(n, [("short", [batch, "-q", "-k", "1-8", sa, sb], subprocess.DEVNULL),
                             ("key", [batch, "-q", "-k", "1-12", key_a, key_b],
                              subprocess.DEVNULL)])
        v = fastest(runs["short"])
        print(f"10-byte records ({args.records * 10:,} per file, "
              f"{size('short_a.prn', 'short_b.prn') / 1e6:.0f} MB)")
        line("vesmer-batch -k 1-8 (10 bytes)", v, fastest(runs["key"]),
             "vesmer-batch -k 1-12 (120 bytes)", size("short_a.prn", "short_b.prn"))
        per_byte = pair_ratio(runs["short"], runs["key"]) * key_bytes / size("short_a.prn",
                                                                             "short_b.prn")
        print(f"  ratio: 10-byte records take {per_byte:.2f}x the time of 120-byte records "
              f"for the same bytes (the median of {n} pairs)")

    if "utf8" in cases:
        spec = importlib.util.spec_from_file_location("utf8_bench", os.path.join(HERE, "utf8_bench.py"))
        utf8_bench = importlib.util.module_from_spec(spec)
        spec.loader.exec_module(utf8_bench)
        source = w(f"utf8_{args.utf8_mb}mb.txt")
        if not os.path.exists(source):
            utf8_bench.generate(source, args.utf8_mb * 1_000_000)
        runs = []
        for _ in range(n):
            for p in (w("conv_in.txt"), w("conv_in_UTF8.TXT"), w("conv_in_SJIS.TXT")):
                if os.path.lexists(p):
                    os.remove(p)
            os.link(source, w("conv_in.txt"))
            runs.append(run([convert, w("conv_in.txt")]))
        v = fastest(runs)
        iconv_runs = []
        for _ in range(n):
            with open(w("conv_iconv.sjis"), "wb") as out:  # each run's output alone
                iconv_runs.append(run(["iconv", "-f", "UTF-8", "-t", "CP932", source], stdout=out))
        if any(r.code != 0 for r in iconv_runs):
            sys.exit(f"iconv failed: {iconv_runs[0].err}")
        i = fastest(iconv_runs)
        same = subprocess.run(["cmp", "-s", w("conv_in.txt"), w("conv_iconv.sjis")]).returncode == 0
        print(f"UTF-8 input conversion ({os.path.getsize(source) / 1e6:.0f} MB)")
        line("vesmer (the run's conversion)", v, i, "iconv -f UTF-8 -t CP932",
             os.path.getsize(source))
        print(f"  ratio: vesmer takes {v.wall / i.wall:.2f}x the time of iconv; "
              f"outputs {'identical' if same else 'differ'}")

    if "report" in cases or "rules" in cases:
        with open(w("layout.csv"), "w", encoding="utf-8") as f:
            f.write(LAYOUT)
        with open(w("rules.csv"), "w", encoding="utf-8") as f:
            f.write(RULES)
    if "report" in cases:
        # The report hashes both inputs as they are read. Its floor: the processor time of the
        # run without it plus that of OpenSSL hashing both inputs, spread over every processor.
        # The three commands take turns, so that a drift of the machine's speed hits each alike;
        # each figure is the median of its runs.
        with_report = [batch, "-q", "-k", "1-12", "--layout", w("layout.csv"), "--report",
                       w("report.html"), "--summary-csv", w("summary.csv"), key_a, key_b]
        without = [batch, "-q", "-k", "1-12", key_a, key_b]
        hashing = ["openssl", "dgst", "-sha256", key_a, key_b]
        runs = {"with": [], "without": [], "openssl": []}
        for _ in range(max(n, 5)):
            for name, cmd in (("without", without), ("with", with_report), ("openssl", hashing)):
                res = run(cmd)
                if res.code not in (0, 1):
                    sys.exit(f"{' '.join(cmd)} exited {res.code}: {res.err}")
                runs[name].append(res)
        med = lambda name, attr: statistics.median(getattr(x, attr) for x in runs[name])
        cores = os.cpu_count() or 1
        r_wall, a_wall = med("with", "wall"), med("without", "wall")
        floor = (med("without", "cpu") + med("openssl", "cpu")) / cores
        bound = max(a_wall, floor)
        print(f"evidence report on the key data (medians of {len(runs['with'])} alternating runs)")
        print(f"  with --layout --report --summary-csv {r_wall:7.2f} s wall "
              f"{med('with', 'cpu'):6.2f} s cpu  peak RSS {max(x.rss_mib for x in runs['with']):.1f} MiB")
        print(f"  without                              {a_wall:7.2f} s wall "
              f"{med('without', 'cpu'):6.2f} s cpu")
        print(f"  openssl dgst -sha256 of both inputs  {med('openssl', 'wall'):7.2f} s wall "
              f"{med('openssl', 'cpu'):6.2f} s cpu")
        print(f"  floor: (cpu without + cpu openssl) / {cores} processors = {floor:.2f} s")
        print(f"  ratio: {r_wall / a_wall:.2f}x the run without; "
              f"{r_wall / bound:.2f}x the larger of that run and the floor (at most 1.15)")
    if "rules" in cases:
        r = best_of(n, [batch, "-q", "-k", "1-12", "--layout", w("layout.csv"), "--rules",
                        w("rules.csv"), key_a, key_b])
        print("expected-difference rules on the key data")
        line("with --layout --rules", r, plain_key, "without", key_bytes)
        print(f"  ratio: {r.wall / plain_key.wall:.2f}x the time of the plain run")

    if "sort" in cases:
        for name in ("key_a", "key_b"):
            if not os.path.exists(w(name + "_shuffled.prn")):
                shuffled(w(name + ".prn"), w(name + "_shuffled.prn"), 1 if name == "key_a" else 2)
            if not os.path.exists(w(name + "_shuffled.tab")):
                tabbed(w(name + "_shuffled.prn"), w(name + "_shuffled.tab"), 12)
        sa, sb = w("key_a_shuffled.prn"), w("key_b_shuffled.prn")
        print("sorting shuffled inputs and comparing them")
        for mib in (64, 256):
            v = best_of(n, [batch, "-q", "--sort", "--sort-memory", str(mib), "--temp-dir",
                            args.work, "-k", "1-12", sa, sb])
            script = (f"sort -S {mib}M -T {args.work} -t '\t' -k1,1 {w('key_a_shuffled.tab')} "
                      f"> {w('sa.sorted')} && sort -S {mib}M -T {args.work} -t '\t' -k1,1 "
                      f"{w('key_b_shuffled.tab')} > {w('sb.sorted')} && join -t '\t' -a1 -a2 "
                      f"{w('sa.sorted')} {w('sb.sorted')} > /dev/null")
            g = best_of(n, ["sh", "-c", script], env=env_c)
            line(f"vesmer-batch --sort --sort-memory {mib}", v, g,
                 f"sort -S {mib}M (both) + join", key_bytes)
            print(f"  ratio: vesmer {g.wall / v.wall:.2f}x the speed of sort + join "
                  f"(peak RSS {v.rss_mib:.0f} MiB of {mib} + 32 allowed)")
        v = best_of(n, [batch, "-q", "--sort", "-k", "1-12", key_a, key_b])
        line("--sort on sorted inputs", v, plain_key, "without --sort", key_bytes)
        print(f"  ratio: {v.wall / plain_key.wall:.2f}x the time of the run without sorting")

    if "same" in cases:
        print("every shortcut off (VESMER_NO_FAST_PATHS=1) against on: result files")
        checks = [("key", ["-k", "1-12"]), ("line", []), ("all", []), ("short", ["-k", "1-8"])]
        for mode, options in checks:
            a, b = data(mode, {"all": args.records // 5, "short": args.records * 10}.get(
                mode, args.records))
            digests = []
            for fast in (True, False):
                folder = w(f"same_{mode}_{'fast' if fast else 'slow'}")
                os.makedirs(folder, exist_ok=True)
                for src, name in ((a, "a.prn"), (b, "b.prn")):
                    target = os.path.join(folder, name)
                    if not os.path.exists(target):
                        os.link(src, target)
                env = dict(os.environ)
                if not fast:
                    env["VESMER_NO_FAST_PATHS"] = "1"
                r = run([batch, "-q"] + options + [os.path.join(folder, "a.prn"),
                                                   os.path.join(folder, "b.prn")], env=env)
                digests.append([digest(os.path.join(folder, f"a_{k}.TXT")) for k in range(6)
                                if os.path.exists(os.path.join(folder, f"a_{k}.TXT"))] +
                               [r.code])
            print(f"  {mode:<6} {'identical' if digests[0] == digests[1] else 'DIFFERENT'}")
            if digests[0] != digests[1]:
                sys.exit(1)

    def host_data(form, suffix, records):
        a, b = w(f"host_a{suffix}.{form}"), w(f"host_b{suffix}.{form}")
        if not os.path.exists(b):
            subprocess.run([gen_host, form, a, b, str(records)], check=True)
        return a, b

    host_records = args.host_records
    if cases & {"fixed", "host"}:
        host = {form: host_data(form, "", host_records)
                for form in ("ibm-930", "lines", "fixed-cp932")}
        half = {form: host_data(form, "_half", host_records // 2)
                for form in ("ibm-930", "lines", "fixed-cp932")}
        host_bytes = 2 * 200 * host_records
        # The same key and result files for every form: only the reading differs.
        def host_runs(files):
            return {
                "ibm-930": [batch, "-q", "--format", "fixed=200,ibm-930", "-k", "1-10",
                            *files["ibm-930"]],
                "lines": [batch, "-q", "-k", "1-10", *files["lines"]],
                "fixed-cp932": [batch, "-q", "--format", "fixed=200", "-k", "1-10",
                                *files["fixed-cp932"]],
                "host": [batch, "-q", "--source-format", "fixed=200,ibm-930", "-k", "1-10",
                         files["ibm-930"][0], files["lines"][1]],
            }
        full_runs, half_runs = host_runs(host), host_runs(half)

    if "fixed" in cases:
        runs = alternate(n, [(name, full_runs[name], subprocess.DEVNULL)
                             for name in ("ibm-930", "lines", "fixed-cp932")])
        print(f"fixed-length records ({host_records:,} of 200 bytes a file, "
              f"{host_bytes / 1e6:.0f} MB; medians of {n} alternating runs)")
        medians("--format fixed=200,ibm-930 -k 1-10", runs["ibm-930"])
        medians("lines,cp932 of the same texts -k 1-10", runs["lines"])
        medians("--format fixed=200 (cp932 bytes) -k 1-10", runs["fixed-cp932"])
        print(f"  ratio: ibm-930 takes {pair_ratio(runs['ibm-930'], runs['lines']):.2f}x the time "
              f"of the lines (at most 1.3); fixed cp932 "
              f"{pair_ratio(runs['fixed-cp932'], runs['lines']):.2f}x")
        for name in ("ibm-930", "lines", "fixed-cp932"):
            flat(name, full_runs[name], half_runs[name])

    if "host" in cases:
        source = host["ibm-930"][0]
        iconv = ["iconv", "-f", "IBM930", "-t", "CP932", source]
        runs = alternate(n, [("host", full_runs["host"], subprocess.DEVNULL),
                             ("iconv", iconv, subprocess.DEVNULL)], ok=(0, 1))
        if any(r.code != 0 for r in runs["iconv"]):
            sys.exit(f"iconv failed: {runs['iconv'][0].err}")
        print(f"ibm-930 source against code page 932 lines ({host_bytes / 1e6:.0f} MB; "
              f"medians of {n} alternating runs)")
        medians("--source-format fixed=200,ibm-930 -k 1-10", runs["host"])
        medians("iconv -f IBM930 -t CP932 (the source alone)", runs["iconv"])
        print(f"  ratio: the run takes {pair_ratio(runs['host'], runs['iconv']):.2f}x the time "
              "of iconv (under 1)")
        flat("host", full_runs["host"], half_runs["host"])

    if "typed" in cases:
        files = {}
        for suffix, records in (("", host_records), ("_half", host_records // 2)):
            a, b, layout = w(f"typed_a{suffix}.dat"), w(f"typed_b{suffix}.dat"), w(f"typed{suffix}.csv")
            if not os.path.exists(layout):
                subprocess.run([gen_typed, a, b, layout, str(records)], check=True)
            files[suffix] = (a, b, layout)
        typed = lambda f: [batch, "-q", "--format", "fixed=200,ibm-930", "--layout", f[2],
                           "--key-fields", "KEY", f[0], f[1]]
        plain = [batch, "-q", "--format", "fixed=200", "-k", "1-10", *files[""][:2]]
        runs = alternate(n, [("typed", typed(files[""]), subprocess.DEVNULL),
                             ("plain", plain, subprocess.DEVNULL)])
        print(f"typed host records ({host_records:,} of 200 bytes a file, 20 fields; "
              f"medians of {n} alternating runs)")
        medians("--format fixed=200,ibm-930 --layout (5 P, 5 9) --key-fields KEY", runs["typed"])
        medians("--format fixed=200 -k 1-10 (plain bytes)", runs["plain"])
        print(f"  ratio: by value takes {pair_ratio(runs['typed'], runs['plain']):.2f}x the time "
              "of plain bytes (at most 1.5)")
        flat("typed", typed(files[""]), typed(files["_half"]))

    if "jobs" in cases:
        jobs_case(batch, gen, w, n)

    if "scale" in cases:
        scale_case(batch, gen, w, n, args.scale_records, key_bytes)

    if "csv" in cases:
        if shutil.which("mlr") is None:
            sys.exit("mlr is missing: apt-get install miller")
        csv_records = args.csv_records
        files = {}
        for suffix, records in (("", csv_records), ("_half", csv_records // 2)):
            a, b = w(f"csv_a{suffix}.csv"), w(f"csv_b{suffix}.csv")
            if not os.path.exists(b):
                subprocess.run([gen_csv, a, b, str(records)], check=True)
            files[suffix] = (a, b)
        vesmer = lambda f: [batch, "-q", "--format", "csv,header", "--key-fields", "1", *f]
        mlr = ["mlr", "--icsv", "--ojson", "join", "--ul", "--ur", "-j", "KEY", "-f", *files[""]]
        runs = alternate(n, [("vesmer", vesmer(files[""]), subprocess.DEVNULL),
                             ("mlr", mlr, subprocess.DEVNULL)])
        if any(r.code != 0 for r in runs["mlr"]):
            sys.exit(f"mlr failed: {runs['mlr'][0].err}")
        csv_bytes = os.path.getsize(files[""][0]) + os.path.getsize(files[""][1])
        print(f"CSV records ({csv_records:,} of ten fields a file, {csv_bytes / 1e6:.0f} MB; "
              f"medians of {n} alternating runs)")
        medians("--format csv,header --key-fields 1", runs["vesmer"])
        medians("mlr join --ul --ur -j KEY", runs["mlr"])
        print(f"  ratio: vesmer {1 / pair_ratio(runs['vesmer'], runs['mlr']):.1f}x the speed "
              "of mlr (at least 10)")
        flat("csv", vesmer(files[""]), vesmer(files["_half"]))


if __name__ == "__main__":
    main()
