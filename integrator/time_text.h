// The time column of dat.txt and sigma.txt: one decimal, as it always was,
// for every time that one decimal holds exactly, and the digits a time
// needs for any other.
#pragma once

#include <string>

// The decimals of the time j × step, taking the step as its shortest
// decimal text (what scale.txt says: 0.0333 is 333 × 10^-4): the decimals
// of the exact decimal product, without trailing zeros. 0 for a step that
// is not finite.
int time_decimals(double step, long long j);

// Appends the time of spectrum j, step × j, right-aligned in five
// characters: with one decimal ("%5.1f") when the exact decimal product
// has at most one, else with as many as it has ("0.0999" for step 0.0333
// and j = 3, where the one decimal would print 0.1).
void append_step_time(std::string& out, double step, long long j);

// Appends a time given as it is (from a times file), right-aligned in five
// characters: with one decimal when that text reads back to the same
// double, else in the shortest fixed form that does ("0.0333").
void append_given_time(std::string& out, double t);
