import os
import pickle
import signal
import threading
import time

import numpy as np
import pandas as pd
import pytest

import selquant
from conftest import EPOCH, EXAMPLES, as_numbers, assert_same_numbers


@pytest.mark.parametrize("threads", [1, 2])
def test_a_run_equals_the_programs_csv_files_to_the_last_bit(cli, tmp_path, threads):
    path = EXAMPLES / "two_stage_design.toml"
    expected = cli(tmp_path, "--kernel", "fast", path)
    result = selquant.evaluate(selquant.Design.read(path), threads=threads, epoch=EPOCH)
    for table in ("results", "inputs", "summary"):
        assert_same_numbers(getattr(result, table), expected[table])
    assert list(result.results["group"].cat.categories) == ["minority", "majority"]
    largest = EXAMPLES / "four_stage_five_group.deck"  # every kernel's widest vector path
    assert_same_numbers(selquant.evaluate(selquant.Design.read(largest), threads=threads,
                                          epoch=EPOCH).results,
                        cli(tmp_path, "--kernel", "fast", largest, files=("results",))["results"])
    exact = cli(tmp_path, "--kernel", "specified", EXAMPLES / "exact_two_stage.deck",
                files=("results",))
    assert_same_numbers(selquant.evaluate(selquant.Design.read(EXAMPLES / "exact_two_stage.deck"),
                                          kernel="specified", epoch=EPOCH).results,
                        exact["results"])


def test_a_dict_the_design_file_and_the_deck_give_the_same_results():
    d = {
        "sampling": "rectangular", "samples": 500,
        "predictors": ["cognitive", "interview"], "criteria": ["task"],
        "criterion_weights": [1.0],
        "stage": pd.DataFrame({"retention": [0.5, 0.2], "cognitive": [1.0, 0.5],
                               "interview": [0.0, 0.5]}),
        "group": [{"name": "minority", "proportion": 0.3,
                   "criterion_d": [{"low": -0.5, "high": -0.3}],
                   "predictor_d": {"low": np.array([-0.8, -0.3]), "high": np.array([-0.6, -0.1])}},
                  {"name": "majority", "proportion": 0.7}],
        "correlations": {
            "predictors": {"low": pd.DataFrame([[1, 0.2], [0.2, 1]], index=["interview", "cognitive"],
                                               columns=["interview", "cognitive"]),
                           "high": np.array([[1, 0.4], [0.4, 1]])},
            "validities": [[{"low": 0.3, "high": 0.5}, {"low": 0.2, "high": 0.4}]],
        },
    }
    from_dict = selquant.Design(d)
    from_file = selquant.Design.read(EXAMPLES / "two_stage_design.toml")
    from_deck = selquant.Design.read(EXAMPLES / "two_stage_rectangular.deck")
    assert from_dict == from_file
    runs = [selquant.evaluate(x, threads=1, epoch=EPOCH) for x in (from_dict, from_file, from_deck)]
    assert runs[0] == runs[1]
    assert as_numbers(runs[0].results).equals(as_numbers(runs[2].results))
    # Pickled, a design and its results are the same.
    assert pickle.loads(pickle.dumps(runs[0])) == runs[0]


@pytest.mark.parametrize("change, message", [
    ({"stage": [{"retention": 0.5, "weights": {"cognitiv": 1}}]},
     "stage[1].weights.cognitiv: no predictor 'cognitiv'; did you mean 'cognitive'?"),
    ({"correlations": {"predictors": [[1, 0.3], [0.2, 1]], "validities": [[0.5, 0.4]]}},
     "correlations.predictors[1][2]: the matrix is not symmetric"),
    ({"group": [{"name": "a", "proportion": 0.5, "predictor_d": {"cognitive": {"low": 0.5, "high": 0.3}}},
                {"name": "b", "proportion": 0.5}]},
     "group[1].predictor_d.cognitive: low 0.5 is above high 0.3"),
    ({"samples": "many"}, "samples: must be a whole number"),
    ({"stages": []}, "stages: unknown key; did you mean 'stage'?"),
])
def test_bad_dict_designs_raise_value_errors_naming_the_key(change, message):
    base = selquant.Design.read(EXAMPLES / "two_stage_design.toml").data
    base.update(change)
    with pytest.raises(ValueError) as e:
        selquant.Design(base)
    assert str(e.value).startswith(message)


