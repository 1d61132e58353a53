#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <utility>

namespace quillant {

// Disconnects its observer when destroyed.
class Subscription {
public:
    Subscription() = default;
    explicit Subscription(std::function<void()> cancel) : cancel_(std::move(cancel)) {}
    Subscription(Subscription&& other) noexcept : cancel_(std::exchange(other.cancel_, {})) {}
    Subscription& operator=(Subscription&& other) noexcept {
        if (this != &other) {
            reset();
            cancel_ = std::exchange(other.cancel_, {});
        }
        return *this;
    }
    Subscription(const Subscription&) = delete;
    Subscription& operator=(const Subscription&) = delete;
    ~Subscription() { reset(); }
    void reset() {
        if (cancel_) std::exchange(cancel_, {})();
    }

private:
    std::function<void()> cancel_;
};

// Main-thread signal; observers may subscribe or unsubscribe while it is emitted.
class Signal {
public:
    Signal() : observers_(std::make_shared<Map>()) {}
    Signal(const Signal&) = delete;
    Signal& operator=(const Signal&) = delete;

    [[nodiscard]] Subscription connect(std::function<void()> observer) {
        auto id = next_++;
        (*observers_)[id] = std::make_shared<std::function<void()>>(std::move(observer));
        std::weak_ptr<Map> weak = observers_;
        return Subscription([weak, id] {
            if (auto map = weak.lock()) map->erase(id);
        });
    }

    void notify() const {
        auto snapshot = *observers_;
        for (auto& [id, fn] : snapshot)
            if (observers_->count(id)) (*fn)();
    }

    std::size_t size() const { return observers_->size(); }

private:
    using Map = std::map<std::uint64_t, std::shared_ptr<std::function<void()>>>;
    std::shared_ptr<Map> observers_;
    std::uint64_t next_ = 1;
};

// An object whose observers hear about every change of a published field
// before the new value takes effect.
class ObservableObject {
public:
    [[nodiscard]] Subscription onWillChange(std::function<void()> observer) const {
        return willChange_.connect(std::move(observer));
    }

protected:
    ObservableObject() = default;
    ~ObservableObject() = default;
    void notifyWillChange() const { willChange_.notify(); }

private:
    template <class T>
    friend class Published;
    mutable Signal willChange_;
};

// A published field: every assignment first tells the owner's observers.
template <class T>
class Published {
public:
    Published(ObservableObject& owner, T initial) : owner_(&owner), value_(std::move(initial)) {}
    Published(const Published&) = delete;
    Published& operator=(const Published&) = delete;

    const T& get() const { return value_; }
    operator const T&() const { return value_; }
    const T* operator->() const { return &value_; }

    Published& operator=(T value) {
        set(std::move(value));
        return *this;
    }
    void set(T value) {
        owner_->notifyWillChange();
        value_ = std::move(value);
        if (!didSet_) return;
        auto snapshot = *didSet_;
        for (auto& [id, fn] : snapshot)
            if (didSet_->count(id)) (*fn)(value_);
    }

    // Called after each assignment with the new value (the owner's observers
    // heard before it).
    [[nodiscard]] Subscription onDidSet(std::function<void(const T&)> observer) const {
        if (!didSet_) didSet_ = std::make_shared<Observers>();
        auto id = nextId_++;
        (*didSet_)[id] = std::make_shared<std::function<void(const T&)>>(std::move(observer));
        std::weak_ptr<Observers> weak = didSet_;
        return Subscription([weak, id] {
            if (auto map = weak.lock()) map->erase(id);
        });
    }

private:
    using Observers = std::map<std::uint64_t, std::shared_ptr<std::function<void(const T&)>>>;
    ObservableObject* owner_;
    T value_;
    mutable std::shared_ptr<Observers> didSet_;
    mutable std::uint64_t nextId_ = 1;
};

}  // namespace quillant
