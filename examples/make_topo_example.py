#!/usr/bin/env python3
"""Makes the bundled example with topography with varnel's own forward solver.

A 24-electrode Wenner-alpha profile (a = 1..6, 1 m apart) over a hill: flat
ground, a 0.5 m/m rise to a 2 m high plateau from x = 9 to 14 m, and the same
slope back down. Depths in the file are positive downwards (z = -2 on the
plateau). The true model (topo_true.m2d) is 100 ohm-m ground with a 20 ohm-m
body under the plateau (x = 10..13 m, 1 to 3 m below the plateau surface), on
the grid the inversion itself generates for this survey (taken from the
starting model of an inversion that stops at once). Its response, computed
with the hybrid solver, gets Gaussian noise of 3 % (fixed seed) and is
written to topo.dat.

Run from the repository root after building:
    /usr/bin/python3 examples/make_topo_example.py build/varnel
"""
import os
import random
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
N_ELECTRODES = 24
NOISE = 0.03
SEED = 20261211


def surface(x):
    if x <= 5:
        return 0.0
    if x <= 9:
        return -0.5 * (x - 5)
    if x <= 14:
        return -2.0
    if x <= 18:
        return -2.0 + 0.5 * (x - 14)
    return 0.0


def quadrupoles():
    rows = []
    for a in range(1, 7):
        for i in range(N_ELECTRODES - 3 * a):
            rows.append((i, i + 3 * a, i + a, i + 2 * a))
    return rows


def write_data(path, values, title):
    rows = quadrupoles()
    with open(path, "w") as f:
        f.write(title + "\n1.0\n11\n1\n")
        f.write("Type of measurement (0=app. resistivity,1=resistance)\n0\n")
        f.write("%d\n1\n0\n" % len(rows))
        for r, v in zip(rows, values):
            f.write("4" + "".join(" %.1f %.2f" % (e, surface(e)) for e in r) + " %.5f\n" % v)
        f.write("0\n0\n0\n0\n")


def read_model(path):
    with open(path) as f:
        lines = [l.rstrip("\n") for l in f]
    nx, nz = map(int, lines[1].split())
    xs = [float(v) for v in lines[3:3 + nx + 1]]
    k = 3 + nx + 2
    zs = [float(v) for v in lines[k:k + nz + 1]]
    k += nz + 2
    rho = [float(v) for v in lines[k:k + nx * nz]]
    return lines, nx, nz, xs, zs, rho, k


def make_true_model(generated, target):
    lines, nx, nz, xs, zs, rho, k = read_model(generated)
    earth = min(rho)  # the homogeneous start; air elements hold far more
    out = []
    for i in range(nx):
        xc = 0.5 * (xs[i] + xs[i + 1])
        for j in range(nz):
            zc = 0.5 * (zs[j] + zs[j + 1])
            v = rho[i * nz + j]
            if v <= 1.0001 * earth:
                v = 20.0 if (10.0 <= xc <= 13.0 and -1.0 <= zc <= 1.0) else 100.0
            out.append(v)
    with open(target, "w") as f:
        f.write("RMS Misfit:    0.00000\n")
        f.write("\n".join(lines[1:k]) + "\n")
        f.writelines("%.5f\n" % v for v in out)


def response_values(path):
    values = []
    with open(path) as f:
        for line in f:
            parts = line.split()
            if len(parts) == 10 and parts[0] == "4":
                values.append(float(parts[9]))
    return values


def main():
    varnel = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "..", "build", "varnel"))
    n = len(quadrupoles())
    with tempfile.TemporaryDirectory() as work:
        survey = os.path.join(work, "survey.dat")
        write_data(survey, [100.0] * n, "template")
        run = lambda *args: subprocess.run([varnel, *args], check=True, cwd=work,
                                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        run("invert", "-d", "survey.dat", "-r", "grid", "-target", "1e9")
        true_model = os.path.join(HERE, "topo_true.m2d")
        make_true_model(os.path.join(work, "grid_000.m2d"), true_model)
        model = os.path.join(work, "true.m2d")
        with open(true_model) as src, open(model, "w") as dst:
            dst.write(src.read())
        run("forward", "-d", "survey.dat", "-m", "true.m2d", "-r", "fwd", "-approx", "hy")
        clean = response_values(os.path.join(work, "fwd_1.dat"))
    if len(clean) != n:
        sys.exit("expected %d responses, got %d" % (n, len(clean)))
    rng = random.Random(SEED)
    noisy = [v * (1.0 + rng.gauss(0.0, NOISE)) for v in clean]
    write_data(os.path.join(HERE, "topo.dat"), noisy,
               "Synthetic hill, Wenner-alpha, 3 % noise")
    print("wrote topo.dat (%d data) and topo_true.m2d" % n)


if __name__ == "__main__":
    main()
