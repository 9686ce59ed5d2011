// The values a failed fit blames, and the words ratefit gives them.
#include <gtest/gtest.h>

#include "engine/diagnosis.h"
#include "fitter/report.h"

using namespace kinetics;

namespace {

problem problem_of(const std::string& text, const measured& d) {
  mechanism m;
  EXPECT_EQ(parse_mechanism("m.txt", text, m), "");
  return make_problem(m, d);
}

TEST(Diagnosis, NamesTheValuesToBlame) {
  const measured decay{{0, 1, 2, 3, 4}, {{1, 0.5, 0.25, 0.125, 0.0625}}, {}};
  const struct {
    const char* model;
    fit_status status;
    vector_d from, to;  // of the failed start, natural values
    const char* words;
  } cases[] = {
      {"A -> B  k = 1\nA = 1\ncolumn 1 = eA * A\neA = 1\n", fit_status::not_determined, {}, {0.69314718, 1, 1},
       "; the data do not determine [A]0 and eA apart (hold one of them fixed, or start them nearer)"},
      {"A -> B  k1 = 1\nB -> C  k2 = 1\nA = 1 fixed\ncolumn 1 = A\n", fit_status::no_minimum, {1, 1},
       {0.69314718, 1e-7}, "; k2 runs towards 0 (if a step may not run at all, remove it or hold its constant at 0 "
                           "with \"fixed\"); the data do not determine k2 (hold it fixed)"},
      {"A -> B  k1 = 1\nA -> C  k2 = 1\nA = 1 fixed\ncolumn 1 = A\ncolumn 2 = C\n", fit_status::no_minimum,
       {1, 1}, {1e7, 1e7},
       "; k1 and k2 grow without bound (a step faster than the data resolve: hold its constant fixed); the data do not "
       "determine k1 and k2 apart (hold one of them fixed, or start them nearer)"},
  };
  for (const auto& c : cases) {
    measured d = decay;
    if (std::string(c.model).find("column 2") != std::string::npos) d.y.push_back({0, 0.25, 0.375, 0.44, 0.47});
    const problem p = problem_of(c.model, d);
    fit_result r;
    r.status = c.status;
    if (c.from.empty()) {
      r.x = to_solver(p, {{c.to[0]}, {c.to[1]}, {c.to[2]}});
    } else {
      r.starts.push_back({c.from, c.to, 1.0, 3, termination::stalled, "stalled"});
    }
    EXPECT_EQ(blame_text(p, diagnose(p, r)), c.words) << c.model;
  }
}

}  // namespace
