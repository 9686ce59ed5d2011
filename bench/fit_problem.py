#!/usr/bin/env python3
"""Writes the fitting problems of the benchmark, each a data file dat.txt and
a mechanism file for ratefit in a folder of its own under OUTDIR:

  abc/    A -> B -> C (k1 = 0.1, k2 = 0.02), columns A, B, C at 1000 times
          over about five half-lives of the slower step
  stiff/  A -> B -> C with k1 / k2 = 1e6 (k1 = 1e3, k2 = 1e-3), columns
          A, B, C at 0 and 250 log-spaced times from 1e-5 to 5e3
  span/   A -> B (k = 5e-6), columns A, B at 61 times over 0 .. 1e6

Every mechanism starts its rate constants 10 times off: the first too large,
the second (when there is one) too small; A0 is fitted from 1, B and C start
at 0, held fixed. The noise is Gaussian with standard deviation 0.002.

Usage: fit_problem.py OUTDIR

Standard library only; the files are the same on every run and machine (a
seeded generator whose sequence Python keeps stable across versions). Other
scripts import PROBLEMS for the true values and the starting guesses.
"""
import math
import os
import random
import sys

NOISE = 0.002


def log_times(first, last, count):
    return [0.0] + [first * (last / first) ** (i / (count - 1)) for i in range(count)]


# name: rate constants (true, guess), times, seed. Species are A, B (and C
# with two constants) of the chain A -> B -> C.
PROBLEMS = {
    "abc": {"rates": [("k1", 0.1, 1.0), ("k2", 0.02, 0.002)],
            "times": [i * 0.175 for i in range(1000)], "seed": 1201},
    "stiff": {"rates": [("k1", 1e3, 1e4), ("k2", 1e-3, 1e-4)],
              "times": log_times(1e-5, 5e3, 250), "seed": 1202},
    "span": {"rates": [("k", 5e-6, 5e-5)],
             "times": [i * 1e6 / 60 for i in range(61)], "seed": 1203},
}
A0 = 1.0
SPECIES = ["A", "B", "C"]


def gauss(rng):
    # Box-Muller on random(), whose sequence is stable for a given seed.
    u1 = 1.0 - rng.random()
    u2 = rng.random()
    return math.sqrt(-2.0 * math.log(u1)) * math.cos(2.0 * math.pi * u2)


def exact(k, t):
    """Concentrations of the chain A -> B (-> C) from A0, B0 = C0 = 0."""
    a = A0 * math.exp(-k[0] * t)
    if len(k) == 1:
        return [a, A0 - a]
    # B = A0 k1 / (k1 - k2) (e^-k2 t - e^-k1 t), written with expm1 so that
    # it keeps its digits when k1 t is small.
    k1, k2 = k
    b = A0 * k1 / (k1 - k2) * math.exp(-k2 * t) * -math.expm1(-(k1 - k2) * t)
    return [a, b, A0 - a - b]


def mechanism(name, problem):
    rates = problem["rates"]
    lines = ["# benchmark problem %s: rate constants 10 times off the true %s" %
             (name, ", ".join("%s = %g" % (n, v) for n, v, _ in rates))]
    for i, (n, _, guess) in enumerate(rates):
        lines.append("%s -> %s          %s = %g" % (SPECIES[i], SPECIES[i + 1], n, guess))
    lines.append("A = 1")
    lines.append("B = 0 fixed")
    for i in range(len(rates) + 1):
        lines.append("column %d = %s" % (i + 1, SPECIES[i]))
    lines.append("data dat.txt")
    return "\n".join(lines) + "\n"


def write_problem(out, name, problem):
    folder = os.path.join(out, name)
    os.makedirs(folder, exist_ok=True)
    rng = random.Random(problem["seed"])
    k = [v for _, v, _ in problem["rates"]]
    with open(os.path.join(folder, "dat.txt"), "w") as f:
        f.write("# time %s; noise sigma %g\n" % (" ".join(SPECIES[:len(k) + 1]), NOISE))
        for t in problem["times"]:
            t = float("%.10g" % t)  # the time as written
            c = [x + NOISE * gauss(rng) for x in exact(k, t)]
            f.write("%.10g %s\n" % (t, " ".join("%.10g" % x for x in c)))
    with open(os.path.join(folder, name + ".txt"), "w") as f:
        f.write(mechanism(name, problem))


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: fit_problem.py OUTDIR")
    for name, problem in PROBLEMS.items():
        write_problem(sys.argv[1], name, problem)


if __name__ == "__main__":
    main()
