// Threads where the system has them: a thread for one job, which tells when the system has none to give
// instead of throwing or hanging; and none at all on WASI.
#pragma once

// WASI, for which the page's modules are built (src/wasm), has no threads: its libc++ has no <thread>
// or <future>. The map is drawn there on the calling thread alone (draw.cpp), and the page runs one
// module in each of its workers instead.
#ifdef __wasi__
#define MULLER_THREADS 0
#else
#define MULLER_THREADS 1
#endif

#if MULLER_THREADS
#include <future>
#include <system_error>
#include <thread>
#include <type_traits>
#include <utility>

namespace muller::map {

// Runs job on a thread of its own, as std::async does, and returns its future; an invalid future when no
// thread could be started, and job has then not run. libc++ 14's std::async, when its thread cannot start,
// waits for ever for that thread to finish (its shared state's destructor waits as the exception leaves),
// which hung muller-basins under a tight memory limit. Unlike std::async's, this future does not wait in
// its destructor: whoever shares data with job waits for it (wait()) before that data goes.
template <class Job>
std::future<std::invoke_result_t<Job>> start_thread(Job job) {
  std::packaged_task<std::invoke_result_t<Job>()> task(std::move(job));
  std::future<std::invoke_result_t<Job>> result = task.get_future();
  try {
    std::thread(std::move(task)).detach();
  } catch (const std::system_error&) {
    return {};
  }
  return result;
}

}  // namespace muller::map
#endif  // MULLER_THREADS
