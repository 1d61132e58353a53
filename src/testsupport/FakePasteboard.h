#pragma once

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "clipboard/Pasteboard.h"
#include "runtime/Executor.h"
#include "runtime/Observable.h"

namespace quillant::testing {

// An in-memory clipboard. Items keep their types in order; the change count
// moves on every clear and write, by us or by "another application". With
// `announces` set, another application's write is announced the way X11 and
// Wayland do; without it there is nothing to hear, as on macOS.
class FakePasteboard final : public clipboard::Pasteboard {
public:
    using Item = clipboard::PasteboardItemData;

    std::int64_t changeCount() override {
        ++changeCountReads;
        return changeCount_;
    }
    std::optional<Subscription> onChange(std::function<void()> observer) override {
        if (!announces) return std::nullopt;
        return changed_.connect(std::move(observer));
    }
    std::size_t itemCount() override {
        if (targetsTimeOut_) {
            ++readFailures_;
            return 0;
        }
        return items_.size();
    }
    std::vector<std::string> types(std::size_t item) override {
        std::vector<std::string> out;
        if (item >= items_.size()) return out;
        for (auto& [type, bytes] : items_[item].entries) out.push_back(type);
        for (auto& extra : listedOnly_[item]) out.push_back(extra);
        return out;
    }
    std::optional<clipboard::Bytes> data(std::size_t item, const std::string& type) override {
        if (item >= items_.size() || unreadable_.count(type)) return std::nullopt;
        if (timingOut_.count(type)) {
            ++readFailures_;
            return std::nullopt;
        }
        if (auto* b = items_[item].find(type)) return *b;
        return std::nullopt;
    }
    std::optional<clipboard::Bytes> dataForType(const std::string& type) override {
        for (std::size_t i = 0; i < items_.size(); ++i)
            if (auto b = data(i, type)) return b;
        return std::nullopt;
    }
    std::optional<std::string> stringForType(const std::string& type) override {
        auto b = dataForType(type);
        if (!b) return std::nullopt;
        return b->str();
    }
    std::optional<std::int64_t> contentReadCount() override { return reads; }
    std::optional<std::int64_t> textReadsBy(std::optional<clipboard::WindowId> window) override {
        if (!reads || !window) return reads;
        auto it = readsByWindow.find(*window);
        return it == readsByWindow.end() ? 0 : it->second;
    }
    std::optional<std::int64_t> requestsBy(std::optional<clipboard::WindowId> window) override {
        if (!reads || !window) return reads.has_value() ? std::optional<std::int64_t>(asks) : std::nullopt;
        auto it = asksByWindow.find(*window);
        return it == asksByWindow.end() ? 0 : it->second;
    }
    std::int64_t readFailures() override { return readFailures_; }
    void clearContents() override {
        items_.clear();
        listedOnly_.clear();
        ++changeCount_;
        ++clears;
    }
    bool reannounce() override {
        if (!announces || items_.empty()) return false;
        ++changeCount_;
        ++reannounces;
        if (onReannounce) onReannounce();
        return true;
    }
    bool wake(std::optional<clipboard::WindowId> window) override {
        ++wakes;
        if (onWake) onWake(window);
        return true;
    }
    void writeItems(const std::vector<Item>& items) override {
        for (auto& i : items) {
            items_.push_back(i);
            listedOnly_.emplace_back();
        }
        ++changeCount_;
        ++writes;
    }

    // --- test controls ---

    // What another application does: clear and write, moving the count.
    void setItems(std::vector<Item> items) {
        clearContents();
        writeItems(items);
        changed_.notify();
    }
    void setString(const std::string& type, const std::string& text) {
        Item item;
        item.set(type, clipboard::Bytes(text));
        setItems({item});
    }
    // A type the item lists but whose bytes can never be read.
    void addUnreadableType(std::size_t item, const std::string& type) {
        if (item < listedOnly_.size()) listedOnly_[item].push_back(type);
    }
    // A type whose bytes cannot be read from any item.
    void makeUnreadable(const std::string& type) { unreadable_.insert(type); }
    // A type whose owner does not answer in time: reading it fails and counts
    // as a read failure.
    void makeTimeOut(const std::string& type) { timingOut_.insert(type); }
    // The owner does not even say what it offers: the clipboard looks empty
    // and the attempt counts as a read failure.
    void makeTargetsTimeOut() { targetsTimeOut_ = true; }
    // The application owning `window` reads our text (also counted in `reads`).
    void readBy(clipboard::WindowId window) {
        reads = reads.value_or(0) + 1;
        ++readsByWindow[window];
        askBy(window);
    }
    // The application owning `window` asks for something other than our
    // text, such as the list of types (counted in requestsBy only).
    void askBy(clipboard::WindowId window) {
        ++asks;
        ++asksByWindow[window];
    }
    // Another application writes after a delay on the executor's clock.
    void writeLater(Executor& executor, Duration delay, std::vector<Item> items) {
        executor.schedule(delay, [this, items = std::move(items)] { setItems(items); });
    }

    const std::vector<Item>& items() const { return items_; }
    // Who still listens for announcements.
    std::size_t changeObservers() const { return changed_.size(); }

    // What contentReadCount() answers: nothing (the platform cannot tell) by default.
    std::optional<std::int64_t> reads;
    std::map<clipboard::WindowId, std::int64_t> readsByWindow;
    std::int64_t asks = 0;
    std::map<clipboard::WindowId, std::int64_t> asksByWindow;
    int clears = 0;
    // With `announces`, reannounce() announces too; what another program does on hearing it.
    int reannounces = 0;
    std::function<void()> onReannounce;
    // Each wake(); what the woken application does.
    int wakes = 0;
    std::function<void(std::optional<clipboard::WindowId>)> onWake;
    int writes = 0;
    int changeCountReads = 0;
    bool announces = false;

private:
    std::vector<Item> items_;
    std::vector<std::vector<std::string>> listedOnly_;
    std::set<std::string> unreadable_;
    std::set<std::string> timingOut_;
    bool targetsTimeOut_ = false;
    std::int64_t readFailures_ = 0;
    std::int64_t changeCount_ = 1;
    Signal changed_;
};

}  // namespace quillant::testing
