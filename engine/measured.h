// Measured points of a data table, as the fit takes them.
#pragma once

#include <vector>

namespace kinetics {

// The measured points: the time and every column a mechanism's column lines use.
struct measured {
  std::vector<double> t;               // column 0 of every data row
  std::vector<std::vector<double>> y;  // y[j][i]: the column of m.columns[j] at row i
  std::vector<int> lines;              // the file line of every row, 1-based
};

}  // namespace kinetics
