"""Evaluation: a design's samples into pandas DataFrames, one design or many."""

import numpy as np
import pandas as pd

from . import _cluster, _selquant
from ._design import Design
from ._page import call, write_page
from ._text import design_text

_KERNELS = ("fast", "specified")
# Any instant that the calendar conversion takes (years 1 to 9999).
_EPOCHS = (-62135596800, 253402300799)
# The clock readings drawn for a run without one: any day of 1970 to 2099.
_DRAWN = 4102444800


class Result:
    """The outcome of ``evaluate``.

    ``results``: one row per computed sample, stage and group: sample, stage,
    group (categorical, the design's names), cutoff, passing, quality,
    cum_ai, stage_ai, quality_all, share (the group's share of those passing)
    and, where the design has [utility] applicants, count (the group's
    expected number passing). ``inputs``: one row per sample: sample, valid,
    then every drawn input (prop_G, dc_G_C, dp_G_P, rcc_I_J, rpp_I_J,
    val_C_P). ``summary``: one row per stage, group and statistic (mean and,
    with 100 samples or more, p1 to p99); group is missing (NaN) in the rows
    of all selected, whose quality is theirs; a group's row has its quality,
    cum_ai and stage_ai. The columns are those of the program's CSV files.
    """

    def __init__(self, design, epoch, raw, command="", given=False):
        self.design = design
        self.epoch = epoch
        self._page = raw["page"]
        self._command = command
        self.given = given
        self.findings = list(design.findings)
        groups = pd.CategoricalDtype(design.groups, ordered=False)

        results = pd.DataFrame(raw["results"])
        for k in ("sample", "stage"):
            results[k] = results[k].astype(np.int64)
        results["group"] = pd.Categorical.from_codes(results["group"].astype(int) - 1,
                                                     dtype=groups)
        self.results = results

        inputs = pd.DataFrame(raw["inputs"])
        inputs["sample"] = inputs["sample"].astype(np.int64)
        inputs["valid"] = inputs["valid"] == 1
        self.inputs = inputs

        summary = pd.DataFrame(raw["summary"])
        if len(summary):
            summary["stage"] = summary["stage"].astype(np.int64)
            codes = summary["group"].astype(int) - 1  # -1: all selected, missing
            summary["group"] = pd.Categorical.from_codes(codes, dtype=groups)
        self.summary = summary
        self.counted = raw["counted"]
        self.not_found = dict(enumerate(raw["not_found"], 1))

    def overview(self):
        """Per stage the mean quality of all selected and every group's mean Cum. AI."""
        s = self.summary[self.summary["statistic"] == "mean"]
        out = s[s["group"].isna()][["stage", "quality"]].set_index("stage")
        for g in self.design.groups:
            out["cum_ai_" + g] = s[s["group"] == g].set_index("stage")["cum_ai"]
        return out

    def __repr__(self):
        d = self.design
        sampling = "given draws" if self.given else d["sampling"]
        lines = [f"<selquant.Result: {sampling}, {self.counted} of {len(self.inputs)} "
                 f"samples computed, epoch {self.epoch}>"]
        if len(self.summary):
            lines.append(self.overview().to_string(float_format=lambda v: f"{v:.4f}"))
        lines += [f"finding: {f}" for f in self.findings]
        lines += [f"the cutoff of stage {s} was not found in {n} samples"
                  for s, n in self.not_found.items() if n]
        return "\n".join(lines)

    def __eq__(self, other):
        return (isinstance(other, Result) and self.epoch == other.epoch and
                self.design == other.design and self.results.equals(other.results) and
                self.inputs.equals(other.inputs) and self.summary.equals(other.summary))

    def to_html(self, path):
        """Writes the run as one self-contained HTML page into ``path``, the
        page the program's ``--html`` writes: per stage the distribution of
        the quality of all selected and of every group's Cum. AI, with
        tooltips, and the summary."""
        write_page(path, "run", self._page, self._command)

    def plot(self, path=None):
        """The figure of the run (matplotlib): one column of panels per stage;
        in sampled modes the quality of all selected (a histogram, its mean
        marked) and every group's Cum. AI (box plots, the means marked); in
        exact mode each group's quality and Cum. AI as points; Cum. AI panels
        with a reference line at 0.8. Saved to path if given; returns the
        figure."""
        import matplotlib.pyplot as plt

        r = self.results[np.isfinite(self.results["quality_all"]) &
                         np.isfinite(self.results["cum_ai"])]
        stages = range(1, len(self.design["stage"]) + 1)
        groups = self.design.groups
        sampled = self.design["sampling"] != "exact"
        fig, axes = plt.subplots(2, len(stages), figsize=(3.6 * len(stages), 6.5), squeeze=False)
        for s in stages:
            rs = r[r["stage"] == s]
            top, bottom = axes[0][s - 1], axes[1][s - 1]
            top.set_title(f"Stage {s}")
            if sampled:
                q = rs.drop_duplicates("sample")["quality_all"]
                top.hist(q, bins=20, color="0.8", edgecolor="white")
                top.axvline(q.mean(), color="black", lw=2)
                top.set_xlabel("quality of all selected")
                data = [rs[rs["group"] == g]["cum_ai"] for g in groups]
                bottom.boxplot(data, labels=groups)
                bottom.plot(range(1, len(groups) + 1), [x.mean() for x in data], "x",
                            color="black", mew=2)
            else:
                by = rs.set_index("group")
                top.plot(groups, [by.loc[g, "quality"] for g in groups], "o")
                top.axhline(rs["quality_all"].iloc[0], ls="--", color="0.4")
                top.set_ylabel("quality of the selected")
                bottom.plot(groups, [by.loc[g, "cum_ai"] for g in groups], "o")
            bottom.axhline(0.8, ls=":", color="firebrick")
            bottom.set_ylabel("Cum. AI")
        fig.suptitle(f"SELQUANT: {len(stages)} stages, {len(groups)} groups, "
                     f"{self.design['sampling']}")
        fig.tight_layout()
        if path is not None:
            fig.savefig(path)
        return fig


