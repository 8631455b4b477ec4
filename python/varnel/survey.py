"""Survey data files: DAT (general and simple layouts) and CEG.

Both readers give a :class:`Survey`: one row of electrode positions per
measurement (current electrodes first, then potential electrodes), the
measured values and the topography. Positions are in the coordinates of the
file; z is depth, positive downwards. Resistances are in ohms and apparent
resistivities in ohm-m, as in the files; :meth:`Survey.geometric_factor` is
the physical factor 2 pi / G, so apparent resistivity = factor x resistance.
"""

from __future__ import annotations

import math
from dataclasses import dataclass, field, replace
from pathlib import Path

import numpy as np

from ._text import FormatError, LineReader, fortran_es, fortran_f, items_of

# Electrodes per measurement, by array-type code; 0 = no layout.
NELEC = {1: 4, 2: 2, 3: 4, 4: 4, 5: 4, 6: 3, 7: 4, 8: 4, 9: 0, 10: 0,
         11: 4, 12: 4, 13: 4, 14: 0, 15: 4}
ARRAY_NAMES = {1: "wenner-alpha", 2: "pole-pole", 3: "dipole-dipole", 4: "wenner-beta",
               5: "wenner-gamma", 6: "pole-dipole", 7: "wenner-schlumberger", 8: "equatorial",
               15: "gradient"}
# CEG "Array Type" names (lower case) and their codes.
CEG_ARRAYS = {"dd": 3, "dipole-dipole": 3, "gd": 15, "gradient": 15, "wa": 1, "wenner": 1,
              "wenner-alpha": 1, "wenner-schlumberger": 7, "ws": 7}
CEG_ROLES = ("ec1", "ec2", "ep1", "ep2", "rho", "err", "ip", "ip_err")
_SIMPLE_COLUMNS = {1: 3, 3: 4, 7: 4}  # values of a simple-layout row, without IP


def current_count(nelec: int) -> int:
    return 2 if nelec == 4 else 1


@dataclass
class CegHeader:
    """What a CEG file holds besides the measurements."""

    fields: dict[str, str]         # header key (lower case) -> value (lower case)
    electrode_list: np.ndarray     # (noelec, 3): number, x, z
    pattern: list[str]             # column roles of a data row, in order
    rows: np.ndarray               # (nodata, len(pattern)): data rows as read


