"""Every plot renders to a PNG with the Agg backend and shows something."""

import matplotlib

matplotlib.use("Agg")

import numpy as np  # noqa: E402
import pytest  # noqa: E402
from conftest import XS, ZS, mask_text  # noqa: E402
from matplotlib.image import imread  # noqa: E402

import varnel  # noqa: E402
from varnel import plots  # noqa: E402

LR = ("  0.389695  1.91               15.50\n  2.874052  1.53               12.61\n"
      " 31.622777  3.52                6.52\n100.000000  5.11                3.77\n")


def pixels(fig, path, dpi=60):
    plots.save(fig, path, dpi=dpi)
    image = imread(path)[:, :, :3]
    return image


def assert_not_blank(image):
    assert image.std() > 0.05
    # Axes and labels are black or grey; the data are drawn in colour.
    coloured = np.ptp(image, axis=2) > 0.2
    assert coloured.mean() > 0.002


@pytest.fixture
def files(synthetic):
    """Data, response, model, mask and .lr files in one folder."""
    xc, zc = varnel.homogeneous(XS, ZS, 1.0).centres()
    (synthetic / "Jk_Homo.mask").write_text(mask_text(XS, ZS, 1.0 / (zc + 0.1) ** 3))
    (synthetic / "run_001.lr").write_text(LR)
    data = varnel.read_dat(synthetic / "data.dat")
    noise = 1 + 0.03 * np.random.default_rng(1).standard_normal(len(data))
    varnel.write_dat(synthetic / "noisy.dat", data.with_values(data.values * noise))
    return synthetic


@pytest.mark.parametrize("name", ["pseudosection", "section", "section_mask", "mask", "fit",
                                  "rms", "lambda"])
def test_plot_renders(files, tmp_path, name):
    response = files / "out" / "synthetic_1.dat"
    fig = {
        "pseudosection": lambda: plots.pseudosection(files / "data.dat"),
        "section": lambda: plots.section(files / "block.m2d", survey=files / "data.dat"),
        "section_mask": lambda: plots.section(files / "block.m2d", survey=files / "data.dat",
                                              mask=files / "Jk_Homo.mask"),
        "mask": lambda: plots.mask_section(files / "Jk_Homo.mask"),
        "fit": lambda: plots.data_fit(files / "noisy.dat", response),
        "rms": lambda: plots.rms_curve([7.4, 2.1, 1.2, 1.05]),
        "lambda": lambda: plots.lambda_search(files / "run_001.lr"),
    }[name]()
    assert_not_blank(pixels(fig, tmp_path / f"{name}.png"))


def test_mask_shades_the_deep_cells(files, tmp_path):
    kwargs = dict(survey=files / "data.dat", vmin=10, vmax=100)
    plain = pixels(plots.section(files / "block.m2d", **kwargs), tmp_path / "a.png")
    shaded = pixels(plots.section(files / "block.m2d", mask=files / "Jk_Homo.mask", **kwargs),
                    tmp_path / "b.png")
    changed = np.abs(plain - shaded).max(axis=2) > 0.1
    rows = np.flatnonzero(changed.any(axis=1))
    assert rows.size > 0
    # The shading lightens the section, and more so at depth than near the surface.
    assert shaded[changed].mean() > plain[changed].mean()
    top, bottom = rows.min(), rows.max()
    upper = changed[top:top + (bottom - top) // 4].mean()
    lower = changed[bottom - (bottom - top) // 4:bottom].mean()
    assert lower > upper


def test_section_hides_air_above_topography(tmp_path):
    """With ground rising to the right, the cells above it are left blank."""
    electrodes = varnel.wenner_alpha(np.arange(12.0), 2)
    electrodes[:, :, 1] = -0.2 * electrodes[:, :, 0]  # elevation grows: depth negative
    survey = varnel.Survey(electrodes=electrodes, values=np.ones(len(electrodes)))
    zs = np.concatenate([[-3.0, -2.0, -1.0], ZS])
    model = varnel.homogeneous(XS, zs, 50.0)
    fig = plots.section(model, survey=survey, cmap="viridis", zlim=(-3.0, 5.0))
    image = pixels(fig, tmp_path / "air.png", dpi=fig.dpi)
    axes = fig.axes[0]
    # The point above the surface at x = 10 m is white, the point below it coloured.
    to_pixel = axes.transData.transform
    height = image.shape[0]
    for z, white in [(-2.9, True), (-0.5, False)]:
        px, py = to_pixel((10.0, z))
        colour = image[int(height - py), int(px)]
        assert (colour.min() > 0.95) == white, (z, colour)


def test_pseudosection_groups_array_kinds(files):
    fig = plots.pseudosection(files / "data.dat")
    titles = [a.get_title() for a in fig.axes if a.get_title()]
    assert len(titles) == 2 and any("dipole-dipole" in t for t in titles)
    wenner = fig.axes[0].collections[0].get_offsets()
    np.testing.assert_allclose(sorted(set(wenner[:, 1])), [1, 2, 3])
