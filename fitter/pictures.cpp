#include "fitter/pictures.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <string_view>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

#include "common/atomic_file.h"
#include "engine/parallel.h"

namespace kinetics {

namespace {

// The largest picture taken from gnuplot.
constexpr std::size_t max_png = std::size_t{64} << 20;

// A PNG file ends with its IEND chunk: a picture cut short lacks it.
const std::string_view png_signature("\x89PNG\r\n\x1a\n", 8), png_end("\0\0\0\0IEND\xae\x42\x60\x82", 12);

bool whole_png(std::string_view png) {
  return png.size() >= png_signature.size() + png_end.size() && png.substr(0, 8) == png_signature &&
         png.substr(png.size() - png_end.size()) == png_end;
}

// The pictures one gnuplot wrote one after the other, each up to the first
// IEND chunk after its start; false unless they are count whole PNG files,
// none over max_png, with nothing after the last.
bool split_pictures(const std::string& out, std::size_t count, std::vector<std::string>& pngs) {
  pngs.clear();
  std::size_t from = 0;
  while (from < out.size()) {
    const std::size_t end = out.find(png_end, from);
    if (end == std::string::npos) return false;
    const std::string_view png = std::string_view(out).substr(from, end + png_end.size() - from);
    if (!whole_png(png) || png.size() > max_png) return false;
    pngs.emplace_back(png);
    from += png.size();
  }
  return pngs.size() == count;
}

// The script of a share of the jobs: theirs one after the other, gnuplot's
// settings, variables and data blocks reset between them.
std::string share_script(const std::vector<picture_job>& jobs, const std::vector<std::size_t>& share) {
  if (share.size() == 1) return jobs[share.front()].script;
  std::string out;
  for (std::size_t i = 0; i < share.size(); ++i) {
    if (i > 0) out += out.empty() || out.back() == '\n' ? "reset session\n" : "\nreset session\n";
    out += jobs[share[i]].script;
  }
  return out;
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

// Starts gnuplot on the script it reads from in_fd, its pictures to a pipe.
// The script is read as a file ("/dev/stdin"), not as typed input, which
// gnuplot reads far more slowly. The pipe holds a whole picture of the
// usual size, so that gnuplot ends without waiting for this process to
// read it.
std::string spawn_gnuplot(int in_fd, pictures_under_way::run& r) {
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) return std::string("cannot run gnuplot: ") + std::strerror(errno);
  (void)fcntl(pipe_fds[0], F_SETPIPE_SZ, 1 << 20);  // best effort: a smaller pipe only makes gnuplot wait
  std::string program = "gnuplot", input = "/dev/stdin";
  char* argv[] = {program.data(), input.data(), nullptr};
  const int failed = spawn_watched("gnuplot", argv, in_fd, pipe_fds[1], r.pid);
  close(pipe_fds[1]);
  if (failed != 0) {
    close(pipe_fds[0]);
    return std::string("cannot run gnuplot: ") + std::strerror(failed);
  }
  r.fd = pipe_fds[0];
  return {};
}

// Starts gnuplot on a script held in a file of its own.
std::string launch(const std::string& text, pictures_under_way::run& r) {
  std::string error;
  const int script = script_file(text, error);
  if (script < 0) return error;
  error = spawn_gnuplot(script, r);
  close(script);
  return error;
}

// What a gnuplot started ahead draws first: a picture nobody keeps, which
// loads its fonts, so small that drawing it costs nothing more; after it,
// gnuplot is as between the pictures of a share.
constexpr std::string_view warm_up =
    "set terminal pngcairo size 16,16 noenhanced font 'Sans,10'\n"
    "set output '/dev/null'\n"
    "plot x notitle\n"
    "set output\n"
    "reset session\n";

// Writes to fd, a pipe, without the SIGPIPE of a reader that is gone: the
// write then fails with EPIPE.
ssize_t write_quietly(int fd, const char* p, std::size_t n) {
  sigset_t pipe_signal, before;
  sigemptyset(&pipe_signal);
  sigaddset(&pipe_signal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe_signal, &before);
  const ssize_t wrote = write(fd, p, n);
  const int error = errno;
  if (wrote < 0 && error == EPIPE) {
    const timespec now{0, 0};
    sigtimedwait(&pipe_signal, nullptr, &now);  // the signal of this write, taken before it is unblocked
  }
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  errno = error;
  return wrote;
}

void close_input(pictures_under_way::run& r) {
  if (r.in >= 0) close(r.in);
  r.in = -1;
  std::string().swap(r.script);
}

// Sends what the pipe takes of r's script now; closes the pipe once the
// script is sent, or gnuplot is gone (its exit tells what became of it).
void send_script(pictures_under_way::run& r) {
  while (r.in >= 0 && r.sent < r.script.size()) {
    const ssize_t wrote = write_quietly(r.in, r.script.data() + r.sent, r.script.size() - r.sent);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote < 0 && errno == EAGAIN) return;
    if (wrote <= 0) break;
    r.sent += static_cast<std::size_t>(wrote);
  }
  close_input(r);
}

// Starts gnuplot on a pipe, with the warm-up sent (a pipe holds it whole);
// false when it cannot be started so (start_more then says why).
bool launch_ahead(pictures_under_way::run& r) {
  int in[2];
  if (pipe2(in, O_CLOEXEC) != 0) return false;
  (void)fcntl(in[1], F_SETPIPE_SZ, 1 << 20);  // best effort: the script then goes in fewer writes
  const bool started = spawn_gnuplot(in[0], r).empty();
  close(in[0]);
  if (!started || write_quietly(in[1], warm_up.data(), warm_up.size()) != static_cast<ssize_t>(warm_up.size()) ||
      fcntl(in[1], F_SETFL, O_NONBLOCK) != 0) {
    close(in[1]);
    if (started) {
      close(r.fd);
      wait_watched(r.pid);
    }
    return false;
  }
  r.in = in[1];
  return true;
}

// Starts the next shares while fewer than max_drawing are under way.
void start_more(pictures_under_way& d) {
  for (; d.next < d.shares.size() && d.running.size() < max_drawing; ++d.next) {
    pictures_under_way::run r;
    if (!d.ready.empty()) {  // started ahead: sent its script
      r = std::move(d.ready.back());
      d.ready.pop_back();
      r.jobs = d.shares[d.next];
      r.script = share_script(d.jobs, r.jobs);
      send_script(r);
      d.running.push_back(std::move(r));
      continue;
    }
    r.jobs = d.shares[d.next];
    if (const std::string error = launch(share_script(d.jobs, r.jobs), r); !error.empty()) {
      for (std::size_t job : r.jobs) d.done[job].error = error;
    } else {
      d.running.push_back(std::move(r));
    }
  }
}

// Reads what one gnuplot wrote, at most max_png bytes a picture; false at
// the end of its pictures (or when they passed the limit, or a read failed).
bool read_some(pictures_under_way::run& r) {
  char buffer[65536];
  ssize_t got = 0;
  while ((got = read(r.fd, buffer, sizeof buffer)) < 0 && errno == EINTR) {
  }
  if (got <= 0) {
    r.read_all = got == 0;
    return false;
  }
  if (r.out.size() + static_cast<std::size_t>(got) > max_png * r.jobs.size()) {
    r.read_all = false;
    return false;
  }
  r.out.append(buffer, static_cast<std::size_t>(got));
  return true;
}

// The picture of a gnuplot that drew one, exited with status, or why there
// is none.
void take_picture(pictures_under_way::run& r, int status, picture& out) {
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    out.error = "gnuplot failed";
  } else if (!r.read_all) {
    out.error = "gnuplot's picture is larger than " + std::to_string(max_png >> 20) + " MiB";
  } else if (!whole_png(r.out)) {
    out.error = "gnuplot's picture is not a whole PNG file";
  } else {
    out.png = std::move(r.out);
  }
}

