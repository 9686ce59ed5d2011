#!/usr/bin/env python3
"""Writes the consecutive-reaction example: a series of spectra with three
bands, A at 2.5, B at 5.0 and C at 7.5, whose heights follow A -> B -> C by
first-order kinetics, with noise; its peak list and scale table; and two
mechanism files for ratefit, the true A -> B -> C (abc.txt) and the
plausible but wrong A -> B (ab.txt), both with starting guesses a few
times off.

Usage: make_consecutive.py [OUTDIR]   (default: the folder of this script)

The output is the same on every run and machine: the noise comes from a
seeded generator whose sequence Python keeps stable across versions.
"""
import math
import os
import random
import sys

# The sample grid, the band shape, the seeded noise and the tables of the
# first example.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from make_example import band, gauss, write_tables, xs  # noqa: E402

K1, K2 = 0.1, 0.03   # rate constants of A -> B and B -> C, per time unit
A0 = 1.0             # initial concentration of A; B and C start at 0
SPECTRA = 80         # one spectrum every TIME_STEP, times 0 .. 158
TIME_STEP = 2.0
# 2048 samples per spectrum, x from 0 to 10, as in the first example
NOISE = 0.003        # standard deviation of the intensity noise
BANDS = [            # (label, centre, width (sigma), height at unit concentration, window)
    ("A", 2.5, 0.05, 1.0, (2.0, 3.0)),
    ("B", 5.0, 0.06, 0.8, (4.5, 5.5)),
    ("C", 7.5, 0.07, 0.6, (7.0, 8.0)),
]
GUESS = 3.0          # the mechanism files start this many times off


def concentrations(t):
    # Closed form of A -> B -> C with k1 != k2 and B0 = C0 = 0.
    a = A0 * math.exp(-K1 * t)
    b = A0 * K1 / (K2 - K1) * (math.exp(-K1 * t) - math.exp(-K2 * t))
    return [a, b, A0 - a - b]


def write_series(path, rng):
    grid = xs()
    with open(path, "w") as f:
        f.write("# example series: A -> B -> C, k1 = %g, k2 = %g per time unit, A0 = %g, B0 = C0 = 0\n"
                % (K1, K2, A0))
        f.write("# %d spectra, time step %g; lines: x intensity; \"&\" closes a spectrum\n"
                % (SPECTRA, TIME_STEP))
        for j in range(SPECTRA):
            t = j * TIME_STEP
            conc = concentrations(t)
            for x in grid:
                y = sum(c * band(x, centre, width, height)
                        for c, (_, centre, width, height, _) in zip(conc, BANDS))
                f.write("%.5f %.6f\n" % (x, y + NOISE * gauss(rng)))
            f.write("& end of spectrum %d, t = %g\n" % (j, t))


ABC = """\
# consecutive first-order reactions, fitted to the three bands of
# bandsum's dat.txt (columns 1 to 3: A, B, C); the constants start
# {guess:g} times off the ones the series was made with
A -> B          k1 = {k1:g}
B -> C          k2 = {k2:g}
# initial concentrations; species not listed start at 0, held fixed
A = 1
B = 0 fixed
# what the columns of the data file measure
column 1 = A
column 2 = eB * B
column 3 = C
eB = {e:g}
data dat.txt
start 0
"""

AB = """\
# a single first-order step, a plausible but wrong model of the same
# series: the third band is read as a second view of B
A -> B          k = {k1:g}
# initial concentrations; species not listed start at 0, held fixed
A = 1
B = 0 fixed
# what the columns of the data file measure
column 1 = A
column 2 = eB * B
column 3 = eC * B
eB = {e:g}
eC = {e:g}
data dat.txt
start 0
"""


def write_mechanisms(out):
    values = {"guess": GUESS, "k1": K1 * GUESS, "k2": K2 / GUESS, "e": 1.0 / 2.0}
    with open(os.path.join(out, "abc.txt"), "w") as f:
        f.write(ABC.format(**values))
    with open(os.path.join(out, "ab.txt"), "w") as f:
        f.write(AB.format(**values))


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    write_series(os.path.join(out, "2d.txt"), random.Random(20261208))
    write_tables(out, BANDS, TIME_STEP)
    write_mechanisms(out)


if __name__ == "__main__":
    main()