@dataclass
class Survey:
    electrodes: np.ndarray          # (n, nelec, 2): x, z of C1 [C2] P1 [P2]
    values: np.ndarray              # (n,): apparent resistivity or resistance
    measuretype: int = 0            # 0 apparent resistivity (ohm-m), 1 resistance (ohm)
    arraytype: int = 11
    espacing: float = 1.0
    profile: str = ""
    x_position_type: int = 1        # 1 true horizontal, 2 along surface
    ip: np.ndarray | None = None
    errors: np.ndarray | None = None
    topography: np.ndarray = field(default_factory=lambda: np.zeros((0, 2)))
    kind: str = "dat"
    path: Path | None = None
    ceg: CegHeader | None = None

    def __post_init__(self):
        self.electrodes = np.asarray(self.electrodes, dtype=float)
        self.values = np.asarray(self.values, dtype=float)
        self.topography = np.asarray(self.topography, dtype=float).reshape(-1, 2)
        if self.electrodes.ndim != 3 or self.electrodes.shape[2] != 2:
            raise ValueError("electrodes must have the shape (data, electrodes, 2)")
        if len(self.values) != len(self.electrodes):
            raise ValueError(f"{len(self.values)} values for {len(self.electrodes)} measurements")

    def __len__(self) -> int:
        return len(self.values)

    @property
    def nelec(self) -> int:
        return self.electrodes.shape[1]

    @property
    def currents(self) -> np.ndarray:
        return self.electrodes[:, : current_count(self.nelec)]

    @property
    def potentials(self) -> np.ndarray:
        return self.electrodes[:, current_count(self.nelec):]

    def geometric_factor(self) -> np.ndarray:
        """2 pi / G with G = 1/C1P1 - 1/C1P2 - 1/C2P1 + 1/C2P2 (terms that exist)."""
        g = np.zeros(len(self))
        for i in range(self.currents.shape[1]):
            for j in range(self.potentials.shape[1]):
                r = np.hypot(*(self.currents[:, i] - self.potentials[:, j]).T)
                g += (1.0 if i == j else -1.0) / r
        with np.errstate(divide="ignore"):
            return 2.0 * math.pi / g

    def apparent_resistivity(self) -> np.ndarray:
        if self.measuretype == 1:
            return self.values * self.geometric_factor()
        return self.values.copy()

    def resistance(self) -> np.ndarray:
        if self.measuretype == 1:
            return self.values.copy()
        return self.values / self.geometric_factor()

    def midpoints(self) -> np.ndarray:
        return self.electrodes[:, :, 0].mean(axis=1)

    def levels(self) -> np.ndarray:
        """Pseudo-section level: the shortest current-potential distance in spacings."""
        d = np.full(len(self), np.inf)
        for i in range(self.currents.shape[1]):
            for j in range(self.potentials.shape[1]):
                d = np.minimum(d, np.hypot(*(self.currents[:, i] - self.potentials[:, j]).T))
        spacing = self.espacing if self.espacing > 0 else 1.0
        return np.round(d / spacing, 6)

    def array_kinds(self) -> list[str]:
        """A name per measurement from its geometry (for grouping in plots)."""
        if self.nelec == 2:
            return ["pole-pole"] * len(self)
        if self.nelec == 3:
            return ["pole-dipole"] * len(self)
        kinds = []
        for row in self.electrodes[:, :, 0]:
            c, p = sorted(row[:2]), sorted(row[2:])
            if c[0] < p[0] and p[1] < c[1]:
                kinds.append("wenner/schlumberger")
            elif c[1] <= p[0] or p[1] <= c[0]:
                kinds.append("dipole-dipole")
            else:
                kinds.append("other")
        return kinds

    def electrode_positions(self) -> np.ndarray:
        """Every distinct electrode (x, z), ascending by x."""
        pts = np.unique(self.electrodes.reshape(-1, 2), axis=0)
        return pts[np.argsort(pts[:, 0], kind="stable")]

    def surface(self) -> np.ndarray:
        """Ground surface points (x, z): topography and electrodes, ascending by x."""
        pts = np.unique(np.vstack([self.topography, self.electrode_positions()]), axis=0)
        return pts[np.argsort(pts[:, 0], kind="stable")]

    def with_values(self, values, measuretype: int | None = None) -> "Survey":
        """A copy with other measured values (for synthetic surveys)."""
        mt = self.measuretype if measuretype is None else measuretype
        return replace(self, values=np.asarray(values, dtype=float), measuretype=mt,
                       errors=None, ip=None)


# ---------------------------------------------------------------- DAT files

def _simple_to_general(code: int, row: list[float], midpoint: bool) -> list[float]:
    """Electrode x positions (C1, C2, P1, P2) and the value of one simple row."""
    x, a = row[0], row[1]
    if code == 1:
        x1 = x - 1.5 * a if midpoint else x
        return [x1, x1 + 3 * a, x1 + a, x1 + 2 * a, row[2]]
    n = row[2]
    if code == 3:
        x1 = x - (n + 2) * a / 2 if midpoint else x
        return [x1 + a, x1, x1 + a + n * a, x1 + 2 * a + n * a, row[3]]
    x1 = x - (2 * n + 1) * a / 2 if midpoint else x
    return [x1, x1 + 2 * n * a + a, x1 + n * a, x1 + n * a + a, row[3]]


def _read_topography(r: LineReader) -> np.ndarray:
    """The optional list after the data rows: a count, then x and z per point."""
    if r.at_end():
        return np.zeros((0, 2))
    items = items_of(r.line("the number of topography points"))
    if not items:
        return np.zeros((0, 2))
    try:
        count = int(items[0])
    except ValueError:
        r.fail(f"expected the number of topography points, found {items[0]!r}")
    return np.array([r.values(2, f"x and z of topography point {k + 1}")
                     for k in range(count)]).reshape(-1, 2)


