"""Running forward and inversion jobs.

The library runs one job per process, so every job runs in a child process:
by default a Python child that loads libvarnel.so with ctypes (backend
"library"), or else the command-line host ``varnel`` (backend "cli").
"""

from __future__ import annotations

import json
import os
import subprocess
import sys
import tempfile
import time
from contextlib import contextmanager
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any, Callable, NamedTuple

from . import _locate
from .model import Model, read_model
from .options import last_value, model_fields, to_pairs
from .results import Report, parse_report

MODES = {"invert": 0, "forward": 1}
STATUS_TEXT = {
    0: "the job finished",
    1: "the request was rejected",
    2: "the grid of the initial model is not the grid of the prior model",
    3: "trial models gave an undefined misfit more than three times",
    4: "the library has already run a job in this process",
    5: "the job failed",
}
_CHILD = Path(__file__).with_name("_child.py")


class Event(NamedTuple):
    """A progress event: stage 0 start, 1 initial misfit, 2 iteration done, 3 output written."""

    stage: int
    iteration: int
    rms: float


class VarnelError(RuntimeError):
    """A job that was rejected (status 1) or failed (status 5), with the library's message."""

    def __init__(self, status: int | None, message: str, log: str = ""):
        self.status, self.message, self.log = status, message, log
        super().__init__(f"{message} (status {status})" if status is not None else message)


@dataclass
class Result:
    mode: str
    status: int
    final_iteration: int
    rms: list[float]            # forward: [misfit]; inversion: RMS after iteration 0, 1, ...
    files: list[Path]           # every file the job wrote
    response_files: list[Path]  # the response of the final iteration (or the forward run)
    model_file: Path | None     # the model of the final iteration (forward: the model file)
    model: Model | None         # that model, loaded
    log: str = ""
    report: Report | None = None
    events: list[Event] = field(default_factory=list)
    seconds: float = 0.0

    @property
    def final_rms(self) -> float:
        return self.rms[-1] if self.rms else float("nan")


class TextProgress:
    """A one-line progress bar on a terminal."""

    def __init__(self, mode: str, max_iterations: int, stream=None, width: int = 30):
        self.mode, self.total, self.width = mode, max(1, max_iterations), width
        self.stream = stream or sys.stderr

    def __call__(self, event: Event):
        if self.mode == "forward":
            text = "varnel forward: running" if event.stage == 0 else \
                f"varnel forward: done, RMS misfit {event.rms:.4f}"
        else:
            done = max(0, event.iteration) if event.stage in (2, 3) else 0
            filled = self.width if event.stage == 3 else int(self.width * done / self.total)
            bar = "#" * filled + "-" * (self.width - filled)
            state = {0: "starting", 1: f"initial RMS {event.rms:.4f}",
                     2: f"iteration {event.iteration}/{self.total}, RMS {event.rms:.4f}",
                     3: f"done after iteration {event.iteration}, RMS {event.rms:.4f}"}
            text = f"varnel invert [{bar}] {state.get(event.stage, '')}"
        end = "\n" if event.stage == 3 else ""
        self.stream.write("\r" + text.ljust(78) + end)
        self.stream.flush()


def _progress_for(progress, mode: str, pairs) -> Callable[[Event], None] | None:
    if progress is False:
        return None
    if callable(progress):
        return progress
    on_terminal = sys.stderr is not None and sys.stderr.isatty()
    if progress is True or (progress is None and on_terminal):
        maxiter = last_value(pairs, "-maxiter")
        try:
            total = int(float(maxiter)) if maxiter else 20
        except ValueError:
            total = 20
        return TextProgress(mode, total)
    return None


def _choose_backend(backend: str | None) -> tuple[str, Path]:
    if backend not in (None, "library", "cli"):
        raise ValueError(f"backend must be 'library' or 'cli', not {backend!r}")
    if backend in (None, "library"):
        lib = _locate.library_path()
        if lib is not None:
            return "library", lib
        if backend == "library":
            raise FileNotFoundError("libvarnel.so not found: set VARNEL_LIBRARY or build the "
                                    "repository into build/")
    cli = _locate.cli_path()
    if cli is None:
        raise FileNotFoundError("neither libvarnel.so nor the varnel program was found: set "
                                "VARNEL_LIBRARY or VARNEL_CLI, or build the repository into build/")
    return "cli", cli


