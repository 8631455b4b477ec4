"""Where the library and the command-line host are.

``VARNEL_LIBRARY`` names libvarnel.so and ``VARNEL_CLI`` the ``varnel``
program; without them the repository's own build/ folder is used (the package
lives in python/ beside it), and for the program also the PATH.
"""

from __future__ import annotations

import os
import shutil
from pathlib import Path

REPOSITORY = Path(__file__).resolve().parents[2]


def _from_env(name: str) -> Path | None:
    value = os.environ.get(name, "")
    if not value:
        return None
    path = Path(value).expanduser()
    if not path.is_file():
        raise FileNotFoundError(f"{name} names {value}, which is not a file")
    return path.resolve()


def library_path() -> Path | None:
    path = _from_env("VARNEL_LIBRARY")
    if path is not None:
        return path
    built = REPOSITORY / "build" / "libvarnel.so"
    return built if built.is_file() else None


def cli_path() -> Path | None:
    path = _from_env("VARNEL_CLI")
    if path is not None:
        return path
    built = REPOSITORY / "build" / "varnel"
    if built.is_file():
        return built
    found = shutil.which("varnel")
    return Path(found) if found else None
