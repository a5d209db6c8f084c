import os
import pathlib
import subprocess

import pandas as pd
import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
EXAMPLES = ROOT / "examples"
EPOCH = 1772874303


@pytest.fixture(scope="session")
def cli():
    """Runs the command-line program (SELQUANT_CLI, else the build's) and reads
    the CSV files it wrote, every number by correct rounding."""
    program = pathlib.Path(os.environ.get("SELQUANT_CLI", ROOT / "build" / "selquant"))
    assert program.exists(), f"the program {program} is not built (make build)"

    def run(tmp, *args, files=("results", "inputs", "summary")):
        options = {"results": "--csv", "inputs": "--inputs-csv", "summary": "--summary-csv"}
        paths = {f: tmp / f"{f}.csv" for f in files}
        command = [str(program), "--epoch", str(EPOCH), "--threads", "1", "--quiet"]
        for f, p in paths.items():
            command += [options[f], str(p)]
        subprocess.run(command + [str(a) for a in args], check=True,
                       stdout=subprocess.DEVNULL)
        return {f: pd.read_csv(p, float_precision="round_trip") for f, p in paths.items()}

    return run


def as_numbers(df):
    """A DataFrame of the package as the CSV holds it: groups as their numbers."""
    out = df.copy()
    for k in out.columns:
        if isinstance(out[k].dtype, pd.CategoricalDtype):
            out[k] = (out[k].cat.codes + 1).where(out[k].notna()).astype(float)
        elif k == "valid":
            out[k] = out[k].astype(int)
    return out


def assert_same_numbers(df, csv):
    df = as_numbers(df)
    assert list(df.columns) == list(csv.columns)
    for k in csv.columns:
        a, b = df[k].to_numpy(), csv[k].to_numpy()
        if b.dtype == object:
            assert list(a) == list(b), k
        else:
            # Bit for bit, missing values where the CSV has them.
            assert a.astype(float).tobytes() == b.astype(float).tobytes(), k
