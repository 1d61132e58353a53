#pragma once

// Cooperative tasks on the main-thread executor.
//
// A task is a C++20 coroutine returning Task<T>. Tasks are started with
// spawn(); inside a task, `co_await` another Task, sleepFor(), isCancelled(),
// awaitCallback() or runInBackground(). Every resumption happens on the
// executor's thread, so task bodies may touch main-thread state freely.
//
// Ownership: a suspended task is kept alive by whatever will resume it (a
// timer, a posted job, a pending callback). If nothing will, the task is
// destroyed. A task spawned with an owner's Lifetime checks the owner at every
// resumption; once the owner is gone the task is dropped without running on.

#include <atomic>
#include <coroutine>
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>
#include <variant>

#include "runtime/Executor.h"

namespace quillant {

// Held by an object whose tasks must not outlive it (tasks hold it weakly).
class Lifetime {
public:
    Lifetime() : token_(std::make_shared<char>(0)) {}
    Lifetime(const Lifetime&) = delete;
    Lifetime& operator=(const Lifetime&) = delete;
    std::weak_ptr<const void> weak() const { return token_; }

private:
    std::shared_ptr<char> token_;
};

namespace detail {

struct TaskShared {
    std::atomic<bool> cancelled{false};
    bool done = false;
    std::uint64_t nextCallbackId = 1;
    std::map<std::uint64_t, std::function<void()>> onCancel;

    std::uint64_t addOnCancel(std::function<void()> f) {
        auto id = nextCallbackId++;
        onCancel.emplace(id, std::move(f));
        return id;
    }
    void removeOnCancel(std::uint64_t id) { onCancel.erase(id); }
};

struct TaskContext : std::enable_shared_from_this<TaskContext> {
    Executor* executor = nullptr;
    std::shared_ptr<TaskShared> shared = std::make_shared<TaskShared>();
    std::weak_ptr<const void> owner;
    bool hasOwner = false;
    bool abandoned = false;
    std::shared_ptr<void> callable;  // the lambda a spawned coroutine may refer to
    std::coroutine_handle<> root;

    ~TaskContext() {
        if (root) root.destroy();
    }

    // False once the owner is gone; the task then never runs again.
    bool alive() {
        if (abandoned) return false;
        if (hasOwner && owner.expired()) abandoned = true;
        return !abandoned;
    }

    void finishRoot() {
        shared->done = true;
        shared->onCancel.clear();
        auto r = root;
        root = {};
        r.destroy();
        callable.reset();
    }
};

using ContextPtr = std::shared_ptr<TaskContext>;

inline void resumeOnExecutor(ContextPtr ctx, std::coroutine_handle<> h) {
    Executor* executor = ctx->executor;
    executor->post([ctx = std::move(ctx), h] {
        if (ctx->alive()) h.resume();
    });
}

struct PromiseBase {
    TaskContext* ctx = nullptr;
    std::coroutine_handle<> continuation;
    std::exception_ptr error;

    std::suspend_always initial_suspend() noexcept { return {}; }

    struct FinalAwaiter {
        bool await_ready() noexcept { return false; }
        template <class P>
        std::coroutine_handle<> await_suspend(std::coroutine_handle<P> h) noexcept {
            PromiseBase& p = h.promise();
            if (p.continuation) return p.continuation;
            p.ctx->finishRoot();  // a spawned task: nobody awaits it
            return std::noop_coroutine();
        }
        void await_resume() noexcept {}
    };
    FinalAwaiter final_suspend() noexcept { return {}; }
    void unhandled_exception() noexcept { error = std::current_exception(); }
};

template <class P>
concept TaskPromise = std::is_base_of_v<PromiseBase, P>;

}  // namespace detail

template <class T = void>
class [[nodiscard]] Task;

namespace detail {

template <class T>
struct Promise : PromiseBase {
    std::optional<T> value;
    Task<T> get_return_object() noexcept;
    template <class U>
    void return_value(U&& v) {
        value.emplace(std::forward<U>(v));
    }
};

template <>
struct Promise<void> : PromiseBase {
    Task<void> get_return_object() noexcept;
    void return_void() noexcept {}
};

}  // namespace detail

template <class T>
class [[nodiscard]] Task {
public:
    using promise_type = detail::Promise<T>;
    using Handle = std::coroutine_handle<promise_type>;

    Task() = default;
    explicit Task(Handle h) : handle_(h) {}
    Task(Task&& other) noexcept : handle_(std::exchange(other.handle_, {})) {}
    Task& operator=(Task&& other) noexcept {
        if (this != &other) {
            if (handle_) handle_.destroy();
            handle_ = std::exchange(other.handle_, {});
        }
        return *this;
    }
    Task(const Task&) = delete;
    Task& operator=(const Task&) = delete;
    ~Task() {
        if (handle_) handle_.destroy();
    }

