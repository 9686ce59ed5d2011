#!/usr/bin/python3
"""The peer of ratefit in the benchmark: fits a problem of fit_problem.py with
scipy.optimize.least_squares over solve_ivp (LSODA, rtol 1e-8, atol 1e-10),
from the same start as its mechanism file: rate constants 10 times off (fitted
as logarithms, so that they stay positive), A0 from 1, B0 = C0 = 0 fixed. The
Jacobian comes from least_squares' own finite differences.

Usage: scipy_fit.py DIR [PROBLEM]   (PROBLEM: abc, stiff or span; default abc)

Reads DIR/dat.txt and prints the fitted values, the rms residual, the number
of model evaluations and, last, "wall SECONDS": the time of the fit alone,
without starting Python and importing scipy.
"""
import os
import sys
import time

import numpy as np
from scipy.integrate import solve_ivp
from scipy.optimize import least_squares

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from fit_problem import PROBLEMS  # noqa: E402


def chain(t, c, k):
    """A -> B (-> C), first order: the rate of step i is k[i] c[i]."""
    rate = k * c[:-1]
    dc = np.zeros_like(c)
    dc[:-1] -= rate
    dc[1:] += rate
    return dc


def model(x, times, steps):
    k = np.exp(x[:steps])
    c0 = np.zeros(steps + 1)
    c0[0] = x[steps]
    sol = solve_ivp(chain, (0.0, times[-1]), c0, method="LSODA", t_eval=times,
                    args=(k,), rtol=1e-8, atol=1e-10)
    if not sol.success:
        return np.full((steps + 1, len(times)), 1e10)
    return sol.y


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit("usage: scipy_fit.py DIR [PROBLEM]")
    name = sys.argv[2] if len(sys.argv) == 3 else "abc"
    rates = PROBLEMS[name]["rates"]
    data = np.loadtxt(os.path.join(sys.argv[1], "dat.txt"), ndmin=2)
    times, measured = data[:, 0], data[:, 1:len(rates) + 2].T
    steps = len(rates)

    def residuals(x):
        return (model(x, times, steps) - measured).ravel()

    start = np.array([np.log(guess) for _, _, guess in rates] + [1.0])
    begin = time.perf_counter()
    fit = least_squares(residuals, start)
    wall = time.perf_counter() - begin

    for (n, true, _), v in zip(rates, np.exp(fit.x[:steps])):
        print("%s = %.10g   (true %g)" % (n, v, true))
    print("A = %.10g" % fit.x[steps])
    print("rms = %.6g" % np.sqrt(np.mean(fit.fun ** 2)))
    print("status = %d (%s)" % (fit.status, fit.message))
    print("evaluations = %d, jacobians = %d" % (fit.nfev, fit.njev))
    print("wall %.3f" % wall)
    return 0 if fit.success else 1


if __name__ == "__main__":
    sys.exit(main())