def test_an_interrupted_run_raises_keyboard_interrupt_and_the_interpreter_goes_on():
    d = selquant.Design.read(EXAMPLES / "four_stage_five_group.deck").replace(samples=100000)
    timer = threading.Timer(0.5, os.kill, (os.getpid(), signal.SIGINT))
    start = time.monotonic()
    timer.start()
    with pytest.raises(KeyboardInterrupt):
        selquant.evaluate(d, threads=2, kernel="specified", epoch=EPOCH)
    assert time.monotonic() - start < 3
    assert selquant.evaluate(d.replace(samples=2), epoch=EPOCH).counted == 2


def test_the_front_equals_the_programs(tmp_path):
    import subprocess
    from conftest import ROOT
    program = os.environ.get("SELQUANT_CLI", str(ROOT / "build" / "selquant"))
    path = EXAMPLES / "bobko_two_stage.toml"
    subprocess.run([program, "--pareto", "--epoch", str(EPOCH), "--threads", "1", "--csv",
                    str(tmp_path / "front.csv"), str(path)], check=True, stdout=subprocess.DEVNULL)
    expected = pd.read_csv(tmp_path / "front.csv", float_precision="round_trip")
    front = selquant.pareto(selquant.Design.read(path), ["quality", "ai:minority"], points=11,
                            epoch=EPOCH)
    assert_same_numbers(front.front, expected)
    with pytest.raises(ValueError, match=r"pareto.objectives\[2\]"):
        selquant.pareto(selquant.Design.read(path), ["quality", "ai:nobody"])
    with pytest.raises(FileNotFoundError):
        selquant.Design.read(tmp_path / "missing.toml")
    # With the first stage's retention searched.
    searched = tmp_path / "retention.toml"
    searched.write_text(path.read_text().replace(
        "points = 11\n", "points = 11\nretention = [{ low = 0.15, high = 0.9 }, 0.1]\n"))
    subprocess.run([program, "--pareto", "--epoch", str(EPOCH), "--threads", "1", "--csv",
                    str(tmp_path / "retention.csv"), str(searched)], check=True,
                   stdout=subprocess.DEVNULL)
    expected = pd.read_csv(tmp_path / "retention.csv", float_precision="round_trip")
    front = selquant.pareto(selquant.Design.read(path), ["quality", "ai:minority"], points=11,
                            retention=[{"low": 0.15, "high": 0.9}, 0.1], epoch=EPOCH)
    assert list(front.front.columns[3:5]) == ["r1", "r2"]
    assert_same_numbers(front.front, expected)
    # Structures with costs, each searched on its own.
    layouts = [[["CA", "B"], ["SI"]], [["B"], ["CA", "SI", "C"]]]
    costed = tmp_path / "structures.toml"
    costed.write_text(path.read_text().replace(
        "[pareto]\n", "[costs]\nCA = 10\nSI = 150\nC = 8\nB = 12\n[pareto]\n").replace(
        "points = 11\n", f"points = 7\nstructures = {layouts}\n".replace("'", '"')))
    subprocess.run([program, "--pareto", "--epoch", str(EPOCH), "--threads", "1", "--csv",
                    str(tmp_path / "structures.csv"), str(costed)], check=True,
                   stdout=subprocess.DEVNULL)
    expected = pd.read_csv(tmp_path / "structures.csv", float_precision="round_trip")
    front = selquant.pareto(selquant.Design.read(costed), ["quality", "ai:minority"], points=7,
                            structures=layouts, epoch=EPOCH)
    assert set(front.front["structure"]) == {"CA+B|SI", "B|CA+SI+C"}
    assert list(front.design_point) == ["quality", "ai_minority"]
    assert_same_numbers(front.front, expected)
    with pytest.raises(ValueError, match=r"pareto.structures\[1\]\[2\]\[1\]: no predictor 'GMA'"):
        selquant.pareto(selquant.Design.read(costed), ["quality", "ai:minority"],
                        structures=[[["CA"], ["GMA"]]])


