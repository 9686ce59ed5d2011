#!/usr/bin/env python3
"""Writes the example data set of bandsum: a series of spectra in which the
band of A at 3.0 decays and the band of B at 7.0 grows by first-order
kinetics A -> B, with noise, plus its peak list and scale table.

Usage: make_example.py [--background SLOPE OFFSET] [OUTDIR]
       (OUTDIR defaults to the folder of this script)

With --background, every intensity also carries the straight line
SLOPE * x + OFFSET under the bands, as a sloping baseline does; the noise
and everything else stay as without it (examples/baseline/ was made with
--background 0.02 0.05).

The output is the same on every run and machine: the noise comes from a
seeded generator whose sequence Python keeps stable across versions.
"""
import math
import os
import random
import sys

K = 0.08             # rate constant, per time unit
A0, B0 = 1.0, 0.0    # initial concentrations
SPECTRA = 60         # one spectrum per time unit, times 0 .. 59
TIME_STEP = 1.0
SAMPLES = 2048       # per spectrum, x from 0 to 10
X_MAX = 10.0
NOISE = 0.003        # standard deviation of the intensity noise
BANDS = [            # (label, centre, width (sigma), height at unit concentration, window)
    ("A", 3.0, 0.05, 1.0, (2.5, 3.5)),
    ("B", 7.0, 0.06, 0.8, (6.5, 7.5)),
]


def xs():
    return [round(i * X_MAX / (SAMPLES - 1), 5) for i in range(SAMPLES)]


def band(x, centre, width, height):
    return height * math.exp(-0.5 * ((x - centre) / width) ** 2)


def gauss(rng):
    # Box-Muller on random(), whose sequence is stable for a given seed.
    u1 = 1.0 - rng.random()
    u2 = rng.random()
    return math.sqrt(-2.0 * math.log(u1)) * math.cos(2.0 * math.pi * u2)


def write_tables(out, bands, time_step):
    """The peak list and scale table of a series of bands made on xs()."""
    grid = xs()
    with open(os.path.join(out, "peak.list"), "w") as f:
        f.write("# index label: lower and upper bound of the window\n")
        for i, (label, _, _, _, (lo, hi)) in enumerate(bands):
            f.write("%d %s: %g %g\n" % (i, label, lo, hi))

    # The divisor of a peak is the window sum of its band at unit
    # concentration, so that dat.txt holds concentrations.
    divisors = []
    for _, centre, width, height, (lo, hi) in bands:
        divisors.append(sum(band(x, centre, width, height) for x in grid if lo < x < hi))
    with open(os.path.join(out, "scale.txt"), "w") as f:
        f.write("# row 0: divisor of each peak (window sum of its band at unit concentration)\n")
        f.write(" ".join("%.6f" % d for d in divisors) + "\n")
        f.write("# row 1: a b; every integral is multiplied by b / a\n")
        f.write("1 1\n")
        f.write("# row 2: time between two spectra\n")
        f.write("%g\n" % time_step)


def arguments(argv):
    """Returns (slope, offset or None, output folder)."""
    args = list(argv)
    slope, offset = 0.0, None
    if args[:1] == ["--background"]:
        if len(args) < 3:
            sys.exit("make_example.py: --background takes two numbers, SLOPE OFFSET")
        slope, offset = float(args[1]), float(args[2])
        args = args[3:]
    out = args[0] if args else os.path.dirname(os.path.abspath(__file__))
    return slope, offset, out


def main():
    slope, offset, out = arguments(sys.argv[1:])
    rng = random.Random(20261207)
    grid = xs()

    with open(os.path.join(out, "2d.txt"), "w") as f:
        f.write("# example series: A -> B, k = %g per time unit, A0 = %g, B0 = %g\n" % (K, A0, B0))
        f.write("# %d spectra, time step %g; lines: x intensity; \"&\" closes a spectrum\n"
                % (SPECTRA, TIME_STEP))
        if offset is not None:
            f.write("# on a sloping background %g * x + %g\n" % (slope, offset))
        for j in range(SPECTRA):
            t = j * TIME_STEP
            a = A0 * math.exp(-K * t)
            conc = [a, B0 + A0 - a]
            for x in grid:
                y = sum(c * band(x, centre, width, height)
                        for c, (_, centre, width, height, _) in zip(conc, BANDS))
                if offset is not None:
                    y += slope * x + offset
                f.write("%.5f %.6f\n" % (x, y + NOISE * gauss(rng)))
            f.write("& end of spectrum %d, t = %g\n" % (j, t))

    write_tables(out, BANDS, TIME_STEP)


if __name__ == "__main__":
    main()
