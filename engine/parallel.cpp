#include "engine/parallel.h"

#include <atomic>
#include <exception>
#include <thread>
#include <vector>

namespace kinetics {

unsigned task_threads() { return std::thread::hardware_concurrency() == 1 ? 1 : 2; }

void run_tasks(std::size_t count, const std::function<void(std::size_t)>& task) {
  std::vector<std::exception_ptr> errors(count);
  std::atomic<std::size_t> next{0};
  const auto work = [&] {
    for (std::size_t i; (i = next.fetch_add(1)) < count;) {
      try {
        task(i);
      } catch (...) {
        errors[i] = std::current_exception();
      }
    }
  };
  if (count > 1 && task_threads() > 1) {
    std::thread helper(work);
    work();
    helper.join();
  } else {
    work();
  }
  for (const std::exception_ptr& e : errors) {
    if (e) std::rethrow_exception(e);
  }
}

}  // namespace kinetics
