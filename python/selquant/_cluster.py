"""Pieces of work on a Dask cluster, or one after another here: the same
numbers either way, since every piece is computed as the whole would compute
it and joined in order."""

import sys

from . import _selquant


def evaluate_part(text, first, last, threads, kernel, epoch, draws=None):
    return _selquant.evaluate_part(text, first, last, threads, kernel, epoch, draws)


def pareto_part(text, structure, threads, kernel, epoch):
    return _selquant.pareto_part(text, structure, threads, kernel, epoch)


def chunk_bounds(n, chunks):
    """Contiguous ranges (first, last) of the samples 1..n, as even as can be."""
    size, extra = divmod(n, chunks)
    bounds, first = [], 1
    for c in range(chunks):
        last = first + size + (c < extra) - 1
        bounds.append((first, last))
        first = last + 1
    return bounds


class _Progress:
    """A tqdm bar where tqdm is installed, else a plain line now and then."""

    def __init__(self, total, what):
        self.total, self.what, self.done = total, what, 0
        try:
            from tqdm import tqdm
            self.bar = tqdm(total=total, desc=what, file=sys.stderr)
        except ImportError:
            self.bar = None

    def update(self):
        self.done += 1
        if self.bar is not None:
            self.bar.update(1)
        elif self.done == self.total or self.done % max(1, self.total // 10) == 0:
            print(f"{self.what}: {self.done} of {self.total}", file=sys.stderr, flush=True)

    def close(self):
        if self.bar is not None:
            self.bar.close()


def run(client, fn, calls, progress=False, what="pieces"):
    """fn(*args) for every args of calls, on the client's workers (or here,
    without one); their results in the order of calls. Ctrl-C cancels the
    cluster's futures and raises KeyboardInterrupt."""
    bar = _Progress(len(calls), what) if progress else None
    try:
        if client is None:
            out = []
            for args in calls:
                out.append(fn(*args))
                if bar:
                    bar.update()
            return out
        futures = [client.submit(fn, *args, pure=False) for args in calls]
        try:
            if bar:
                from distributed import as_completed
                for _ in as_completed(futures):
                    bar.update()
            return client.gather(futures)
        except KeyboardInterrupt:
            client.cancel(futures)
            raise
    finally:
        if bar:
            bar.close()