// Ends a gnuplot whose pipe is done with: its pictures, or why there are
// none; a gnuplot of several that did not give them all whole has them
// drawn again, one each.
void end_run(pictures_under_way& d, pictures_under_way::run& r) {
  close_input(r);
  close(r.fd);  // pictures too large: gnuplot ends on the closed pipe
  r.fd = -1;
  const int status = wait_watched(r.pid);
  if (r.jobs.size() == 1) return take_picture(r, status, d.done[r.jobs.front()]);
  std::vector<std::string> pngs;
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0 && r.read_all && split_pictures(r.out, r.jobs.size(), pngs)) {
    for (std::size_t i = 0; i < pngs.size(); ++i) d.done[r.jobs[i]].png = std::move(pngs[i]);
    return;
  }
  for (std::size_t job : r.jobs) d.shares.push_back({job});
}

// Sends the gnuplots under way the rest of their scripts, reads from each
// as its picture comes, and ends those that are done.
void read_running(pictures_under_way& d) {
  std::vector<pollfd> fds;
  for (const pictures_under_way::run& r : d.running) fds.push_back({r.fd, POLLIN, 0});
  for (const pictures_under_way::run& r : d.running) fds.push_back({r.in, POLLOUT, 0});  // poll skips -1
  if (poll(fds.data(), fds.size(), -1) < 0) {
    if (errno == EINTR) return;
    for (pollfd& f : fds) f.revents = POLLIN;  // reads and writes that would block only wait for gnuplot
  }
  const std::size_t n = d.running.size();
  for (std::size_t i = 0; i < n; ++i) {
    if (fds[n + i].revents != 0) send_script(d.running[i]);
  }
  std::vector<pictures_under_way::run> still;
  for (std::size_t i = 0; i < d.running.size(); ++i) {
    pictures_under_way::run& r = d.running[i];
    if (fds[i].revents == 0 || read_some(r)) {
      still.push_back(std::move(r));
    } else {
      end_run(d, r);
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
  shares = std::move(other.shares);
  running = std::exchange(other.running, {});
  ready = std::exchange(other.ready, {});
  next = std::exchange(other.next, 0);
  return *this;
}

pictures_under_way::~pictures_under_way() { abandon(); }

void pictures_under_way::abandon() {
  for (std::vector<run>* runs : {&running, &ready}) {
    for (run& r : *runs) {
      close_input(r);
      close(r.fd);
      wait_watched(r.pid);
    }
    runs->clear();
  }
}

gnuplots_ready ready_gnuplots(std::size_t count) {
  gnuplots_ready out;
  for (std::size_t i = 0; i < count; ++i) {
    pictures_under_way::run r;
    if (!launch_ahead(r)) break;
    out.waiting.ready.push_back(std::move(r));
  }
  return out;
}

namespace {

// The pictures of jobs dealt out to shares, none started.
pictures_under_way plan_pictures(std::vector<picture_job> jobs, std::size_t lanes) {
  pictures_under_way d;
  d.jobs = std::move(jobs);
  d.done.resize(d.jobs.size());
  std::vector<std::size_t> drawn;
  for (std::size_t i = 0; i < d.jobs.size(); ++i) {
    d.done[i].file = d.jobs[i].file;
    d.done[i].error = d.jobs[i].error;
    if (d.jobs[i].error.empty()) drawn.push_back(i);
  }
  // The pictures dealt out in turn, so that every gnuplot draws about as many.
  d.shares.resize(std::min<std::size_t>(drawn.size(), std::max<std::size_t>(lanes == 0 ? task_threads() : lanes, 1)));
  for (std::size_t i = 0; i < drawn.size(); ++i) d.shares[i % d.shares.size()].push_back(drawn[i]);
  return d;
}

}  // namespace

pictures_under_way start_pictures(std::vector<picture_job> jobs, std::size_t lanes) {
  return start_pictures(std::move(jobs), lanes, gnuplots_ready{});
}

pictures_under_way start_pictures(std::vector<picture_job> jobs, std::size_t lanes, gnuplots_ready ready) {
  pictures_under_way d = plan_pictures(std::move(jobs), lanes);
  d.ready = std::exchange(ready.waiting.ready, {});
  start_more(d);
  // Those left over get no script: the closed pipe ends them once warmed up.
  for (pictures_under_way::run& r : d.ready) {
    close_input(r);
    d.running.push_back(std::move(r));
  }
  d.ready.clear();
  return d;
}

std::vector<picture> finish_pictures(pictures_under_way& d) {
  while (!d.running.empty() || d.next < d.shares.size()) {
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
