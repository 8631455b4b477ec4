"""Plots of surveys, models and inversion runs with matplotlib.

Every function draws into ``ax`` when given, else into a new figure, and
returns the figure; ``fig.savefig("name.png")`` writes it. The figures are
made without pyplot, so they work without a display (the Agg backend).
Arguments that name files may be given as paths.
"""

from __future__ import annotations

from pathlib import Path

import numpy as np
from matplotlib.colors import LinearSegmentedColormap, LogNorm
from matplotlib.figure import Figure
from matplotlib.ticker import FuncFormatter, LogLocator, NullFormatter

from .model import Mask, Model, Section, read_mask, read_model
from .results import Report, SearchTable, read_lr, read_report
from .runner import Result
from .survey import Survey, read_survey

RHO_LABEL = "resistivity (ohm·m)"
_SHADE = LinearSegmentedColormap.from_list("varnel_shade", [(1, 1, 1, 0.8), (1, 1, 1, 0.0)])
_MARKERS = {"wenner/schlumberger": "s", "dipole-dipole": "o", "pole-pole": "^",
            "pole-dipole": "D", "other": "x"}


def _axes(ax, nrows: int = 1, figsize=(8, 4)):
    if ax is not None:
        return ax.figure, [ax] * nrows
    fig = Figure(figsize=(figsize[0], figsize[1] * nrows), layout="constrained")
    return fig, list(fig.subplots(nrows, 1, squeeze=False)[:, 0])


def _survey(s) -> Survey | None:
    return s if s is None or isinstance(s, Survey) else read_survey(s)


def _log_norm(values, vmin=None, vmax=None) -> LogNorm:
    v = np.asarray(values, dtype=float)
    v = v[np.isfinite(v) & (v > 0)]
    if v.size == 0:
        v = np.array([1.0])
    lo = vmin if vmin is not None else np.percentile(v, 1)
    hi = vmax if vmax is not None else np.percentile(v, 99)
    if hi <= lo:
        lo, hi = lo / 1.5, hi * 1.5
    return LogNorm(vmin=lo, vmax=hi)


def _log_labels(axis):
    """Labels at 1, 2 and 5 times the powers of ten: a narrow range still gets numbers."""
    axis.set_major_locator(LogLocator(subs=(1.0, 2.0, 5.0)))
    axis.set_major_formatter(FuncFormatter(lambda v, _: f"{v:g}"))
    axis.set_minor_formatter(NullFormatter())


def _colorbar(fig, mappable, ax, label, **kwargs):
    bar = fig.colorbar(mappable, ax=ax, label=label, **kwargs)
    if isinstance(mappable.norm, LogNorm):
        _log_labels(bar.ax.yaxis)
    return bar


def save(fig: Figure, path: str | Path, dpi: int = 120) -> Path:
    fig.savefig(path, dpi=dpi)
    return Path(path)


# ------------------------------------------------------------- survey data

def pseudosection(survey, ax=None, cmap: str = "turbo", vmin=None, vmax=None) -> Figure:
    """Apparent resistivity by midpoint and level; one panel per array kind."""
    survey = _survey(survey)
    rho = survey.apparent_resistivity()
    x, level = survey.midpoints(), survey.levels()
    kinds = np.array(survey.array_kinds())
    groups = list(dict.fromkeys(kinds))
    fig, axes = _axes(ax, 1 if ax is not None else len(groups), (8, 3.2))
    norm = _log_norm(rho, vmin, vmax)
    for a, kind in zip(axes, groups):
        pick = (kinds == kind) & np.isfinite(rho) & (rho > 0)
        mappable = a.scatter(x[pick], level[pick], c=rho[pick], norm=norm, cmap=cmap,
                             marker=_MARKERS.get(kind, "o"), s=36, edgecolors="none",
                             label=kind)
        if ax is None:
            a.set_title(f"{survey.profile or 'survey'}: {kind}", fontsize=10)
            a.invert_yaxis()
        a.set_xlabel("midpoint x (m)")
        a.set_ylabel("level")
    if ax is not None:
        ax.invert_yaxis()
        if len(groups) > 1:
            ax.legend(fontsize=8)
    _colorbar(fig, mappable, axes if ax is None else ax, "apparent " + RHO_LABEL)
    return fig


