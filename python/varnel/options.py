"""Run options: Python keyword names and the library's option keys.

A job is a list of key/value pairs that the library applies in order (a later
pair overwrites what an earlier one set). ``forward()`` and ``invert()`` take
the options as keyword arguments; :data:`KEYWORDS` maps each keyword to its
key. A key written with its leading dash (``"-maxiter"``) is passed as it is,
so ``options={"-maxiter": 3}`` and ``max_iterations=3`` are the same.
"""

from __future__ import annotations

import os
from typing import Any, Iterable, Mapping

# keyword -> (key, default as the library sees it, meaning)
KEYWORDS: dict[str, tuple[str, str, str]] = {
    "data": ("-d", "(required)", "data file (DAT or CEG) or a list file of several"),
    "error": ("-e", "", "uniform error in per cent, or an error file"),
    "response": ("-r", "(required)", "response file name to write"),
    "model": ("-m", "", "model file: prior and initial model (forward: the model)"),
    "prior": ("-m0", "", "prior (reference) model file; in a forward run the model"),
    "initial": ("-mi", "", "initial model file of an inversion"),
    "threads": ("-np", "0", "worker threads; 0 = number of processors, at most 12"),
    "nx": ("-nx", "2", "grid subdivision of generated grids"),
    "initial_rho": ("-initial_rho", "0", "resistivity of a generated start model; 0 = the data's"),
    "update": ("-update", "", "model update file: the elements the inversion may change"),
    "timelapse": ("-timelapse", "cascaded", "time-lapse mode: cascaded or difference"),
    "reference_data": ("-d0", "", "reference data of a difference inversion"),
    "reference_response": ("-r0", "", "response of the reference model to the reference data"),
    "diffusion": ("-diffusion", "4.0", "parameter of the roughness (diffusion) operator"),
    "jacobian": ("-jacobian", "FULL", "FULL = full sensitivity every iteration; else updates"),
    "initial_lambda": ("-lambda", "100", "initial Lagrange multiplier (the value itself)"),
    "msub": ("-msub", "no", "merge the inversion cells below the electrode spread"),
    "z_criteria": ("-z_criteria", "0", "depth of that block below the deepest electrode"),
    "target": ("-target", "1.0", "target RMS misfit"),
    "solver": ("-approx", "hy", "forward solver: fd, fe or hy"),
    "min_lambda": ("-minlambda", "-10", "base-10 logarithm of the smallest multiplier"),
    "espacing": ("-espacing", "0", "electrode spacing; 0 = the data's own"),
    "sgrid": ("-sgrid", "", "grid coordinates for the generated inversion grid"),
    "fix_lambda": ("-fixlambda", "no", "use prescribed multipliers instead of the search"),
    "max_iterations": ("-maxiter", "20", "maximum number of iterations, 1 to 99"),
    "prelambda": ("-prelambda", "", "file of prescribed multipliers (sets -fixlambda yes)"),
    "ndiverge": ("-ndiverge", "1", "non-improving iterations tolerated before stopping"),
    "pci": ("-pci", "no", "pattern-constrained inversion"),
    "pci_sign": ("-pcisign", "minus", "sign of the pattern constraint: plus or minus"),
    "rmtemp": ("-rmtemp", "yes", "stored only"),
    "tl_repair": ("-tlrepair", "yes", "stored only"),
    "tl_cutoff": ("-tlcutoff", "10.0", "stored only"),
    "plot": ("-plot", "no", "stored only"),
}

# Other spellings accepted for convenience ("lambda" is a Python keyword).
ALIASES = {"lambda_": "initial_lambda", "approx": "solver", "maxiter": "max_iterations"}

FIELD_SIZE = 256  # bytes of one key or value field, NUL included


def option_value(value: Any) -> str:
    """The text the library reads for a Python value."""
    if isinstance(value, bool):
        return "yes" if value else "no"
    if isinstance(value, os.PathLike):
        return os.fspath(value)
    if isinstance(value, float):
        return repr(value)
    return str(value)


def key_of(name: str) -> str:
    """The option key of a keyword name, or the name itself when it is a key."""
    if name.startswith("-"):
        return name
    name = ALIASES.get(name, name)
    if name not in KEYWORDS:
        raise TypeError(f"unknown varnel option {name!r}; known: {', '.join(sorted(KEYWORDS))}")
    return KEYWORDS[name][0]


def to_pairs(options: Mapping[str, Any] | Iterable[tuple[str, Any]]) -> list[tuple[str, str]]:
    """Key/value pairs in the given order; options whose value is None are left out."""
    items = options.items() if isinstance(options, Mapping) else options
    pairs = []
    for name, value in items:
        if value is None:
            continue
        key, text = key_of(name), option_value(value)
        for field in (key, text):
            if len(field.encode()) >= FIELD_SIZE:
                raise ValueError(
                    f"option {key}: {field[:40]!r}... is longer than {FIELD_SIZE - 1} bytes")
        pairs.append((key, text))
    return pairs


def last_value(pairs: Iterable[tuple[str, str]], *keys: str) -> str | None:
    """The value the library ends up with for a field set by any of ``keys``."""
    wanted = {k.lower() for k in keys}
    value = None
    for key, text in pairs:
        if key.lower() in wanted:
            value = text
    return value


def model_fields(pairs: Iterable[tuple[str, str]]) -> tuple[str | None, str | None]:
    """(prior, initial) model files after applying the pairs in order."""
    prior = initial = None
    for key, text in pairs:
        k = key.lower()
        if k == "-m":
            prior = initial = text
        elif k == "-m0":
            prior = text
        elif k == "-mi":
            initial = text
    return prior, initial
