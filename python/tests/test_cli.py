"""The command line: python3 -m varnel plot / fit / rms / export."""

import subprocess
import sys

import numpy as np
import pytest
from conftest import XS, ZS, mask_text
from matplotlib.image import imread

import varnel
from varnel.__main__ import main


def png_ok(path):
    image = imread(path)[:, :, :3]
    return image.std() > 0.05 and (np.ptp(image, axis=2) > 0.2).mean() > 0.002


def test_plot_a_section_from_the_shell(synthetic):
    run = subprocess.run([sys.executable, "-m", "varnel", "plot", "block.m2d", "-o", "section.png",
                          "--data", "data.dat"], cwd=synthetic, capture_output=True, text=True,
                         timeout=60)
    assert run.returncode == 0, run.stderr
    assert png_ok(synthetic / "section.png")


@pytest.fixture
def run_dir(synthetic):
    """Files as an inversion leaves them: models with their misfits, a table, a mask, a log."""
    model = varnel.read_model(synthetic / "block.m2d")
    for k, rms in enumerate([5.0, 2.0, 1.1]):
        varnel.write_model(synthetic / "out" / f"run_{k:03d}.m2d", model, rms=rms)
    (synthetic / "out" / "run_001.lr").write_text(
        "  1.000000  3.00                9.00\n 10.000000  2.00                5.00\n"
        "100.000000  4.00                2.00\n")
    (synthetic / "out" / "Jk_Homo.mask").write_text(mask_text(XS, ZS, model.values))
    (synthetic / "run.log").write_text(
        "! Initial RMS Misfit:     5.0000\n! Iteration:  1 , RMS:     2.0000\n"
        "!------------------- Final Result ------------------------\n! Iteration:  1\n")
    return synthetic


@pytest.mark.parametrize("argv", [
    ["plot", "data.dat", "-o", "a.png"],
    ["plot", "out/run_001.lr", "-o", "a.png"],
    ["plot", "out/Jk_Homo.mask", "-o", "a.png"],
    ["plot", "out/run_002.m2d", "-o", "a.png", "--mask", "out/Jk_Homo.mask"],
    ["fit", "data.dat", "out/synthetic_1.dat", "-o", "a.png"],
    ["rms", "out/run", "-o", "a.png"],
    ["rms", "run.log", "-o", "a.png"],
])
def test_plot_commands(run_dir, monkeypatch, capsys, argv):
    monkeypatch.chdir(run_dir)
    assert main(argv) == 0
    assert capsys.readouterr().out.strip() == "a.png"
    assert png_ok(run_dir / "a.png")


def test_rms_command_reads_each_iteration(run_dir, monkeypatch):
    monkeypatch.chdir(run_dir)
    from varnel.__main__ import _rms_source
    assert _rms_source(["out/run"]) == [5.0, 2.0, 1.1]
    assert _rms_source(["run.log"]).iteration_rms == {0: 5.0, 1: 2.0}


@pytest.mark.parametrize("name, extra, first", [
    ("m.vtk", [], "# vtk DataFile Version 3.0"),
    ("m.vtk", ["--grid", "unstructured"], "# vtk DataFile Version 3.0"),
    ("m.csv", [], "x,z,resistivity"),
])
def test_export_command(run_dir, monkeypatch, name, extra, first):
    monkeypatch.chdir(run_dir)
    assert main(["export", "out/run_002.m2d", "-o", name] + extra) == 0
    text = (run_dir / name).read_text()
    assert text.splitlines()[0] == first
    if extra:
        assert "UNSTRUCTURED_GRID" in text


def test_bad_input_is_reported(run_dir, monkeypatch, capsys):
    monkeypatch.chdir(run_dir)
    (run_dir / "bad.m2d").write_text("RMS Misfit: 1\n2 1\nHorizontal Grid:\n0\nx\n")
    assert main(["plot", "bad.m2d"]) == 1
    assert "bad.m2d, line 5" in capsys.readouterr().err
