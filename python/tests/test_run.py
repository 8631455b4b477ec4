"""Jobs through the package: forward and inversion runs, progress, errors."""

import math
import re

import numpy as np
import pytest
from conftest import ELECTRODES, REPOSITORY, tiny_electrodes

import varnel
from varnel.options import KEYWORDS, model_fields, to_pairs
from varnel.runner import mask_name, response_name


def log_rms(observed, computed, percent):
    """RMS misfit of log data with errors of ``percent`` of the observed values."""
    r = np.log(observed) - np.log(computed)
    return math.sqrt(np.mean(r ** 2 / (percent / 100.0) ** 2))


@pytest.mark.parametrize("backend", ["library", "cli"])
def test_forward_of_homogeneous_ground(tiny, backend):
    varnel.write_model(tiny / "hom.m2d", varnel.homogeneous(*_grid(tiny), 100.0))
    events = []
    result = varnel.forward("tiny.dat", "hom.m2d", "out/hom", cwd=tiny, backend=backend,
                            progress=events.append)
    assert result.status == 0 and result.final_iteration == 0
    assert [e.stage for e in events] == [0, 3] and events == result.events
    response = tiny / "out" / "hom_1.dat"
    assert set(result.files) == {response, tiny / "hom.m2d"}
    assert result.response_files == [response] and result.model_file == tiny / "hom.m2d"

    computed = varnel.read_dat(response)
    # Over homogeneous ground every apparent resistivity is the ground's own.
    np.testing.assert_allclose(computed.apparent_resistivity(), 100.0, rtol=0.06)
    # The reported misfit is that of the response against the 1 % errors of a DAT file.
    expected = log_rms(np.full(42, 100.0), computed.values, 1.0)
    assert result.final_rms == pytest.approx(expected, rel=1e-4)
    # The job rewrote the model file with its misfit; the result holds that model.
    assert result.model.rms == pytest.approx(result.final_rms, abs=6e-5)  # CLI: 4 decimals
    np.testing.assert_array_equal(result.model.values, 100.0)


def _grid(folder):
    model = varnel.read_model(folder / "block.m2d")
    return model.xs, model.zs


def test_backends_give_the_same_response(tiny):
    library = varnel.forward("tiny.dat", "block.m2d", "out/lib", cwd=tiny, progress=False)
    cli = varnel.forward("tiny.dat", "block.m2d", "out/cli", cwd=tiny, progress=False,
                         backend="cli")
    a = varnel.read_dat(library.response_files[0]).values
    b = varnel.read_dat(cli.response_files[0]).values
    np.testing.assert_array_equal(a, b)
    assert cli.final_rms == pytest.approx(library.final_rms, abs=5e-5)  # the CLI prints 4 decimals
    assert a.min() < 80.0  # the conductive block shows in the data


@pytest.mark.parametrize("backend", ["library", "cli"])
@pytest.mark.parametrize("case, status, pattern", [
    ("missing", 5, r"nothere\.dat"),
    ("malformed", 5, r"broken\.dat, line 12"),
    ("maxiter", 1, r"-maxiter"),
    ("no model", 1, r"model file"),
])
def test_failures_raise_with_the_library_message(tiny, backend, case, status, pattern):
    text = (tiny / "tiny.dat").read_text().splitlines()
    text[11] = text[11].replace("1.00000E+02", "1.0x0E+02")  # datum 3's value
    (tiny / "broken.dat").write_text("\n".join(text) + "\n")
    options = {"missing": dict(data="nothere.dat", model="block.m2d"),
               "malformed": dict(data="broken.dat", model="block.m2d"),
               "maxiter": dict(data="tiny.dat", model="block.m2d", max_iterations=0),
               "no model": dict(data="tiny.dat")}[case]
    with pytest.raises(varnel.VarnelError) as caught:
        varnel.forward(response="out/x", cwd=tiny, progress=False, backend=backend, **options)
    assert caught.value.status == status
    assert re.search(pattern, caught.value.message), caught.value.message
    assert not (tiny / "out" / "x_1.dat").exists()


def test_text_progress_bar(tiny, capsys):
    varnel.forward("tiny.dat", "block.m2d", "out/bar", cwd=tiny, progress=True)
    err = capsys.readouterr().err
    assert "varnel forward: done, RMS misfit" in err and err.endswith("\n")


