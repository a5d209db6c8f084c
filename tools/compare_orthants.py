#!/usr/bin/python3
"""Compares two runs of the orthants benchmark (--benchmark_format=json): the
time of every problem before and after, their ratios, the worst and the
overall (total time before over total time after).

    tools/compare_orthants.py before.json after.json

Run each with --benchmark_repetitions=3 (or more) and --benchmark_format=json;
the least time of a problem's repetitions counts.
"""
import json
import sys


def times(path):
    """Per problem the least time of its repetitions (the one least disturbed)."""
    with open(path) as f:
        runs = json.load(f)["benchmarks"]
    best = {}
    for b in runs:
        if b.get("run_type", "iteration") != "iteration":
            continue
        name = b.get("run_name", b["name"])
        best[name] = min(best.get(name, float("inf")), b["real_time"])
    return best


def main(before_path, after_path):
    before, after = times(before_path), times(after_path)
    names = sorted(before, key=lambda n: int(n.split("/")[1]))
    ratios = [(before[n] / after[n], n) for n in names]
    print(f"{'problem':>10} {'before us':>10} {'after us':>10} {'ratio':>7}")
    for ratio, n in sorted(ratios)[:10]:
        print(f"{n:>10} {before[n]:10.1f} {after[n]:10.1f} {ratio:7.2f}")
    print("...")
    for ratio, n in sorted(ratios)[-3:]:
        print(f"{n:>10} {before[n]:10.1f} {after[n]:10.1f} {ratio:7.2f}")
    total = sum(before.values()) / sum(after.values())
    below = sum(1 for r, _ in ratios if r < 1)
    print(f"{len(ratios)} problems; worst {min(ratios)[0]:.2f}x ({min(ratios)[1]}), "
          f"overall {total:.2f}x, below 1.0x: {below}, below 1.5x: "
          f"{sum(1 for r, _ in ratios if r < 1.5)}")


if __name__ == "__main__":
    main(*sys.argv[1:3])
