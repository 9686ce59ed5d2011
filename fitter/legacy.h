// ratefit without arguments: the first-order reaction A -> B fitted to
// "dat.txt" from the starting values of "guess.txt", into "fit.txt" and
// "fitcurve.txt" in the layouts they have always had.
#pragma once

// Runs that fit in the working directory; returns the exit status.
int fit_guess();