def test_inversion_of_a_tiny_survey(synthetic):
    result = varnel.invert(data="data.dat", response="out/inv", error=3, max_iterations=3,
                           cwd=synthetic, progress=False)
    assert result.status == 0
    final = result.final_iteration
    assert 0 <= final <= 3
    assert len(result.rms) >= final + 1 and result.rms[final] < result.rms[0]
    assert [e.stage for e in result.events][:2] == [0, 1] and result.events[-1].stage == 3

    out = synthetic / "out"
    for name in ["inv_000.m2d", "inv_1_000.dat", "Jk_Homo.mask", f"inv_{final:03d}.m2d"]:
        assert out / name in result.files
    assert result.model_file == out / f"inv_{final:03d}.m2d"
    assert result.response_files == [out / f"inv_1_{final:03d}.dat"]

    # The final response, read back, has the reported misfit against the 3 % errors.
    data = varnel.read_dat(synthetic / "data.dat").values
    response = varnel.read_dat(result.response_files[0]).values
    assert log_rms(data, response, 3.0) == pytest.approx(result.rms[final], rel=1e-3)

    report = result.report
    assert report.iteration == final and report.rms == pytest.approx(result.rms[final], abs=1e-4)
    assert report.model_parameters == result.model.values.size
    assert result.model.rms == pytest.approx(result.rms[final], abs=1e-5)
    # Each iteration's accepted trial is a row of its multiplier table.
    for k in range(1, len(result.rms)):
        table = varnel.read_lr(out / f"inv_{k:03d}.lr")
        assert np.any(np.abs(table.rms - result.rms[k]) <= 0.0051)
    mask = varnel.read_mask(out / "Jk_Homo.mask")
    assert mask.shape == result.model.shape
    assert np.all(mask.values[np.isfinite(mask.values)] >= 0)


@pytest.mark.parametrize("backend", ["library", "cli"])
def test_a_failing_callback_stops_the_job(synthetic, backend):
    def stop(event):
        if event.stage == 2:
            raise KeyboardInterrupt

    with pytest.raises(KeyboardInterrupt):
        varnel.invert("data.dat", "out/stop", max_iterations=6, target=0.01, cwd=synthetic,
                      progress=stop, backend=backend)
    out = synthetic / "out"
    assert (out / "stop_001.m2d").is_file() and not (out / "stop_006.m2d").exists()


def test_grid_mismatch_returns_status_2(tiny):
    """Prior and initial models on different grids: no exception, no model, no iteration."""
    model = varnel.read_model(tiny / "block.m2d")
    varnel.write_model(tiny / "coarse.m2d", varnel.homogeneous(model.xs[::2], model.zs, 100.0))
    result = varnel.invert("tiny.dat", "out/mismatch", prior="block.m2d", initial="coarse.m2d",
                           cwd=tiny, progress=False)
    assert (result.status, result.final_iteration, result.model) == (2, -1, None)
    assert result.files == [] and "not consistent" in result.log


def test_keywords_cover_the_option_table():
    readme = (REPOSITORY / "README.md").read_text()
    documented = set()
    for line in readme.splitlines():
        documented.update(re.findall(r"`(-[a-z_0-9]+)`", line.split("|")[1])
                          if line.startswith("| `-") else [])
    assert documented == {key for key, _, _ in KEYWORDS.values()}


def test_option_pairs_keep_their_order():
    pairs = to_pairs(dict(data="a.dat", initial="i.m2d", model="m.m2d", msub=True,
                          initial_lambda=10.0, error=None))
    assert pairs == [("-d", "a.dat"), ("-mi", "i.m2d"), ("-m", "m.m2d"), ("-msub", "yes"),
                     ("-lambda", "10.0")]
    assert model_fields(pairs) == ("m.m2d", "m.m2d")  # a later -m overrides -mi
    assert model_fields(to_pairs({"-m": "m", "-mi": "i"})) == ("m", "i")
    with pytest.raises(TypeError):
        to_pairs({"iterations": 3})


@pytest.mark.parametrize("stem, name", [
    ("out/model_resp", "out/model_1_resp.dat"),
    ("./resp_a", "./resp_a_1.dat"),
    ("out/resp", "out/resp_1.dat"),
    ("resp", "resp_1.dat"),
    ("out/line1_004", "out/line1_1_004.dat"),
])
def test_response_names(stem, name):
    assert response_name(stem, 1, "dat") == name


@pytest.mark.parametrize("response, mask", [
    ("out/run", "out/Jk_Homo.mask"), ("x/run", "Jk_Homo.mask"), ("run", "Jk_Homo.mask")])
def test_mask_names(response, mask):
    assert mask_name(response) == mask


def test_survey_geometry():
    electrodes = tiny_electrodes()
    survey = varnel.Survey(electrodes=electrodes, values=np.ones(len(electrodes)))
    wenner = survey.array_kinds().count("wenner/schlumberger")
    assert wenner == 9 + 6 + 3 and len(survey) - wenner == 9 + 8 + 7
    # Wenner-alpha: 2 pi a; dipole-dipole: pi a n (n + 1) (n + 2).
    k = survey.geometric_factor()
    np.testing.assert_allclose(k[:9], 2 * np.pi)
    np.testing.assert_allclose(k[18:27], np.pi * 1 * 2 * 3)
    np.testing.assert_allclose(survey.levels()[:18], np.repeat([1, 2, 3], [9, 6, 3]))
    np.testing.assert_allclose(survey.midpoints()[:9], ELECTRODES[:9] + 1.5)
