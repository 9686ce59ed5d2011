#!/usr/bin/python3
"""The benchmark of a fit of several experiments: four experiments of
A -> B -> C (A0 = 1 and 2, each at 300 and 320 K), three columns of 500
points each, with k1 and k2 in Arrhenius form (k at 310 K and Ea), every
constant 10 times off at the start. Times the whole ratefit run against
scipy.optimize.least_squares over solve_ivp (LSODA, rtol 1e-8, atol 1e-10)
on the same joint problem from the same start, in the same run.

Usage: experiments_fit.py RATEFIT [RUNS]   (default 3; medians of RUNS)

Prints a table and the ratio scipy / ratefit.
"""
import math
import resource
import os
import subprocess
import sys
import tempfile
import time

import numpy as np
from scipy.integrate import solve_ivp
from scipy.optimize import least_squares

R, TREF = 8.314462618, 310.0
TRUTH = {"k1ref": 0.05, "Ea1": 60.0, "k2ref": 0.01, "Ea2": 40.0}
RUNS = [(1.0, 300), (2.0, 300), (1.0, 320), (2.0, 320)]
POINTS, SPAN, NOISE = 500, 400.0, 0.002


def arrhenius(k_ref, ea, t):
    return k_ref * np.exp(-ea * 1000 / R * (1 / t - 1 / TREF))


def closed_form(k1, k2, a0, t):
    a = a0 * np.exp(-k1 * t)
    b = a0 * k1 / (k2 - k1) * (np.exp(-k1 * t) - np.exp(-k2 * t))
    return np.vstack([a, b, a0 - a - b])


def write_problem(folder):
    rng = np.random.default_rng(20261208)
    times = np.linspace(0, SPAN, POINTS)
    model = ("A -> B  k1 = arrhenius(k1ref, Ea1, 310)\nB -> C  k2 = arrhenius(k2ref, Ea2, 310)\n"
             "k1ref = %g\nEa1 = %g\nk2ref = %g\nEa2 = %g\ncolumn 1 = A\ncolumn 2 = B\ncolumn 3 = C\n"
             % (10 * TRUTH["k1ref"], TRUTH["Ea1"] / 10, 10 * TRUTH["k2ref"], TRUTH["Ea2"] / 10))
    data = []
    for i, (a0, t) in enumerate(RUNS):
        k1, k2 = arrhenius(TRUTH["k1ref"], TRUTH["Ea1"], t), arrhenius(TRUTH["k2ref"], TRUTH["Ea2"], t)
        y = closed_form(k1, k2, a0, times) + rng.normal(0, NOISE, (3, POINTS))
        np.savetxt(os.path.join(folder, "e%d.txt" % i), np.vstack([times, y]).T, fmt="%.9g")
        model += "experiment e%d\ndata e%d.txt\ntemperature %g\nA = %g fixed\n" % (i, i, t, a0)
        data.append(y)
    with open(os.path.join(folder, "m.txt"), "w") as f:
        f.write(model)
    return times, data


def scipy_fit(times, data):
    def chain(_, c, k1, k2):
        return [-k1 * c[0], k1 * c[0] - k2 * c[1], k2 * c[1]]

    def residuals(x):
        out = []
        for (a0, t), y in zip(RUNS, data):
            k1, k2 = arrhenius(math.exp(x[0]), x[1], t), arrhenius(math.exp(x[2]), x[3], t)
            sol = solve_ivp(chain, (0.0, times[-1]), [a0, 0, 0], method="LSODA", t_eval=times, args=(k1, k2),
                            rtol=1e-8, atol=1e-10)
            out.append(((sol.y if sol.success else np.full((3, POINTS), 1e10)) - y).ravel())
        return np.concatenate(out)

    start = np.array([math.log(10 * TRUTH["k1ref"]), TRUTH["Ea1"] / 10, math.log(10 * TRUTH["k2ref"]),
                      TRUTH["Ea2"] / 10])
    begin, cpu = time.perf_counter(), time.process_time()
    fit = least_squares(residuals, start)
    wall, cpu = time.perf_counter() - begin, time.process_time() - cpu
    values = [math.exp(fit.x[0]), fit.x[1], math.exp(fit.x[2]), fit.x[3]]
    return wall, values, fit.nfev, cpu


def ratefit_values(stdout):
    values, inside = {}, False
    for line in stdout.splitlines():
        fields = line.split()
        if fields[:2] == ["value", "estimate"]:
            inside = True
        elif inside and len(fields) == 7:
            values[fields[0]] = float(fields[1])
        elif inside:
            break
    return values


def time_ratefit(ratefit, folder, runs, env):
    """Median wall and cpu seconds (gnuplot's included) of RUNS ratefit runs, and its console output."""
    walls, cpus, out = [], [], None
    for _ in range(runs):
        begin, before = time.perf_counter(), resource.getrusage(resource.RUSAGE_CHILDREN)
        run = subprocess.run([ratefit, "m.txt"], cwd=folder, capture_output=True, text=True, env=env)
        walls.append(time.perf_counter() - begin)
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
        cpus.append(after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime)
        if run.returncode != 0:
            sys.exit("ratefit failed: " + run.stderr.strip())
        out = run.stdout
    return sorted(walls)[len(walls) // 2], sorted(cpus)[len(cpus) // 2], out


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit("usage: experiments_fit.py RATEFIT [RUNS]")
    ratefit, runs = os.path.abspath(sys.argv[1]), int(sys.argv[2]) if len(sys.argv) == 3 else 3
    with tempfile.TemporaryDirectory() as folder:
        times, data = write_problem(folder)
        rf, rf_cpu, out = time_ratefit(ratefit, folder, runs, os.environ)
        # The numbers alone: gnuplot not found, so no pictures.
        bare, bare_cpu, _ = time_ratefit(ratefit, folder, runs, dict(os.environ, PATH="/nonexistent"))
        values = ratefit_values(out)
    fits = [scipy_fit(times, data) for _ in range(runs)]
    sp = sorted(f[0] for f in fits)[len(fits) // 2]
    sp_cpu = sorted(f[3] for f in fits)[len(fits) // 2]
    print("| fit | problem | wall s | cpu s | fitted values |")
    print("|---|---|---|---|---|")
    print("| ratefit (whole run, 4 pictures) | 4 experiments x 3 columns x 500 points, A -> B -> C, Arrhenius, 10x off "
          "| %.3f | %.3f | %s |" % (rf, rf_cpu, ", ".join("%s = %.6g" % kv for kv in values.items())))
    print("| ratefit without pictures | same | %.3f | %.3f | |" % (bare, bare_cpu))
    print("| scipy least_squares + LSODA (fit alone) | same joint problem, same start | %.3f | %.3f | %s (%d evaluations) |"
          % (sp, sp_cpu, ", ".join("%s = %.6g" % (n, v) for n, v in zip(TRUTH, fits[0][1])), fits[0][2]))
    print("truth: %s" % ", ".join("%s = %g" % kv for kv in TRUTH.items()))
    print("ratefit under 1 s: %s; scipy / ratefit = %.1f in wall time, %.1f in cpu time (target at least 10: %s)"
          % ("met" if rf < 1 else "MISSED", sp / rf, sp_cpu / rf_cpu, "met" if sp / rf >= 10 else "MISSED"))
    print("without pictures: scipy / ratefit = %.1f in wall time, %.1f in cpu time" % (sp / bare, sp_cpu / bare_cpu))


if __name__ == "__main__":
    sys.exit(main())
