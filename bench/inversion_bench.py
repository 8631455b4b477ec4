#!/usr/bin/env python3
"""Wall time of complete default inversions (with "-e 3"), run by hand:

    /usr/bin/python3 bench/inversion_bench.py [build-perf/varnel]

Cases: (a) the bundled example examples/block.dat; (b) a 48-electrode
dipole-dipole survey, a = 1..4, n = 1..8; (c) a 96-electrode Wenner-alpha
(a = 1..16) plus dipole-dipole (a = 1..4, n = 1..8) survey. The data of (b)
and (c) are the forward response of a conductive block in 100 ohm-m ground,
on the grid the inversion generates, with 3 % noise. Prints the wall time,
the report's own split (average sensitivity, CmJkT and model-update times)
and the peak memory of the run.

The growth with the survey size:

    /usr/bin/python3 bench/inversion_bench.py --scaling [build-perf/varnel]
        [--sizes 24,48,96,192] [--full-max 96] [--repeats 3]

For 24, 48, 96 and 192 electrodes with dipole-dipole (a = 1..4, n = 1..8)
plus Wenner-alpha (a = 1..16) data it prints, per size, what
build-perf/bench/scaling_bench measures on the grid the inversion generates
(one forward computation per solver, the floor of each: the bare
dgbtrf/dgbtrs calls of that computation spread over the threads as the
solver spreads them, and their ratio; the same calls on one thread; the
roughness operators, the Jacobian, Cm J^T, the Gram matrix, one model
update by the plain solve and by the truncated decomposition, peak memory)
and a full default inversion of synthetic data (wall time, iterations,
model updates, peak memory), and the exponent p of a least-squares fit
t ~ electrodes^p for every item. Surveys above --full-max electrodes are
inverted for one iteration only ("-maxiter 1"), as a complete run would take
hours; the table marks them.
"""
import argparse
import json
import math
import os
import random
import re
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)


def dipole_dipole(n_el, amax, nmax):
    rows = []
    for a in range(1, amax + 1):
        for n in range(1, nmax + 1):
            for b in range(n_el):
                A, m = b + a, b + a + n * a
                if m + a < n_el:
                    rows.append((A, b, m, m + a))
    return rows


def wenner(n_el, amax):
    return [(i, i + 3 * a, i + a, i + 2 * a) for a in range(1, amax + 1)
            for i in range(n_el - 3 * a)]


def write_dat(path, rows, values):
    with open(path, "w") as f:
        f.write("bench\n1.0\n11\n0\nType of measurement (0=app. resistivity,1=resistance)\n0\n")
        f.write("%d\n1\n0\n" % len(rows))
        for r, v in zip(rows, values):
            f.write("4" + "".join(" %.1f 0.0" % e for e in r) + " %.6g\n" % v)
        f.write("0\n0\n0\n0\n")


def block_model(generated, target, n_el):
    with open(generated) as f:
        lines = [l.rstrip("\n") for l in f]
    nx, nz = map(int, lines[1].split())
    xs = [float(v) for v in lines[3:3 + nx + 1]]
    k = 3 + nx + 2
    zs = [float(v) for v in lines[k:k + nz + 1]]
    k += nz + 2
    x0, x1 = 0.35 * (n_el - 1), 0.5 * (n_el - 1)
    out = []
    for i in range(nx):
        xc = 0.5 * (xs[i] + xs[i + 1])
        for j in range(nz):
            zc = 0.5 * (zs[j] + zs[j + 1])
            out.append(10.0 if (x0 <= xc <= x1 and 1.0 <= zc <= 4.0) else 100.0)
    with open(target, "w") as f:
        f.write("RMS Misfit:    0.00000\n" + "\n".join(lines[1:k]) + "\n")
        f.writelines("%.5f\n" % v for v in out)


