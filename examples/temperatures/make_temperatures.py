#!/usr/bin/env python3
"""Writes the three runs of the temperatures example: A -> B at 290, 310 and
330 K with k = 0.2 at 310 K and Ea = 60 kJ/mol, A and B measured, a little
fixed noise."""
import math
import random

R = 8.314462618
for t in (290, 310, 330):
    k = 0.2 * math.exp(-60e3 / R * (1 / t - 1 / 310))
    rnd = random.Random(t)
    with open("t%d.txt" % t, "w") as f:
        f.write("# t A B at %d K\n" % t)
        for i in range(40):
            time = i * 4.0 / k / 40
            a = math.exp(-k * time)
            f.write("%.6g %.6f %.6f\n" % (time, a + rnd.gauss(0, 0.005), 1 - a + rnd.gauss(0, 0.005)))
