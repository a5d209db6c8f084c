#include "engine/schedule.hpp"

#include <pthread.h>
#include <sched.h>
#include <signal.h>

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace selquant {
namespace {

// Blocks interrupt and termination signals on this thread for its lifetime
// (and for the threads started meanwhile, which inherit the mask).
class SignalHold {
 public:
  SignalHold() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, &old_);
  }
  ~SignalHold() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }
  SignalHold(const SignalHold&) = delete;
  SignalHold& operator=(const SignalHold&) = delete;

 private:
  sigset_t old_;
};

// Slots waiting to be computed, and the state of every slot.
class WorkQueue {
 public:
  explicit WorkQueue(int window)
      : done_(static_cast<std::size_t>(window)), error_(static_cast<std::size_t>(window)) {}

  void push(int slot, int k) {
    {
      std::lock_guard lock(mu_);
      done_[static_cast<std::size_t>(slot)] = false;
      error_[static_cast<std::size_t>(slot)] = nullptr;
      todo_.push_back({k, slot});
    }
    work_cv_.notify_one();
  }

  // A worker's loop: computes queued passes until stopped.
  void serve(const std::function<void(int, int)>& compute) {
    for (;;) {
      Item item;
      {
        std::unique_lock lock(mu_);
        work_cv_.wait(lock, [this] { return stop_ || !todo_.empty(); });
        if (stop_) return;
        item = todo_.front();
        todo_.pop_front();
      }
      std::exception_ptr error;
      try {
        compute(item.k, item.slot);
      } catch (...) {
        error = std::current_exception();
      }
      {
        std::lock_guard lock(mu_);
        done_[static_cast<std::size_t>(item.slot)] = true;
        error_[static_cast<std::size_t>(item.slot)] = error;
      }
      done_cv_.notify_all();
    }
  }

  // Waits until the slot's pass is computed; rethrows what its compute threw.
  void wait(int slot) {
    std::exception_ptr error;
    {
      std::unique_lock lock(mu_);
      done_cv_.wait(lock, [&] { return done_[static_cast<std::size_t>(slot)]; });
      error = error_[static_cast<std::size_t>(slot)];
    }
    if (error) std::rethrow_exception(error);
  }

  void stop() {
    {
      std::lock_guard lock(mu_);
      stop_ = true;
      todo_.clear();
    }
    work_cv_.notify_all();
  }

 private:
  struct Item {
    int k = 0;
    int slot = 0;
  };
  std::mutex mu_;
  std::condition_variable work_cv_;
  std::condition_variable done_cv_;
  std::deque<Item> todo_;
  std::vector<bool> done_;
  std::vector<std::exception_ptr> error_;
  bool stop_ = false;
};

}  // namespace

bool run_in_order(const Schedule& schedule, const std::function<void(int, int)>& prepare,
                  const std::function<void(int, int)>& compute,
                  const std::function<bool(int, int)>& finish) {
  const int n = schedule.passes;
  const int window = schedule.window < 1 ? 1 : schedule.window;
  if (schedule.threads <= 1 || n <= 1) {
    for (int k = 1; k <= n; ++k) {
      const int slot = (k - 1) % window;
      prepare(k, slot);
      compute(k, slot);
      if (!finish(k, slot)) return false;
    }
    return true;
  }

  WorkQueue queue(window);
  std::vector<std::thread> workers;
  {
    const SignalHold hold;  // the workers start with the signals blocked
    for (int t = 0; t < schedule.threads; ++t)
      workers.emplace_back([&queue, &compute] { queue.serve(compute); });
  }
  struct Joiner {
    WorkQueue& queue;
    std::vector<std::thread>& workers;
    ~Joiner() {
      queue.stop();
      for (std::thread& t : workers)
        t.join();
    }
  } joiner{queue, workers};

  int next_prepare = 1;
  for (int k = 1; k <= n; ++k) {
    while (next_prepare <= n && next_prepare - k < window) {
      const int slot = (next_prepare - 1) % window;
      prepare(next_prepare, slot);
      queue.push(slot, next_prepare);
      ++next_prepare;
    }
    const int slot = (k - 1) % window;
    queue.wait(slot);
    if (!finish(k, slot)) return false;
  }
  return true;
}

void with_signals_held(const std::function<void()>& fn) {
  const SignalHold hold;
  fn();
}

int available_processors() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    const int n = CPU_COUNT(&set);
    if (n > 0) return n;
  }
  const unsigned n = std::thread::hardware_concurrency();
  return n > 0 ? static_cast<int>(n) : 1;
}

}  // namespace selquant
