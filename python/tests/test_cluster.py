import numpy as np
import pandas as pd
import pytest

import selquant
from conftest import EPOCH, EXAMPLES

# Three predictors whose drawn correlations are often no correlation matrix:
# runs of skipped samples among the computed ones.
SKIPPING = {
    "sampling": "rectangular", "samples": 300,
    "predictors": ["a", "b", "c"], "criteria": ["performance"], "criterion_weights": [1],
    "stage": [{"retention": 0.5, "weights": {"a": 1, "b": 1}},
              {"retention": 0.2, "weights": {"a": 1, "b": 1, "c": 1}}],
    "group": [{"name": "minority", "proportion": 0.3,
               "predictor_d": {"a": {"low": -0.8, "high": -0.4}, "b": -0.2, "c": -0.1}},
              {"name": "majority", "proportion": 0.7}],
    "correlations": {"predictors": {"low": [[1, 0.5, 0.5], [0.5, 1, -0.3], [0.5, -0.3, 1]],
                                    "high": [[1, 0.9, 0.9], [0.9, 1, 0.2], [0.9, 0.2, 1]]},
                     "validities": [[0.3, 0.3, 0.2]]},
}


@pytest.fixture(scope="module")
def client():
    from distributed import Client, LocalCluster
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                      dashboard_address=None) as cluster, Client(cluster) as c:
        yield c


def test_evaluate_many_on_a_two_worker_cluster_equals_the_serial_results(client):
    base = selquant.Design.read(EXAMPLES / "two_stage_design.toml").replace(samples=50)
    designs = []
    for r in np.linspace(0.3, 0.8, 6):
        stages = base["stage"]
        stages[0]["retention"] = float(r)
        designs.append(base.replace(stage=stages))
    serial = selquant.evaluate_many(designs, rng=np.random.default_rng(1), threads=1)
    spread = selquant.evaluate_many(designs, client=client, rng=np.random.default_rng(1),
                                    threads=1)
    assert [r.epoch for r in spread] == [r.epoch for r in serial]
    assert all(a == b for a, b in zip(spread, serial))
    # The retention changes the cutoff of stage 1.
    assert len({r.results["cutoff"].iloc[0] for r in serial}) == 6


def same_bits(a, b):
    assert list(a.columns) == list(b.columns)
    for k in a.columns:
        x, y = a[k].to_numpy(), b[k].to_numpy()
        if x.dtype.kind == "f":
            assert x.tobytes() == y.tobytes(), k
        else:
            assert list(x) == list(y), k


def test_a_run_in_chunks_on_the_cluster_is_the_serial_run(client, tmp_path, capsys):
    design = selquant.Design(SKIPPING)
    serial = selquant.evaluate(design, epoch=EPOCH)
    valid = serial.inputs["valid"].to_numpy()
    # Equal chunks, one starting at the second of two skipped samples.
    pairs = [k for k in range(len(valid) - 1) if not valid[k] and not valid[k + 1]]
    size, pair = next((n, k) for k in pairs for n in (60, 50, 30, 25, 20, 15, 12, 10, 6, 5, 4, 3, 2)
                      if (k + 1) % n == 0)
    chunks = 300 // size
    spread = selquant.evaluate(design, epoch=EPOCH, client=client, chunks=chunks)
    for table in ("results", "inputs", "summary"):
        same_bits(getattr(spread, table), getattr(serial, table))
    assert spread.counted == serial.counted and spread.not_found == serial.not_found
    assert len(serial.summary) == 2 * 3 * 10  # the percentiles: over 100 counted
    serial.to_html(tmp_path / "serial.html")
    selquant.evaluate(design, epoch=EPOCH, chunks=5, progress=True).to_html(tmp_path / "here.html")
    shown = capsys.readouterr().err
    assert "5/5" in shown or "chunks: 5 of 5" in shown  # tqdm's bar, or the plain line
    assert (tmp_path / "here.html").read_bytes().split(b"<code>")[0] == \
        (tmp_path / "serial.html").read_bytes().split(b"<code>")[0]
    assert (tmp_path / "here.html").read_bytes().split(b"</code>")[1] == \
        (tmp_path / "serial.html").read_bytes().split(b"</code>")[1]


def test_a_search_on_the_cluster_is_the_serial_search(client):
    path = EXAMPLES / "bobko_two_stage.toml"
    design = selquant.Design.read(path).replace(costs={"CA": 10, "SI": 150, "C": 8, "B": 12})
    arguments = dict(objectives=["quality", "ai:minority", "cost"], points=5,
                     structures=[[["CA", "B"], ["SI"]], [["B"], ["CA", "SI", "C"]], [["C"], ["SI"]]],
                     retention=[{"low": 0.15, "high": 0.9}, 0.1], epoch=EPOCH)
    serial = selquant.pareto(design, **arguments)
    spread = selquant.pareto(design, client=client, **arguments)
    same_bits(spread.front, serial.front)
    assert spread.evaluations == serial.evaluations
    assert spread._page == serial._page
    one = selquant.pareto(design, ["quality", "ai:minority"], points=5, epoch=EPOCH)
    same_bits(selquant.pareto(design, ["quality", "ai:minority"], points=5, epoch=EPOCH,
                              client=client).front, one.front)


def test_a_sweep_is_a_block_per_design_in_the_grids_order(client):
    design = selquant.Design.read(EXAMPLES / "two_stage_design.toml").replace(samples=20)
    values = {"stage[1].retention": [0.3, 0.6], "group[1].predictor_d.cognitive": [-1.0, -0.5, 0.0]}
    table = selquant.sweep(design, values, epoch=EPOCH)
    spread = selquant.sweep(design, values, client=client, epoch=EPOCH)
    same_bits(spread, table)
    assert list(table.columns[:2]) == list(values)
    block = len(table) // 6
    combinations = [(r, d) for r in values["stage[1].retention"]
                    for d in values["group[1].predictor_d.cognitive"]]
    for i, (r, d) in enumerate(combinations):
        rows = table.iloc[i * block:(i + 1) * block]
        assert set(rows["stage[1].retention"]) == {r} and set(rows["group[1].predictor_d.cognitive"]) == {d}
        data = design.data
        data["stage"][0]["retention"] = r
        data["group"][0]["predictor_d"]["cognitive"] = d
        alone = selquant.evaluate(selquant.Design(data), epoch=EPOCH).summary
        same_bits(rows.drop(columns=list(values)).reset_index(drop=True), alone)
    fronts = selquant.sweep(design, {"stage[1].retention": [0.3, 0.6]}, epoch=EPOCH,
                            pareto={"objectives": ["quality", "ai:minority"], "points": 3})
    assert list(fronts.columns[:3]) == ["stage[1].retention", "point", "quality"]
    with pytest.raises(ValueError, match=r"^stage\[3\]\.retention: no such key in the design$"):
        selquant.sweep(design, {"stage[3].retention": [0.5]})
    with pytest.raises(ValueError, match=r"stage\[1\]\.retention = 1\.5: .*stage\[1\]\.retention"):
        selquant.sweep(design, {"stage[1].retention": [0.5, 1.5]})


def test_an_interrupt_while_waiting_cancels_the_clusters_futures(client, monkeypatch):
    def interrupted(futures):
        raise KeyboardInterrupt
    cancelled = []
    monkeypatch.setattr(client, "gather", interrupted)
    monkeypatch.setattr(client, "cancel", cancelled.extend)
    with pytest.raises(KeyboardInterrupt):
        selquant.evaluate(selquant.Design(SKIPPING), epoch=EPOCH, client=client, chunks=4)
    assert len(cancelled) == 4 and len({id(f) for f in cancelled}) == 4
