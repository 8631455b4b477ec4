#!/usr/bin/env python3
"""Wall time of complete default inversions (with "-e 3"), run by hand:

    /usr/bin/python3 bench/inversion_bench.py [build/varnel]

Cases: (a) the bundled example examples/block.dat; (b) a 48-electrode
dipole-dipole survey, a = 1..4, n = 1..8; (c) a 96-electrode Wenner-alpha
(a = 1..16) plus dipole-dipole (a = 1..4, n = 1..8) survey. The data of (b)
and (c) are the forward response of a conductive block in 100 ohm-m ground,
on the grid the inversion generates, with 3 % noise. Prints the wall time and
the report's own split: average sensitivity, CmJkT and model-update times.
"""
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


def invert(varnel, work, name):
    t0 = time.time()
    out = subprocess.run([varnel, "invert", "-d", name + ".dat", "-r", name + "_r", "-e", "3"],
                         cwd=work, check=True, capture_output=True, text=True).stdout
    wall = time.time() - t0
    report = out[out.index("Final Result"):]
    get = lambda key: re.search(re.escape(key) + r"[ \t]*(.+)", report).group(1).strip()
    return (wall, get("! Iteration:"), get("! RMS Misfit:"), get("! Stop Condition:"),
            get("! Average Sensitivity Calculation:"), get("! Average CmJkT Calculation:"),
            get("! Average Model Calculation:"), get("! Number of Model Calculation:"))


def main():
    varnel = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build", "varnel"))
    with tempfile.TemporaryDirectory() as work:
        with open(os.path.join(ROOT, "examples", "block.dat")) as src, \
                open(os.path.join(work, "a.dat"), "w") as dst:
            dst.write(src.read())
        synthetic(varnel, work, "b", 48, dipole_dipole(48, 4, 8))
        synthetic(varnel, work, "c", 96, wenner(96, 16) + dipole_dipole(96, 4, 8))
        print("%-34s %8s %5s %8s %-14s %8s %8s %8s %5s" % (
            "case", "wall [s]", "iter", "RMS", "stop", "Jk [s]", "CmJk [s]", "upd [s]", "nmu"))
        for name, label in (("a", "(a) bundled example, 433 data"),
                            ("b", "(b) 48 el. dipole-dipole"),
                            ("c", "(c) 96 el. Wenner + dipole-dipole")):
            with open(os.path.join(work, name + ".dat")) as f:
                n = int(f.read().split("\n")[6])
            w, it, rms, stop, jk, cm, mu, nmu = invert(varnel, work, name)
            print("%-34s %8.2f %5s %8s %-14s %8s %8s %8s %5s   (%d data)" % (
                label, w, it, rms, stop.replace(" ", "_")[:14], jk, cm, mu, nmu, n))


if __name__ == "__main__":
    main()