    bool await_ready() const noexcept { return false; }

    template <detail::TaskPromise P>
    std::coroutine_handle<> await_suspend(std::coroutine_handle<P> parent) noexcept {
        handle_.promise().ctx = parent.promise().ctx;
        handle_.promise().continuation = parent;
        return handle_;
    }

    T await_resume() {
        auto& p = handle_.promise();
        if (p.error) std::rethrow_exception(p.error);
        if constexpr (!std::is_void_v<T>) return std::move(*p.value);
    }

    Handle release() noexcept { return std::exchange(handle_, {}); }

private:
    Handle handle_;
};

namespace detail {
template <class T>
Task<T> Promise<T>::get_return_object() noexcept {
    return Task<T>(std::coroutine_handle<Promise<T>>::from_promise(*this));
}
inline Task<void> Promise<void>::get_return_object() noexcept {
    return Task<void>(std::coroutine_handle<Promise<void>>::from_promise(*this));
}
}  // namespace detail

// Control over a spawned task. Does not keep the task alive.
class TaskHandle {
public:
    TaskHandle() = default;
    explicit TaskHandle(std::shared_ptr<detail::TaskShared> shared) : shared_(std::move(shared)) {}

    // Cooperative: the task sees isCancelled(), and a pending sleep ends at once.
    void cancel() {
        if (!shared_ || shared_->cancelled.exchange(true)) return;
        auto callbacks = std::move(shared_->onCancel);
        shared_->onCancel.clear();
        for (auto& [id, f] : callbacks) f();
    }
    bool isCancelled() const { return shared_ && shared_->cancelled; }
    bool isDone() const { return shared_ && shared_->done; }
    explicit operator bool() const { return shared_ != nullptr; }

private:
    std::shared_ptr<detail::TaskShared> shared_;
};

namespace detail {
template <class F>
TaskHandle spawnImpl(Executor& executor, F&& fn, std::weak_ptr<const void> owner, bool hasOwner) {
    auto ctx = std::make_shared<TaskContext>();
    ctx->executor = &executor;
    ctx->owner = std::move(owner);
    ctx->hasOwner = hasOwner;
    // The callable lives as long as the task, so lambda captures stay valid.
    auto holder = std::make_shared<std::decay_t<F>>(std::forward<F>(fn));
    Task<void> task = (*holder)();
    auto handle = task.release();
    handle.promise().ctx = ctx.get();
    ctx->callable = holder;
    ctx->root = handle;
    TaskHandle result(ctx->shared);
    executor.post([ctx] {
        if (ctx->alive()) ctx->root.resume();
    });
    return result;
}
}  // namespace detail

// Starts `fn()` (a callable returning Task<void>) on the executor's next turn.
template <class F>
TaskHandle spawn(Executor& executor, F&& fn) {
    return detail::spawnImpl(executor, std::forward<F>(fn), {}, false);
}

// As spawn(), but the task holds `owner` weakly and is dropped once it is gone.
template <class F>
TaskHandle spawn(Executor& executor, const Lifetime& owner, F&& fn) {
    return detail::spawnImpl(executor, std::forward<F>(fn), owner.weak(), true);
}

// `co_await sleepFor(d)`: true when the full time passed, false when the task
// was cancelled (before or during the sleep; a cancelled sleep ends at once).
class SleepAwaiter {
public:
    explicit SleepAwaiter(Duration d) : duration_(d) {}
    SleepAwaiter(SleepAwaiter&&) = default;
    ~SleepAwaiter() {
        if (state_ && !state_->resumed) {
            state_->timer.cancel();
            if (auto shared = state_->shared.lock()) shared->removeOnCancel(state_->cancelId);
        }
    }

    bool await_ready() const noexcept { return false; }

    template <detail::TaskPromise P>
    bool await_suspend(std::coroutine_handle<P> h) {
        detail::TaskContext* ctx = h.promise().ctx;
        if (ctx->shared->cancelled) {
            completed_ = false;
            return false;
        }
        auto self = ctx->shared_from_this();
        state_ = std::make_shared<State>();
        state_->shared = ctx->shared;
        auto state = state_;
        bool* completed = &completed_;
        std::weak_ptr<detail::TaskContext> weak = self;
        state_->cancelId = ctx->shared->addOnCancel([weak, h, state, completed] {
            auto ctx = weak.lock();
            if (!ctx || state->resumed) return;
            state->resumed = true;
            state->timer.cancel();
            *completed = false;
            detail::resumeOnExecutor(std::move(ctx), h);
        });
        state_->timer = ctx->executor->schedule(duration_, [self, h, state, completed] {
            if (state->resumed) return;
            state->resumed = true;
            self->shared->removeOnCancel(state->cancelId);
            *completed = true;
            if (self->alive()) h.resume();
        });
        return true;
    }