@contextmanager
def _ended_on_error(child: subprocess.Popen):
    """Stops the job when the caller gives up on it (an interrupt, a failing callback)."""
    try:
        yield
    except BaseException:
        child.kill()
        child.wait()
        raise


def _run_library(library: Path, mode: int, pairs, cwd: Path, log_file, on_event):
    """Runs the job through ctypes in a child; returns (status, final_iteration, message)."""
    read_fd, write_fd = os.pipe()
    try:
        child = subprocess.Popen(
            [sys.executable, str(_CHILD), str(library), str(mode), str(write_fd)],
            stdin=subprocess.PIPE, stdout=log_file, stderr=log_file, cwd=cwd,
            pass_fds=(write_fd,))
    finally:
        os.close(write_fd)
    outcome = None
    with _ended_on_error(child), os.fdopen(read_fd) as events:
        child.stdin.write(json.dumps(pairs).encode())
        child.stdin.close()
        for line in events:
            record = json.loads(line)
            if "status" in record:
                outcome = record
            else:
                on_event(Event(record["stage"], record["iteration"], record["rms"]))
    code = child.wait()
    if outcome is None:
        how = f"signal {-code}" if code < 0 else f"exit code {code}"
        return None, -1, f"the job process ended without a result ({how})"
    return outcome["status"], outcome["final_iteration"], outcome["error"]


def _parse_cli_line(line: str):
    """A progress event or an error message from a line the varnel program wrote."""
    text = line.strip()
    if not text.startswith("varnel: "):
        return None
    body = text[len("varnel: "):]
    if body == "started":
        return Event(0, -1, 0.0)
    words = body.replace(",", "").split()
    try:
        if body.startswith("initial model, RMS misfit"):
            return Event(1, 0, float(words[-1]))
        if body.startswith("iteration "):
            return Event(2, int(words[1]), float(words[-1]))
        if body.startswith("done after iteration"):
            return Event(3, int(words[3]), float(words[-1]))
        if body.startswith("done, RMS misfit"):
            return Event(3, 0, float(words[-1]))
    except (ValueError, IndexError):
        pass
    return body.removeprefix("request rejected: ")


def _run_cli(cli: Path, mode: int, pairs, cwd: Path, log_file, on_event):
    command = [str(cli), "invert" if mode == 0 else "forward"]
    command += [text for pair in pairs for text in pair]
    child = subprocess.Popen(command, stdout=log_file, stderr=subprocess.PIPE, cwd=cwd, text=True)
    final, message = -1, ""
    with _ended_on_error(child):
        for line in child.stderr:
            parsed = _parse_cli_line(line)
            if isinstance(parsed, Event):
                on_event(parsed)
                if parsed.stage == 3:
                    final = parsed.iteration
            elif parsed:
                message = parsed
    code = child.wait()
    if code < 0:
        return None, -1, f"the varnel program ended by signal {-code}"
    if code == 64:
        return 1, -1, message or "the command line was malformed"
    return code, final if code == 0 else -1, message


# ------------------------------------------------------------ output files

def _data_files(data: str, cwd: Path) -> list[str]:
    """The data files named by -d: the file itself, or the paths of a list file."""
    ext = data.rsplit(".", 1)[-1][:3].lower() if "." in data else ""
    if ext in ("dat", "ceg"):
        return [data]
    try:
        lines = (cwd / data).read_text().splitlines()
        count = int(float(lines[0][:100].split(":", 1)[1].split()[0]))
        return [line.strip() for line in lines[1:1 + count]]
    except (OSError, IndexError, ValueError):
        return []


def response_name(stem: str, k: int, ext: str) -> str:
    """The name under which the library writes the response for data file k (1-based)."""
    slash = stem.rfind("/")
    under = stem.rfind("_")
    if slash >= 0 and slash != 1 and under > slash:
        return f"{stem[:under + 1]}{k}{stem[under:]}.{ext}"
    return f"{stem}_{k}.{ext}"


def mask_name(response: str) -> str:
    slash = response.rfind("/") + 1  # 1-based position, 0 when none
    return "Jk_Homo.mask" if slash in (0, 2) else response[:slash] + "Jk_Homo.mask"


