// Independent pieces of a fit (the searches from the starts, the sides of
// the profile intervals) computed on two threads. Each task is computed
// exactly as it would be alone and writes only its own result, so results
// do not depend on which thread ran which task or when.
#pragma once

#include <cstddef>
#include <functional>

namespace kinetics {

// The threads run_tasks uses: two, or one on a machine of one core.
unsigned task_threads();

// Calls task(i) once for every i in [0, count), on up to task_threads()
// threads, and returns when all have returned. An exception thrown by a task
// is thrown again here, after every thread has ended (the first one, in the
// order of the tasks, when several throw).
void run_tasks(std::size_t count, const std::function<void(std::size_t)>& task);

}  // namespace kinetics