def test_costs_and_utility_go_through_the_design_and_the_front_pays_where_predictors_enter():
    data = selquant.Design.read(EXAMPLES / "bobko_two_stage.toml").data
    data["costs"] = {"CA": 10, "SI": 150, "C": 8, "B": 12}
    data["utility"] = {"applicants": 1000, "sdy": 40000}
    design = selquant.Design(data)
    assert selquant.Design(design.data) == design
    assert design["costs"] == {"CA": 10.0, "SI": 150.0, "C": 8.0, "B": 12.0}
    front = selquant.pareto(design, ["quality", "cost"], points=5, epoch=EPOCH,
                            retention=[{"low": 0.15, "high": 0.9}, 0.1]).front
    # CA and B screen everyone; SI and C, entering at stage 2, those kept.
    assert np.allclose(front["cost"], 10 + 12 + (150 + 8) * front["r1"], rtol=0, atol=1e-12)
    assert np.allclose(front["utility"], 1000 * 0.1 * 40000 * front["quality"]
                       - 1000 * front["cost"], rtol=1e-12)


def test_constraints_bound_the_designs_and_say_where_none_is_left():
    design = selquant.Design.read(EXAMPLES / "bobko_two_stage.toml")
    best = selquant.pareto(design, ["quality"], constraints=["ai:* >= 0.5"], epoch=EPOCH).front
    assert len(best) == 1 and best["ai_minority"][0] >= 0.5
    with pytest.warns(UserWarning, match="the nearest is 'ai:minority >= 0.99'"):
        none = selquant.pareto(design, ["quality"], constraints=["ai:* >= 0.99"], epoch=EPOCH)
    assert len(none.front) == 0 and none.unmet[0] == "ai:minority >= 0.99"


def test_the_front_plot_draws_every_searched_stages_weights_with_their_signs():
    import matplotlib
    matplotlib.use("Agg")
    design = selquant.Design.read(EXAMPLES / "bobko_two_stage.toml")
    front = selquant.pareto(design, ["quality", "ai:minority"], points=7, signs="any",
                            epoch=EPOCH)
    fig = front.plot()
    assert [a.get_title() for a in fig.axes[1:]] == ["Weights of stage 1", "Weights of stage 2"]
    for s, ax in enumerate(fig.axes[1:], 1):
        w = front.front[[f"w{s}_{p}" for p in design.predictors]].to_numpy()
        # Each predictor's bar of a point is as tall as its weight, signed.
        def shown(values):
            return sorted(x for x in (round(v, 12) for v in values) if x != 0)
        assert shown(r.get_height() for r in ax.patches) == shown(w.ravel())
    assert any(v < 0 for v in front.front.filter(like="w2_").to_numpy().ravel())


def test_pages_are_the_programs_but_for_the_call_that_made_them(tmp_path):
    import html
    import re
    import subprocess
    from conftest import ROOT
    program = os.environ.get("SELQUANT_CLI", str(ROOT / "build" / "selquant"))
    made = re.compile(r"<p>Made by <code>(.*)</code></p>\n")
    front_path, run_path = EXAMPLES / "bobko_two_stage.toml", EXAMPLES / "two_stage_design.toml"
    for args in (["--pareto", front_path], ["--kernel", "fast", run_path]):
        subprocess.run([program, "--epoch", str(EPOCH), "--html", str(tmp_path / "cli.html")] + args,
                       check=True, stdout=subprocess.DEVNULL)
        if args[0] == "--pareto":
            made_here = selquant.pareto(selquant.Design.read(front_path), ["quality", "ai:minority"],
                                        points=11, epoch=EPOCH)
            call = ("selquant.pareto(design, objectives=['quality', 'ai:minority'], points=11, "
                    "signs='nonnegative', uncertainty='expected', samples=20, threads=2, "
                    "kernel='fast', epoch=1772874303)")
        else:
            made_here = selquant.evaluate(selquant.Design.read(run_path), epoch=EPOCH)
            call = "selquant.evaluate(design, threads=2, kernel='fast', epoch=1772874303)"
        made_here.to_html(tmp_path / "py.html")
        cli_page, page = ((tmp_path / f).read_text() for f in ("cli.html", "py.html"))
        assert made.search(page).group(1) == call
        assert made.sub("", page) == made.sub("", cli_page)
    # A notebook shows the front's page in a frame of its own.
    front = selquant.pareto(selquant.Design.read(front_path), ["quality", "ai:minority"], points=5,
                            epoch=EPOCH)
    front.to_html(tmp_path / "front.html")
    frame = front._repr_html_()
    source = re.fullmatch(r'<iframe [^>]*srcdoc="([^"]*)"></iframe>', frame)
    assert html.unescape(source.group(1)) == (tmp_path / "front.html").read_text()


