#!/usr/bin/env python3
"""The peer of ratefit's whole-series fit: variable projection in a short
scipy script. Reads DIR/series.txt (the block format of gen_spectral), then
fits k1 and k2 of A -> B -> C (closed form, A0 = 1) by
scipy.optimize.least_squares on the projected residuals (I - P(C)) D, the
spectra eliminated by QR, from the same start as DIR/abc.txt (k1 = 10,
k2 = 1). Prints "read SECONDS", "wall SECONDS" (the fit alone) and the
values.

Usage: scipy_varpro.py DIR
"""
import sys
import time

import numpy as np
from scipy.optimize import least_squares


def read_series(path):
    rows, spectrum = [], []
    with open(path) as f:
        for line in f:
            if line.startswith("&"):
                rows.append(spectrum)
                spectrum = []
            elif line.strip() and not line.startswith("#"):
                spectrum.append(float(line.split()[1]))
    return np.array(rows)


def concentrations(k, t):
    k1, k2 = np.exp(k)
    a = np.exp(-k1 * t)
    b = k1 / (k2 - k1) * (a - np.exp(-k2 * t))
    return np.column_stack([a, b, 1 - a - b])


def main():
    folder = sys.argv[1]
    start = time.perf_counter()
    d = read_series(folder + "/series.txt")
    read = time.perf_counter() - start
    t = np.linspace(0, 10, d.shape[0])

    def residuals(k):
        q, _ = np.linalg.qr(concentrations(k, t))
        return (d - q @ (q.T @ d)).ravel()

    start = time.perf_counter()
    fit = least_squares(residuals, np.log([10.0, 1.0]))
    wall = time.perf_counter() - start
    k1, k2 = np.exp(fit.x)
    print("read %.4f" % read)
    print("wall %.4f" % wall)
    print("k1 = %.7g\nk2 = %.7g" % (k1, k2))


main()