def _outputs(mode: str, pairs, cwd: Path, final_iteration: int):
    """Every name the job may have written, and the final response and model names."""
    response = last_value(pairs, "-r") or ""
    data = _data_files(last_value(pairs, "-d") or "", cwd)
    kinds = [d.rsplit(".", 1)[-1].lower()[:3] for d in data] or ["dat"]
    ext = kinds[0]

    def responses(stem):
        return [response_name(stem, k, ext) for k in range(1, len(data) + 1)]

    if mode == "forward":
        prior, _ = model_fields(pairs)
        return responses(response) + ([prior] if prior else []), responses(response), prior
    names = [mask_name(response)]
    for it in range(100):
        stem = f"{response}_{it:03d}"
        names += responses(stem) + [stem + ".m2d", stem + ".lr"]
    if final_iteration < 0:
        return names, [], None
    stem = f"{response}_{final_iteration:03d}"
    return names, responses(stem), stem + ".m2d"


def _written(names, cwd: Path, since: float) -> list[Path]:
    out = []
    for name in dict.fromkeys(names):
        path = cwd / name
        try:
            if path.stat().st_mtime >= since:
                out.append(path.resolve())
        except OSError:
            pass
    return out


# ------------------------------------------------------------------ API

def run(mode: str, *, cwd: str | Path | None = None, progress=None, backend: str | None = None,
        options: dict[str, Any] | None = None, **keywords) -> Result:
    """Runs one job; ``mode`` is "forward" or "invert". See :func:`forward`."""
    if mode not in MODES:
        raise ValueError(f"mode must be 'forward' or 'invert', not {mode!r}")
    pairs = to_pairs(list(keywords.items()) + list((options or {}).items()))
    cwd = Path(cwd or ".").resolve()
    kind, program = _choose_backend(backend)
    events: list[Event] = []
    show = _progress_for(progress, mode, pairs)

    def on_event(event: Event):
        events.append(event)
        if show is not None:
            show(event)

    # The file system's clock may lag the wall clock by a tick.
    start = time.time()
    since = start - 0.05
    with tempfile.TemporaryFile(mode="w+") as log_file:
        runner = _run_library if kind == "library" else _run_cli
        status, final, message = runner(program, MODES[mode], pairs, cwd, log_file, on_event)
        log_file.seek(0)
        log = log_file.read()
    if isinstance(show, TextProgress) and (not events or events[-1].stage != 3):
        show.stream.write("\n")  # end the bar of a job that stopped early
    seconds = time.time() - start
    if status is None or status in (1, 4, 5):
        message = message or STATUS_TEXT.get(status, "the job failed")
        if status is None and log.strip():
            message += ": " + " | ".join(log.strip().splitlines()[-3:])
        raise VarnelError(status, message, log)

    names, final_responses, final_model = _outputs(mode, pairs, cwd, final)
    files = _written(names, cwd, since)
    model_path = (cwd / final_model).resolve() if final_model else None
    model = read_model(model_path) if model_path and model_path.is_file() else None
    if mode == "forward":
        rms = [e.rms for e in events if e.stage == 3]
    else:
        by_iteration = {e.iteration: e.rms for e in events if e.stage in (1, 2)}
        rms = [by_iteration[k] for k in sorted(by_iteration)]
    return Result(mode=mode, status=status, final_iteration=final, rms=rms, files=files,
                  response_files=[(cwd / n).resolve() for n in final_responses],
                  model_file=model_path, model=model, log=log,
                  report=parse_report(log) if mode == "invert" else None, events=events,
                  seconds=seconds)


def forward(data=None, model=None, response=None, **options) -> Result:
    """Computes the response of ``model`` for the survey ``data``; writes ``response``.

    Keyword options are those of :data:`varnel.options.KEYWORDS` (or raw keys
    through ``options={"-key": value}``), plus ``cwd`` (folder the job runs in;
    relative names are relative to it), ``progress`` (None: a bar on a
    terminal; False: quiet; a callable: called with every :class:`Event`) and
    ``backend`` ("library" or "cli"). The job rewrites the model file with its
    misfit. Raises :class:`VarnelError` when the request is rejected or the
    job fails.
    """
    return run("forward", data=data, model=model, response=response, **options)


def invert(data=None, response=None, **options) -> Result:
    """Inverts the survey ``data``; the files of iteration k are named ``response``_kkk.

    Takes the keywords of :func:`forward`. A result with status 2 or 3 has no
    final model.
    """
    return run("invert", data=data, response=response, **options)
