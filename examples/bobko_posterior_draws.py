"""Draws of the Bobko set's correlations that move together, as a Bayesian
meta-analysis gives them, and the same uncertainty as independent bounds.

The joint draws: the correlation matrix of performance and the four
predictors, drawn from a Wishart distribution about the meta-analytic matrix
with 300 degrees of freedom (the spread of a matrix estimated from about 300
people) and scaled to unit diagonal, so that every draw is a correlation
matrix; the minority's share of the pool uniform between 20 % and 30 %.
Writes examples/bobko_posterior_draws.csv (one row per sample, the columns
named as selquant's inputs CSV names them) and
examples/bobko_independent.toml: the same design with every correlation and
validity drawn on its own, uniformly, with the mean and standard deviation
of the joint draws (bounds mean -+ sqrt(3) sd).

    /usr/bin/python3 examples/bobko_posterior_draws.py
"""

import pathlib

import numpy as np
import pandas as pd

HERE = pathlib.Path(__file__).resolve().parent
PREDICTORS = ["CA", "SI", "C", "B"]
# Performance, then the predictors: the validities and the predictors'
# intercorrelations of the meta-analysis.
R = np.array([[1.00, 0.30, 0.30, 0.18, 0.28],
              [0.30, 1.00, 0.24, 0.00, 0.19],
              [0.30, 0.24, 1.00, 0.12, 0.16],
              [0.18, 0.00, 0.12, 1.00, 0.51],
              [0.28, 0.19, 0.16, 0.51, 1.00]])
DF = 300
SAMPLES = 2000


def main():
    rng = np.random.default_rng(20261211)
    # A Wishart draw as the sum of DF outer products of normal vectors.
    chol = np.linalg.cholesky(R)
    rows = []
    for _ in range(SAMPLES):
        z = rng.standard_normal((DF, 5)) @ chol.T
        s = z.T @ z
        d = np.sqrt(np.diag(s))
        r = s / np.outer(d, d)
        row = {"prop_1": rng.uniform(0.20, 0.30)}
        for i in range(4):
            for j in range(i + 1, 4):
                row[f"rpp_{i + 1}_{j + 1}"] = r[i + 1, j + 1]
        for j in range(4):
            row[f"val_1_{j + 1}"] = r[0, j + 1]
        rows.append(row)
    draws = pd.DataFrame(rows)
    draws.to_csv(HERE / "bobko_posterior_draws.csv", index=False, float_format="%.17g")

    # The same means and standard deviations, each element on its own.
    def bounds(name):
        m, s = draws[name].mean(), draws[name].std()
        h = np.sqrt(3) * s
        return f"{{ low = {m - h:.4f}, high = {m + h:.4f} }}"

    triangle = ",\n  ".join(
        "[" + ", ".join(bounds(f"rpp_{j + 1}_{i + 1}") for j in range(i)) + "]"
        for i in range(1, 4))
    validities = ", ".join(bounds(f"val_1_{j + 1}") for j in range(4))
    text = (HERE / "bobko_two_stage.toml").read_text()
    design = f"""# The Bobko set's two-stage design (bobko_two_stage.toml) with every
# correlation and validity uniform on its own, with the means and standard
# deviations of the joint draws in bobko_posterior_draws.csv, and the
# minority's share uniform between 20 and 30 %. Made by
# bobko_posterior_draws.py.
sampling = "rectangular"
samples = {SAMPLES}
""" + text[text.index("predictors = ["):text.index("[[group]]")] + f"""[[group]]
name = "minority"
proportion = {{ low = 0.20, high = 0.30 }}
predictor_d = [-1.00, -0.23, -0.09, -0.33]

[[group]]
name = "majority"

[correlations]
predictors = [
  {triangle}]
validities = [[{validities}]]
"""
    (HERE / "bobko_independent.toml").write_text(design)


if __name__ == "__main__":
    main()
