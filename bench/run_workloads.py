#!/usr/bin/python3
"""Whole-encoder benchmark: fixed workloads, each encoded with the default
kernels and with --simd=none; started by bench/run.sh.

  run_workloads.py BUILD_DIR RUNS [WORKLOAD...]

Each run is two encodes. The first, with standard error going to a file
and nothing watching, gives the frames per second, CPU time (/usr/bin/time's
%U + %S, steadier than wall time on a shared machine) and peak memory (%M).
The second gives the per-type times: the encoder prints "Encoding frame N "
on standard error as it starts frame N, and a reader on the pipe notes when
each arrives, so a frame lasts until the next one starts (the last until the
process ends); the statistics file gives each frame's type. That reader
wakes for every line the encoder writes, and on a machine with no processor
to spare it would take time from the encoder, hence the first encode. Of
RUNS runs, each figure is the best.
"""
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

BENCH = os.path.dirname(os.path.abspath(__file__))
PHOTO = "/usr/lib/python3/dist-packages/skimage/data/coffee.png"

# name, parameter file, content: "pan" over the photograph or the generator's "sequence"
WORKLOADS = [
    ("SD", "sd.par", "pan"),
    ("SD-generated", "sd.par", "sequence"),
    ("HD", "hd.par", "pan"),
    ("CIF-M1-dual-prime", "cif_dual_prime.par", "pan"),
    ("SD-fields", "sd_fields.par", "pan"),
]
# (SIMD level, threads): both levels on one thread, then the default
# kernels on every thread count up to the processors there are.
def configurations():
    return [("default", 1), ("none", 1)] + [("default", n) for n in range(2, max(2, os.cpu_count() or 1) + 1)]

PROGRESS = re.compile(rb"Encoding frame (\d+) ")
FRAME_TYPE = re.compile(r"\nFrame (\d+) \(#\d+ in display order\):\n picture_type=([IPB])\n")


def par_values(path):
    """Frames, width and height: lines 8, 15 and 16 of the parameter file."""
    with open(path) as f:
        lines = f.read().splitlines()
    return int(lines[7].split()[0]), int(lines[14].split()[0]), int(lines[15].split()[0])


def make_content(build, kind, width, height, frames, folder):
    os.makedirs(folder)
    pattern = os.path.join(folder, "src%d")
    if kind == "pan":
        cmd = [sys.executable, os.path.join(BENCH, "make_pan.py"), PHOTO, str(width), str(height), str(frames), pattern]
    else:
        cmd = [os.path.join(build, "make_sequence"), "--width", str(width), "--height", str(height), "--chroma", "1",
               "--frames", str(frames), "--format", "0", "--pattern", pattern]
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL)


def encode(build, par, work, level, threads, watch):
    """One timed encode in work; returns (total s, start time of each frame, peak KiB, CPU s). Without watch,
    standard error goes to a file and there are no start times."""
    recon = os.path.join(work, "recon")
    shutil.rmtree(recon, ignore_errors=True)
    os.makedirs(recon)
    # Fresh files, as a first encode writes them: ext4 flushes a file that was
    # truncated and rewritten when it is closed, which would time the disk.
    for name in ("out.m2v", "stats.txt", "trace.txt"):
        try:
            os.remove(os.path.join(work, name))
        except FileNotFoundError:
            pass
    cmd = ["/usr/bin/time", "-f", "%M %U %S", "-o", "time.txt", os.path.join(build, "morvane")]
    if level != "default":
        cmd.append("--simd=" + level)
    cmd.append("--threads=%d" % threads)
    cmd += [par, "out.m2v"]
    starts = {}
    err = bytearray()
    scanned = 0
    err_path = os.path.join(work, "stderr.txt")
    with open(os.path.join(work, "trace.txt"), "wb") as trace:
        if not watch:
            with open(err_path, "wb") as err_file:
                t0 = time.perf_counter()
                status = subprocess.run(cmd, cwd=work, stdout=trace, stderr=err_file).returncode
                total = time.perf_counter() - t0
            with open(err_path, "rb") as f:
                err = f.read()
        else:
            t0 = time.perf_counter()
            proc = subprocess.Popen(cmd, cwd=work, stdout=trace, stderr=subprocess.PIPE)
            fd = proc.stderr.fileno()
            while True:
                chunk = os.read(fd, 65536)
                now = time.perf_counter()
                if not chunk:
                    break
                err += chunk
                for m in PROGRESS.finditer(err, scanned):
                    starts[int(m.group(1))] = now - t0
                    scanned = m.end()
            status = proc.wait()
            total = time.perf_counter() - t0
            with open(err_path, "wb") as f:
                f.write(err)
    if status != 0:
        sys.exit("morvane failed (%d) in %s:\n%s" % (status, work, err[-2000:].decode(errors="replace")))
    # The parameter files are meant to be taken as written.
    if b"Warning" in err:
        sys.exit("morvane warned in %s:\n%s" % (work, b"".join(re.findall(rb"Warning[^\n]*\n", err)).decode()))
    with open(os.path.join(work, "time.txt")) as f:
        peak, user, system = f.read().split()[-3:]
    return total, starts, int(peak), float(user) + float(system)


