"""Batch runs of many jobs on Dask distributed.

A job list is JSON: ``{"jobs": [...]}`` (or the list itself), one entry per
job::

    {"name": "t1", "mode": "invert", "after": ["ref"],
     "options": {"data": "t1.dat", "response": "out/t1", "model": "{ref.model}"}}

``options`` takes the keywords of :func:`varnel.forward` or raw keys
("-maxiter"). ``after`` names jobs that must finish first; in option values
``{name.model}``, ``{name.response}`` and ``{name.mask}`` become the final
model, the first final response file and the sensitivity mask of job
``name``. Relative paths are relative to the folder of the job list (or
``base_dir``); workers must see the same files. Every job runs in a process
of its own; a failed job is reported with its message and does not stop the
others, and jobs after it are skipped. Jobs use one thread unless their
options say otherwise.
"""

from __future__ import annotations

import json
import logging
import os
import re
import socket
import time
import uuid
from dataclasses import asdict, dataclass, field
from pathlib import Path
from typing import Any, Callable

_PLACEHOLDER = re.compile(r"\{([A-Za-z0-9_.-]+?)\.(model|response|mask)\}")


@dataclass
class Job:
    name: str
    mode: str
    options: dict[str, Any]
    after: list[str] = field(default_factory=list)


@dataclass
class Outcome:
    name: str
    mode: str
    state: str                   # "done", "failed" or "skipped"
    status: int | None = None
    final_iteration: int | None = None
    rms: float | None = None
    seconds: float = 0.0
    message: str = ""
    model_file: str | None = None
    response_files: list[str] = field(default_factory=list)
    mask_file: str | None = None
    worker: str = ""

    @property
    def ok(self) -> bool:
        return self.state == "done"


def parse_jobs(decoded: Any) -> list[Job]:
    """Jobs from the decoded JSON, checked and put in an order that respects ``after``."""
    entries = decoded.get("jobs") if isinstance(decoded, dict) else decoded
    if not isinstance(entries, list):
        raise ValueError("a job list is a JSON list of jobs, or an object with a 'jobs' list")
    jobs: dict[str, Job] = {}
    for k, entry in enumerate(entries, start=1):
        if not isinstance(entry, dict):
            raise ValueError(f"job {k}: expected an object with 'mode' and 'options'")
        name = str(entry.get("name", f"job{k}"))
        mode = entry.get("mode")
        if mode not in ("forward", "invert"):
            raise ValueError(f"job {name}: mode must be 'forward' or 'invert', not {mode!r}")
        if name in jobs:
            raise ValueError(f"job {name}: the name is used twice")
        after = entry.get("after", [])
        after = [after] if isinstance(after, str) else list(after)
        jobs[name] = Job(name, mode, dict(entry.get("options", {})), after)
    order: list[Job] = []
    state: dict[str, str] = {}

    def visit(job: Job, path: tuple[str, ...]):
        if state.get(job.name) == "done":
            return
        if job.name in path:
            raise ValueError(f"jobs {' -> '.join(path + (job.name,))} wait for each other")
        for dep in job.after:
            if dep not in jobs:
                raise ValueError(f"job {job.name}: 'after' names the unknown job {dep!r}")
            visit(jobs[dep], path + (job.name,))
        state[job.name] = "done"
        order.append(job)

    for job in jobs.values():
        visit(job, ())
    return order


def load_jobs(path: str | Path) -> list[Job]:
    with open(path) as f:
        return parse_jobs(json.load(f))


def _substitute(value: Any, done: dict[str, dict]) -> Any:
    if not isinstance(value, str):
        return value

    def replace(match):
        name, what = match.group(1), match.group(2)
        if name not in done:
            raise ValueError(f"{match.group(0)}: job {name!r} is not in this job's 'after' list")
        found = {"model": done[name]["model_file"], "mask": done[name]["mask_file"],
                 "response": (done[name]["response_files"] or [None])[0]}[what]
        if not found:
            raise ValueError(f"{match.group(0)}: job {name!r} wrote no such file")
        return found

    return _PLACEHOLDER.sub(replace, value)


