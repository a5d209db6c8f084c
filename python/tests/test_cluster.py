import numpy as np

import selquant
from conftest import EXAMPLES


def test_evaluate_many_on_a_two_worker_cluster_equals_the_serial_results():
    from distributed import Client, LocalCluster

    base = selquant.Design.read(EXAMPLES / "two_stage_design.toml").replace(samples=50)
    designs = []
    for r in np.linspace(0.3, 0.8, 6):
        stages = base["stage"]
        stages[0]["retention"] = float(r)
        designs.append(base.replace(stage=stages))
    serial = selquant.evaluate_many(designs, rng=np.random.default_rng(1), threads=1)
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                      dashboard_address=None) as cluster, Client(cluster) as client:
        spread = selquant.evaluate_many(designs, client=client, rng=np.random.default_rng(1),
                                        threads=1)
    assert [r.epoch for r in spread] == [r.epoch for r in serial]
    assert all(a == b for a, b in zip(spread, serial))
    # The retention changes the cutoff of stage 1.
    assert len({r.results["cutoff"].iloc[0] for r in serial}) == 6
