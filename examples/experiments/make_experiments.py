#!/usr/bin/env python3
"""Writes the two runs of the experiments example: A -> B -> C with k1 = 0.1
and k2 = 0.03 shared, [A]0 = 1 and 0.5, a little fixed noise."""
import math
import random

def run(name, a0, e_b, seed):
    rnd = random.Random(seed)
    k1, k2 = 0.1, 0.03
    with open(name, "w") as f:
        f.write("# t A B C\n")
        for i in range(60):
            t = i * 1.0
            a = a0 * math.exp(-k1 * t)
            b = a0 * k1 / (k2 - k1) * (math.exp(-k1 * t) - math.exp(-k2 * t))
            c = a0 - a - b
            f.write("%g %.6f %.6f %.6f\n" % (t, a + rnd.gauss(0, 0.002), e_b * b + rnd.gauss(0, 0.002),
                                              c + rnd.gauss(0, 0.002)))

run("run1.txt", 1.0, 0.7, 1)
run("run2.txt", 0.5, 0.7, 2)