def run_job(job: dict, base_dir: str, *after: dict) -> dict:
    """Runs one job (on a worker); never raises: a failure is part of the outcome."""
    from .options import key_of, last_value, to_pairs
    from .runner import VarnelError, mask_name, run

    started = time.time()
    worker = f"{socket.gethostname()}:{os.getpid()}"
    out = Outcome(job["name"], job["mode"], "failed", worker=worker)
    failed = [d["name"] for d in after if d["state"] != "done"]
    if failed:
        out.state, out.message = "skipped", f"job {', '.join(failed)} did not finish"
        return asdict(out)
    try:
        done = {d["name"]: d for d in after}
        options = {k: _substitute(v, done) for k, v in job["options"].items()}
        if not any(key_of(k).lower() == "-np" for k in options):
            options["threads"] = 1  # the workers share the machine's cores
        result = run(job["mode"], cwd=base_dir, progress=False, **options)
        out.state = "done" if result.status == 0 else "failed"
        out.status, out.final_iteration = result.status, result.final_iteration
        out.rms = result.final_rms
        out.model_file = str(result.model_file) if result.model_file else None
        out.response_files = [str(p) for p in result.response_files]
        mask = Path(base_dir) / mask_name(last_value(to_pairs(options), "-r") or "")
        out.mask_file = str(mask.resolve()) if job["mode"] == "invert" and mask.is_file() else None
        if result.status != 0:
            out.message = f"status {result.status}"
    except VarnelError as e:
        out.status, out.message = e.status, e.message
    except Exception as e:  # a bad job description must not stop the batch
        out.message = f"{type(e).__name__}: {e}"
    out.seconds = time.time() - started
    return asdict(out)


def run_batch(jobs: list[Job], base_dir: str | Path = ".", scheduler: str | None = None,
              workers: int = 2, on_done: Callable[[Outcome], None] | None = None) -> list[Outcome]:
    """Runs the jobs on a local cluster of ``workers`` processes, or on ``scheduler``."""
    from distributed import Client, LocalCluster, as_completed

    base_dir = str(Path(base_dir).resolve())
    cluster = None
    if scheduler:
        client = Client(scheduler)
    else:
        cluster = LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                               dashboard_address=None, silence_logs=logging.ERROR)
        client = Client(cluster)
    try:
        tag = uuid.uuid4().hex[:8]
        futures = {}
        for job in jobs:
            futures[job.name] = client.submit(
                run_job, asdict(job), base_dir, *[futures[d] for d in job.after],
                key=f"varnel-{job.name}-{tag}", pure=False)
        names = {f.key: name for name, f in futures.items()}
        outcomes: dict[str, Outcome] = {}
        for future in as_completed(list(futures.values())):
            name = names[future.key]
            try:
                outcome = Outcome(**future.result())
            except Exception as e:  # the worker itself died
                job = next(j for j in jobs if j.name == name)
                outcome = Outcome(name, job.mode, "failed", message=f"{type(e).__name__}: {e}")
            outcomes[name] = outcome
            if on_done is not None:
                on_done(outcome)
        return [outcomes[job.name] for job in jobs]
    finally:
        client.close()
        if cluster is not None:
            cluster.close()


def summary_table(outcomes: list[Outcome]) -> str:
    """A plain-text table: one line per job."""
    head = ["job", "mode", "state", "status", "iteration", "RMS", "seconds", "message"]
    rows = [[o.name, o.mode, o.state, "" if o.status is None else str(o.status),
             "" if o.final_iteration is None else str(o.final_iteration),
             "" if o.rms is None else f"{o.rms:.4f}", f"{o.seconds:.1f}", o.message]
            for o in outcomes]
    widths = [max(len(r[k]) for r in [head] + rows) for k in range(len(head) - 1)]
    lines = []
    for r in [head] + rows:
        lines.append("  ".join(c.ljust(w) for c, w in zip(r, widths)) + "  " + r[-1])
    return "\n".join(line.rstrip() for line in lines)


def write_summary(outcomes: list[Outcome], path: str | Path) -> Path:
    """The outcomes as JSON (.json) or as the text table (any other extension)."""
    path = Path(path)
    if path.suffix.lower() == ".json":
        path.write_text(json.dumps([asdict(o) for o in outcomes], indent=2) + "\n")
    else:
        path.write_text(summary_table(outcomes) + "\n")
    return path
