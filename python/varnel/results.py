"""The multiplier-search tables (.lr) and the final report of an inversion log."""

from __future__ import annotations

import math
from dataclasses import dataclass, field
from pathlib import Path

import numpy as np

from ._text import FormatError, items_of, to_float


@dataclass
class SearchTable:
    """The trials of one iteration, ascending by multiplier."""

    lam: np.ndarray           # Lagrange multiplier of each trial
    rms: np.ndarray           # RMS misfit of its model
    model_misfit: np.ndarray  # mean absolute difference from the prior, per cent
    path: Path | None = None

    def __len__(self) -> int:
        return len(self.lam)


def read_lr(path: str | Path) -> SearchTable:
    """Reads an .lr file: lines of (f10.6, f6.2, f20.2): multiplier, RMS, model misfit."""
    rows = []
    for number, line in enumerate(Path(path).read_text().splitlines(), start=1):
        if not line.strip():
            continue
        try:  # fixed columns first: wide values can touch their neighbours
            row = [to_float(line[0:10]), to_float(line[10:16]), to_float(line[16:36])]
        except ValueError:
            items = items_of(line)
            try:
                row = [to_float(t) for t in items[:3]]
            except ValueError:
                row = []
            if len(row) != 3:
                raise FormatError(f"{path}, line {number}: expected a multiplier, an RMS and a "
                                  f"model misfit, found {line.strip()!r}") from None
        rows.append(row)
    table = np.array(rows, dtype=float).reshape(-1, 3)
    return SearchTable(lam=table[:, 0], rms=table[:, 1], model_misfit=table[:, 2],
                       path=Path(path))


@dataclass
class Report:
    """The final report of an inversion log."""

    iteration: int | None = None
    stop_condition: str = ""
    lam: float = math.nan
    rms: float = math.nan
    model_misfit: float = math.nan
    total_time: float = math.nan
    average_sensitivity_time: float = math.nan
    average_cmjkt_time: float = math.nan
    average_model_time: float = math.nan
    model_calculations: int | None = None
    model_parameters: int | None = None
    updated_parameters: int | None = None
    data_difference: float | None = None
    iteration_rms: dict[int, float] = field(default_factory=dict)  # from the iteration lines


_REPORT_LINES = {
    "! Iteration:": ("iteration", int),
    "! Stop Condition:": ("stop_condition", str),
    "! Lambda:": ("lam", float),
    "! RMS Misfit:": ("rms", float),
    "! Model Misfit:": ("model_misfit", float),
    "! Total Calculation Time:": ("total_time", float),
    "! Average Sensitivity Calculation:": ("average_sensitivity_time", float),
    "! Average CmJkT Calculation:": ("average_cmjkt_time", float),
    "! Average Model Calculation:": ("average_model_time", float),
    "! Number of Model Calculation:": ("model_calculations", int),
    "! Number of model parameter:": ("model_parameters", int),
    "! Number of updated model parameter:": ("updated_parameters", int),
    "! Data Difference:": ("data_difference", float),
}
_FINAL_HEADER = "!------------------- Final Result ------------------------"


def _number(text: str, kind):
    value = to_float(text)
    if kind is int:
        return None if math.isnan(value) else int(value)
    return value


def parse_report(log: str) -> Report | None:
    """The final report of a log text; None when the log has none."""
    lines = log.splitlines()
    starts = [k for k, line in enumerate(lines) if line.strip() == _FINAL_HEADER]
    report = Report()
    for line in lines:  # "! Iteration: NN , RMS: X" after every iteration
        if line.startswith("! Iteration:") and ", RMS:" in line:
            it, rms = line[len("! Iteration:"):].split(", RMS:")
            report.iteration_rms[int(it.strip())] = to_float(rms)
        elif line.startswith("! Initial RMS Misfit:"):
            report.iteration_rms[0] = to_float(line.split(":", 1)[1])
    if not starts:
        return None
    for line in lines[starts[-1] + 1:]:
        for label, (name, kind) in _REPORT_LINES.items():
            if line.startswith(label):
                text = line[len(label):].strip()
                try:
                    value = text if kind is str else _number(text, kind)
                except ValueError:
                    value = None
                setattr(report, name, value)
                break
    return report


def read_report(path: str | Path) -> Report | None:
    """The final report of a saved log file."""
    return parse_report(Path(path).read_text(errors="replace"))