def frame_types(work):
    with open(os.path.join(work, "stats.txt")) as f:
        return {int(n): t for n, t in FRAME_TYPE.findall(f.read())}


def output_digest(work):
    """One digest of everything the run wrote: stream, statistics, trace, stderr, reconstruction."""
    h = hashlib.sha256()
    names = ["out.m2v", "stats.txt", "trace.txt", "stderr.txt"]
    names += sorted(os.path.join("recon", n) for n in os.listdir(os.path.join(work, "recon")))
    for name in names:
        h.update(name.encode() + b"\0")
        with open(os.path.join(work, name), "rb") as f:
            for block in iter(lambda: f.read(1 << 20), b""):
                h.update(block)
    return h.hexdigest()


def measure(build, par, work, level, threads, frames, runs):
    best = None
    digests = set()
    for run_index in range(runs):
        total, _, peak, cpu = encode(build, par, work, level, threads, watch=False)
        if run_index == 0:
            digests.add(output_digest(work))
        watched_total, starts, _, _ = encode(build, par, work, level, threads, watch=True)
        types = frame_types(work)
        if sorted(starts) != list(range(frames)) or sorted(types) != list(range(frames)):
            sys.exit("%s: expected progress and statistics for %d frames" % (work, frames))
        ends = [starts[i + 1] for i in range(frames - 1)] + [watched_total]
        per_type = {}
        for i in range(frames):
            per_type.setdefault(types[i], []).append(ends[i] - starts[i])
        ms = {t: 1000.0 * sum(v) / len(v) for t, v in per_type.items()}
        run = {"total": total, "ms": ms, "peak": peak, "cpu": cpu}
        if best is None:
            best = run
        else:
            best["total"] = min(best["total"], total)
            best["cpu"] = min(best["cpu"], cpu)
            best["ms"] = {t: min(best["ms"][t], v) for t, v in ms.items()}
            best["peak"] = max(best["peak"], peak)
    digests.add(output_digest(work))
    # Both kinds of encode must leave the same outputs.
    best["digest"] = digests.pop() if len(digests) == 1 else "differ"
    return best


def main():
    build = os.path.abspath(sys.argv[1])
    runs = int(sys.argv[2])
    chosen = sys.argv[3:]
    unknown = [n for n in chosen if n not in [w[0] for w in WORKLOADS]]
    if unknown:
        sys.exit("unknown workload %s; the workloads are %s" % (unknown[0], " ".join(w[0] for w in WORKLOADS)))
    with open("/proc/cpuinfo") as f:
        model = next((l.split(":", 1)[1].strip() for l in f if l.startswith("model name")), "?")
    print("morvane benchmark: %s, %d CPUs (%s); best of %d runs" % (build, os.cpu_count(), model, runs))
    print("%-18s %-7s %3s %4s %7s %8s %8s %8s %8s %9s %9s" % ("workload", "simd", "thr", "fr", "fps", "ms/fr", "I ms",
                                                              "P ms", "B ms", "cpu ms/fr", "peak MiB"), flush=True)
    root = tempfile.mkdtemp(prefix="bench-", dir=build)
    same = True
    try:
        for name, par_name, content in WORKLOADS:
            if chosen and name not in chosen:
                continue
            par = os.path.join(BENCH, par_name)
            frames, width, height = par_values(par)
            work = os.path.join(root, name)
            make_content(build, content, width, height, frames, os.path.join(work, "frames"))
            results = {}
            for level, threads in configurations():
                r = measure(build, par, work, level, threads, frames, runs)
                results[(level, threads)] = r
                cells = ["%8.1f" % r["ms"][t] if t in r["ms"] else "%8s" % "-" for t in "IPB"]
                print("%-18s %-7s %3d %4d %7.2f %8.1f %s %9.1f %9.1f" % (
                    name, level, threads, frames, frames / r["total"], 1000.0 * r["total"] / frames, " ".join(cells),
                    1000.0 * r["cpu"] / frames, r["peak"] / 1024.0), flush=True)
            one, none = results[("default", 1)], results[("none", 1)]
            identical = all(r["digest"] == one["digest"] for r in results.values())
            same = same and identical
            print("%-18s default is %.2fx as fast as none (CPU time %.2fx); outputs %s" % (
                name, none["total"] / one["total"], none["cpu"] / one["cpu"], "identical" if identical else "DIFFER"),
                flush=True)
            for (level, threads), r in results.items():
                if threads > 1:
                    print("%-18s %d threads are %.2fx as fast as one" % (name, threads, one["total"] / r["total"]),
                          flush=True)
            shutil.rmtree(work)
    finally:
        shutil.rmtree(root, ignore_errors=True)
    if not same:
        sys.exit("outputs differ between SIMD levels or thread counts")


if __name__ == "__main__":
    main()
