#!/usr/bin/env python3
"""Writes the bundled synthetic example: a 24-electrode profile (1 m spacing)
over 100 ohm-m ground with a 10 ohm-m block, surveyed with Wenner-alpha and
dipole-dipole arrays. The forward job computes the response of block.m2d for
every measurement of block.dat; the apparent resistivities stored in the file
are those of the homogeneous ground, so the misfit shows the block's effect.

Run from this folder:  /usr/bin/python3 make_block_example.py
"""

spacing = 1.0
n_electrodes = 24
electrodes = [spacing * i for i in range(n_electrodes)]


def grid_x():
    # A node at every electrode and one between, then ten padding columns on
    # each side that widen geometrically (0.5, 1, 2, ... 256 spacings).
    inner = [0.5 * spacing * i for i in range(2 * (n_electrodes - 1) + 1)]
    pad = [0.5 * spacing * 2 ** k for k in range(10)]
    left, right = [], []
    x = inner[0]
    for p in pad:
        x -= p
        left.insert(0, x)
    x = inner[-1]
    for p in pad:
        x += p
        right.append(x)
    return left + inner + right


def grid_z():
    # Depth levels in spacings, from the surface down.
    levels = [0.0, 0.25, 0.5, 0.75, 1.0, 1.5, 2.0, 2.5, 3.0, 3.5, 4.0, 5.0, 6.0, 7.0, 8.0,
              10.0, 12.0, 15.0, 20.0, 30.0, 50.0, 90.0, 150.0, 221.415]
    return [spacing * z for z in levels]


def resistivity(xc, zc):
    if 9.0 <= xc <= 14.0 and 1.0 <= zc <= 3.0:
        return 10.0
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
    rows = []
    for a in range(1, 8):  # Wenner-alpha
        for i in range(n_electrodes - 3 * a):
            rows.append((i, i + 3 * a, i + a, i + 2 * a))
    for a in range(1, 3):  # dipole-dipole, B A M N
        for n in range(1, 7):
            for i in range(n_electrodes - (n + 2) * a + 1):
                b, A = i, i + a
                m, nn = A + n * a, A + (n + 1) * a
                if nn < n_electrodes:
                    rows.append((A, b, m, nn))
    return rows


def write_data(path):
    rows = quadrupoles()
    with open(path, "w") as f:
        f.write("Synthetic block, Wenner-alpha and dipole-dipole\n")
        f.write("%.1f\n" % spacing)
        f.write("11\n0\n")
        f.write("Type of measurement (0=app. resistivity,1=resistance)\n0\n")
        f.write("%d\n1\n0\n" % len(rows))
        for r in rows:
            f.write("4" + "".join(" %.1f 0.0" % electrodes[e] for e in r) + " 100.0\n")
        f.write("0\n0\n0\n0\n")


write_model("block.m2d")
write_data("block.dat")