def synthetic(varnel, work, name, n_el, rows):
    run = lambda *a: subprocess.run([varnel, *a], cwd=work, check=True,
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    write_dat(os.path.join(work, name + "_t.dat"), rows, [100.0] * len(rows))
    run("invert", "-d", name + "_t.dat", "-r", name + "_g", "-target", "1e9")
    block_model(os.path.join(work, name + "_g_000.m2d"), os.path.join(work, name + "_m.m2d"), n_el)
    run("forward", "-d", name + "_t.dat", "-m", name + "_m.m2d", "-r", name + "_f")
    clean = []
    with open(os.path.join(work, name + "_f_1.dat")) as f:
        for line in f:
            p = line.split()
            if len(p) == 10 and p[0] == "4":
                clean.append(float(p[9]))
    rng = random.Random(7)
    write_dat(os.path.join(work, name + ".dat"), rows,
              [v * (1 + rng.gauss(0, 0.03)) for v in clean])


def run_measured(args, cwd):
    """Runs a command; returns its standard output, wall time and peak memory (MiB)."""
    t0 = time.time()
    with tempfile.TemporaryFile("w+") as out:
        child = subprocess.Popen(args, cwd=cwd, stdout=out, stderr=subprocess.DEVNULL, text=True)
        _, status, usage = os.wait4(child.pid, 0)
        wall = time.time() - t0
        child.returncode = os.waitstatus_to_exitcode(status)
        if child.returncode != 0:
            raise RuntimeError("%s failed with status %d" % (args[0], child.returncode))
        out.seek(0)
        return out.read(), wall, usage.ru_maxrss / 1024.0


def invert(varnel, work, name, extra=()):
    out, wall, peak = run_measured(
        [varnel, "invert", "-d", name + ".dat", "-r", name + "_r", "-e", "3", *extra], work)
    report = out[out.index("Final Result"):]
    get = lambda key: re.search(re.escape(key) + r"[ \t]*(.+)", report).group(1).strip()
    return (wall, get("! Iteration:"), get("! RMS Misfit:"), get("! Stop Condition:"),
            get("! Average Sensitivity Calculation:"), get("! Average CmJkT Calculation:"),
            get("! Average Model Calculation:"), get("! Number of Model Calculation:"), peak)


def data_count(path):
    with open(path) as f:
        return int(f.read().split("\n")[6])


def cases(varnel):
    with tempfile.TemporaryDirectory() as work:
        with open(os.path.join(ROOT, "examples", "block.dat")) as src, \
                open(os.path.join(work, "a.dat"), "w") as dst:
            dst.write(src.read())
        synthetic(varnel, work, "b", 48, dipole_dipole(48, 4, 8))
        synthetic(varnel, work, "c", 96, wenner(96, 16) + dipole_dipole(96, 4, 8))
        print("%-34s %8s %5s %8s %-14s %8s %8s %8s %5s %8s" % (
            "case", "wall [s]", "iter", "RMS", "stop", "Jk [s]", "CmJk [s]", "upd [s]", "nmu",
            "peak MiB"))
        for name, label in (("a", "(a) bundled example, 433 data"),
                            ("b", "(b) 48 el. dipole-dipole"),
                            ("c", "(c) 96 el. Wenner + dipole-dipole")):
            n = data_count(os.path.join(work, name + ".dat"))
            w, it, rms, stop, jk, cm, mu, nmu, peak = invert(varnel, work, name)
            print("%-34s %8.2f %5s %8s %-14s %8s %8s %8s %5s %8.0f   (%d data)" % (
                label, w, it, rms, stop.replace(" ", "_")[:14], jk, cm, mu, nmu, peak, n))


# Rows of the scaling table: label, key of the measurement, unit factor.
ROWS = [
    ("data", "data", None), ("cells", "cells", None), ("forward unknowns", "unknowns", None),
    ("forward fd [ms]", "forward_fd", 1e3), ("forward fe [ms]", "forward_fe", 1e3),
    ("forward hy [ms]", "forward_hy", 1e3),
    ("band LU floor fd [ms]", "floor_fd", 1e3), ("band LU floor fe [ms]", "floor_fe", 1e3),
    ("band LU floor hy [ms]", "floor_hy", 1e3),
    ("forward fd / floor", "ratio_fd", 1.0), ("forward fe / floor", "ratio_fe", 1.0),
    ("forward hy / floor", "ratio_hy", 1.0),
    ("band LU, 1 thread [ms]", "floor_one", 1e3),
    ("roughness operators [s]", "operators", 1.0), ("Jacobian [s]", "jacobian", 1.0),
    ("Cm J^T smoothing [s]", "cmjkt", 1.0), ("Gram matrix [s]", "gram", 1.0),
    ("update, plain solve [s]", "update_plain", 1.0),
    ("update, truncated SVD [s]", "update_truncated", 1.0),
    ("stages peak memory [MiB]", "peak_mib", 1.0),
    ("inversion wall [s]", "inv_wall", 1.0), ("inversion iterations", "inv_iter", None),
    ("inversion model updates", "inv_nmu", None), ("inversion peak memory [MiB]", "inv_peak", 1.0),
]


def fitted_exponent(sizes, values):
    points = [(math.log(n), math.log(v)) for n, v in zip(sizes, values)
              if v is not None and v > 0]
    if len(points) < 2:
        return None
    mx = sum(p[0] for p in points) / len(points)
    my = sum(p[1] for p in points) / len(points)
    sxx = sum((p[0] - mx) ** 2 for p in points)
    return sum((p[0] - mx) * (p[1] - my) for p in points) / sxx if sxx > 0 else None


def scaling(varnel, sizes, full_max, repeats):
    bench = os.path.join(os.path.dirname(varnel), "bench", "scaling_bench")
    results = []
    with tempfile.TemporaryDirectory() as work:
        for n_el in sizes:
            out, _, _ = run_measured([bench, str(n_el), str(repeats)], work)
            r = json.loads(out)
            for solver in ("fd", "fe", "hy"):
                r["ratio_" + solver] = r["forward_" + solver] / r["floor_" + solver]
            name = "s%d" % n_el
            synthetic(varnel, work, name, n_el, dipole_dipole(n_el, 4, 8) + wenner(n_el, 16))
            extra = () if n_el <= full_max else ("-maxiter", "1")
            w, it, _, _, _, _, _, nmu, peak = invert(varnel, work, name, extra)
            r.update(inv_wall=w, inv_iter=int(it), inv_nmu=int(nmu), inv_peak=peak,
                     one_iteration=n_el > full_max)
            results.append(r)
            print("# %d electrodes done" % n_el, file=sys.stderr, flush=True)
    print("%d OpenMP threads; times are medians of %d runs (forward and floors: %d; the "
          "inversion: one run)" % (results[0]["threads"], repeats, max(repeats, 11)))
    print("%-30s" % "electrodes" + "".join("%12d" % r["electrodes"] for r in results) +
          "%10s" % "exponent")
    for label, key, unit in ROWS:
        values = [r[key] if (r[key] is not None and r[key] >= 0) else None for r in results]
        cells = []
        for r, v in zip(results, values):
            mark = "*" if key.startswith("inv_") and r["one_iteration"] else " "
            if v is None:
                cells.append("%12s" % "-")
            elif unit is None:
                cells.append("%11d%s" % (v, mark))
            else:
                cells.append("%11.4g%s" % (v * unit, mark))
        p = fitted_exponent([r["electrodes"] for r in results],
                            [v if not (key.startswith("inv_") and r["one_iteration"]) else None
                             for r, v in zip(results, values)])
        print("%-30s" % label + "".join(cells) + ("%10.2f" % p if p is not None else "%10s" % "-"))
    if any(r["one_iteration"] for r in results):
        print("* one iteration only (-maxiter 1); left out of the fitted exponent")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("varnel", nargs="?", default=os.path.join(ROOT, "build", "varnel"))
    parser.add_argument("--scaling", action="store_true")
    parser.add_argument("--sizes", default="24,48,96,192")
    parser.add_argument("--full-max", type=int, default=96)
    parser.add_argument("--repeats", type=int, default=3)
    a = parser.parse_args()
    varnel = os.path.abspath(a.varnel)
    if a.scaling:
        scaling(varnel, [int(v) for v in a.sizes.split(",")], a.full_max, a.repeats)
    else:
        cases(varnel)


if __name__ == "__main__":
    main()
