"""Designs: a dictionary with the keys of a design file, checked by the
engine's own reader."""

import copy
import os

from . import _selquant
from ._text import design_text


class Design:
    """A selection design.

    ``Design(d)`` takes a dictionary that mirrors a design file (what
    ``tomllib.load`` gives of one)::

        Design({
            "predictors": ["cognitive", "interview"],
            "criteria": ["performance"],
            "stage": [{"retention": 0.5, "weights": {"cognitive": 1}},
                      {"retention": 0.2, "weights": {"cognitive": 1, "interview": 1}}],
            "group": [{"name": "minority", "proportion": 0.3,
                       "predictor_d": {"cognitive": {"low": -0.8, "high": -0.6}}},
                      {"name": "majority", "proportion": 0.7}],
            "correlations": {"predictors": [[1, 0.3], [0.3, 1]],
                             "validities": [[0.5, 0.4]]},
            "samples": 500,
        })

    Values per predictor, criterion or group are dictionaries by name (names
    left out keep their default) or lists in the design's order; matrices are
    lists of rows, numpy arrays or pandas DataFrames (taken by their labels).
    An uncertain value is ``{"low": a, "high": b}`` or ``{"mean": m, "sd":
    s}``; for a whole vector or matrix, ``{"low": A, "high": B}`` of arrays.
    An effect size (``criterion_d``, ``predictor_d``) is the group's mean
    minus the base group's, in within-group standard deviations: negative
    where the group scores lower. ``"stage"`` may also be a DataFrame of ``retention`` and one column of
    weights per predictor. A bad design raises ``ValueError`` naming the key:
    ``stage[2].weights.cognitiv: no predictor 'cognitiv'; did you mean
    'cognitive'?``.

    ``design.data`` is the design as the engine read it: every value by name,
    every matrix in full. ``design.findings`` lists what a careful user would
    want to know before many samples are spent on it.
    """

    def __init__(self, data):
        if isinstance(data, Design):
            data = data.data
        self._data = _selquant.read_text(design_text(data))
        self.findings = _selquant.findings(self.text())

    @classmethod
    def read(cls, path):
        """The design of a design file or a deck, told apart by their content.
        A file that cannot be opened raises ``OSError`` (``FileNotFoundError``
        where there is none); one that does not fit, ``ValueError``."""
        path = os.fspath(path)
        # The open's own error, of the right type; the engine reads the file.
        with open(path, "rb"):
            pass
        data, findings = _selquant.read_file(path)
        d = cls.__new__(cls)
        d._data = data
        d.findings = list(findings)
        return d

    @property
    def data(self):
        """A copy of the design's dictionary (change it and make a new Design)."""
        return copy.deepcopy(self._data)

    def replace(self, **keys):
        """A new design with the given top-level keys replaced."""
        data = self.data
        data.update(keys)
        return Design(data)

    def text(self):
        """The design file's text."""
        return _selquant.design_file(design_text(self._data))

    def write(self, path, format="toml"):
        """Writes the design file (or, with format="deck", the deck): the file
        is whole or not written at all."""
        if format not in ("toml", "deck"):
            raise ValueError('format must be "toml" or "deck"')
        text = self.text() if format == "toml" else _selquant.deck(design_text(self._data))
        path = os.fspath(path)
        tmp = os.path.join(os.path.dirname(os.path.abspath(path)),
                           "." + os.path.basename(path) + ".selquant-%d" % os.getpid())
        try:
            with open(tmp, "w", encoding="utf-8") as f:
                f.write(text)
                f.flush()
                os.fsync(f.fileno())
            os.replace(tmp, path)
        finally:
            if os.path.exists(tmp):
                os.unlink(tmp)

    def __getitem__(self, key):
        return copy.deepcopy(self._data[key])

    @property
    def groups(self):
        return [g["name"] for g in self._data["group"]]

    @property
    def predictors(self):
        return list(self._data["predictors"])

    def __eq__(self, other):
        return isinstance(other, Design) and self._data == other._data

    def __reduce__(self):
        # Pickles as its design file.
        return (_from_text, (self.text(),))

    def __repr__(self):
        d = self._data
        criteria = "criterion" if len(d["criteria"]) == 1 else "criteria"
        lines = [f"<selquant.Design: {len(d['predictors'])} predictors, "
                 f"{len(d['criteria'])} {criteria}, {len(d['stage'])} stages, "
                 f"{len(d['group'])} groups; {d['sampling']}, {d['samples']} samples>"]
        for i, s in enumerate(d["stage"], 1):
            w = ", ".join(f"{k} {v:g}" for k, v in s["weights"].items() if v != 0)
            lines.append(f"  stage {i}: retention {s['retention']:g}; weights {w}")
        for g in d["group"]:
            effects = [f"{k} {_value_repr(v)}" for k, v in
                       list(g["criterion_d"].items()) + list(g["predictor_d"].items())
                       if v not in (0, 0.0) and v != {"low": 0, "high": 0} and
                       v != {"mean": 0, "sd": 0}]
            lines.append(f"  group {g['name']}: proportion {_value_repr(g['proportion'])}"
                         + (f"; d {', '.join(effects)}" if effects else ""))
        for f in self.findings:
            lines.append(f"  finding: {f}")
        return "\n".join(lines)


def _value_repr(v):
    if isinstance(v, dict):
        a, b = v.values()
        k1, k2 = v.keys()
        return f"{k1} {a:g} {k2} {b:g}"
    return f"{v:g}"


def _from_text(text):
    return Design(_selquant.read_text(text))
