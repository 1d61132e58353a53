#include "runtime/ThreadWorkRunner.h"

namespace quillant {

// The threads start with the first job: most runs of the agent never have one.
ThreadWorkRunner::ThreadWorkRunner(unsigned threads) : count_(threads == 0 ? 1 : threads) {}

ThreadWorkRunner::~ThreadWorkRunner() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    cv_.notify_all();
    for (auto& t : threads_) t.join();
}

void ThreadWorkRunner::run(std::function<void()> job) {
    {
        std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
        while (threads_.size() < count_) threads_.emplace_back([this] { loop(); });
    }
    cv_.notify_one();
}

void ThreadWorkRunner::loop() {
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(mutex_);
            cv_.wait(lock, [&] { return stopping_ || !jobs_.empty(); });
            if (jobs_.empty()) return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        job();
    }
}

}  // namespace quillant