def read_dat(path: str | Path) -> Survey:
    """Reads a DAT file of the general (selector 11) or a simple layout."""
    r = LineReader(path)
    profile = r.line("the profile name")[:100].rstrip()
    espacing = r.values(1, "the electrode spacing")[0]
    selector = r.integer("the layout selector")
    ip = None
    if selector == 11:
        arraytype = r.integer("the array type") or 11
        ne = NELEC.get(arraytype, 0)
        if ne == 0:
            r.fail(f"array type {arraytype} has no electrode layout")
        r.line("the text line before the measurement type")
        measuretype = r.integer("the measurement type")
        nodata = r.integer("the number of data")
        x_position_type = r.integer("the x position type")
        ip_flag = r.integer("the IP flag")
        ncomp = 2 + 2 * ne + ip_flag
        rows = np.array([r.values(ncomp, f"the {ncomp} values of datum {i + 1}")
                         for i in range(nodata)]).reshape(nodata, ncomp)
        electrodes = rows[:, 1:1 + 2 * ne].reshape(nodata, ne, 2)
        values = rows[:, 1 + 2 * ne]
        if ip_flag == 1:
            ip = rows[:, 2 + 2 * ne]
    elif selector in _SIMPLE_COLUMNS:
        arraytype = selector
        nodata = r.integer("the number of data")
        midpoint = r.integer("the type of x-location") != 0
        ip_flag = r.integer("the IP flag")
        ncol = _SIMPLE_COLUMNS[selector] + ip_flag
        rows = [r.values(ncol, f"the {ncol} values of datum {i + 1}") for i in range(nodata)]
        general = np.array([_simple_to_general(selector, row, midpoint) for row in rows])
        general = general.reshape(nodata, 5)
        electrodes = np.zeros((nodata, 4, 2))
        electrodes[:, :, 0] = general[:, :4]
        values = general[:, 4]
        if ip_flag == 1:
            ip = np.array([row[-1] for row in rows])
        measuretype, x_position_type = 0, 2
    else:
        r.fail(f"layout selector {selector}: expected 11 or the array type 1, 3 or 7")
    return Survey(electrodes=electrodes, values=values, measuretype=measuretype,
                  arraytype=arraytype, espacing=espacing, profile=profile,
                  x_position_type=x_position_type, ip=ip, topography=_read_topography(r),
                  kind="dat", path=Path(path))


def write_dat(path: str | Path, survey: Survey) -> Path:
    """Writes ``survey`` as a DAT file of the general layout (the library's own)."""
    n, ne = len(survey), survey.nelec
    ip = survey.ip is not None
    lines = [survey.profile.rstrip(), fortran_f(survey.espacing, 10, 2), "11",
             f"{survey.arraytype:3d}", "Type of measurement (0=app. resistivity,1=resistance)",
             f"{survey.measuretype:1d}", f"{n:5d}", f"{survey.x_position_type:1d}",
             "1" if ip else "0"]
    for i in range(n):
        row = f"{ne:1d}" + "".join(f" {fortran_f(x, 10, 2)} {fortran_f(z, 10, 2)}"
                                   for x, z in survey.electrodes[i])
        row += " " + fortran_es(survey.values[i])
        if ip:
            row += " " + fortran_es(survey.ip[i])
        lines.append(row)
    lines.append(f"{len(survey.topography):4d}")
    lines += [f" {fortran_f(x, 10, 2)} {fortran_f(z, 10, 2)}" for x, z in survey.topography]
    lines += ["0"] * 4
    path = Path(path)
    path.write_text("\n".join(lines) + "\n")
    return path


# ---------------------------------------------------------------- CEG files

