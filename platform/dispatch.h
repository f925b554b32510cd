// Small concurrency services shaped after the native ones: a counting semaphore with a timed wait, a
// serial queue that runs blocks one at a time in submission order, the main run loop that a waiting main
// thread services between its waits, detached asynchronous tasks, and a one-shot completion cell that
// turns a completion-handler call into a value a task can wait for.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace platform {

// A counting semaphore (as a dispatch semaphore): created with a value, `signal` adds one, `wait` takes
// one, waiting at most the given time on the monotonic clock.
class Semaphore {
  public:
    explicit Semaphore(long value = 0) : value_(value) {}
    void signal();
    // True when a unit was taken within `timeout`.
    bool wait(std::chrono::nanoseconds timeout);

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    long value_;
};

// A serial queue: one thread of its own runs the submitted blocks one after another, in the order they
// were submitted. Copies are handles to the same queue. The thread ends once the last handle is gone
// and the blocks already submitted have run.
class SerialQueue {
  public:
    explicit SerialQueue(std::string label);

    const std::string& label() const;
    void async(std::function<void()> block) const;
    // Waits until every block submitted so far has run, at most `timeout`; true when it got there.
    bool drain(std::chrono::nanoseconds timeout) const;

  private:
    struct State;
    std::shared_ptr<State> state_;
    std::shared_ptr<void> owner_;  // the last handle's release lets the thread finish
};

// The main run loop: blocks submitted with `dispatchMain` run on the thread that services the loop.
void dispatchMain(std::function<void()> block);
// Runs the main run loop until `deadline`: every block submitted to it runs, and the call returns at
// the deadline (the default mode's "run until the date").
void runMainRunLoop(std::chrono::steady_clock::time_point deadline);

// Starts an asynchronous task on a thread of its own. The task is detached: it is never joined, and a
// task that is still running when the process ends ends with it.
void detachTask(std::function<void()> task);

// A cell that one completion handler fills once and a task waits for (later fills are ignored).
template <typename T>
class Completion {
  public:
    Completion() : state_(std::make_shared<State>()) {}

    // The handler to pass to an operation that completes once; it may be called on any thread.
    std::function<void(T)> handler() const {
        return [state = state_](T value) {
            std::lock_guard lock(state->mutex);
            if (state->value) return;
            state->value.emplace(std::move(value));
            state->cv.notify_all();
        };
    }

    // Waits for the value without a limit.
    T wait() const {
        std::unique_lock lock(state_->mutex);
        state_->cv.wait(lock, [&] { return state_->value.has_value(); });
        return *state_->value;
    }

  private:
    struct State {
        std::mutex mutex;
        std::condition_variable cv;
        std::optional<T> value;
    };
    std::shared_ptr<State> state_;
};

}  // namespace platform
