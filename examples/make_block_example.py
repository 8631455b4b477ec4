#!/usr/bin/env python3
"""Makes the bundled synthetic example with varnel's own forward solver.

The true model (block_true.m2d) is 100 ohm-m ground with a conductive block
(10 ohm-m, x = 8..13 m, 1..3 m deep) and a resistive block (1000 ohm-m,
x = 18..23 m, 0.75..2.5 m deep). The survey is a 32-electrode profile, 1 m
apart: Wenner-alpha with a = 1..8 and dipole-dipole with a = 1, 2 and
n = 1..6. The script computes the response of the true model with
`varnel forward` and writes block.dat with Gaussian noise of 3 % (standard
deviation, fixed seed) on every apparent resistivity.

Run from the repository root after building:
    /usr/bin/python3 examples/make_block_example.py build/varnel
"""
import os
import random
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
SPACING = 1.0
N_ELECTRODES = 32
NOISE = 0.03
SEED = 20261210
ELECTRODES = [SPACING * i for i in range(N_ELECTRODES)]


def grid_x():
    # A node at every electrode and one between, then ten padding columns on
    # each side that widen geometrically (0.5, 1, 2, ... 256 spacings).
    inner = [0.5 * SPACING * i for i in range(2 * (N_ELECTRODES - 1) + 1)]
    left, right = [], []
    x0, x1 = inner[0], inner[-1]
    for k in range(10):
        x0 -= 0.5 * SPACING * 2 ** k
        x1 += 0.5 * SPACING * 2 ** k
        left.insert(0, x0)
        right.append(x1)
    return left + inner + right


def grid_z():
    levels = [0.0, 0.25, 0.5, 0.75, 1.0, 1.5, 2.0, 2.5, 3.0, 3.5, 4.0, 5.0, 6.0, 7.0, 8.0,
              10.0, 12.0, 15.0, 20.0, 30.0, 50.0, 90.0, 150.0, 221.415]
    return [SPACING * z for z in levels]


def resistivity(xc, zc):
    if 8.0 <= xc <= 13.0 and 1.0 <= zc <= 3.0:
        return 10.0
    if 18.0 <= xc <= 23.0 and 0.75 <= zc <= 2.5:
        return 1000.0
    return 100.0


def write_model(path):
    xs, zs = grid_x(), grid_z()
    with open(path, "w") as f:
        f.write("RMS Misfit:    0.00000\n")
        f.write("%4d %4d\n" % (len(xs) - 1, len(zs) - 1))
        f.write("Horizontal Grid:\n")
        f.writelines("%.5f\n" % x for x in xs)
        f.write("Vertical Grid:\n")
        f.writelines("%.5f\n" % z for z in zs)
        f.write("Resistivity:\n")
        for i in range(len(xs) - 1):
            for j in range(len(zs) - 1):
                f.write("%.5f\n" % resistivity(0.5 * (xs[i] + xs[i + 1]),
                                                0.5 * (zs[j] + zs[j + 1])))


def quadrupoles():
    """(A, B, M, N) electrode indices."""
    rows = []
    for a in range(1, 9):  # Wenner-alpha
        for i in range(N_ELECTRODES - 3 * a):
            rows.append((i, i + 3 * a, i + a, i + 2 * a))
    for a in range(1, 3):  # dipole-dipole: B A M N in a row
        for n in range(1, 7):
            for b in range(N_ELECTRODES):
                A, m = b + a, b + a + n * a
                nn = m + a
                if nn < N_ELECTRODES:
                    rows.append((A, b, m, nn))
    return rows


def write_data(path, values, title):
    rows = quadrupoles()
    with open(path, "w") as f:
        f.write(title + "\n")
        f.write("%.1f\n" % SPACING)
        f.write("11\n0\n")
        f.write("Type of measurement (0=app. resistivity,1=resistance)\n0\n")
        f.write("%d\n1\n0\n" % len(rows))
        for r, v in zip(rows, values):
            f.write("4" + "".join(" %.1f 0.0" % ELECTRODES[e] for e in r) + " %.5f\n" % v)
        f.write("0\n0\n0\n0\n")


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
    write_model(os.path.join(HERE, "block_true.m2d"))
    n = len(quadrupoles())
    with tempfile.TemporaryDirectory() as work:
        survey = os.path.join(work, "survey.dat")
        model = os.path.join(work, "true.m2d")
        write_data(survey, [100.0] * n, "template")
        write_model(model)
        subprocess.run([varnel, "forward", "-d", survey, "-m", model, "-r",
                        os.path.join(work, "fwd")], check=True, stdout=subprocess.DEVNULL)
        clean = response_values(os.path.join(work, "fwd_1.dat"))
    if len(clean) != n:
        sys.exit("expected %d responses, got %d" % (n, len(clean)))
    rng = random.Random(SEED)
    noisy = [v * (1.0 + rng.gauss(0.0, NOISE)) for v in clean]
    write_data(os.path.join(HERE, "block.dat"), noisy,
               "Synthetic blocks, Wenner-alpha and dipole-dipole, 3 % noise")
    print("wrote block.dat (%d data) and block_true.m2d" % n)


if __name__ == "__main__":
    main()