def _options(threads, kernel, epoch, rng, design):
    if isinstance(threads, bool) or not isinstance(threads, (int, np.integer)) or \
            not 1 <= threads <= 1024:
        raise ValueError("threads must be a whole number from 1 to 1024")
    if kernel not in _KERNELS:
        raise ValueError('kernel must be "fast" or "specified"')
    if epoch is None:
        epoch = design["epoch"] if "epoch" in design._data else None
    if epoch is None:
        rng = rng if rng is not None else np.random.default_rng()
        epoch = int(rng.integers(0, _DRAWN))
    if isinstance(epoch, bool) or not isinstance(epoch, (int, np.integer)) or \
            not _EPOCHS[0] <= epoch <= _EPOCHS[1]:
        raise ValueError("epoch must be whole seconds since 1970 (years 1 to 9999)")
    return int(threads), kernel, int(epoch)


class _Name(str):
    """An argument the call shows by its name."""

    def __repr__(self):
        return str(self)


def _draws(draws):
    """Given draws as (name, values) columns: a DataFrame, or a mapping of
    names to sequences."""
    if isinstance(draws, pd.DataFrame):
        items = [(str(k), draws[k]) for k in draws.columns]
    elif hasattr(draws, "items"):
        items = [(str(k), v) for k, v in draws.items()]
    else:
        raise TypeError("draws must be a pandas DataFrame (or a dict of columns), "
                        f"not {type(draws).__name__}")
    columns = []
    for name, values in items:
        try:
            v = np.asarray(values, dtype=np.float64)
        except (TypeError, ValueError):
            raise ValueError(f"draws, column {name}: not numbers") from None
        if v.ndim != 1:
            raise ValueError(f"draws, column {name}: not one value per row")
        columns.append((name, v))
    return columns


