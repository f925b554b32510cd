#include "platform/dispatch.h"

#include <cstdint>
#include <deque>
#include <thread>

namespace platform {

void Semaphore::signal() {
    std::lock_guard lock(mutex_);
    ++value_;
    cv_.notify_one();
}

bool Semaphore::wait(std::chrono::nanoseconds timeout) {
    std::unique_lock lock(mutex_);
    if (!cv_.wait_for(lock, timeout, [&] { return value_ > 0; })) return false;
    --value_;
    return true;
}

struct SerialQueue::State {
    std::string label;
    std::mutex mutex;
    std::condition_variable cv;
    std::deque<std::function<void()>> blocks;
    std::uint64_t submitted = 0;
    std::uint64_t completed = 0;
    bool closed = false;
};

SerialQueue::SerialQueue(std::string label) : state_(std::make_shared<State>()) {
    state_->label = std::move(label);
    std::thread([state = state_] {
        std::unique_lock lock(state->mutex);
        for (;;) {
            state->cv.wait(lock, [&] { return !state->blocks.empty() || state->closed; });
            if (state->blocks.empty()) return;
            std::function<void()> block = std::move(state->blocks.front());
            state->blocks.pop_front();
            lock.unlock();
            block();
            block = nullptr;
            lock.lock();
            ++state->completed;
            state->cv.notify_all();
        }
    }).detach();
    owner_ = std::shared_ptr<void>(nullptr, [state = state_](void*) {
        std::lock_guard lock(state->mutex);
        state->closed = true;
        state->cv.notify_all();
    });
}

const std::string& SerialQueue::label() const {
    return state_->label;
}

void SerialQueue::async(std::function<void()> block) const {
    std::lock_guard lock(state_->mutex);
    state_->blocks.push_back(std::move(block));
    ++state_->submitted;
    state_->cv.notify_all();
}

bool SerialQueue::drain(std::chrono::nanoseconds timeout) const {
    std::unique_lock lock(state_->mutex);
    std::uint64_t target = state_->submitted;
    return state_->cv.wait_for(lock, timeout, [&] { return state_->completed >= target; });
}

namespace {

struct MainLoop {
    std::mutex mutex;
    std::condition_variable cv;
    std::deque<std::function<void()>> blocks;
};

MainLoop& mainLoop() {
    static MainLoop* loop = new MainLoop;  // never destroyed: tasks may still submit while the process ends
    return *loop;
}

}  // namespace

void dispatchMain(std::function<void()> block) {
    MainLoop& loop = mainLoop();
    std::lock_guard lock(loop.mutex);
    loop.blocks.push_back(std::move(block));
    loop.cv.notify_all();
}

void runMainRunLoop(std::chrono::steady_clock::time_point deadline) {
    MainLoop& loop = mainLoop();
    std::unique_lock lock(loop.mutex);
    for (;;) {
        if (!loop.cv.wait_until(lock, deadline, [&] { return !loop.blocks.empty(); })) return;
        std::function<void()> block = std::move(loop.blocks.front());
        loop.blocks.pop_front();
        lock.unlock();
        block();
        lock.lock();
    }
}

void detachTask(std::function<void()> task) {
    std::thread(std::move(task)).detach();
}

}  // namespace platform
