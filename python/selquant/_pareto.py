"""The Pareto front: the stage weights whose outcomes no other weights improve
in every objective at once."""

import warnings

import pandas as pd

from . import _cluster, _selquant
from ._design import Design
from ._evaluate import _options
from ._page import call, iframe, write_page
from ._text import _value, design_text


class Front:
    """The outcome of ``pareto``: ``front`` (a DataFrame: point, the
    structure where there are several, the objectives (quality, ai_GROUP),
    for uncertain inputs their bands
    (_mean, _p5, _p95), then the weight of every stage and predictor,
    wS_PREDICTOR), ``design_point`` (the design's own objectives) and
    ``evaluations`` (of whole designs)."""

    def __init__(self, design, objectives, raw, command=""):
        self.design = design
        self._page = raw["page"]
        self._command = command
        self.objectives = list(objectives)
        self.front = pd.DataFrame(raw["front"])
        self.front["point"] = self.front["point"].astype(int)
        first = 2 if "structure" in self.front.columns else 1
        columns = list(self.front.columns[first:first + len(objectives)])
        self.design_point = dict(zip(columns, raw["design"]))
        self.evaluations = raw["evaluations"]
        # Where the constraints leave no design: the nearest to being met,
        # and the value the nearest design reaches.
        self.unmet = raw["unmet"]
        if self.unmet is not None:
            warnings.warn(f"no design meets the constraints; the nearest is '{self.unmet[0]}', "
                          f"where the nearest design reaches {self.unmet[1]:.4f}", UserWarning,
                          stacklevel=3)

    def __repr__(self):
        return (f"<selquant.Front: {len(self.front)} points, "
                f"{' against '.join(self.objectives)}; {self.evaluations} evaluations>\n"
                + self.front.to_string(index=False, float_format=lambda v: f"{v:.4f}"))

    def to_html(self, path):
        """Writes the front as one self-contained HTML page into ``path``, the
        page the program's ``--pareto --html`` writes: every pair of
        objectives as a scatter plot, a bound on every objective, a table of
        the points, a pinned point's weights and stage-by-stage outcomes, and
        the table as CSV."""
        write_page(path, "front", self._page, self._command)

    def _repr_html_(self):
        return iframe("front", self._page, self._command)

    def plot(self, path=None):
        """The first objective against each of the others, the design's own
        point marked, the 0.8 line on a Cum. AI axis and, for uncertain inputs,
        the 5th to 95th percentile bands; then per stage whose weights are
        searched the weights of every point as a stacked bar (negative weights
        below the zero line), as in the program's figure. Saved to path if
        given; returns the figure."""
        import matplotlib.pyplot as plt

        f = self.front
        cols = list(self.design_point)
        others = cols[1:]
        predictors = self.design.predictors
        weights = [f[[f"w{s}_{p}" for p in predictors]].to_numpy()
                   for s in range(1, len(self.design["stage"]) + 1)]
        varied = [s for s, w in enumerate(weights, 1) if (w.max(axis=0) > w.min(axis=0)).any()]
        panels = max(1, len(others) + len(varied))
        fig, axes = plt.subplots(1, panels, figsize=(5 * panels, 4.5), squeeze=False)
        for ax, s in zip(axes[0][len(others):], varied):
            w = weights[s - 1]
            points = range(1, len(w) + 1)
            up = [0.0] * len(w)
            down = [0.0] * len(w)
            for j, name in enumerate(predictors):
                colour = f"C{j}"
                pos = [max(v, 0.0) for v in w[:, j]]
                neg = [min(v, 0.0) for v in w[:, j]]
                ax.bar(points, pos, bottom=up, color=colour, label=name)
                ax.bar(points, neg, bottom=down, color=colour)
                up = [a + b for a, b in zip(up, pos)]
                down = [a + b for a, b in zip(down, neg)]
            ax.axhline(0, color="black", lw=0.8)
            ax.set_xlabel("point")
            ax.set_ylabel("weight")
            ax.set_title(f"Weights of stage {s}")
            ax.legend(fontsize="small")
        for ax, o in zip(axes[0], others):
            ax.plot(f[o], f[cols[0]], "o-")
            if o + "_p5" in f:
                ax.hlines(f[cols[0]], f[o + "_p5"], f[o + "_p95"], color="0.6")
            if cols[0] + "_p5" in f:
                ax.vlines(f[o], f[cols[0] + "_p5"], f[cols[0] + "_p95"], color="0.6")
            ax.plot(self.design_point[o], self.design_point[cols[0]], "*", ms=14,
                    color="firebrick", label="the design's weights")
            if o.startswith("ai_"):
                ax.axvline(0.8, ls=":", color="firebrick")
            ax.set_xlabel(o)
            ax.set_ylabel(cols[0])
            ax.set_title(f"{cols[0]} against {o}")
            ax.legend()
        fig.tight_layout()
        if path is not None:
            fig.savefig(path)
        return fig