def read_ceg(path: str | Path) -> Survey:
    """Reads a CEG file: header, electrode list, data rows, optional topography."""
    r = LineReader(path)
    fields: dict[str, str] = {}
    while True:
        head = r.line("the header of 'key: value' lines")[:100]
        if ":" not in head:
            break
        key, value = head.split(":", 1)
        key = key.rstrip().lower()
        if key not in ("survey type", "profile name", "array type", "electrode spacing",
                       "number of data", "number of electrode", "rho type", "ip include",
                       "error include", "position type", "data pattern"):
            break
        fields[key] = value.strip().lower()
    if fields.get("survey type") != "dcr2d":
        r.fail("Incorrect survey type")
    rho_type = fields.get("rho type", "")[:11]
    if rho_type not in ("resistivity", "resistance"):
        r.fail("Incorrect rho type")

    def count(key: str) -> int:
        try:
            return int(items_of(fields.get(key, "0"))[0])
        except (ValueError, IndexError):
            r.fail(f"the header value of {key!r} is not an integer")

    noelec, nodata = count("number of electrode"), count("number of data")
    r.line("the electrode title")
    electrode_list = np.array([r.values(3, f"number, x, z of electrode {k + 1}")
                               for k in range(noelec)]).reshape(noelec, 3)
    pattern = []
    for word in fields.get("data pattern", "").split():
        if word[:6] not in CEG_ROLES:
            break
        pattern.append(word[:6])
    while r.line("the line 'List' before the data rows").strip().lower() != "list":
        pass
    rows = np.array([r.values(len(pattern), f"data row {i + 1}")
                     for i in range(nodata)]).reshape(nodata, len(pattern))
    topography = np.zeros((0, 2))
    nxt = r.peek()
    items = items_of(nxt) if nxt is not None and nxt.strip() != "List" else []
    if items and items[0].lstrip("+-").isdigit():  # an unreadable count means no topography
        r.line("the number of topography points")
        topography = np.array([r.values(2, f"x and z of topography point {k + 1}")
                               for k in range(int(items[0]))]).reshape(-1, 2)

    arraytype = CEG_ARRAYS.get(fields.get("array type", ""), 0)
    if arraytype == 0:
        r.fail(f"unknown array type {fields.get('array type', '')!r}")
    ne = NELEC[arraytype]
    roles = ["ec1", "ec2", "ep1", "ep2"] if ne == 4 else (["ec1", "ep1", "ep2"] if ne == 3
                                                          else ["ec1", "ep1"])
    column = {role: k for k, role in enumerate(pattern)}  # a role named twice: the later column
    for role in roles + ["rho"]:
        if role not in column:
            r.fail(f"the data pattern has no {role!r} column")
    numbers = rows[:, [column[role] for role in roles]].astype(int)
    if numbers.size and (numbers.min() < 1 or numbers.max() > noelec):
        r.fail(f"a data row names an electrode outside 1 to {noelec}")
    electrodes = electrode_list[numbers - 1][:, :, 1:3]
    with_errors = fields.get("error include", "")[:3] == "yes" and "err" in column
    return Survey(
        electrodes=electrodes, values=rows[:, column["rho"]],
        measuretype=0 if rho_type == "resistivity" else 1, arraytype=arraytype,
        espacing=float(items_of(fields.get("electrode spacing", "0"))[0]),
        profile=fields.get("profile name", ""),
        x_position_type=1 if fields.get("position type") in ("true horizon", "th") else 2,
        ip=rows[:, column["ip"]] if "ip" in column else None,
        errors=rows[:, column["err"]] if with_errors else None, topography=topography,
        kind="ceg", path=Path(path),
        ceg=CegHeader(fields=fields, electrode_list=electrode_list, pattern=pattern, rows=rows))


def read_survey(path: str | Path) -> Survey:
    """A DAT or CEG file, chosen by its extension."""
    ext = Path(path).suffix.lower()
    if ext == ".dat":
        return read_dat(path)
    if ext == ".ceg":
        return read_ceg(path)
    raise FormatError(f"{path}: a data file ends in .dat or .ceg")


# ------------------------------------------------------ synthetic surveys

def wenner_alpha(x, max_a: int = 3, z=None) -> np.ndarray:
    """Electrode rows (C1, C2, P1, P2) of every Wenner-alpha datum on electrodes ``x``."""
    x = np.asarray(x, dtype=float)
    z = np.zeros_like(x) if z is None else np.asarray(z, dtype=float)
    rows = [[(x[i], z[i]), (x[i + 3 * a], z[i + 3 * a]), (x[i + a], z[i + a]),
             (x[i + 2 * a], z[i + 2 * a])]
            for a in range(1, max_a + 1) for i in range(len(x) - 3 * a)]
    return np.array(rows, dtype=float).reshape(-1, 4, 2)


def dipole_dipole(x, max_n: int = 3, a: int = 1, z=None) -> np.ndarray:
    """Electrode rows (C1, C2, P1, P2) of dipole-dipole data, C2 C1 P1 P2 left to right."""
    x = np.asarray(x, dtype=float)
    z = np.zeros_like(x) if z is None else np.asarray(z, dtype=float)
    rows = []
    for n in range(1, max_n + 1):
        for i in range(len(x) - (n + 2) * a):
            c2, c1, p1, p2 = i, i + a, i + a + n * a, i + 2 * a + n * a
            rows.append([(x[k], z[k]) for k in (c1, c2, p1, p2)])
    return np.array(rows, dtype=float).reshape(-1, 4, 2)
