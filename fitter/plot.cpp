#include "fitter/plot.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "common/atomic_file.h"
#include "fitter/report.h"

extern char** environ;

namespace kinetics {

namespace {

// A gnuplot string in single quotes, where a quote is written twice.
std::string quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("''") : std::string(1, c);
  return out + "'";
}

std::string column_title(const problem& p, const column_model& col) {
  std::string text = "column " + std::to_string(col.column) + " =";
  for (std::size_t i = 0; i < col.terms.size(); ++i) {
    const column_term& t = col.terms[i];
    text += i ? " + " : " ";
    if (t.number != 1) text += format_g(t.number) + " * ";
    if (t.factor >= 0) text += p.m.factors[static_cast<std::size_t>(t.factor)].name + " * ";
    text += p.m.species[static_cast<std::size_t>(t.species)];
  }
  return text;
}

// A gnuplot data block of rows: the time, then one value per column line.
template <class Value>
std::string block(const std::string& name, const vector_d& t, std::size_t columns, Value value) {
  std::string text = "$" + name + " << EOD\n";
  for (std::size_t i = 0; i < t.size(); ++i) {
    text += format_g(t[i], 15);
    for (std::size_t j = 0; j < columns; ++j) text += " " + format_g(value(j, i), 15);
    text += "\n";
  }
  return text + "EOD\n";
}

// The model's columns on 400 even steps over the data's span, for smooth curves.
std::string curves_block(const problem& p, const values& v) {
  const auto [lo, hi] = std::minmax_element(p.data.t.begin(), p.data.t.end());
  vector_d t;
  for (int i = 0; i <= 400; ++i) t.push_back(*lo + (*hi - *lo) * i / 400.0);
  problem fine = p;
  fine.data.t = t;
  trajectory c;
  if (!concentrations(fine, v, c).empty()) return block("model", {}, 0, [](std::size_t, std::size_t) { return 0.0; });
  return block("model", t, p.m.columns.size(), [&](std::size_t j, std::size_t i) {
    return column_value(fine, v, c, j, i);
  });
}

// The items of a plot command, one per column line.
std::string plot_items(const std::string& data, std::size_t columns, const std::string& style,
                       const std::vector<std::string>& titles) {
  std::string text;
  for (std::size_t j = 0; j < columns; ++j) {
    text += (j ? ", " : "") + std::string("$") + data + " using 1:" + std::to_string(j + 2) + " " + style +
            " lc " + std::to_string(j + 1) + (titles.empty() ? " notitle" : " title " + quoted(titles[j]));
  }
  return text;
}

std::string script(const problem& p, const values& v, const trajectory& c, const std::string& title,
                   const std::string& out) {
  const std::size_t n = p.m.columns.size();
  std::vector<std::string> titles;
  for (const column_model& col : p.m.columns) titles.push_back(column_title(p, col));
  std::string text = "set terminal pngcairo size 900,800 noenhanced font 'Sans,10'\nset output " + quoted(out) +
                     "\nset grid\nset lmargin 12\nset multiplot\n";
  text += block("measured", p.data.t, n, [&](std::size_t j, std::size_t i) { return p.data.y[j][i]; });
  text += block("residual", p.data.t, n, [&](std::size_t j, std::size_t i) {
    return p.data.y[j][i] - column_value(p, v, c, j, i);
  });
  text += curves_block(p, v);
  text += "set origin 0,0.3\nset size 1,0.7\nset title " + quoted(title) + "\nset ylabel 'measured and model'\n";
  text += "plot " + plot_items("measured", n, "with points pt 7 ps 0.6", titles) + ", " +
          plot_items("model", n, "with lines lw 2", {}) + "\n";
  text += "set origin 0,0\nset size 1,0.3\nunset title\nset ylabel 'residual'\nset xlabel 'time'\n";
  text += "plot " + plot_items("residual", n, "with points pt 7 ps 0.4", {}) + ", 0 with lines lc 'black' notitle\n";
  return text + "unset multiplot\n";
}

// Runs gnuplot on the script file, its console output discarded.
std::string run_gnuplot(const std::string& script_path) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::string program = "gnuplot";
  char* argv[] = {program.data(), const_cast<char*>(script_path.c_str()), nullptr};
  pid_t pid = 0;
  const int error = posix_spawnp(&pid, "gnuplot", &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) return std::string("cannot run gnuplot: ") + std::strerror(error);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "gnuplot failed";
  return {};
}

}  // namespace

std::string gnuplot_string(const std::string& text) { return quoted(text); }

std::string draw_plot(const problem& p, const values& v, const trajectory& c, const std::string& title,
                      const std::string& png) {
  return draw_script([&](const std::string& out) { return script(p, v, c, title, out); }, png);
}

std::string draw_script(const std::function<std::string(const std::string& out)>& make, const std::string& png) {
  new_file out;
  if (std::string error = new_file_open(png, out); !error.empty()) return error;
  const char* dir = std::getenv("TMPDIR");
  std::string temp_script = std::string(dir && *dir ? dir : "/tmp") + "/ratefit-plot.XXXXXX";
  const int fd = mkstemp(temp_script.data());
  const std::string text = make(out.path);
  bool written = fd >= 0 && !text.empty() && write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  if (fd >= 0) written = close(fd) == 0 && written;
  std::string error = written ? run_gnuplot(temp_script) : "cannot write gnuplot's script";
  if (fd >= 0) unlink(temp_script.c_str());
  if (!error.empty()) return error;  // out's new file goes with it
  return new_file_commit(out);
}

}  // namespace kinetics
