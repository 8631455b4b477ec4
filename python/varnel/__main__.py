"""Command line: plots, exports and batch runs.

    python3 -m varnel plot out/line1_004.m2d -o section.png [--data line1.dat] [--mask M]
    python3 -m varnel plot line1.dat -o pseudosection.png
    python3 -m varnel plot out/line1_002.lr -o search.png
    python3 -m varnel plot out/Jk_Homo.mask -o mask.png
    python3 -m varnel fit line1.dat out/line1_1_004.dat -o fit.png
    python3 -m varnel rms run.log -o rms.png          (or: rms out/line1 for its .m2d files)
    python3 -m varnel export out/line1_004.m2d -o model.vtk [--grid unstructured]
    python3 -m varnel batch jobs.json [--scheduler ADDRESS] [--workers N] [--summary FILE]
"""

from __future__ import annotations

import argparse
import glob
import sys
from pathlib import Path


def _output(args, suffix: str = ".png") -> Path:
    return Path(args.output) if args.output else Path(args.file).with_suffix(suffix)


def _plot(args) -> int:
    from . import plots

    ext = Path(args.file).suffix.lower()
    kind = args.kind or {".m2d": "section", ".dat": "pseudosection", ".ceg": "pseudosection",
                         ".lr": "lambda", ".mask": "mask"}.get(ext)
    if kind == "section":
        fig = plots.section(args.file, survey=args.data, mask=args.mask)
    elif kind == "pseudosection":
        fig = plots.pseudosection(args.file)
    elif kind == "lambda":
        fig = plots.lambda_search(args.file, target=args.target)
    elif kind == "mask":
        fig = plots.mask_section(args.file, survey=args.data)
    else:
        raise SystemExit(f"varnel: cannot tell what {args.file} holds; use --kind")
    out = plots.save(fig, _output(args))
    print(out)
    return 0


def _fit(args) -> int:
    from . import plots

    out = plots.save(plots.data_fit(args.observed, args.computed),
                     args.output or Path(args.computed).with_suffix(".fit.png"))
    print(out)
    return 0


def _rms_source(source: list[str]):
    """RMS per iteration from a log file, a response name, or model files."""
    from .model import read_model
    from .results import read_report

    if len(source) == 1 and not source[0].endswith(".m2d"):
        files = sorted(glob.glob(glob.escape(source[0]) + "_[0-9][0-9][0-9].m2d"))
        if not files:
            report = read_report(source[0])
            if report is None or not report.iteration_rms:
                raise SystemExit(f"varnel: {source[0]} holds no RMS misfit per iteration")
            return report
        source = files
    return [read_model(f).rms for f in source]


def _rms(args) -> int:
    from . import plots

    fig = plots.rms_curve(_rms_source(args.source), target=args.target)
    out = plots.save(fig, args.output or "rms.png")
    print(out)
    return 0


def _export(args) -> int:
    from .export import export

    kwargs = {"grid": args.grid} if args.output.lower().endswith(".vtk") else {}
    if args.mask:
        kwargs["mask"] = args.mask
    print(export(args.file, args.output, **kwargs))
    return 0


def _batch(args) -> int:
    from .batch import load_jobs, run_batch, summary_table, write_summary

    jobs = load_jobs(args.jobs)
    base = args.base_dir or Path(args.jobs).resolve().parent

    def report(o):
        print(f"varnel batch: {o.name} {o.state}" + (f": {o.message}" if o.message else ""),
              file=sys.stderr, flush=True)

    outcomes = run_batch(jobs, base_dir=base, scheduler=args.scheduler, workers=args.workers,
                         on_done=report)
    print(summary_table(outcomes))
    if args.summary:
        write_summary(outcomes, args.summary)
    return 0 if all(o.ok for o in outcomes) else 1


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(prog="python3 -m varnel", description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="command", required=True)

    p = sub.add_parser("plot", help="plot a model, data, .lr or mask file")
    p.add_argument("file")
    p.add_argument("-o", "--output", help="image file (default: FILE with .png)")
    p.add_argument("--kind", choices=["section", "pseudosection", "lambda", "mask"])
    p.add_argument("--data", help="survey file: electrodes and topography on a section")
    p.add_argument("--mask", help="mask file: shade the cells the data hardly see")
    p.add_argument("--target", type=float, default=1.0, help="target RMS misfit")
    p.set_defaults(run=_plot)

    p = sub.add_parser("fit", help="observed against computed data")
    p.add_argument("observed")
    p.add_argument("computed")
    p.add_argument("-o", "--output")
    p.set_defaults(run=_fit)

    p = sub.add_parser("rms", help="RMS misfit per iteration")
    p.add_argument("source", nargs="+", help="a log file, a response name, or .m2d files")
    p.add_argument("-o", "--output")
    p.add_argument("--target", type=float, default=1.0)
    p.set_defaults(run=_rms)

    p = sub.add_parser("export", help="a model to VTK (.vtk) or an x, z, resistivity table (.csv)")
    p.add_argument("file")
    p.add_argument("-o", "--output", required=True)
    p.add_argument("--grid", choices=["rectilinear", "unstructured"], default="rectilinear")
    p.add_argument("--mask", help="add the sensitivity of this mask file (VTK)")
    p.set_defaults(run=_export)

    p = sub.add_parser("batch", help="run a JSON job list on Dask")
    p.add_argument("jobs")
    p.add_argument("--scheduler", help="address of a running Dask scheduler")
    p.add_argument("--workers", type=int, default=2, help="local worker processes (default 2)")
    p.add_argument("--base-dir", help="folder for relative paths (default: that of the list)")
    p.add_argument("--summary", help="also write the summary to this file (.json or text)")
    p.set_defaults(run=_batch)

    args = parser.parse_args(argv)
    try:
        return args.run(args)
    except (OSError, ValueError) as e:
        print(f"varnel: {e}", file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