def test_given_draws_are_the_programs_and_say_where_they_are_wrong(cli, tmp_path):
    # Jointly drawn inputs (validities moving with the predictor correlation,
    # an uncertain minority share) over a design with a pool of applicants:
    # the same tables as the program's --draws, bit for bit.
    design = selquant.Design.read(EXAMPLES / "two_stage_design.toml").replace(
        utility={"applicants": 1000, "sdy": 1})
    path = tmp_path / "design.toml"
    design.write(path)
    rng = np.random.default_rng(7)
    shift = rng.normal(0, 0.05, 300)
    draws = pd.DataFrame({"prop_1": rng.uniform(0.2, 0.4, 300), "rpp_1_2": 0.3 + shift,
                          "val_1_1": 0.4 + shift / 2, "val_1_2": 0.3 - shift})
    draws.to_csv(tmp_path / "draws.csv", index=False, float_format="%.17g")
    expected = cli(tmp_path, "--kernel", "fast", "--draws", tmp_path / "draws.csv", path)
    result = selquant.evaluate(design, epoch=EPOCH, draws=draws)
    for table in ("results", "inputs", "summary"):
        assert_same_numbers(getattr(result, table), expected[table])
    assert list(result.results.columns[-2:]) == ["share", "count"]
    # The expected numbers passing: applicants x proportion x passing.
    r = result.results.merge(result.inputs, on="sample")
    share = np.where(r["group"] == "minority", r["prop_1"], r["prop_2"])
    assert np.allclose(r["count"], 1000 * share * r["passing"], rtol=1e-15, atol=0)
    assert np.array_equal(result.inputs["prop_1"], draws["prop_1"])
    assert repr(result).startswith("<selquant.Result: given draws, 300 of 300 samples")
    # Cut into chunks, the same.
    assert selquant.evaluate(design, epoch=EPOCH, draws=draws, chunks=4) == result
    for bad, message in [
            (draws.rename(columns={"val_1_2": "val_2_1"}),
             "draws, column val_2_1: names no input of the design (its inputs are prop_1 to "
             "val_1_2, correlations by their upper triangle)"),
            (draws.assign(rpp_1_2=np.where(np.arange(300) == 241, 1.25, draws["rpp_1_2"])),
             "draws row 242, column rpp_1_2: the correlation 1.25 is outside [-1, 1]"),
            (draws.assign(prop_2=0.5),
             "draws row 1, columns prop_1, prop_2: the proportions sum to "),
            (draws.assign(val_1_1="high"), "draws, column val_1_1: not numbers")]:
        for chunks in (None, 4):  # a chunk's rows are counted as the run's
            with pytest.raises(ValueError) as e:
                selquant.evaluate(design, epoch=EPOCH, draws=bad, chunks=chunks)
            assert str(e.value).startswith(message)


def test_an_uncertain_proportion_is_drawn_and_the_base_group_takes_the_rest():
    d = selquant.Design.read(EXAMPLES / "two_stage_design.toml")
    groups = d["group"]
    groups[0] = dict(groups[0], proportion={"low": 0.2, "high": 0.3})
    groups[1] = {k: v for k, v in groups[1].items() if k != "proportion"}
    u = d.replace(group=groups, samples=200)
    assert u["group"][0]["proportion"] == {"low": 0.2, "high": 0.3}
    assert "proportion low 0.2 high 0.3" in repr(u)
    inputs = selquant.evaluate(u, epoch=EPOCH).inputs
    assert inputs["prop_1"].between(0.2, 0.3).all() and np.ptp(inputs["prop_1"]) > 0.09
    assert (inputs["prop_2"] == 1 - inputs["prop_1"]).all()
