"""The pages in headless Chromium: what a front's page draws, hovers, pins,
bounds and downloads is what the program's CSV holds, and what a run's page
draws is what its summary and results hold, with no console error and no
request."""
import csv
import io
import json
import os
import re
import subprocess
import time
from pathlib import Path

import pytest
from selenium import webdriver
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By

ROOT = Path(__file__).resolve().parents[2]
PROGRAM = os.environ.get("SELQUANT_CLI", str(ROOT / "build" / "selquant"))
EPOCH = "1772874303"


def design(tmp_path):
    """The Bobko two-stage set with costs, its first stage's rate searched,
    three objectives: a front with a cost to bound and three plots."""
    text = (ROOT / "examples" / "bobko_two_stage.toml").read_text()
    text = text.replace("[pareto]\n", "[costs]\nCA = 10\nSI = 150\nC = 8\nB = 12\n[pareto]\n")
    text = text.replace('objectives = ["quality", "ai:minority"]',
                        'objectives = ["quality", "ai:minority", "cost"]')
    text = text.replace("points = 11\n", "points = 6\nretention = [{ low = 0.15, high = 0.9 }, 0.1]\n")
    path = tmp_path / "front.toml"
    path.write_text(text)
    return path


def read_csv(path):
    with open(path, newline="") as f:
        return list(csv.DictReader(f))


def browser():
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for a in ("--headless", "--no-sandbox", "--disable-gpu", "--window-size=1400,1800"):
        options.add_argument(a)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL", "performance": "ALL"})
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


@pytest.fixture()
def page(tmp_path):
    path = design(tmp_path)
    subprocess.run([PROGRAM, "--pareto", "--epoch", EPOCH, "--csv", str(tmp_path / "front.csv"),
                    "--html", str(tmp_path / "front.html"), str(path)], check=True,
                   stdout=subprocess.DEVNULL)
    driver = browser()
    driver.get((tmp_path / "front.html").as_uri())
    yield driver, read_csv(tmp_path / "front.csv")
    driver.quit()


def quiet(driver, page_path):
    """No console error, and no request but the page's own."""
    errors = [e for e in driver.get_log("browser") if e["level"] == "SEVERE"]
    assert errors == []
    requests = [json.loads(e["message"])["message"] for e in driver.get_log("performance")]
    asked = {m["params"]["request"]["url"] for m in requests if m["method"] == "Network.requestWillBeSent"}
    assert asked == {page_path.as_uri()}


def shown(v):
    return f"{float(v):.4f}"


def test_every_point_is_drawn_and_its_tooltip_and_pin_say_its_values(page):
    driver, rows = page
    plots = driver.find_elements(By.CSS_SELECTOR, "#plots svg")
    assert len(plots) == 3  # every pair of three objectives
    for svg in plots:
        marks = svg.find_elements(By.CSS_SELECTOR, "[data-point]")
        assert sorted(int(m.get_attribute("data-point")) for m in marks) == \
            [int(r["point"]) for r in rows]
    assert len(driver.find_elements(By.CSS_SELECTOR, "tr[data-point]")) == len(rows)
    row = rows[2]
    mark = plots[0].find_element(By.CSS_SELECTOR, f'[data-point="{row["point"]}"]')
    ActionChains(driver).move_to_element(mark).perform()
    tip = driver.find_element(By.CSS_SELECTOR, '[role="tooltip"]').text
    for column in ("quality", "ai_minority", "cost", "r1", "w2_SI"):
        assert f"{column}: {shown(row[column])}" in tip
    mark.click()
    pinned = driver.find_element(By.CSS_SELECTOR, f'[data-pinned="{row["point"]}"]')
    for stage in (1, 2):
        weights = [float(r.get_attribute("data-weight")) for r in
                   pinned.find_elements(By.CSS_SELECTOR, f'rect[data-stage="{stage}"]')]
        assert len(weights) == 4 and abs(sum(abs(w) for w in weights) - 1) < 1e-12
        assert weights == [float(row[f"w{stage}_{p}"]) for p in ("CA", "SI", "C", "B")]


