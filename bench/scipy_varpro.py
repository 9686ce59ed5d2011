#!/usr/bin/env python3
"""The peer of ratefit's whole-series fit: variable projection in a short
scipy script. Reads DIR/series.txt (the block format of gen_spectral), then
fits k1 and k2 of A -> B -> C (closed form, A0 = 1) by
scipy.optimize.least_squares on the projected residuals (I - P(C)) D, the
spectra eliminated by QR, from the same start as DIR/abc.txt (k1 = 10,
k2 = 1). Prints "read SECONDS", "wall SECONDS" (the fit alone) and the
values. A folder with series1.txt and series2.txt (gen_spectral's two
experiments) is fitted as they are: k1, k2 and k3 of A -> B -> C -> D, the
first from A0 = 1, the second from A0 = 0.4, B0 = 0.3 and C0 = 0.3, the
spectra shared, from the start of DIR/abcd.txt (k1 = 10, k2 = 2.5, k3 = 0.5).

Usage: scipy_varpro.py DIR
"""
import os
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


def chain(k, t, a0, b0, c0):
    k1, k2, k3 = np.exp(k)
    e1, e2, e3 = np.exp(-k1 * t), np.exp(-k2 * t), np.exp(-k3 * t)
    a = a0 * e1
    b = b0 * e2 + a0 * k1 / (k2 - k1) * (e1 - e2)
    c = (c0 * e3 + b0 * k2 / (k3 - k2) * (e2 - e3)
         + a0 * k1 * k2 * (e1 / ((k2 - k1) * (k3 - k1)) + e2 / ((k1 - k2) * (k3 - k2))
                           + e3 / ((k1 - k3) * (k2 - k3))))
    return np.column_stack([a, b, c, a0 + b0 + c0 - a - b - c])


def two_experiments(folder):
    start = time.perf_counter()
    d = np.vstack([read_series(folder + "/series1.txt"), read_series(folder + "/series2.txt")])
    read = time.perf_counter() - start
    n = d.shape[0] // 2
    t = np.linspace(0, 10, n)

    def residuals(k):
        c = np.vstack([chain(k, t, 1, 0, 0), chain(k, t, 0.4, 0.3, 0.3)])
        q, _ = np.linalg.qr(c)
        return (d - q @ (q.T @ d)).ravel()

    start = time.perf_counter()
    fit = least_squares(residuals, np.log([10.0, 2.5, 0.5]))
    wall = time.perf_counter() - start
    print("read %.4f" % read)
    print("wall %.4f" % wall)
    print("\n".join("k%d = %.7g" % (i + 1, v) for i, v in enumerate(np.exp(fit.x))))


def main():
    folder = sys.argv[1]
    if os.path.exists(folder + "/series1.txt"):
        two_experiments(folder)
        return
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
