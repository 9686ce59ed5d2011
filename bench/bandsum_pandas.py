#!/usr/bin/python3
"""The peer of bandsum that a user would write with pandas and numpy.

Usage: bandsum_pandas.py PEAKLIST SERIES [OUT]   (in the folder of scale.txt)

Reads the whole series with read_csv, marks the "&" lines as the ends of the
spectra, sums the intensities inside every window per spectrum with
np.bincount (in file order, as bandsum adds them) and writes the lines of
dat.txt to OUT (default dat.txt). Bounds are held in single precision, as
bandsum holds them.
"""
import sys

import numpy as np
import pandas as pd


def main():
    peak_path, series_path = sys.argv[1], sys.argv[2]
    out_path = sys.argv[3] if len(sys.argv) > 3 else "dat.txt"

    windows = {}
    with open(peak_path) as peaks:
        for line in peaks:
            if not line.strip() or line.startswith("#"):
                continue
            index, rest = line.split(None, 1)
            a, b = (float(np.float32(v)) for v in rest.split(":", 1)[1].split()[:2])
            windows[int(index)] = (min(a, b), max(a, b))
    with open("scale.txt") as scale_file:
        rows = [[float(v) for v in line.split()] for line in scale_file if line.strip() and not line.startswith("#")]
    divisors, (a, b), step = rows[0], rows[1][:2], rows[2][0]

    data = pd.read_csv(series_path, sep=" ", header=None, names=["x", "y"], usecols=[0, 1],
                       na_values=["&"], comment="#")
    x = data["x"].to_numpy()
    y = data["y"].to_numpy()
    closing = np.isnan(x)
    spectrum = np.cumsum(closing) - closing  # the "&" line closes its own spectrum
    spectra = int(closing.sum())
    ratio = b / a

    sums = []
    for k in range(len(windows)):
        lo, hi = windows[k]
        inside = (x > lo) & (x < hi)
        sums.append(np.bincount(spectrum[inside], weights=y[inside], minlength=spectra)[:spectra])
    with open(out_path, "w") as out:
        for j in range(spectra):
            values = "".join("%10.9f " % ((sums[k][j] * ratio) / divisors[k]) for k in range(len(windows)))
            out.write("%5.1f %s\n" % (step * j, values))


if __name__ == "__main__":
    main()
