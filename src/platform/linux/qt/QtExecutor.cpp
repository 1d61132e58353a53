#include "platform/linux/qt/QtExecutor.h"

#include <sys/timerfd.h>
#include <unistd.h>

#include <QMetaObject>
#include <QObject>
#include <QSocketNotifier>
#include <cerrno>
#include <system_error>

namespace quillant::linux_platform {

QtExecutor::QtExecutor() : context_(std::make_unique<QObject>()) {
    timerFd_ = timerfd_create(CLOCK_BOOTTIME, TFD_CLOEXEC | TFD_NONBLOCK);
    if (timerFd_ < 0) throw std::system_error(errno, std::generic_category(), "timerfd");
    timerNotifier_ = std::make_unique<QSocketNotifier>(timerFd_, QSocketNotifier::Read);
    QObject::connect(timerNotifier_.get(), &QSocketNotifier::activated, context_.get(), [this] { runDueTimers(); });
}

QtExecutor::~QtExecutor() {
    watched_.clear();
    timerNotifier_.reset();
    // Deleting the context drops the work still posted to it.
    context_.reset();
    close(timerFd_);
}

void QtExecutor::post(std::function<void()> work) {
    QMetaObject::invokeMethod(context_.get(), std::move(work), Qt::QueuedConnection);
}

TimerHandle QtExecutor::schedule(Duration delay, std::function<void()> work) {
    if (delay < Duration::zero()) delay = Duration::zero();
    auto state = std::make_shared<detail::TimerState>();
    timers_.emplace(std::make_pair(now() + delay, sequence_++), Timer{state, std::move(work)});
    armTimerFd();
    return TimerHandle(state);
}

TimePoint QtExecutor::now() const { return ContinuousClock::now(); }

void QtExecutor::armTimerFd() {
    while (!timers_.empty() && timers_.begin()->second.state->cancelled) timers_.erase(timers_.begin());
    itimerspec spec{};
    if (!timers_.empty()) {
        auto ns = timers_.begin()->first.first.time_since_epoch().count();
        if (ns <= 0) ns = 1;
        spec.it_value.tv_sec = ns / 1'000'000'000;
        spec.it_value.tv_nsec = ns % 1'000'000'000;
    }
    timerfd_settime(timerFd_, TFD_TIMER_ABSTIME, &spec, nullptr);
}

void QtExecutor::runDueTimers() {
    std::uint64_t expirations;
    [[maybe_unused]] auto n = ::read(timerFd_, &expirations, sizeof expirations);
    for (;;) {
        while (!timers_.empty() && timers_.begin()->second.state->cancelled) timers_.erase(timers_.begin());
        if (timers_.empty() || timers_.begin()->first.first > now()) break;
        Timer timer = std::move(timers_.begin()->second);
        timers_.erase(timers_.begin());
        timer.state->fired = true;
        timer.work();
    }
    armTimerFd();
}

void QtExecutor::watchReadable(int fd, std::function<void()> onReadable) {
    auto notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, context_.get(),
                     [fn = std::move(onReadable)] { fn(); });
    watched_[fd] = std::move(notifier);
}

void QtExecutor::unwatch(int fd) {
    auto it = watched_.find(fd);
    if (it == watched_.end()) return;
    // The notifier may be the one whose signal is running right now.
    it->second.release()->deleteLater();
    watched_.erase(it);
}

}  // namespace quillant::linux_platform
