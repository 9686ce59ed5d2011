// ratefit's side of problems of several experiments (or of linked values,
// named start times and temperatures): reading every experiment's data, and
// the curve file and picture of each.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "common/atomic_file.h"
#include "engine/fit.h"
#include "fitter/pictures.h"
#include "fitter/plot.h"

namespace kinetics {

// The data (and sigma) files of every experiment of m, into a problem of
// parts; error says why there is none.
std::string load_experiments(mechanism m, problem& out);

// The name of part e's results: the model's name, and the experiment's
// after a "." when the file has experiments.
std::string part_name(const problem& p, std::size_t e, const std::string& name);

// The data files of every part, for messages: "a.txt, b.txt".
std::string data_files(const problem& p);

// The curve file of every part at the values v, as files to replace.
using named_text = std::pair<std::string, std::string>;  // a file's name and its bytes
std::string part_curves(const problem& p, const values& v, const std::string& name, const std::string& how,
                        std::vector<named_text>& out);

// The picture of every part, or why it cannot be drawn.
std::vector<picture> part_pictures(const problem& p, const values& v, const std::string& name);

// The same as pictures to draw (fitter/pictures.h).
std::vector<picture_job> part_picture_jobs(const problem& p, const values& v, const std::string& name);

}  // namespace kinetics