def test_bounds_fade_what_breaks_them_and_mark_the_best_left(page):
    driver, rows = page
    ai = sorted(float(r["ai_minority"]) for r in rows)[len(rows) // 2]
    cost = sorted(float(r["cost"]) for r in rows)[-2]
    for name, value in (("ai:minority", ai), ("cost", cost)):
        field = driver.find_element(By.CSS_SELECTOR, f'input[data-bound="{name}"]')
        field.send_keys(repr(value))
    kept = [r for r in rows if float(r["ai_minority"]) >= ai and float(r["cost"]) <= cost]
    assert 0 < len(kept) < len(rows)
    best = max(kept, key=lambda r: float(r["quality"]))["point"]
    for element in driver.find_elements(By.CSS_SELECTOR, "[data-point]"):
        if element.get_attribute("id") == "pinned":
            continue
        point = element.get_attribute("data-point")
        inside = any(r["point"] == point for r in kept)
        assert element.get_attribute("data-excluded") == ("false" if inside else "true"), point
        assert (element.get_attribute("data-best") == "true") == (point == best), point
    assert f"by quality: point {best}," in driver.find_element(By.ID, "best").text


def test_the_download_is_the_csv_and_nothing_was_asked_of_the_network(page, tmp_path):
    driver, rows = page
    # The blob the page makes is read on its way to the browser's download.
    driver.execute_script("""
        window.downloaded = null;
        const make = URL.createObjectURL;
        URL.createObjectURL = (blob) => { blob.text().then((t) => { window.downloaded = t; });
                                          return make.call(URL, blob); };""")
    driver.find_element(By.CSS_SELECTOR, '[data-download="csv"]').click()
    text = None
    for _ in range(50):
        text = driver.execute_script("return window.downloaded;")
        if text:
            break
        time.sleep(0.1)
    got = list(csv.DictReader(io.StringIO(text)))
    assert [list(r) for r in got[:1]] == [list(rows[0])]
    for a, b in zip(got, rows, strict=True):
        assert {k: float(v) if k != "structure" else v for k, v in a.items()} == \
            {k: float(v) if k != "structure" else v for k, v in b.items()}
    quiet(driver, tmp_path / "front.html")


def test_a_pinned_point_shows_its_own_ordinary_run(page, tmp_path):
    """The stage-by-stage table of a pinned point is the program's ordinary
    run of the design with the point's weights and retention rates."""
    driver, rows = page
    row = rows[3]
    driver.find_element(By.CSS_SELECTOR, f'tr[data-point="{row["point"]}"]').click()
    text = design(tmp_path).read_text()
    stages = text.split("[[stage]]")
    for s in (1, 2):
        weights = ", ".join(row[f"w{s}_{p}"] for p in ("CA", "SI", "C", "B"))
        stages[s] = re.sub(r"retention = .*\nweights = .*\n",
                           f"retention = {row[f'r{s}']}\nweights = [{weights}]\n", stages[s])
    point = tmp_path / "point.toml"
    point.write_text("[[stage]]".join(stages))
    subprocess.run([PROGRAM, "--epoch", EPOCH, "--csv", str(tmp_path / "point.csv"), str(point)],
                   check=True, stdout=subprocess.DEVNULL)
    pinned = driver.find_element(By.CSS_SELECTOR, f'[data-pinned="{row["point"]}"]')
    groups = ["minority", "majority"]
    results = read_csv(tmp_path / "point.csv")
    assert len(results) == 4
    for r in results:
        stage = pinned.find_element(By.CSS_SELECTOR, f'tr[data-stage="{r["stage"]}"]')
        assert stage.find_element(By.CSS_SELECTOR, '[data-measure="quality"]:not([data-group])').text \
            == shown(r["quality_all"])
        group = groups[int(r["group"]) - 1]
        for measure in ("quality", "cum_ai", "stage_ai"):
            cell = stage.find_element(By.CSS_SELECTOR,
                                      f'[data-group="{group}"][data-measure="{measure}"]')
            assert cell.text == shown(r[measure]), (r["stage"], group, measure)


@pytest.mark.parametrize("deck", ["two_stage_rectangular.deck", "exact_two_stage.deck"])
def test_a_runs_page_draws_its_summary_and_results(tmp_path, deck):
    """Per stage the histogram counts every counted sample, the tooltips and
    boxes hold the summary's statistics, exact points stand at the results'
    values, and the summary table is the summary CSV."""
    page_path = tmp_path / "run.html"
    with open(ROOT / "examples" / deck) as f:
        subprocess.run([PROGRAM, "--epoch", EPOCH, "--html", str(page_path), "--csv",
                        str(tmp_path / "results.csv"), "--summary-csv", str(tmp_path / "summary.csv")],
                       stdin=f, check=True, stdout=subprocess.DEVNULL)
    summary = read_csv(tmp_path / "summary.csv")
    results = read_csv(tmp_path / "results.csv")
    driver = browser()
    try:
        driver.get(page_path.as_uri())
        exact = deck.startswith("exact")
        groups = ["group_1", "group_2"]
        statistic = {(r["stage"], r["group"], r["statistic"]): r for r in summary}
        for stage in ("1", "2"):
            panel = driver.find_element(By.CSS_SELECTOR, f'#stages svg[data-stage="{stage}"]')
            if exact:
                for r in (r for r in results if r["stage"] == stage):
                    group = groups[int(r["group"]) - 1]
                    for kind in ("quality", "cum_ai"):
                        mark = panel.find_element(By.CSS_SELECTOR,
                                                  f'[data-kind="{kind}"][data-group="{group}"]')
                        assert float(mark.get_attribute("data-value")) == float(r[kind])
                    ActionChains(driver).move_to_element(mark).perform()
                    tip = driver.find_element(By.CSS_SELECTOR, '[role="tooltip"]').text
                    assert f"Stage AI: {shown(r['stage_ai'])}" in tip
                continue
            bars = panel.find_elements(By.CSS_SELECTOR, '[data-kind="quality_bin"]')
            assert sum(int(b.get_attribute("data-count")) for b in bars) == \
                len({r["sample"] for r in results})
            for g, group in enumerate(groups, 1):
                box = panel.find_element(By.CSS_SELECTOR, f'[data-kind="cum_ai_box"][data-group="{group}"]')
                ActionChains(driver).move_to_element(box.find_element(By.CSS_SELECTOR, "rect")).perform()
                tip = driver.find_element(By.CSS_SELECTOR, '[role="tooltip"]').text
                for name in ("mean", "p5", "p50", "p99"):
                    assert f"{name}: {shown(statistic[(stage, str(g), name)]['cum_ai'])}" in tip
        cells = driver.find_elements(By.CSS_SELECTOR, "#summary td[data-measure]")
        want = [shown(r[k])
                for s in ("1", "2") for name in dict.fromkeys(r["statistic"] for r in summary)
                for r in summary if r["stage"] == s and r["statistic"] == name
                for k in (("quality",) if r["group"] == "" else ("quality", "cum_ai", "stage_ai"))]
        assert [c.text for c in cells] == want
        quiet(driver, page_path)
    finally:
        driver.quit()
