"""A sweep: the designs of a grid of values of some keys of a design,
evaluated (or searched) each, in one tidy table."""

import copy
import itertools
import re

import pandas as pd

from . import _cluster
from ._design import Design
from ._evaluate import _options, evaluate
from ._pareto import pareto as search

# A key path as the design file's messages name keys: names and 1-based
# indices, "stage[1].retention", "group[2].predictor_d.cognitive",
# "correlations.validities[1][2]".
_STEP = re.compile(r"\.?([A-Za-z_][A-Za-z0-9_]*)|\[([0-9]+)\]")


def _steps(path):
    steps, at = [], 0
    while at < len(path):
        m = _STEP.match(path, at)
        if m is None or (at == 0 and path.startswith(".")):
            raise ValueError(f"{path}: not a key path (names and [N], as 'stage[1].retention')")
        steps.append(m.group(1) if m.group(1) is not None else int(m.group(2)) - 1)
        at = m.end()
    if not steps or not isinstance(steps[0], str):
        raise ValueError(f"{path}: not a key path (names and [N], as 'stage[1].retention')")
    return steps


def _set(data, path, value):
    """data with the value at path, where a value is there to replace; a
    correlation's mirror entry follows it."""
    steps = _steps(path)
    node = data
    for i, step in enumerate(steps):
        last = i == len(steps) - 1
        fits = (isinstance(step, str) and isinstance(node, dict) and step in node) or \
               (isinstance(step, int) and isinstance(node, list) and 0 <= step < len(node))
        if not fits:
            raise ValueError(f"{path}: no such key in the design")
        if last:
            node[step] = value
        else:
            node = node[step]
    if len(steps) == 4 and steps[:1] == ["correlations"] and steps[1] in ("predictors", "criteria"):
        data["correlations"][steps[1]][steps[3]][steps[2]] = value


def _grid(design, values):
    """Every combination of the values, the first key's varying slowest, and
    its design."""
    keys = list(values)
    for key in keys:
        _steps(key)
    base = design.data
    for combination in itertools.product(*(list(values[k]) for k in keys)):
        data = copy.deepcopy(base)
        for key, v in zip(keys, combination):
            _set(data, key, v)
        yield dict(zip(keys, combination)), data


def _one(data, options, pareto_options):
    design = Design(data)
    if pareto_options is None:
        return evaluate(design, **options).summary
    return search(design, **pareto_options, **options).front


def sweep(design, values, client=None, pareto=None, progress=False, threads=2, kernel="fast",
          epoch=None, rng=None):
    """Evaluates every design of a grid: ``values`` maps key paths of the
    design (as its file's messages name them: ``"stage[1].retention"``,
    ``"group[1].predictor_d.cognitive"``) to the values each takes; every
    combination is a design, the first key's values varying slowest. Returns
    one DataFrame: a block of rows per design in the order of the grid, a
    column per swept key with its value, then the design's summary rows (or,
    given ``pareto``, a dict of ``pareto()``'s arguments, its front). All the
    designs share one clock reading (``epoch``, else the design's, else one
    drawn from ``rng``): their differences are the keys', not the draws'.
    ``client``: a Dask distributed ``Client`` whose workers evaluate the
    designs. A path that names no value of the design is a ``ValueError``
    naming it, and so is a value the design cannot take.
    """
    if not isinstance(design, Design):
        design = Design(design)
    if not isinstance(values, dict) or not values:
        raise ValueError("values must map key paths to the values they take")
    threads, kernel, epoch = _options(threads, kernel, epoch, rng, design)
    options = {"threads": threads, "kernel": kernel, "epoch": epoch}
    grid = list(_grid(design, values))
    for keys, data in grid:
        try:
            Design(data)
        except ValueError as e:
            raise ValueError(f"{', '.join(f'{k} = {v!r}' for k, v in keys.items())}: {e}") from None
    calls = [(data, options, pareto) for _, data in grid]
    tables = _cluster.run(client, _one, calls, progress, "designs")
    blocks = []
    for (keys, _), table in zip(grid, tables):
        block = table.copy()
        for i, (key, v) in enumerate(keys.items()):
            block.insert(i, key, [v] * len(block))
        blocks.append(block)
    return pd.concat(blocks, ignore_index=True)
