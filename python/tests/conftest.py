"""Shared fixtures: a tiny survey, a small model grid, and the library's location.

The library and the command-line host are found through VARNEL_LIBRARY and
VARNEL_CLI (scripts/test.sh sets them) or in the repository's build/ folder.
"""

import os
import sys
from pathlib import Path

os.environ.setdefault("MPLBACKEND", "Agg")
sys.path.insert(0, str(Path(__file__).resolve().parents[1]))

import numpy as np  # noqa: E402
import pytest  # noqa: E402

import varnel  # noqa: E402
from varnel import _locate  # noqa: E402

REPOSITORY = Path(__file__).resolve().parents[2]
ELECTRODES = np.arange(12.0)  # 12 electrodes 1 m apart on flat ground
XS = np.concatenate([[-40, -20, -10, -5, -2.5, -1], np.arange(0, 11.01, 0.5),
                     [12, 13.5, 16, 21, 31, 51]])
ZS = np.array([0, .25, .5, .75, 1, 1.35, 1.75, 2.2, 2.75, 3.5, 4.5, 6, 8.5, 12, 18, 30, 50])


def pytest_configure(config):
    # Workers of the batch tests import the package from this folder too.
    package_dir = str(Path(__file__).resolve().parents[1])
    paths = [p for p in os.environ.get("PYTHONPATH", "").split(os.pathsep) if p]
    if package_dir not in paths:
        os.environ["PYTHONPATH"] = os.pathsep.join([package_dir] + paths)


def tiny_electrodes():
    """Wenner-alpha a = 1..3 and dipole-dipole n = 1..3: 42 measurements."""
    return np.concatenate([varnel.wenner_alpha(ELECTRODES, 3),
                           varnel.dipole_dipole(ELECTRODES, 3)])


def block_model(resistivity=10.0):
    """100 ohm-m ground with a block from x = 4 to 7 m and 0.5 to 1.75 m depth."""
    model = varnel.homogeneous(XS, ZS, 100.0)
    model.values[2:6, 14:20] = resistivity
    return model


@pytest.fixture
def library():
    if _locate.library_path() is None or _locate.cli_path() is None:
        pytest.skip("libvarnel.so and the varnel program are not built")
    return _locate.library_path()


@pytest.fixture
def tiny(tmp_path, library):
    """A folder with the survey tiny.dat (placeholder values) and the model block.m2d."""
    survey = varnel.Survey(electrodes=tiny_electrodes(), values=np.full(42, 100.0),
                           profile="tiny survey")
    varnel.write_dat(tmp_path / "tiny.dat", survey)
    varnel.write_model(tmp_path / "block.m2d", block_model())
    (tmp_path / "out").mkdir()
    return tmp_path


@pytest.fixture
def synthetic(tiny):
    """tiny/data.dat: the block model's response, i.e. data the model fits exactly."""
    result = varnel.forward("tiny.dat", "block.m2d", "out/synthetic", cwd=tiny, progress=False)
    (tiny / "data.dat").write_text(result.response_files[0].read_text())
    return tiny


def mask_text(xs, zs, values):
    """A mask file in the library's layout (values: rows x columns, NaN allowed)."""
    nz, nx = values.shape
    lines = [f"{nx:5d}{nz:5d}", "Horizontal Grid:"]
    lines += [f"{v:20.10E}" for v in xs]
    lines.append("Vertical Grid:")
    lines += [f"{v:20.10E}" for v in zs]
    lines.append("Jk:")
    lines += [f"{v:20.10E}" if np.isfinite(v) else f"{'NaN':>20}" for v in values.T.ravel()]
    return "\n".join(lines) + "\n"

