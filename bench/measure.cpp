// Runs a command and reports its wall time and peak resident memory:
// prints "WALL_SECONDS MAXRSS_KIB EXIT_STATUS" to standard error after the
// command's own output. The command's standard output goes to /dev/null.
//
// Usage: measure COMMAND [ARGS...]
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: measure COMMAND [ARGS...]\n");
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid < 0) {
    std::perror("measure: fork");
    return 1;
  }
  if (pid == 0) {
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) dup2(null, 1);
    execvp(argv[1], argv + 1);
    std::perror("measure: exec");
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) < 0) {
    std::perror("measure: wait4");
    return 1;
  }
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  std::fprintf(stderr, "%.3f %ld %d\n", wall, usage.ru_maxrss, code);
  return code;
}
