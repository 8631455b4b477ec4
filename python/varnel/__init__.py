"""varnel: 2-D DC resistivity forward modelling and Occam inversion from Python.

Jobs: :func:`forward` and :func:`invert` (each in a child process).
Files: :func:`read_dat`, :func:`write_dat`, :func:`read_ceg`, :func:`read_model`,
:func:`write_model`, :func:`read_mask`, :func:`read_lr`, :func:`read_report`.
Plots (matplotlib) in :mod:`varnel.plots`, exports in :mod:`varnel.export`,
batch runs on Dask in :mod:`varnel.batch`; they are imported on first use.
"""

from importlib import import_module

from .model import Mask, Model, homogeneous, read_mask, read_model, write_model
from .options import KEYWORDS
from .results import Report, SearchTable, parse_report, read_lr, read_report
from .runner import Event, Result, VarnelError, forward, invert, run
from .survey import Survey, dipole_dipole, read_ceg, read_dat, read_survey, wenner_alpha, write_dat

__all__ = [
    "Event", "KEYWORDS", "Mask", "Model", "Report", "Result", "SearchTable", "Survey",
    "VarnelError", "dipole_dipole", "forward", "homogeneous", "invert", "parse_report",
    "read_ceg", "read_dat", "read_lr", "read_mask", "read_model", "read_report", "read_survey",
    "run", "wenner_alpha", "write_dat", "write_model", "plots", "export", "batch",
]


def __getattr__(name):
    if name in ("plots", "export", "batch"):
        return import_module(f".{name}", __name__)
    raise AttributeError(f"module 'varnel' has no attribute {name!r}")
