"""VTK and CSV exports read back: every cell carries the value of the element it covers."""

import csv
import re

import numpy as np
import pytest
from conftest import XS, ZS, block_model, mask_text

import varnel
from varnel.export import export, to_csv, to_vtk


def model_value_at(model, x, depth):
    ix = np.searchsorted(model.xs, x) - 1
    iz = np.searchsorted(model.zs, depth) - 1
    return model.values[iz, ix]


def graded_model():
    """Every element has its own value, so a misplaced cell cannot go unnoticed."""
    model = block_model()
    model.values = model.values * (1 + np.arange(model.values.size).reshape(model.shape) / 1e3)
    return model


def vtk_sections(text):
    """Keyword -> the numbers that follow it, for a legacy ASCII VTK file."""
    sections, current = {}, None
    for line in text.splitlines()[4:]:
        head = line.split()
        if not head or head[0] == "LOOKUP_TABLE":
            continue
        if re.fullmatch(r"[A-Z_]+", head[0]):
            current = head[0] if head[0] != "SCALARS" else "SCALARS " + head[1]
            sections[current] = (head[1:], [])
        else:
            sections[current][1].extend(float(v) for v in head)
    return sections


def test_rectilinear_vtk(tmp_path):
    model = graded_model()
    (tmp_path / "m.mask").write_text(mask_text(XS, ZS, model.values / 7.0))
    text = to_vtk(model, tmp_path / "m.vtk", mask=tmp_path / "m.mask").read_text()
    assert text.startswith("# vtk DataFile Version 3.0\n") and "RECTILINEAR_GRID" in text
    s = vtk_sections(text)
    nx, ny, nz = (int(v) for v in s["DIMENSIONS"][0])
    x, elevation = np.array(s["X_COORDINATES"][1]), np.array(s["Z_COORDINATES"][1])
    assert (nx, ny, nz) == (len(XS), 1, len(ZS)) and np.all(np.diff(elevation) > 0)
    rho = np.array(s["SCALARS resistivity"][1]).reshape(nz - 1, nx - 1)
    log_rho = np.array(s["SCALARS log10_resistivity"][1]).reshape(nz - 1, nx - 1)
    sens = np.array(s["SCALARS sensitivity"][1]).reshape(nz - 1, nx - 1)
    xc, zc = 0.5 * (x[1:] + x[:-1]), -0.5 * (elevation[1:] + elevation[:-1])
    expected = np.array([[model_value_at(model, a, d) for a in xc] for d in zc])
    np.testing.assert_allclose(rho, expected, rtol=1e-9)
    np.testing.assert_allclose(log_rho, np.log10(expected), rtol=1e-9)
    np.testing.assert_allclose(sens, expected / 7.0, rtol=1e-9)


def test_unstructured_vtk(tmp_path):
    model = graded_model()
    s = vtk_sections(to_vtk(model, tmp_path / "u.vtk", grid="unstructured").read_text())
    points = np.array(s["POINTS"][1]).reshape(-1, 3)
    cells = np.array(s["CELLS"][1], dtype=int).reshape(-1, 5)
    assert int(s["POINTS"][0][0]) == len(XS) * len(ZS) and np.all(points[:, 1] == 0)
    assert np.all(cells[:, 0] == 4) and np.all(np.array(s["CELL_TYPES"][1]) == 9)
    rho = np.array(s["SCALARS resistivity"][1])
    assert len(rho) == len(cells) == model.values.size
    for cell, value in zip(cells, rho):
        corners = points[cell[1:]]
        # Each quad is a grid element, its corners counter-clockwise in the x-z plane.
        assert len(set(corners[:, 0])) == 2 and len(set(corners[:, 2])) == 2
        edges = np.roll(corners, -1, axis=0) - corners
        area = 0.5 * np.sum(corners[:, 0] * np.roll(corners[:, 2], -1)
                            - np.roll(corners[:, 0], -1) * corners[:, 2])
        assert area > 0 and np.all(np.count_nonzero(edges, axis=1) == 1)  # along x or z
        x, depth = corners[:, 0].mean(), -corners[:, 2].mean()
        assert value == pytest.approx(model_value_at(model, x, depth), rel=1e-9)


def test_csv_table(tmp_path):
    model = graded_model()
    with open(export(model, tmp_path / "m.csv")) as f:
        rows = list(csv.DictReader(f))
    assert len(rows) == model.values.size
    seen = set()
    for row in rows:
        x, z, rho = float(row["x"]), float(row["z"]), float(row["resistivity"])
        assert rho == pytest.approx(model_value_at(model, x, z), rel=1e-9)
        seen.add((np.searchsorted(XS, x), np.searchsorted(ZS, z)))
    assert len(seen) == model.values.size  # every element once


def test_export_of_a_library_model_file(tiny, tmp_path):
    """A model file the library rewrote exports like the model it came from."""
    varnel.forward("tiny.dat", "block.m2d", "out/e", cwd=tiny, progress=False)
    to_csv(tiny / "block.m2d", tmp_path / "lib.csv")
    to_csv(block_model(), tmp_path / "own.csv")
    assert (tmp_path / "lib.csv").read_text() == (tmp_path / "own.csv").read_text()
    with pytest.raises(ValueError):
        export(tiny / "block.m2d", tmp_path / "m.txt")
