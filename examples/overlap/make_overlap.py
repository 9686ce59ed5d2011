#!/usr/bin/env python3
"""Writes the overlap example: a series of 300 spectra of 100 channels in
which the strongly overlapping spectra of A, B and C (Gaussian bands 30 to
35 channels wide, 30 apart) follow A -> B -> C with k1 = 0.2 and k2 = 0.02,
with noise; and the mechanism files for ratefit: the true A -> B -> C
(abc.txt), the same with a fourth species that cannot be told apart
(abcd.txt), and the simpler A -> B (ab.txt), all with starting values five
times off; and, for comparison, a peak list and scale table for bandsum
windows with the column fit of their sums (windows.txt).

Usage: make_overlap.py [OUTDIR]   (default: the folder of this script)

The output is the same on every run: the noise comes from a seeded
generator.
"""
import math
import os
import random
import sys

K1, K2 = 0.2, 0.02
SPECTRA, STEP = 300, 0.5
CHANNELS = [400 + 2 * c for c in range(100)]
NOISE = 0.002
BANDS = {"A": (460, 30, 1.0), "B": (490, 35, 0.8), "C": (520, 30, 1.2)}


def spectrum(name, x):
    centre, width, height = BANDS[name]
    return height * math.exp(-0.5 * ((x - centre) / width) ** 2)


def concentrations(t):
    a = math.exp(-K1 * t)
    b = K1 / (K2 - K1) * (math.exp(-K1 * t) - math.exp(-K2 * t))
    return {"A": a, "B": b, "C": 1 - a - b}


def write(path, text):
    with open(path, "w") as f:
        f.write(text)


def series_text(rng):
    lines = ["# A -> B -> C, k1 = 0.2, k2 = 0.02: 300 spectra, one every 0.5, of 100 channels"]
    for i in range(SPECTRA):
        c = concentrations(STEP * i)
        for x in CHANNELS:
            value = sum(c[s] * spectrum(s, x) for s in "ABC") + rng.gauss(0, NOISE)
            lines.append("%d %.6f" % (x, value))
        lines.append("&")
    return "\n".join(lines) + "\n"


SERIES_LINES = "series series.txt\nseries times 0 0.5\n"

MODELS = {
    "abc.txt": "# A -> B -> C fitted to the whole series\nA -> B  k1 = 1\nB -> C  k2 = 0.1\nA = 1 fixed\n"
    + SERIES_LINES,
    "abcd.txt": "# one species more than the data hold\nA -> B  k1 = 1\nB -> C  k2 = 0.1\nC -> D  k3 = 0.01\n"
    "A = 1 fixed\n" + SERIES_LINES,
    "ab.txt": "# too simple: A -> B alone\nA -> B  k1 = 1\nA = 1 fixed\n" + SERIES_LINES,
    "windows.txt": "# the sum of a window at every band's centre, taken as that species alone\n"
    "A -> B  k1 = 1\nB -> C  k2 = 0.1\nA = 1 fixed\n"
    "column 1 = eA * A\ncolumn 2 = eB * B\ncolumn 3 = eC * C\neA = 1\neB = 1\neC = 1\ndata dat.txt\n",
}


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    write(os.path.join(out, "series.txt"), series_text(random.Random(19)))
    for name, text in MODELS.items():
        write(os.path.join(out, name), text)
    write(os.path.join(out, "peak.list"), "0 A: 451 469\n1 B: 481 499\n2 C: 511 529\n")
    write(os.path.join(out, "scale.txt"), "# divisors\n1 1 1\n# a b\n1 1\n# time step\n0.5\n")


main()
