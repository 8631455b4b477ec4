"""Exports of a model section: VTK for ParaView, and an x, z, resistivity table.

VTK files place the section in the x-z plane with z as elevation (the negative
of depth), y = 0, and carry per cell the resistivity, its base-10 logarithm
and, when a mask is given, the sensitivity.
"""

from __future__ import annotations

import csv
from pathlib import Path

import numpy as np

from .model import Mask, Section, read_mask, read_model

VTK_QUAD = 9


def _model(model) -> Section:
    return model if isinstance(model, Section) else read_model(model)


def _cell_fields(model: Section, mask: Mask | None, order) -> list[tuple[str, np.ndarray]]:
    values = model.values[order]
    with np.errstate(divide="ignore", invalid="ignore"):
        fields = [("resistivity", values), ("log10_resistivity", np.log10(values))]
    if mask is not None:
        mask = mask if isinstance(mask, Mask) else read_mask(mask)
        if mask.shape != model.shape:
            raise ValueError(f"the mask grid {mask.shape} is not the model grid {model.shape}")
        fields.append(("sensitivity", mask.values[order]))
    return fields


def _numbers(values) -> str:
    return "\n".join(" ".join(f"{v:.10g}" for v in row) for row in np.atleast_2d(values))


def _cell_data(fields, count: int) -> list[str]:
    lines = [f"CELL_DATA {count}"]
    for name, values in fields:
        lines += [f"SCALARS {name} double 1", "LOOKUP_TABLE default",
                  _numbers(values.reshape(-1, 1))]
    return lines


def to_vtk(model, path: str | Path, grid: str = "rectilinear", mask=None,
           title: str = "varnel model") -> Path:
    """Writes a legacy ASCII VTK file: ``grid`` "rectilinear" or "unstructured"."""
    model = _model(model)
    nz, nx = model.shape
    elevation = -model.zs
    if grid == "rectilinear":
        # Coordinates must ascend: cells run along x first, then upwards.
        rows = np.arange(nz)[::-1]
        order = (rows[:, None], np.arange(nx)[None, :])
        lines = ["# vtk DataFile Version 3.0", title, "ASCII", "DATASET RECTILINEAR_GRID",
                 f"DIMENSIONS {nx + 1} 1 {nz + 1}",
                 f"X_COORDINATES {nx + 1} double", _numbers(model.xs),
                 "Y_COORDINATES 1 double", "0",
                 f"Z_COORDINATES {nz + 1} double", _numbers(elevation[::-1])]
    elif grid == "unstructured":
        # Points row by row from the top; cell (iz, ix) joins its four corners.
        xx, zz = np.meshgrid(model.xs, elevation)
        points = np.column_stack([xx.ravel(), np.zeros(xx.size), zz.ravel()])
        node = np.arange((nz + 1) * (nx + 1)).reshape(nz + 1, nx + 1)
        quads = np.column_stack([node[1:, :-1].ravel(), node[1:, 1:].ravel(),
                                 node[:-1, 1:].ravel(), node[:-1, :-1].ravel()])
        order = (slice(None), slice(None))
        lines = ["# vtk DataFile Version 3.0", title, "ASCII", "DATASET UNSTRUCTURED_GRID",
                 f"POINTS {len(points)} double", _numbers(points),
                 f"CELLS {len(quads)} {5 * len(quads)}",
                 "\n".join("4 " + " ".join(str(k) for k in q) for q in quads),
                 f"CELL_TYPES {len(quads)}", "\n".join([str(VTK_QUAD)] * len(quads))]
    else:
        raise ValueError(f"grid must be 'rectilinear' or 'unstructured', not {grid!r}")
    fields = _cell_fields(model, mask, order)
    lines += _cell_data([(name, v.ravel()) for name, v in fields], nx * nz)
    path = Path(path)
    path.write_text("\n".join(lines) + "\n")
    return path


def to_csv(model, path: str | Path) -> Path:
    """Writes one line per element: x and depth z of its centre and its resistivity."""
    model = _model(model)
    xc, zc = model.centres()
    path = Path(path)
    with path.open("w", newline="") as out:
        writer = csv.writer(out)
        writer.writerow(["x", "z", "resistivity"])
        for ix in range(model.shape[1]):
            for iz in range(model.shape[0]):
                writer.writerow([f"{xc[iz, ix]:.10g}", f"{zc[iz, ix]:.10g}",
                                 f"{model.values[iz, ix]:.10g}"])
    return path


def export(model, path: str | Path, **kwargs) -> Path:
    """By the extension of ``path``: .vtk or .csv."""
    ext = Path(path).suffix.lower()
    if ext == ".vtk":
        return to_vtk(model, path, **kwargs)
    if ext == ".csv":
        return to_csv(model, path)
    raise ValueError(f"{path}: export to .vtk or .csv")


__all__ = ["export", "to_csv", "to_vtk"]
