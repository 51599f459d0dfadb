"""Writes the pandas-made files of tests/data/formats. Run from the repository root with the
system Python that has pandas: /usr/bin/python3 tests/reference/formats_fixtures.py
The tests compare with the values written here; pandas is not needed then."""
import numpy as np
import pandas as pd

out = "tests/data/formats/"

# to_csv with the index: the header starts with an empty name; NaN and None become empty.
df = pd.DataFrame({"x": [1.25, np.nan, 3.0], "label": ["p", None, "r"]},
                  index=["u", "v", "w"])
df.to_csv(out + "pandas_to_csv.csv")

# to_stata: variable labels, a categorical (written as value labels) and a missing value.
st = pd.DataFrame({
    "id": np.array([1, 2, 3, 4], dtype=np.int32),
    "arm": pd.Categorical(["drug", "placebo", "drug", "placebo"]),
    "dose": [10.5, np.nan, 0.0, -1.5],
    "note": ["x", "yy", "", "zzz"],
})
st.to_stata(out + "pandas_to_stata.dta", write_index=False, version=118,
            variable_labels={"dose": "Dose in mg", "arm": "Treatment arm"})