    bool await_resume() const noexcept { return completed_; }

private:
    struct State {
        TimerHandle timer;
        std::uint64_t cancelId = 0;
        bool resumed = false;
        std::weak_ptr<detail::TaskShared> shared;
    };
    Duration duration_;
    bool completed_ = false;
    std::shared_ptr<State> state_;
};

inline SleepAwaiter sleepFor(Duration d) { return SleepAwaiter(d); }

// `co_await isCancelled()`: whether the current task was cancelled. Never suspends.
struct CancelledQuery {
    bool value = false;
    bool await_ready() const noexcept { return false; }
    template <detail::TaskPromise P>
    bool await_suspend(std::coroutine_handle<P> h) noexcept {
        value = h.promise().ctx->shared->cancelled;
        return false;
    }
    bool await_resume() const noexcept { return value; }
};
inline CancelledQuery isCancelled() { return {}; }

// `co_await currentExecutor()`: the executor running the current task.
struct ExecutorQuery {
    Executor* value = nullptr;
    bool await_ready() const noexcept { return false; }
    template <detail::TaskPromise P>
    bool await_suspend(std::coroutine_handle<P> h) noexcept {
        value = h.promise().ctx->executor;
        return false;
    }
    Executor& await_resume() const noexcept { return *value; }
};
inline ExecutorQuery currentExecutor() { return {}; }

// Bridges a callback API: `start` receives a function to call once with the
// result, from any thread; the task resumes on the executor with that value.
template <class T>
class CallbackAwaiter {
public:
    using Resume = std::function<void(T)>;
    explicit CallbackAwaiter(std::function<void(Resume)> start) : start_(std::move(start)) {}

    bool await_ready() const noexcept { return false; }

    template <detail::TaskPromise P>
    void await_suspend(std::coroutine_handle<P> h) {
        auto self = h.promise().ctx->shared_from_this();
        slot_ = std::make_shared<std::optional<T>>();
        auto once = std::make_shared<std::atomic<bool>>(false);
        start_([self, h, slot = slot_, once](T value) mutable {
            if (once->exchange(true)) return;
            Executor* executor = self->executor;
            executor->post([self = std::move(self), h, slot, value = std::move(value)]() mutable {
                *slot = std::move(value);
                if (self->alive()) h.resume();
            });
        });
    }

    T await_resume() { return std::move(**slot_); }

private:
    std::function<void(Resume)> start_;
    std::shared_ptr<std::optional<T>> slot_;
};

template <class T>
CallbackAwaiter<T> awaitCallback(std::function<void(std::function<void(T)>)> start) {
    return CallbackAwaiter<T>(std::move(start));
}

// Runs jobs away from the main thread.
class WorkRunner {
public:
    virtual ~WorkRunner() = default;
    virtual void run(std::function<void()> job) = 0;
};

// Runs jobs at once on the calling thread; for deterministic tests.
class InlineWorkRunner final : public WorkRunner {
public:
    void run(std::function<void()> job) override { job(); }
};

namespace detail {
template <class R>
struct Outcome {
    std::optional<std::conditional_t<std::is_void_v<R>, std::monostate, R>> value;
    std::exception_ptr error;
};
}  // namespace detail

// `co_await runInBackground(runner, fn)`: runs fn on the runner and resumes on
// the executor with its result (or its exception).
template <class F, class R = std::invoke_result_t<F&>>
Task<R> runInBackground(WorkRunner& runner, F fn) {
    // Built outside the co_await expression: GCC 12 destroys closure
    // temporaries of a co_await full-expression twice.
    auto job = std::make_shared<F>(std::move(fn));
    std::function<void(std::function<void(detail::Outcome<R>)>)> start =
        [&runner, job](std::function<void(detail::Outcome<R>)> resume) {
            runner.run([job, resume = std::move(resume)] {
                detail::Outcome<R> out;
                try {
                    if constexpr (std::is_void_v<R>) {
                        (*job)();
                        out.value.emplace();
                    } else {
                        out.value.emplace((*job)());
                    }
                } catch (...) {
                    out.error = std::current_exception();
                }
                resume(std::move(out));
            });
        };
    CallbackAwaiter<detail::Outcome<R>> awaiter(std::move(start));
    auto outcome = co_await awaiter;
    if (outcome.error) std::rethrow_exception(outcome.error);
    if constexpr (!std::is_void_v<R>) co_return std::move(*outcome.value);
}

}  // namespace quillant
