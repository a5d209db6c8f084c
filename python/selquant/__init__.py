"""SELQUANT: the quality of the selected and the adverse impact of a
multi-stage selection, computed analytically, with the uncertainty of its
inputs propagated by Monte Carlo sampling.

    >>> import selquant
    >>> d = selquant.Design.read("two_stage_design.toml")
    >>> result = selquant.evaluate(d, epoch=1772874303)
    >>> result.summary.head()

A design is a dictionary with the keys of a design file (see ``Design``);
``evaluate`` gives a ``Result`` of pandas DataFrames, ``evaluate_many``
evaluates many designs (on a Dask cluster where given one), ``pareto`` the
front of the best trade-offs between quality and adverse impact, ``sweep``
the designs of a grid of values of some of their keys. Each spreads its work
over a Dask cluster where given a ``client``, with the numbers of one
machine.
"""

from ._design import Design
from ._evaluate import Result, evaluate, evaluate_many
from ._pareto import Front, pareto
from ._sweep import sweep

__all__ = ["Design", "Result", "Front", "evaluate", "evaluate_many", "pareto", "sweep"]
__version__ = "1.1.0"
