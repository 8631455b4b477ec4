"""Readers and writers, checked against files the library wrote."""

import math

import numpy as np
import pytest
from conftest import REPOSITORY, XS, ZS, block_model, mask_text, tiny_electrodes

import varnel


def test_resistance_data_in_ohms(tiny):
    """The same survey as resistances (ohm): response x 2 pi / G = apparent resistivity."""
    survey = varnel.read_dat(tiny / "tiny.dat")
    ohms = survey.with_values(np.full(len(survey), 1.0), measuretype=1)
    varnel.write_dat(tiny / "ohms.dat", ohms)
    rho = varnel.forward("tiny.dat", "block.m2d", "out/rho", cwd=tiny, progress=False)
    res = varnel.forward("ohms.dat", "block.m2d", "out/ohm", cwd=tiny, progress=False)
    rho_a = varnel.read_dat(rho.response_files[0])
    ohm = varnel.read_dat(res.response_files[0])
    assert (rho_a.measuretype, ohm.measuretype) == (0, 1)
    np.testing.assert_allclose(ohm.electrodes, survey.electrodes)
    np.testing.assert_allclose(ohm.apparent_resistivity(), rho_a.values, rtol=2e-5)
    np.testing.assert_allclose(rho_a.resistance(), ohm.values, rtol=2e-5)


def ceg_text(electrodes, values, errors):
    positions = np.unique(electrodes.reshape(-1, 2), axis=0)
    index = {tuple(p): k + 1 for k, p in enumerate(positions)}
    lines = ["Survey Type: dcr2d", "Profile Name: tiny", "Array Type: wenner",
             "Electrode Spacing: 1.0", f"Number of Data: {len(values)}",
             f"Number of Electrode: {len(positions)}", "Rho Type: resistivity",
             "IP Include: no", "Error Include: yes", "Position Type: th",
             "Data Pattern: ec1 ec2 ep1 ep2 rho err", "", "Electrode Position"]
    lines += [f"{k + 1} {x} {z}" for k, (x, z) in enumerate(positions)]
    lines += ["", "List"]
    for e, v, s in zip(electrodes, values, errors):
        lines.append(" ".join(str(index[tuple(p)]) for p in e) + f" {v} {s}")
    return "\n".join(lines) + "\n"


def test_ceg_response_matches_the_dat_response(tiny):
    electrodes = tiny_electrodes()
    (tiny / "tiny.ceg").write_text(ceg_text(electrodes, np.full(42, 100.0), np.full(42, 2.0)))
    dat = varnel.forward("tiny.dat", "block.m2d", "out/d", cwd=tiny, progress=False)
    ceg = varnel.forward("tiny.ceg", "block.m2d", "out/c", cwd=tiny, progress=False)
    assert ceg.response_files == [tiny / "out" / "c_1.ceg"]
    survey = varnel.read_ceg(ceg.response_files[0])
    assert survey.kind == "ceg" and survey.ceg.pattern == ["ec1", "ec2", "ep1", "ep2", "rho", "err"]
    np.testing.assert_allclose(survey.electrodes, electrodes)
    expected = varnel.read_dat(dat.response_files[0]).values
    np.testing.assert_allclose(survey.values, expected, rtol=1e-5)
    # Every datum keeps its 2 % error, now of the computed value.
    np.testing.assert_allclose(survey.errors, 0.02 * survey.values, rtol=1e-4)
    # The misfit weighs by the file's 2 % errors, against 1 % for a DAT file.
    assert ceg.final_rms == pytest.approx(dat.final_rms / 2, rel=1e-6)


def test_ceg_reader_on_a_hand_written_file():
    survey = varnel.read_ceg(REPOSITORY / "tests" / "data" / "ceg" / "mixed_case.ceg")
    assert (survey.arraytype, survey.measuretype, survey.espacing) == (3, 1, 2.5)
    assert survey.profile == "north line" and survey.x_position_type == 2
    # Row 3 goes on over two lines; the extra values of row 2 are ignored.
    np.testing.assert_allclose(survey.electrodes[2], [[5.0, 0.5], [7.5, 0.4], [10.0, 0.2],
                                                     [12.5, 0.0]])
    np.testing.assert_allclose(survey.values, [12.5, 10.25, 8.125, 3.0625])
    np.testing.assert_allclose(survey.errors, [0.5, 0.4, 0.3, 0.1])
    np.testing.assert_allclose(survey.topography, [[0, 0], [6.25, 0.5], [12.5, 0]])


@pytest.mark.parametrize("code, row, midpoint, electrodes", [
    (1, "10.0 2.0 100.0", 0, [10, 16, 12, 14]),
    (1, "10.0 2.0 100.0", 1, [7, 13, 9, 11]),
    (3, "0 1 2 100.0", 0, [1, 0, 3, 4]),
    (7, "0 1 2 100.0", 0, [0, 5, 2, 3]),
])
def test_simple_layouts(tmp_path, code, row, midpoint, electrodes):
    path = tmp_path / "simple.dat"
    path.write_text(f"simple\n1.0\n{code}\n1\n{midpoint}\n0\n{row}\n")
    survey = varnel.read_dat(path)
    np.testing.assert_allclose(survey.electrodes[0, :, 0], electrodes)
    assert survey.values[0] == 100.0 and survey.measuretype == 0 and len(survey.topography) == 0


