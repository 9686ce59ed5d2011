// Tasks on two threads: each once, and an exception carried to the caller.
#include "engine/parallel.h"

#include <atomic>
#include <gtest/gtest.h>
#include <stdexcept>
#include <vector>

using namespace kinetics;

namespace {

TEST(Parallel, RunsEveryTaskOnce) {
  for (std::size_t count : {0, 1, 2, 3, 17}) {
    std::vector<std::atomic<int>> calls(count);
    run_tasks(count, [&](std::size_t i) { ++calls[i]; });
    for (std::size_t i = 0; i < count; ++i) EXPECT_EQ(calls[i], 1) << i << " of " << count;
  }
}

TEST(Parallel, ThrowsTheFirstTasksExceptionAfterAllEnded) {
  std::atomic<int> ended{0};
  try {
    run_tasks(8, [&](std::size_t i) {
      ++ended;
      if (i == 5 || i == 2) throw std::runtime_error("task " + std::to_string(i));
    });
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "task 2");
  }
  EXPECT_EQ(ended, 8);
}

}  // namespace
