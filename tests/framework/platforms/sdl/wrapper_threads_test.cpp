// Threads started through the platform really run, on threads of their
// own, and hand their work back through what the caller shares with them.
#include <pthread.h>

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <thread>

#include "framework/platforms/sdl/wrapper.h"

namespace {

struct Job {
  int input = 0;
  int output = 0;
  pthread_t ran_on{};
  std::atomic<bool> done{false};
};

void* work(void* data) {
  auto* job = static_cast<Job*>(data);
  job->output = job->input * job->input;
  job->ran_on = pthread_self();
  job->done.store(true, std::memory_order_release);
  return nullptr;
}

TEST(WrapperThreads, DetachedThreadsRunTheirFunctionWithItsData) {
  std::array<Job, 8> jobs;
  for (size_t i = 0; i < jobs.size(); ++i) {
    jobs[i].input = static_cast<int>(i) + 2;
    wrapper_run_thread(work, &jobs[i]);
  }
  // A bound against a hang, not a measure of speed.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  for (const Job& job : jobs)
    while (!job.done.load(std::memory_order_acquire) && std::chrono::steady_clock::now() < deadline)
      std::this_thread::yield();
  for (size_t i = 0; i < jobs.size(); ++i) {
    ASSERT_TRUE(jobs[i].done.load(std::memory_order_acquire)) << "job " << i;
    EXPECT_EQ(jobs[i].output, (static_cast<int>(i) + 2) * (static_cast<int>(i) + 2));
    EXPECT_FALSE(pthread_equal(jobs[i].ran_on, pthread_self())) << "job " << i << " ran on the caller's thread";
  }
  wrapper_run_thread(nullptr, &jobs[0]);  // nothing to run
}

}  // namespace
