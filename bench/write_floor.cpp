// What writing sim.txt line by line costs the system alone: LINES write()
// calls of one typical line each, into FILE.
//
// Usage: write_floor FILE LINES
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: write_floor FILE LINES\n");
    return 2;
  }
  const int fd = open(argv[1], O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) {
    std::perror("write_floor");
    return 1;
  }
  static const char line[] = "500000.000000 0.606531 0.393469\n";
  const long lines = std::atol(argv[2]);
  for (long i = 0; i < lines; ++i) {
    if (write(fd, line, sizeof line - 1) != static_cast<ssize_t>(sizeof line - 1)) {
      std::perror("write_floor");
      return 1;
    }
  }
  return close(fd) == 0 ? 0 : 1;
}
