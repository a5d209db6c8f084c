"""A design's dictionary as the text of a design file, for the engine's
reader, which checks it. Only what Python alone knows is settled here: numpy
and pandas values become numbers and lists, a matrix given as a DataFrame is
taken by its labels, and a vector or matrix of uncertain values may be given
as one {"low": ..., "high": ...} of arrays."""

import math
import numbers

import numpy as np

# The keys whose values are given per predictor or criterion, and the names
# they are taken by: (rows, columns) of the design.
_MATRICES = {"predictors": ("predictors", "predictors"),
             "criteria": ("criteria", "criteria"),
             "validities": ("criteria", "predictors")}
_PARTS = (("low", "high"), ("mean", "sd"))
# The keys of a stage's and a group's tables that hold a value per predictor
# or criterion.
_ELEMENTWISE = {"stage": ("weights",), "group": ("criterion_d", "predictor_d")}


def _quoted(s):
    out = ['"']
    for ch in s:
        if ch in '"\\':
            out.append("\\" + ch)
        elif ord(ch) < 0x20 or ord(ch) == 0x7F:
            out.append("\\u%04x" % ord(ch))
        else:
            out.append(ch)
    out.append('"')
    return "".join(out)


def _number(v):
    v = float(v)
    if math.isnan(v):
        return "nan"
    if math.isinf(v):
        return "inf" if v > 0 else "-inf"
    return repr(v)  # the shortest decimal that reads back to the same double


def _key(k):
    return _quoted(str(k))


def _value(v, path):
    """A TOML inline value of a Python value."""
    if v is None:
        raise ValueError(f"{path}: has no value (None)")
    if isinstance(v, str):
        return _quoted(v)
    if isinstance(v, (bool, np.bool_)):
        return "true" if v else "false"
    if isinstance(v, numbers.Integral):
        return str(int(v))
    if isinstance(v, numbers.Real):
        return _number(v)
    if isinstance(v, dict):
        items = [f"{_key(k)} = {_value(x, f'{path}.{k}')}" for k, x in v.items() if x is not None]
        return "{ " + ", ".join(items) + " }" if items else "{}"
    if hasattr(v, "tolist") and not hasattr(v, "columns"):  # numpy arrays and pandas Series
        if hasattr(v, "index") and not isinstance(v, np.ndarray):
            return _value(dict(zip(v.index, v.tolist())), path)
        return _value(v.tolist(), path)
    if isinstance(v, (list, tuple)):
        return "[" + ", ".join(_value(x, f"{path}[{i + 1}]") for i, x in enumerate(v)) + "]"
    raise ValueError(f"{path}: {type(v).__name__} is not a value of a design")


def _elementwise(v):
    """{"low": array, "high": array} as an array (or table) of uncertain values."""
    if not isinstance(v, dict):
        return v
    for a, b in _PARTS:
        if set(v) == {a, b} and not np.isscalar(v[a]):
            first, second = v[a], v[b]
            if hasattr(first, "columns"):  # DataFrames: the matrix with its labels
                import pandas as pd
                return pd.DataFrame([[{a: x, b: y} for x, y in zip(r1, r2)]
                                     for r1, r2 in zip(first.values, np.asarray(second))],
                                    index=first.index, columns=first.columns)
            # A Series (a list's index is a method, not labels).
            if hasattr(first, "index") and not isinstance(first, (np.ndarray, list, tuple)):
                return {k: {a: x, b: y} for k, x, y in zip(first.index, first, np.asarray(second))}
            f, s = np.asarray(first, dtype=float), np.asarray(second, dtype=float)
            if f.shape != s.shape:
                raise ValueError(f"{a} and {b} differ in shape: {f.shape} and {s.shape}")
            return np.vectorize(lambda x, y: {a: float(x), b: float(y)}, otypes=[object])(f, s)
    return v


def _matrix(v, rows, cols, path):
    """A matrix as rows of values; a DataFrame is taken by its labels. A
    correlation matrix given as arrays of bounds keeps its diagonal of ones."""
    v = _rows(_elementwise(v), rows, cols, path)
    if rows is cols and isinstance(v, list):
        v = [[_plain_one(x) if i == j else x for j, x in enumerate(r)] if isinstance(r, list) else r
             for i, r in enumerate(v)]
    return v


def _plain_one(x):
    if isinstance(x, dict) and len(x) == 2 and all(float(y) == 1 for y in x.values()):
        return 1.0
    if isinstance(x, dict) and set(x) == {"mean", "sd"} and x["mean"] == 1 and x["sd"] == 0:
        return 1.0
    return x


def _rows(v, rows, cols, path):
    if hasattr(v, "columns"):
        def order(have, want, what):
            have = [str(x) for x in have]
            if sorted(have) != sorted(want):
                raise ValueError(f"{path}: its {what} are not the design's ({', '.join(want)})")
            return [have.index(w) for w in want]
        i = order(v.index, list(rows), "rows")
        j = order(v.columns, list(cols), "columns")
        return v.iloc[i, j].values.tolist()
    if isinstance(v, np.ndarray):
        return v.tolist()
    return v


def design_text(d):
    """The design file's text of a design dictionary."""
    if not isinstance(d, dict):
        raise ValueError("a design is a dictionary of the keys of a design file")
    lines = []
    for key, v in d.items():
        if v is None:
            continue
        if key in ("stage", "group"):
            if hasattr(v, "columns") and key == "stage":  # retention and one column per predictor
                v = [{"retention": r.pop("retention"), "weights": r} for r in
                     v.to_dict("records")] if "retention" in v.columns else v
            if isinstance(v, (list, tuple)):
                v = [_table(x, _ELEMENTWISE[key]) for x in v]
        elif key == "correlations" and isinstance(v, dict):
            names = {"predictors": d.get("predictors", []), "criteria": d.get("criteria", [])}
            v = {k: (_matrix(x, names[_MATRICES[k][0]], names[_MATRICES[k][1]],
                             f"correlations.{k}") if k in _MATRICES else x)
                 for k, x in v.items() if x is not None}
        elif key == "criterion_weights":
            v = _elementwise(v)
        lines.append(f"{_key(key)} = {_value(v, key)}")
    return "\n".join(lines) + "\n"


def _table(t, keys):
    """A stage's or group's table with its values per predictor or criterion
    given element by element where so given."""
    if not isinstance(t, dict):
        return t
    return {k: (_elementwise(v) if k in keys else v) for k, v in t.items()}
