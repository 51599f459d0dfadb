"""Makes fuzz/corpus/stat from the haven and pandas files in tests/data/formats: whole files,
files cut short at several points and files with damaged headers. The first byte of each
corpus file picks the kind the fuzz target names it as (0 .dta, 1 .sav, 2 .por).
Run from the repository root: python3 fuzz/make_stat_corpus.py"""
import os

src = "tests/data/formats/"
out = "fuzz/corpus/stat/"
os.makedirs(out, exist_ok=True)
kinds = {"haven_labelled.dta": 0, "pandas_to_stata.dta": 0,
         "haven_user_missing.sav": 1, "haven_user_missing.zsav": 1}
for name, kind in kinds.items():
    data = open(src + name, "rb").read()
    stem = name.replace(".", "_")
    variants = {"whole": data}
    for frac in (0.1, 0.3, 0.5, 0.9):
        variants["cut%02d" % int(frac * 100)] = data[: int(len(data) * frac)]
    variants["cut_last"] = data[:-1]
    flipped = bytearray(data)
    for i in range(8, min(len(flipped), 200), 17):
        flipped[i] ^= 0xFF
    variants["flipped"] = bytes(flipped)
    # A huge count where the header keeps the number of variables or rows.
    big = bytearray(data)
    big[40:48] = b"\xff" * 8
    variants["bigcount"] = bytes(big)
    for v, body in variants.items():
        open(out + stem + "_" + v, "wb").write(bytes([kind]) + body)
# A CSV named .dta and a Stata file named .sav: refused by their signature.
open(out + "csv_as_dta", "wb").write(b"\0" + open(src + "r_write_csv.csv", "rb").read())
open(out + "dta_as_sav", "wb").write(b"\1" + open(src + "haven_labelled.dta", "rb").read())
open(out + "por_header_only", "wb").write(b"\2" + b" " * 456 + b"SPSSPORT")