def test_dat_round_trip_with_topography_and_ip(tmp_path):
    electrodes = tiny_electrodes()[:5]
    electrodes[:, :, 1] = 0.1 * electrodes[:, :, 0]
    survey = varnel.Survey(electrodes=electrodes, values=[1.5e-3, 2.0, 30.0, 400.0, 5e4],
                           ip=[1, 2, 3, 4, 5], topography=[[-1.0, -0.1], [20.0, 2.0]],
                           espacing=1.0, profile="round trip", measuretype=1)
    back = varnel.read_dat(varnel.write_dat(tmp_path / "r.dat", survey))
    np.testing.assert_allclose(back.electrodes, survey.electrodes, atol=0.005)
    np.testing.assert_allclose(back.values, survey.values, rtol=5e-6)
    np.testing.assert_allclose(back.ip, survey.ip)
    np.testing.assert_allclose(back.topography, survey.topography)
    assert (back.profile, back.measuretype) == ("round trip", 1)


def test_model_file_rewritten_by_the_library(tiny):
    model = block_model(resistivity=12.345678912)
    varnel.write_model(tiny / "m.m2d", model)
    result = varnel.forward("tiny.dat", "m.m2d", "out/m", cwd=tiny, progress=False)
    back = varnel.read_model(tiny / "m.m2d")
    np.testing.assert_allclose(back.xs, XS, rtol=1e-10)
    np.testing.assert_allclose(back.zs, ZS, rtol=1e-10)
    np.testing.assert_allclose(back.values, model.values, rtol=1e-9)
    assert back.rms == pytest.approx(result.final_rms, abs=1e-5) and back.rms > 1.0


def test_uniform_resistivity_header(tmp_path):
    path = tmp_path / "u.m2d"
    path.write_text("RMS Misfit:    0.50000\n2 1\nHorizontal Grid:\n0\n1\n2\n"
                    "Vertical Grid:\n0\n1\nResistivity: 50\n")
    model = varnel.read_model(path)
    assert model.rms == 0.5 and model.shape == (1, 2)
    np.testing.assert_array_equal(model.values, 50.0)


def test_lr_table_fixed_columns(tmp_path):
    path = tmp_path / "run_001.lr"
    path.write_text("  0.389695  1.91               15.50\n"
                    "316.227766123.45                1.86\n"
                    "**********  6.26 12345678901234567.00\n")
    table = varnel.read_lr(path)
    np.testing.assert_allclose(table.lam[:2], [0.389695, 316.227766])
    assert math.isnan(table.lam[2])
    np.testing.assert_allclose(table.rms, [1.91, 123.45, 6.26])
    np.testing.assert_allclose(table.model_misfit, [15.5, 1.86, 12345678901234567.0])


def test_mask_reader(tmp_path):
    values = np.array([[1.0, np.nan, 3.0], [4.0, 5.0, 6.0]])
    path = tmp_path / "Jk_Homo.mask"
    path.write_text(mask_text([0, 1, 2, 4], [0, 0.5, 1.5], values))
    mask = varnel.read_mask(path)
    np.testing.assert_array_equal(mask.xs, [0, 1, 2, 4])
    np.testing.assert_array_equal(mask.values, values)


def test_final_report():
    log = "\n".join([
        "! Initial RMS Misfit:     7.4186", "! Iteration:  1", "! Iteration:  1 , RMS:     1.5298",
        "! Iteration:  2 , RMS:     1.0507", "!" + "-" * 57,
        "!------------------- Final Result ------------------------", "!" + "-" * 57,
        "! Iteration:  2", "! Stop Condition: Reach Target", "! Lambda:    0.160105E+01",
        "! RMS Misfit:     1.0507", "! Model Misfit:      11.49",
        "! Total Calculation Time:       0.25", "! Average Sensitivity Calculation:       0.02",
        "! Average CmJkT Calculation:       0.01", "! Average Model Calculation:        NaN",
        "! Number of Model Calculation:   15", "! Number of model parameter:   1150",
        "! Number of updated model parameter:   1150"])
    report = varnel.parse_report(log)
    assert (report.iteration, report.stop_condition) == (2, "Reach Target")
    assert (report.lam, report.rms, report.model_misfit) == (1.60105, 1.0507, 11.49)
    assert math.isnan(report.average_model_time) and report.total_time == 0.25
    assert (report.model_calculations, report.model_parameters, report.updated_parameters) \
        == (15, 1150, 1150)
    assert report.data_difference is None
    assert report.iteration_rms == {0: 7.4186, 1: 1.5298, 2: 1.0507}
    assert varnel.parse_report("! Iteration:  1\n") is None
