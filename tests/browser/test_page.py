"""The front's page in headless Chromium: what is drawn, hovered, pinned,
bounded and downloaded is what the program's CSV holds, with no console error
and no request."""
import csv
import io
import json
import os
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


@pytest.fixture()
def page(tmp_path):
    path = design(tmp_path)
    subprocess.run([PROGRAM, "--pareto", "--epoch", EPOCH, "--csv", str(tmp_path / "front.csv"),
                    "--html", str(tmp_path / "front.html"), str(path)], check=True,
                   stdout=subprocess.DEVNULL)
    with open(tmp_path / "front.csv", newline="") as f:
        rows = list(csv.DictReader(f))
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for a in ("--headless", "--no-sandbox", "--disable-gpu", "--window-size=1400,1800"):
        options.add_argument(a)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL", "performance": "ALL"})
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"),
                              options=options)
    driver.get((tmp_path / "front.html").as_uri())
    yield driver, rows
    driver.quit()


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
    errors = [e for e in driver.get_log("browser") if e["level"] == "SEVERE"]
    assert errors == []
    requests = [json.loads(e["message"])["message"] for e in driver.get_log("performance")]
    asked = {m["params"]["request"]["url"] for m in requests if m["method"] == "Network.requestWillBeSent"}
    assert asked == {(tmp_path / "front.html").as_uri()}