def evaluate(design, threads=2, kernel="fast", epoch=None, rng=None, client=None, chunks=None,
             progress=False, draws=None):
    """Evaluates every sample of the design; returns a ``Result``.

    The samples are computed on ``threads`` threads without the GIL; the
    numbers do not depend on their count. ``kernel``: "fast", or
    "specified" (the nested adaptive integrations of the program's method;
    slower, equal to 1e-11). ``epoch``, the clock reading that seeds the
    sampling: given, the numbers are exactly those of the command-line
    program run with ``--epoch`` and the same kernel; else the design's own,
    else one drawn from ``rng`` (a ``numpy.random.Generator``; a fresh one
    where not given). Ctrl-C raises ``KeyboardInterrupt`` within a fraction
    of a second.

    ``chunks``: the samples split into that many contiguous chunks, computed
    apart (on the workers of ``client``, a Dask distributed ``Client``, or
    one after another here); each chunk draws the samples before it again, so
    that every sample has the inputs of the whole run, and the chunks are
    joined in order and summarized once: the same result, bit for bit.
    ``progress=True`` shows the chunks done (a tqdm bar where tqdm is
    installed). An exact design is one chunk.

    ``draws``: the samples given instead of drawn, a DataFrame with one row
    per sample and columns named as those of ``Result.inputs`` (prop_G,
    dc_G_C, dp_G_P, rcc_I_J, rpp_I_J, val_C_P; the sample and valid columns
    of an inputs table fed back are taken and not used). Each row is one
    sample, computed as a drawn one; an input it leaves out keeps the
    design's expected value (the mean, or the midpoint of the bounds). A
    column that names no input, a value that is not a number, a correlation
    outside [-1, 1] or proportions that do not sum to 1 raise ValueError
    naming the row and the column.
    """
    if not isinstance(design, Design):
        design = Design(design)
    threads, kernel, epoch = _options(threads, kernel, epoch, rng, design)
    text = design_text(design._data)
    arguments = [("threads", threads), ("kernel", kernel), ("epoch", epoch)]
    given = None if draws is None else _draws(draws)
    if given is not None:
        arguments.append(("draws", _Name("draws")))
    if client is None and chunks is None:
        raw = _selquant.evaluate(text, threads, kernel, epoch, given)
    else:
        exact = design["sampling"] == "exact" and given is None
        samples = 1 if exact else design["samples"]
        if given is not None:
            samples = max(1, len(given[0][1]) if given else 1)
        chunks = 1 if chunks is None else chunks
        if isinstance(chunks, bool) or not isinstance(chunks, (int, np.integer)) or chunks < 1:
            raise ValueError("chunks must be a whole number of at least 1")
        chunks = min(int(chunks), samples)
        if exact:  # one pass, computed once
            raw = _cluster.run(client, _selquant.evaluate, [(text, threads, kernel, epoch)],
                               progress, "chunks")[0]
        else:
            # Each chunk takes the rows of its own samples.
            calls = [(text, first, last, threads, kernel, epoch,
                      None if given is None else [(n, v[first - 1:last]) for n, v in given])
                     for first, last in _cluster.chunk_bounds(samples, chunks)]
            parts = _cluster.run(client, _cluster.evaluate_part, calls, progress, "chunks")
            raw = _selquant.evaluate_join(text, parts, given)
        arguments.append(("chunks", chunks))
    return Result(design, epoch, raw, call("evaluate", "design", arguments), given is not None)


def _evaluate_one(design, options):
    return evaluate(design, **options)


def evaluate_many(designs, client=None, threads=2, kernel="fast", epoch=None, rng=None):
    """Evaluates a list of designs; returns their ``Result``s in order.

    Without a client, the designs are evaluated one after another, each on
    ``threads`` threads. Given a Dask distributed ``Client``, they are spread
    over its workers (each design's run on ``threads`` threads of its worker).
    Without an ``epoch``, every design draws its own from ``rng`` (or takes
    its own epoch), in the order of the list, before anything is computed: the
    results are the same wherever they are computed.
    """
    designs = [d if isinstance(d, Design) else Design(d) for d in designs]
    rng = rng if rng is not None else np.random.default_rng()
    runs = [_options(threads, kernel, epoch, rng, d) for d in designs]
    options = [{"threads": t, "kernel": k, "epoch": e} for t, k, e in runs]
    if client is None:
        return [_evaluate_one(d, o) for d, o in zip(designs, options)]
    futures = client.map(_evaluate_one, designs, options, pure=False)
    return client.gather(futures)
