// The bare stepper loop of ratesim, for comparison: the same state, stepper,
// step size and time arithmetic, without observing or writing anything.
//
// Usage: ratesim_baseline K A0 B0 BEGIN END   (prints the final state)
#include <boost/array.hpp>
#include <boost/numeric/odeint.hpp>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc < 6) {
    std::fprintf(stderr, "usage: ratesim_baseline K A0 B0 BEGIN END\n");
    return 2;
  }
  using state = boost::array<double, 2>;
  const double k = std::atof(argv[1]);
  state x = {{std::atof(argv[2]), std::atof(argv[3])}};
  const double t0 = std::atof(argv[4]);
  const double t_end = std::atof(argv[5]);
  const double h = 0.01;
  const auto rhs = [k](const state& s, state& dxdt, double) {
    dxdt[0] = -k * s[0];
    dxdt[1] = k * s[0];
  };
  boost::numeric::odeint::runge_kutta4<state> stepper;
  double t = t0;
  int n = 0;
  if (t0 + h <= t_end) {
    do {
      stepper.do_step(rhs, x, t, h);
      ++n;
      t = static_cast<double>(n) * h + t0;
    } while (t + h <= t_end);
  }
  std::printf("%d %.17g %.17g %.17g\n", n, t, x[0], x[1]);
  return 0;
}
