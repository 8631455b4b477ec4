"""Batch runs on a local Dask cluster of two workers."""

import json
import shutil
import subprocess
import sys

import numpy as np
import pytest

import varnel
from varnel.batch import parse_jobs, run_batch, summary_table


def test_batch_with_a_failing_job(tiny):
    shutil.copy(tiny / "block.m2d", tiny / "block2.m2d")  # every forward job rewrites its model
    grid = varnel.read_model(tiny / "block.m2d")
    varnel.write_model(tiny / "hom.m2d", varnel.homogeneous(grid.xs, grid.zs, 100.0))
    jobs = [
        {"name": "homogeneous", "mode": "forward",
         "options": {"data": "tiny.dat", "model": "hom.m2d", "response": "out/hom"}},
        {"name": "block", "mode": "forward",
         "options": {"data": "tiny.dat", "model": "block.m2d", "response": "out/block",
                     "-approx": "fe"}},
        {"name": "refit", "mode": "forward", "after": ["block"],
         "options": {"data": "{block.response}", "model": "block2.m2d", "response": "out/refit"}},
        {"name": "broken", "mode": "forward",
         "options": {"data": "missing.dat", "model": "hom.m2d", "response": "out/broken"}},
        {"name": "after_broken", "mode": "forward", "after": "broken",
         "options": {"data": "tiny.dat", "model": "hom.m2d", "response": "out/never"}},
    ]
    (tiny / "jobs.json").write_text(json.dumps({"jobs": jobs}))
    run = subprocess.run([sys.executable, "-m", "varnel", "batch", "jobs.json", "--workers", "2",
                          "--summary", "summary.json"], cwd=tiny, capture_output=True, text=True,
                         timeout=120)
    assert run.returncode == 1, run.stderr  # one job failed
    outcomes = {o["name"]: o for o in json.loads((tiny / "summary.json").read_text())}
    assert [o for o in outcomes] == [j["name"] for j in jobs]
    assert {n: o["state"] for n, o in outcomes.items()} == {
        "homogeneous": "done", "block": "done", "refit": "done", "broken": "failed",
        "after_broken": "skipped"}
    assert outcomes["broken"]["status"] == 5 and "missing.dat" in outcomes["broken"]["message"]
    assert "broken" in outcomes["after_broken"]["message"]
    assert not (tiny / "out" / "never_1.dat").exists()
    # The block model fits its own response: only the 6 digits of the file remain.
    assert outcomes["refit"]["rms"] < 0.01 < outcomes["block"]["rms"]
    assert outcomes["refit"]["response_files"] == [str(tiny / "out" / "refit_1.dat")]
    # The jobs ran with the same results as a direct run.
    direct = varnel.forward("tiny.dat", "hom.m2d", "out/direct", cwd=tiny, progress=False)
    assert outcomes["homogeneous"]["rms"] == pytest.approx(direct.final_rms, rel=1e-12)
    for name in outcomes:
        assert name in run.stdout  # the summary table
    assert "missing.dat" in run.stdout


@pytest.mark.filterwarnings("ignore::DeprecationWarning")  # from Debian's tornado under Dask
def test_time_lapse_series(synthetic):
    """A reference inversion, then two later surveys inverted for their difference."""
    data = varnel.read_dat(synthetic / "data.dat")
    for k, change in [(1, 0.95), (2, 0.9)]:
        values = data.values.copy()
        values[data.midpoints() < 6.0] *= change  # the left half becomes more conductive
        varnel.write_dat(synthetic / f"t{k}.dat", data.with_values(values))
    later = {"timelapse": "difference", "reference_data": "data.dat",
             "reference_response": "{ref.response}", "model": "{ref.model}", "error": 3,
             "max_iterations": 2}
    jobs = parse_jobs([
        {"name": "ref", "mode": "invert",
         "options": {"data": "data.dat", "response": "out/ref", "error": 3, "max_iterations": 2}},
        {"name": "t1", "mode": "invert", "after": ["ref"],
         "options": dict(later, data="t1.dat", response="out/t1")},
        {"name": "t2", "mode": "invert", "after": ["ref"],
         "options": dict(later, data="t2.dat", response="out/t2")},
    ])
    outcomes = run_batch(jobs, base_dir=synthetic, workers=2)
    assert [o.state for o in outcomes] == ["done"] * 3, summary_table(outcomes)
    reference = varnel.read_model(outcomes[0].model_file)
    log_change = [np.log(varnel.read_model(o.model_file).values / reference.values)
                  for o in outcomes[1:]]
    xc, zc = reference.centres()
    left, right = (xc < 5) & (zc < 3), (xc > 7) & (xc < 11) & (zc < 3)
    drop = [np.mean(c[left]) for c in log_change]
    # The left part becomes more conductive, about ln 0.9 / ln 0.95 = 2.05 times as much in the
    # second survey (small changes invert linearly); the right part hardly changes.
    assert drop[0] < 0 and 1.5 < drop[1] / drop[0] < 2.6
    for c, d in zip(log_change, drop):
        assert abs(np.mean(c[right])) < abs(d) / 4


@pytest.mark.parametrize("jobs, message", [
    ([{"name": "a", "mode": "inverse", "options": {}}], "mode"),
    ([{"name": "a", "mode": "forward"}, {"name": "a", "mode": "forward"}], "twice"),
    ([{"name": "a", "mode": "forward", "after": ["b"]}], "unknown job"),
    ([{"name": "a", "mode": "forward", "after": ["b"]},
      {"name": "b", "mode": "forward", "after": ["a"]}], "wait for each other"),
])
def test_job_list_errors(jobs, message):
    with pytest.raises(ValueError, match=message):
        parse_jobs({"jobs": jobs})


def test_jobs_run_after_what_they_wait_for():
    order = parse_jobs([{"name": "late", "mode": "invert", "after": ["early"]},
                        {"name": "early", "mode": "invert"}])
    assert [j.name for j in order] == ["early", "late"]