def pareto(design, objectives, points=21, free=None, signs="nonnegative",
           uncertainty="expected", samples=20, constraints=None, retention=None, structures=None,
           threads=2, kernel="fast", epoch=None, rng=None, client=None, progress=False):
    """The Pareto front of the design's stage weights; returns a ``Front``.

    ``objectives``: 2 to 5 of "quality" (of all selected after the last
    stage) and "ai:GROUP" (a group's Cum. AI after the last stage), all
    maximized. ``points`` along the front (more objectives: the lattice's
    divisions); ``free``: per stage the predictors searched (default: those
    with a non-zero weight); ``signs``: "nonnegative" or "any";
    ``uncertainty``: "expected" (the uncertain inputs at their expected
    values) or "mean" (over ``samples`` draws); ``constraints``: bounds every
    reported design keeps, ``["ai:* >= 0.8", "cost <= 60"]`` (with them one
    objective may do); ``retention``: per stage a
    rate (fixed) or ``{"low": a, "high": b}`` (searched in that range, no
    stage keeping more than the one before; the front then has a column
    ``rS`` per stage); ``structures``: "all" or a list of layouts, each per
    stage the predictors that enter there, ``[[["CA", "B"], ["SI"]]]``,
    searched each on its own (the front then has a column ``structure``,
    e.g. "CA+B|SI"). The keys and values are those
    of a design file's [pareto] table; errors name them.

    ``client``: a Dask distributed ``Client`` whose workers search the
    structures, each on its own (one piece where there are none), joined
    here into the same front, bit for bit; ``progress=True`` shows the
    structures done.
    """
    if not isinstance(design, Design):
        design = Design(design)
    threads, kernel, epoch = _options(threads, kernel, epoch, rng, design)
    plan = {"objectives": list(objectives), "points": points, "signs": signs,
            "uncertainty": uncertainty, "samples": samples}
    if free is not None:
        plan["free"] = [list(f) for f in free]
    if constraints is not None:
        plan["constraints"] = list(constraints)
    if retention is not None:
        plan["retention"] = list(retention)
    if structures is not None:
        plan["structures"] = structures if isinstance(structures, str) else [
            [list(stage) for stage in s] for s in structures]
    text = design_text(design._data) + f"pareto = {_value(plan, 'pareto')}\n"
    given = {"objectives": list(objectives), "points": points, "free": free, "signs": signs,
             "uncertainty": uncertainty, "samples": samples, "constraints": constraints,
             "retention": retention, "structures": structures, "threads": threads,
             "kernel": kernel, "epoch": epoch}
    command = call("pareto", "design", [(k, v) for k, v in given.items() if v is not None])
    if client is None and not progress:
        raw = _selquant.pareto(text, threads, kernel, epoch)
    else:
        layouts = list(range(_selquant.pareto_layouts(text))) or [-1]
        calls = [(text, s, threads, kernel, epoch) for s in layouts]
        parts = _cluster.run(client, _cluster.pareto_part, calls, progress, "structures")
        raw = _selquant.pareto_join(text, parts, threads, kernel, epoch)
    return Front(design, objectives, raw, command)