def _matched(observed: Survey, computed: Survey):
    """Indices of the observed data in the order of the computed ones (matched by electrodes)."""
    if len(observed) == len(computed):
        return np.arange(len(observed))
    key = {tuple(np.round(e, 2).ravel()): i for i, e in enumerate(observed.electrodes)}
    try:
        return np.array([key[tuple(np.round(e, 2).ravel())] for e in computed.electrodes])
    except KeyError:
        raise ValueError("the computed data hold measurements the observed data lack") from None


def data_fit(observed, computed, ax=None) -> Figure:
    """Observed against computed apparent resistivity, and their difference per datum."""
    observed, computed = _survey(observed), _survey(computed)
    obs = observed.apparent_resistivity()[_matched(observed, computed)]
    calc = computed.apparent_resistivity()
    fig = ax.figure if ax is not None else Figure(figsize=(10, 4), layout="constrained")
    if ax is None:
        cross, diff = fig.subplots(1, 2, gridspec_kw={"width_ratios": [1, 1.6]})
    else:
        cross, diff = ax, None
    lo, hi = np.nanmin([obs.min(), calc.min()]), np.nanmax([obs.max(), calc.max()])
    cross.loglog([lo, hi], [lo, hi], color="0.5", lw=1, label="1:1")
    cross.scatter(obs, calc, s=12, color="tab:blue", label="data")
    cross.set_xlabel("observed apparent " + RHO_LABEL)
    cross.set_ylabel("computed apparent " + RHO_LABEL)
    cross.legend(fontsize=8)
    _log_labels(cross.xaxis)
    _log_labels(cross.yaxis)
    if diff is not None:
        rel = 100.0 * (calc - obs) / obs
        diff.axhline(0.0, color="0.5", lw=1)
        diff.plot(np.arange(1, len(rel) + 1), rel, ".", color="tab:red")
        diff.set_xlabel("datum")
        diff.set_ylabel("computed − observed (%)")
        diff.set_title(f"mean |difference| {np.nanmean(np.abs(rel)):.2f} %", fontsize=10)
    return fig


# ------------------------------------------------------------------ models

def _default_view(section: Section, survey: Survey | None):
    if survey is not None:
        pts = survey.surface()
        span = np.ptp(pts[:, 0]) or 1.0
        pad = 2 * (survey.espacing or span / 10)
        x0, x1 = pts[:, 0].min() - pad, pts[:, 0].max() + pad
        top = min(pts[:, 1].min(), 0.0)
        return (x0, x1), (min(pts[:, 1].max() + 0.3 * span, section.zs[-1]), top)
    width = np.diff(section.xs)
    core = np.flatnonzero(width <= 1.5 * width.min())
    x0, x1 = section.xs[core[0]], section.xs[core[-1] + 1]
    return (x0, x1), (min(section.zs[-1], section.zs[0] + 0.3 * (x1 - x0)), section.zs[0])


def _air(section: Section, survey: Survey | None) -> np.ndarray:
    """Elements whose centre lies above the ground surface of the survey."""
    if survey is None:
        return np.zeros(section.shape, dtype=bool)
    surf = survey.surface()
    xc, zc = section.centres()
    return zc < np.interp(xc, surf[:, 0], surf[:, 1]) - 1e-9


def _shade(a, model: Section, mask: Mask):
    if mask.shape != model.shape:
        raise ValueError(f"the mask grid {mask.shape} is not the model grid {model.shape}")
    with np.errstate(divide="ignore", invalid="ignore"):
        s = np.log10(mask.values)
    good = np.isfinite(s)
    if not good.any():
        return
    lo, hi = np.percentile(s[good], [5, 95])
    s = np.clip((s - lo) / ((hi - lo) or 1.0), 0.0, 1.0)
    s[~good] = 0.0
    a.pcolormesh(model.xs, model.zs, s, cmap=_SHADE, vmin=0, vmax=1, shading="flat")


