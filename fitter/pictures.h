// Pictures drawn together: the pictures of a result shared among a few
// gnuplots, one per core the fit uses, each drawing its share one after the
// other (starting gnuplot takes as long as drawing a picture), while the
// caller goes on with other work until it needs them.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "fitter/plot.h"

namespace kinetics {

// A picture to draw: the file it is for and the gnuplot script that sends
// it to standard output ("set output" without a name); or, with error set,
// why it cannot be drawn (it is then not drawn, and keeps that error).
struct picture_job {
  std::string file;
  std::string script;
  std::string error;
};

// The pictures of start_pictures, being drawn; finish_pictures ends them.
// Destroyed unfinished, it waits for its gnuplots and drops their pictures.
class pictures_under_way {
 public:
  pictures_under_way() = default;
  pictures_under_way(pictures_under_way&& other) noexcept;
  pictures_under_way& operator=(pictures_under_way&& other) noexcept;
  ~pictures_under_way();

  struct run {  // one gnuplot under way
    std::vector<std::size_t> jobs;  // the pictures it draws, in the order it draws them
    int pid = 0;
    int fd = -1;           // the pipe it writes the pictures to
    bool read_all = true;  // false once the pictures passed their limit, or a read failed
    std::string out;       // what it wrote so far
    int in = -1;           // a gnuplot started ahead: the pipe it reads its script from,
    std::string script;    // the script sent there,
    std::size_t sent = 0;  // and how much of it has been
  };
  std::vector<picture_job> jobs;
  std::vector<picture> done;  // one per job, in their order
  std::vector<std::vector<std::size_t>> shares;  // the jobs of every gnuplot to start, or started
  std::vector<run> running;
  std::vector<run> ready;  // gnuplots started ahead, for the first shares
  std::size_t next = 0;  // the first share not started

 private:
  void abandon();  // closes the pipes of the gnuplots under way and waits for them
};

// The most gnuplots under way at once.
constexpr std::size_t max_drawing = 4;

// Gnuplots started before their pictures are known, so that they start
// (load their libraries, and their fonts, drawing a picture to /dev/null)
// while the caller still works; each then waits for its script. Destroyed
// unused, they are ended and waited for.
struct gnuplots_ready {
  pictures_under_way waiting;  // their runs in waiting.ready
};

// Starts count gnuplots ahead of their pictures; fewer where gnuplot cannot
// be run, and then start_pictures says why.
gnuplots_ready ready_gnuplots(std::size_t count);

// Starts drawing every picture of jobs and returns at once: by at most
// lanes gnuplots (0: one per thread of the fit, task_threads()), each
// given its share of the pictures in one script, "reset session" between
// them. A gnuplot that fails, or whose output is not as many whole PNG
// files as it had pictures, draws its pictures again, one gnuplot each, so
// that each picture gets the error of its own.
pictures_under_way start_pictures(std::vector<picture_job> jobs, std::size_t lanes = 0);

// The same, the first shares sent to the gnuplots of ready (those left
// over end); the pictures are the same bytes.
pictures_under_way start_pictures(std::vector<picture_job> jobs, std::size_t lanes, gnuplots_ready ready);

// Waits until every picture is drawn and returns them in the order of the
// jobs: each a PNG, or why it is not (gnuplot missing or failed, a picture
// that is not a whole PNG file or is over 64 MiB), as draw_png says.
std::vector<picture> finish_pictures(pictures_under_way& drawing);

// Both at once.
std::vector<picture> draw_pictures(std::vector<picture_job> jobs);

}  // namespace kinetics
