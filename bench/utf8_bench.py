#!/usr/bin/env python3
"""UTF-8 input conversion: vesmer's conversion against `iconv -f UTF-8 -t CP932`.

usage: bench/utf8_bench.py [--size-mb N] [--build DIR] [--work DIR] [--repeat N]

Generates a UTF-8 file of Japanese records (kanji, hiragana, katakana, half-width katakana,
full-width digits, ASCII numbers and dates, CR LF line ends; 850 MB unless --size-mb says
otherwise), then times, best of --repeat each:
  - the conversion a run does (bench/utf8_convert: read, encode, write <name>_SJIS.TXT, two
    renames), on a hard link to the generated file, so the file itself is never written;
  - iconv on the same file, its output written to a file in the same folder.
Prints both wall times with throughput, CPU times, the ratio of wall times, peak RSS (GNU
time) and whether the two outputs are byte for byte the same.
"""
import argparse
import os
import random
import subprocess
import sys
import time


GNU_TIME = "/usr/bin/time"


def run(cmd, stdout=subprocess.DEVNULL):
    # GNU time reports the command's own peak RSS; a child forked from this Python process
    # would count Python's pages too.
    start = time.perf_counter()
    proc = subprocess.run([GNU_TIME, "-f", "%M %U %S"] + cmd, stdout=stdout,
                          stderr=subprocess.PIPE)
    elapsed = time.perf_counter() - start
    err = proc.stderr.decode(errors="replace").strip().splitlines()
    if proc.returncode != 0 or not err:
        sys.exit(f"{' '.join(cmd)} failed ({proc.returncode}): " + "\n".join(err))
    rss_kib, user, system = err[-1].split()
    # CPU time next to wall time: on a shared machine it shows the work done apart from waiting.
    return elapsed, int(rss_kib) / 1024.0, float(user) + float(system)


def cp932_chars(first_lead, last_lead, trails):
    """The characters of a block of double-byte codes, as Python's cp932 codec decodes them."""
    chars = []
    for lead in range(first_lead, last_lead + 1):
        for trail in trails:
            try:
                chars.append(bytes([lead, trail]).decode("cp932"))
            except UnicodeDecodeError:
                pass
    return chars


def record_pool(rng, count):
    trails = list(range(0x40, 0x7F)) + list(range(0x80, 0xFD))
    kanji = cp932_chars(0x88, 0x98, trails)
    kanji = [c for c in kanji if "\u4E00" <= c <= "\u9FFF"]
    hiragana = [chr(c) for c in range(0x3041, 0x3094)]
    katakana = [chr(c) for c in range(0x30A1, 0x30F4)] + ["ー"]
    half_kana = [chr(c) for c in range(0xFF71, 0xFF9E)]
    wide_digits = [chr(c) for c in range(0xFF10, 0xFF1A)]
    pick = lambda pool, lo, hi: "".join(rng.choice(pool) for _ in range(rng.randint(lo, hi)))
    lines = []
    for _ in range(count):
        name = pick(kanji, 1, 3) + "\u3000" + pick(kanji, 1, 2)
        reading = pick(half_kana if rng.random() < 0.3 else katakana, 4, 10)
        address = (pick(kanji, 2, 4) + "県" + pick(kanji, 2, 3) + "市" + pick(kanji, 1, 3) +
                   pick(wide_digits, 1, 1) + "丁目" + str(rng.randint(1, 40)) + "-" +
                   str(rng.randint(1, 30)))
        note = pick(hiragana, 2, 8) + pick(kanji, 1, 4) + pick(hiragana, 1, 6) + "。"
        date = f"{rng.randint(1990, 2024)}/{rng.randint(1, 12):02d}/{rng.randint(1, 28):02d}"
        lines.append(f",{name},{reading},{address},{date},{rng.randint(0, 99999999):08d},"
                     f"{note}\r\n".encode("utf-8"))
    return lines


def generate(path, size, seed=932):
    rng = random.Random(seed)
    pool = record_pool(rng, 20000)
    written = 0
    serial = 0
    with open(path + ".part", "wb") as f:
        while written < size:
            batch = []
            for line in rng.choices(pool, k=10000):
                serial += 1
                batch.append(b"%010d" % serial + line)
            data = b"".join(batch)
            f.write(data)
            written += len(data)
    os.replace(path + ".part", path)


def remove(*paths):
    for p in paths:
        if os.path.lexists(p):
            os.remove(p)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--size-mb", type=int, default=850)
    ap.add_argument("--build", default="build/release")
    ap.add_argument("--work", default="bench/out")
    ap.add_argument("--repeat", type=int, default=3)
    args = ap.parse_args()

    if not os.access(GNU_TIME, os.X_OK):
        sys.exit("GNU time is missing: apt-get install time")
    driver = os.path.join(args.build, "bench", "utf8_convert")
    if not os.access(driver, os.X_OK):
        sys.exit(f"{driver} is missing: cmake --preset release && cmake --build --preset release")
    os.makedirs(args.work, exist_ok=True)
    w = lambda name: os.path.join(args.work, name)

    source = w(f"utf8_{args.size_mb}mb.txt")
    size = args.size_mb * 1_000_000
    if not os.path.exists(source) or abs(os.path.getsize(source) - size) > 1_000_000:
        generate(source, size)
    size = os.path.getsize(source)

    # The conversion renames its input and writes a new file under the input's name; a hard
    # link as input leaves the generated file as it is for the next round.
    work_input, backup = w("conv_in.txt"), w("conv_in_UTF8.TXT")
    vesmer_out, iconv_out = w("conv_vesmer.sjis"), w("conv_iconv.sjis")
    vesmer_runs = []
    for _ in range(args.repeat):
        remove(work_input, backup, w("conv_in_SJIS.TXT"), vesmer_out)
        os.link(source, work_input)
        vesmer_runs.append(run([driver, work_input]))
        os.replace(work_input, vesmer_out)
        remove(backup)
    iconv_runs = []
    for _ in range(args.repeat):
        with open(iconv_out, "wb") as out:
            iconv_runs.append(run(["iconv", "-f", "UTF-8", "-t", "CP932", source], stdout=out))
    v = min(vesmer_runs)
    i = min(iconv_runs)
    same = subprocess.run(["cmp", "-s", vesmer_out, iconv_out]).returncode == 0

    mb = lambda t: size / t / 1e6
    print(f"input {size / 1e6:.0f} MB of UTF-8, best of {args.repeat}")
    print(f"vesmer conversion {v[0]:7.2f} s {mb(v[0]):7.0f} MB/s  CPU {v[2]:6.2f} s  "
          f"peak RSS {v[1]:7.1f} MiB")
    print(f"iconv CP932       {i[0]:7.2f} s {mb(i[0]):7.0f} MB/s  CPU {i[2]:6.2f} s  "
          f"peak RSS {i[1]:7.1f} MiB")
    print(f"ratio vesmer/iconv time {v[0] / i[0]:.2f} (below 1: vesmer is faster)")
    print(f"outputs identical: {'yes' if same else 'no'}")
    remove(vesmer_out, iconv_out)


if __name__ == "__main__":
    main()