def section(model, survey=None, mask=None, ax=None, xlim=None, zlim=None, cmap: str = "turbo",
            vmin=None, vmax=None, label: str = RHO_LABEL, equal_aspect: bool = True) -> Figure:
    """A model section on a log colour scale, with electrodes and topography of ``survey``
    and, with ``mask``, the cells the data hardly see shaded out."""
    model = model if isinstance(model, Section) else read_model(model)
    survey = _survey(survey)
    if mask is not None and not isinstance(mask, Mask):
        mask = read_mask(mask)
    fig, (a,) = _axes(ax, 1, (9, 4))
    (x0, x1), (bottom, top) = _default_view(model, survey)
    x0, x1 = xlim or (x0, x1)
    top, bottom = zlim or (top, bottom)  # zlim: (shallowest, deepest) depth
    values = np.ma.masked_where(_air(model, survey) | ~np.isfinite(model.values), model.values)
    xc, zc = model.centres()
    seen = (xc >= x0) & (xc <= x1) & (zc >= top) & (zc <= bottom)
    norm = _log_norm(values.filled(np.nan)[seen] if seen.any() else values.compressed(),
                     vmin, vmax)
    mesh = a.pcolormesh(model.xs, model.zs, values, norm=norm, cmap=cmap, shading="flat")
    if mask is not None:
        _shade(a, model, mask)
    if survey is not None:
        surf = survey.surface()
        a.plot(surf[:, 0], surf[:, 1], color="k", lw=1)
        el = survey.electrode_positions()
        a.plot(el[:, 0], el[:, 1], "v", color="k", ms=4, clip_on=False)
    a.set_xlim(x0, x1)
    a.set_ylim(bottom, top)
    if equal_aspect:
        a.set_aspect("equal", adjustable="box")
    a.set_xlabel("x (m)")
    a.set_ylabel("depth (m)")
    if isinstance(model, Model):
        a.set_title(f"RMS misfit {model.rms:.3f}", fontsize=10)
    _colorbar(fig, mesh, a, label, shrink=0.9)
    return fig


def mask_section(mask, survey=None, ax=None, **kwargs) -> Figure:
    """The sensitivity mask itself as a section."""
    mask = mask if isinstance(mask, Mask) else read_mask(mask)
    return section(mask, survey=survey, ax=ax, cmap=kwargs.pop("cmap", "magma"),
                   label="sensitivity per area", **kwargs)


# --------------------------------------------------------------- inversion

def _rms_series(rms) -> tuple[np.ndarray, np.ndarray]:
    if isinstance(rms, (str, Path)):
        rms = read_report(rms)
        if rms is None:
            raise ValueError("the log has no final report")
    if isinstance(rms, Result):
        rms = rms.rms
    if isinstance(rms, Report):
        items = sorted(rms.iteration_rms.items())
        return np.array([k for k, _ in items]), np.array([v for _, v in items])
    rms = np.asarray(rms, dtype=float)
    return np.arange(len(rms)), rms


def rms_curve(rms, ax=None, target: float | None = 1.0) -> Figure:
    """RMS misfit per iteration (iteration 0 is the starting model)."""
    it, values = _rms_series(rms)
    fig, (a,) = _axes(ax, 1, (6, 4))
    a.plot(it, values, "o-", color="tab:blue", label="RMS misfit")
    if target is not None:
        a.axhline(target, color="tab:green", ls="--", lw=1, label="target")
    a.set_xlabel("iteration")
    a.set_ylabel("RMS misfit")
    a.set_xticks(it)
    a.legend(fontsize=8)
    return fig


def lambda_search(table, ax=None, target: float | None = 1.0) -> Figure:
    """The trials of one iteration's multiplier search: RMS and model misfit by multiplier."""
    table = table if isinstance(table, SearchTable) else read_lr(table)
    fig, (a,) = _axes(ax, 1, (7, 4))
    a.semilogx(table.lam, table.rms, "o-", color="tab:blue", label="RMS misfit")
    if target is not None:
        a.axhline(target, color="tab:green", ls="--", lw=1, label="target")
        best = int(np.nanargmin(np.abs(table.rms - target)))
        a.plot(table.lam[best], table.rms[best], "*", ms=14, color="tab:orange",
               label="closest to target")
    a.set_xlabel("Lagrange multiplier")
    a.set_ylabel("RMS misfit")
    if table.path is not None:
        a.set_title(f"multiplier search: {table.path.name}", fontsize=10)
    twin = a.twinx()
    twin.semilogx(table.lam, table.model_misfit, "s--", color="tab:red", ms=4)
    twin.set_ylabel("model misfit (%)", color="tab:red")
    a.legend(fontsize=8, loc="upper center")
    return fig
