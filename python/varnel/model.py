"""Model files (.m2d) and the sensitivity mask file.

Both hold a rectilinear grid (node x positions left to right, node depths top
to bottom) and one value per element, written column by column, top to bottom
within a column. In memory the values are a (rows, columns) array:
``values[iz, ix]`` is the element in row iz from the top and column ix from
the left.
"""

from __future__ import annotations

import math
from dataclasses import dataclass
from pathlib import Path

import numpy as np

from ._text import LineReader, fortran_e, fortran_f, items_of, to_float


@dataclass
class Section:
    xs: np.ndarray      # node x positions, nx + 1
    zs: np.ndarray      # node depths, nz + 1
    values: np.ndarray  # (nz, nx)

    def __post_init__(self):
        self.xs = np.asarray(self.xs, dtype=float)
        self.zs = np.asarray(self.zs, dtype=float)
        self.values = np.asarray(self.values, dtype=float)
        want = (len(self.zs) - 1, len(self.xs) - 1)
        if self.values.shape != want:
            raise ValueError(f"values of shape {self.values.shape} for a grid of {want} elements")

    @property
    def shape(self) -> tuple[int, int]:
        return self.values.shape

    def centres(self) -> tuple[np.ndarray, np.ndarray]:
        """x and z of every element centre, each (nz, nx)."""
        xc = 0.5 * (self.xs[1:] + self.xs[:-1])
        zc = 0.5 * (self.zs[1:] + self.zs[:-1])
        return np.meshgrid(xc, zc)


@dataclass
class Model(Section):
    """A resistivity model: ``values`` in ohm-m, with the misfit of its file."""

    rms: float = 0.0
    path: Path | None = None

    @property
    def resistivity(self) -> np.ndarray:
        return self.values


@dataclass
class Mask(Section):
    """Summed absolute sensitivity per element over its area; NaN for fixed elements."""

    path: Path | None = None


def _grid(r: LineReader, nx: int, nz: int) -> tuple[np.ndarray, np.ndarray]:
    r.line("the 'Horizontal Grid:' line")
    xs = np.array([r.values(1, f"x of node column {k + 1}")[0] for k in range(nx + 1)])
    r.line("the 'Vertical Grid:' line")
    zs = np.array([r.values(1, f"z of node row {k + 1}")[0] for k in range(nz + 1)])
    return xs, zs


def _by_columns(values: list[float], nx: int, nz: int) -> np.ndarray:
    return np.array(values, dtype=float).reshape(nx, nz).T


def read_model(path: str | Path) -> Model:
    """Reads a .m2d model file; the values are resistivities in ohm-m."""
    r = LineReader(path)
    first = r.line("the 'RMS Misfit:' line")
    rms = math.nan
    after = items_of(first.split(":", 1)[1]) if ":" in first else []
    if after:
        rms = to_float(after[0])
    nx, nz = (int(v) for v in r.values(2, "the numbers of element columns and rows"))
    xs, zs = _grid(r, nx, nz)
    head = r.line("the 'Resistivity:' line")
    uniform = items_of(head.split(":", 1)[1]) if ":" in head else []
    if uniform and to_float(uniform[0]) != 0.0:
        res = np.full((nz, nx), to_float(uniform[0]))
    else:
        res = _by_columns([r.values(1, f"resistivity of element {k + 1}")[0]
                           for k in range(nx * nz)], nx, nz)
    return Model(xs=xs, zs=zs, values=res, rms=rms, path=Path(path))


def write_model(path: str | Path, model: Model | Section, rms: float | None = None) -> Path:
    """Writes a .m2d file in the library's layout."""
    nz, nx = model.shape
    misfit = getattr(model, "rms", 0.0) if rms is None else rms
    lines = ["RMS Misfit: " + fortran_f(misfit, 10, 5), f"{nx:4d} {nz:4d}", "Horizontal Grid:"]
    lines += [fortran_e(x) for x in model.xs]
    lines.append("Vertical Grid:")
    lines += [fortran_e(z) for z in model.zs]
    lines.append("Resistivity:")
    lines += [fortran_e(v) for v in model.values.T.ravel()]
    path = Path(path)
    path.write_text("\n".join(lines) + "\n")
    return path


def read_mask(path: str | Path) -> Mask:
    """Reads the sensitivity mask written in the first iteration (Jk_Homo.mask)."""
    r = LineReader(path)
    first = r.line("the numbers of element columns and rows")
    try:
        nx, nz = int(first[0:5]), int(first[5:10])
    except ValueError:
        nx, nz = (int(v) for v in items_of(first)[:2])
    xs, zs = _grid(r, nx, nz)
    r.line("the 'Jk:' line")
    values = _by_columns([r.values(1, f"mask value of element {k + 1}")[0]
                          for k in range(nx * nz)], nx, nz)
    return Mask(xs=xs, zs=zs, values=values, path=Path(path))


def homogeneous(xs, zs, resistivity: float) -> Model:
    """A model of one resistivity on the grid of nodes ``xs`` and ``zs``."""
    return Model(xs=xs, zs=zs, values=np.full((len(zs) - 1, len(xs) - 1), float(resistivity)))
