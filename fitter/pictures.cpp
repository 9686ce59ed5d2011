#include "fitter/pictures.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

#include "common/atomic_file.h"

namespace kinetics {

namespace {

// The largest picture taken from gnuplot.
constexpr std::size_t max_png = std::size_t{64} << 20;

// A PNG file ends with its IEND chunk: a picture cut short lacks it.
bool whole_png(const std::string& png) {
  static const char signature[] = "\x89PNG\r\n\x1a\n";
  static const char iend[] = "\0\0\0\0IEND\xae\x42\x60\x82";
  return png.size() >= 8 + 12 && png.compare(0, 8, signature, 8) == 0 &&
         png.compare(png.size() - 12, 12, iend, 12) == 0;
}

// The script as a file of no name, read from its start, so that no signal
// can leave it behind; -1 with error set when there is none.
int script_file(const std::string& text, std::string& error) {
  const int fd = memfd_create("ratefit-plot", MFD_CLOEXEC);
  if (fd < 0) {
    error = std::string("cannot write gnuplot's script: ") + std::strerror(errno);
    return -1;
  }
  if (write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()) || lseek(fd, 0, SEEK_SET) != 0) {
    close(fd);
    error = "cannot write gnuplot's script";
    return -1;
  }
  return fd;
}

// Starts gnuplot on the script of job, its picture to a pipe. The script is
// read as a file, not as typed input, which gnuplot reads far more slowly.
// The pipe holds a whole picture of the usual size, so that gnuplot ends
// without waiting for this process to read it.
std::string launch(const picture_job& job, pictures_under_way::run& r) {
  std::string error;
  const int script = script_file(job.script, error);
  if (script < 0) return error;
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) {
    error = std::string("cannot run gnuplot: ") + std::strerror(errno);
    close(script);
    return error;
  }
  (void)fcntl(pipe_fds[0], F_SETPIPE_SZ, 1 << 20);  // best effort: a smaller pipe only makes gnuplot wait
  std::string program = "gnuplot", input = "/dev/stdin";
  char* argv[] = {program.data(), input.data(), nullptr};
  const int failed = spawn_watched("gnuplot", argv, script, pipe_fds[1], r.pid);
  close(pipe_fds[1]);
  close(script);
  if (failed != 0) {
    close(pipe_fds[0]);
    return std::string("cannot run gnuplot: ") + std::strerror(failed);
  }
  r.fd = pipe_fds[0];
  return {};
}

// Starts the next jobs while fewer than max_drawing are under way.
void start_more(pictures_under_way& d) {
  for (; d.next < d.jobs.size() && d.running.size() < max_drawing; ++d.next) {
    const picture_job& job = d.jobs[d.next];
    picture& out = d.done[d.next];
    out.file = job.file;
    out.error = job.error;
    if (!out.error.empty()) continue;
    pictures_under_way::run r;
    r.job = d.next;
    out.error = launch(job, r);
    if (out.error.empty()) d.running.push_back(r);
  }
}

// Reads what one gnuplot wrote, at most max_png bytes in all; false at the
// end of its picture (or when the picture passed the limit, or a read failed).
bool read_some(pictures_under_way::run& r, std::string& png) {
  char buffer[65536];
  ssize_t got = 0;
  while ((got = read(r.fd, buffer, sizeof buffer)) < 0 && errno == EINTR) {
  }
  if (got <= 0) {
    r.read_all = got == 0;
    return false;
  }
  if (png.size() + static_cast<std::size_t>(got) > max_png) {
    r.read_all = false;
    return false;
  }
  png.append(buffer, static_cast<std::size_t>(got));
  return true;
}

// Ends a gnuplot whose pipe is done with: its picture, or why there is none.
void end_run(pictures_under_way::run& r, picture& out) {
  close(r.fd);  // a picture too large: gnuplot ends on the closed pipe
  r.fd = -1;
  const int status = wait_watched(r.pid);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    out.error = "gnuplot failed";
  } else if (!r.read_all) {
    out.error = "gnuplot's picture is larger than " + std::to_string(max_png >> 20) + " MiB";
  } else if (!whole_png(out.png)) {
    out.error = "gnuplot's picture is not a whole PNG file";
  }
  if (!out.error.empty()) out.png.clear();
}

// Reads from every gnuplot under way as its picture comes, and ends those
// that are done.
void read_running(pictures_under_way& d) {
  std::vector<pollfd> fds;
  for (const pictures_under_way::run& r : d.running) fds.push_back({r.fd, POLLIN, 0});
  if (poll(fds.data(), fds.size(), -1) < 0) {
    if (errno == EINTR) return;
    for (pollfd& f : fds) f.revents = POLLIN;  // reads that would block only wait for gnuplot
  }
  std::vector<pictures_under_way::run> still;
  for (std::size_t i = 0; i < d.running.size(); ++i) {
    pictures_under_way::run& r = d.running[i];
    if (fds[i].revents == 0 || read_some(r, d.done[r.job].png)) {
      still.push_back(r);
    } else {
      end_run(r, d.done[r.job]);
    }
  }
  d.running = std::move(still);
}

}  // namespace

pictures_under_way::pictures_under_way(pictures_under_way&& other) noexcept { *this = std::move(other); }

pictures_under_way& pictures_under_way::operator=(pictures_under_way&& other) noexcept {
  if (this == &other) return *this;
  abandon();
  jobs = std::move(other.jobs);
  done = std::move(other.done);
  running = std::exchange(other.running, {});
  next = std::exchange(other.next, 0);
  return *this;
}

pictures_under_way::~pictures_under_way() { abandon(); }

void pictures_under_way::abandon() {
  for (run& r : running) {
    close(r.fd);
    wait_watched(r.pid);
  }
  running.clear();
}

pictures_under_way start_pictures(std::vector<picture_job> jobs) {
  pictures_under_way d;
  d.jobs = std::move(jobs);
  d.done.resize(d.jobs.size());
  start_more(d);
  return d;
}

std::vector<picture> finish_pictures(pictures_under_way& d) {
  while (!d.running.empty() || d.next < d.jobs.size()) {
    if (!d.running.empty()) read_running(d);
    start_more(d);
  }
  return std::move(d.done);
}

std::vector<picture> draw_pictures(std::vector<picture_job> jobs) {
  pictures_under_way d = start_pictures(std::move(jobs));
  return finish_pictures(d);
}

}  // namespace kinetics
