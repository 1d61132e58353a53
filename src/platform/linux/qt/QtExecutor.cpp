#include "platform/linux/qt/QtExecutor.h"

#include <QMetaObject>
#include <QObject>
#include <QSocketNotifier>

namespace quillant::linux_platform {

QtExecutor::QtExecutor() : context_(std::make_unique<QObject>()) {
    timerNotifier_ = std::make_unique<QSocketNotifier>(timerFd_.fd(), QSocketNotifier::Read);
    QObject::connect(timerNotifier_.get(), &QSocketNotifier::activated, context_.get(), [this] { runDueTimers(); });
}

QtExecutor::~QtExecutor() {
    watched_.clear();
    timerNotifier_.reset();
    // Deleting the context drops the work still posted to it.
    context_.reset();
}

void QtExecutor::post(std::function<void()> work) {
    QMetaObject::invokeMethod(context_.get(), std::move(work), Qt::QueuedConnection);
}

TimerHandle QtExecutor::schedule(Duration delay, std::function<void()> work) {
    if (delay < Duration::zero()) delay = Duration::zero();
    TimerHandle handle = timers_.add(now() + delay, std::move(work));
    armTimerFd();
    return handle;
}

TimePoint QtExecutor::now() const { return ContinuousClock::now(); }

void QtExecutor::armTimerFd() { timerFd_.arm(timers_.nextDeadline()); }

void QtExecutor::runDueTimers() {
    timerFd_.drain();
    while (auto work = timers_.popDue(now())) (*work)();
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
