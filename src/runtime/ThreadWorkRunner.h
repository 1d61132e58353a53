#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "runtime/Task.h"

namespace quillant {

// A small pool of worker threads; joined (after finishing queued jobs) on destruction.
class ThreadWorkRunner final : public WorkRunner {
public:
    explicit ThreadWorkRunner(unsigned threads = 2);
    ~ThreadWorkRunner() override;
    void run(std::function<void()> job) override;

private:
    void loop();
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::function<void()>> jobs_;
    bool stopping_ = false;
    unsigned count_;
    std::vector<std::thread> threads_;
};

}  // namespace quillant
