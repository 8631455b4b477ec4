"""Reading and writing the library's plain-text fields.

Free-format records: values separated by blanks or commas, a slash ends the
record, each record starts on a new line and may go on over several lines.
Writing: the fixed-width fields of the library's writers.
"""

from __future__ import annotations

import math
import re
from pathlib import Path

_SEPARATORS = re.compile(r"[,\s]+")


class FormatError(ValueError):
    """A file that does not hold what its format says; names the file and line."""


def items_of(line: str) -> list[str]:
    """The free-format items of one line."""
    line = line.split("/", 1)[0]
    return [t for t in _SEPARATORS.split(line.strip()) if t]


def to_float(text: str) -> float:
    """A number as the library writes it; a field of asterisks (overflow) is NaN."""
    t = text.strip()
    if t and set(t) == {"*"}:
        return math.nan
    return float(t.replace("d", "e").replace("D", "e"))


class LineReader:
    """Lines of one file with their numbers, for messages that say where."""

    def __init__(self, path: str | Path, text: str | None = None):
        self.path = Path(path)
        if text is None:
            text = self.path.read_text(errors="replace")
        self._lines = text.splitlines()
        self.number = 0  # number of the line read last (1-based)

    def at_end(self) -> bool:
        return self.number >= len(self._lines)

    def line(self, what: str) -> str:
        if self.at_end():
            self.fail(f"unexpected end of file: expected {what}")
        self.number += 1
        return self._lines[self.number - 1]

    def peek(self) -> str | None:
        return None if self.at_end() else self._lines[self.number]

    def fail(self, message: str):
        raise FormatError(f"{self.path}, line {self.number}: {message}")

    def values(self, count: int, what: str) -> list[float]:
        """One free-format record of ``count`` numbers (extra values are ignored)."""
        out: list[str] = []
        while len(out) < count:
            out.extend(items_of(self.line(what)))
        try:
            return [to_float(t) for t in out[:count]]
        except ValueError:
            self.fail(f"expected {what}, found {' '.join(out[:count])!r}")

    def integer(self, what: str) -> int:
        value = self.values(1, what)[0]
        if not value.is_integer():
            self.fail(f"expected {what} (an integer), found {value}")
        return int(value)


def _not_finite(value: float, width: int) -> str:
    text = "NaN" if math.isnan(value) else ("Infinity" if value > 0 else "-Infinity")
    return text.rjust(width)


def fortran_e(value: float, width: int = 20, digits: int = 10) -> str:
    """``(Ew.d)``: 0.1000000000E+03 for 100, right-aligned in ``width``."""
    if not math.isfinite(value):
        return _not_finite(value, width)
    if value == 0.0:
        mantissa, exponent = "0" * digits, 0
    else:
        significand, exp = f"{abs(value):.{digits - 1}e}".split("e")
        mantissa, exponent = significand.replace(".", ""), int(exp) + 1
    sign = "-" if value < 0 else ""
    return f"{sign}0.{mantissa}E{exponent:+03d}".rjust(width)


def fortran_es(value: float, width: int = 15, digits: int = 5) -> str:
    """``(ESw.d)``: 9.86947E+01, right-aligned in ``width``."""
    if not math.isfinite(value):
        return _not_finite(value, width)
    significand, exp = f"{value:.{digits}e}".split("e")
    return f"{significand}E{int(exp):+03d}".rjust(width)


def fortran_f(value: float, width: int, digits: int) -> str:
    """``(Fw.d)``; a value too wide for the field is written at its full width."""
    if not math.isfinite(value):
        return _not_finite(value, width)
    return f"{value:{width}.{digits}f}"
