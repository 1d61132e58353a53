#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "clipboard/Bytes.h"
#include "clipboard/FocusInspector.h"
#include "runtime/Observable.h"

namespace quillant::clipboard {

// One clipboard item to be written: its types in the order they were set.
// Setting a type again replaces its bytes in place.
struct PasteboardItemData {
    std::vector<std::pair<std::string, Bytes>> entries;

    void set(const std::string& type, Bytes bytes) {
        for (auto& [t, b] : entries)
            if (t == type) {
                b = std::move(bytes);
                return;
            }
        entries.emplace_back(type, std::move(bytes));
    }
    const Bytes* find(const std::string& type) const {
        for (auto& [t, b] : entries)
            if (t == type) return &b;
        return nullptr;
    }
    bool operator==(const PasteboardItemData&) const = default;
};

// The system clipboard as the broker needs it. Realised by the X11 clipboard
// on Linux and by a scriptable substitute in tests. Main thread only.
class Pasteboard {
public:
    virtual ~Pasteboard() = default;

    // Moves whenever anyone (this process included) writes to or clears the clipboard.
    virtual std::int64_t changeCount() = 0;

    // Where the platform announces every new clipboard owner (XFixes on X11,
    // data-control on Wayland): `observer` is called each time such an
    // announcement has arrived, until the subscription is dropped. It runs
    // inside the platform's event handling, so it must not call back into the
    // pasteboard. Nothing where no announcement exists; there a change is only
    // seen by asking changeCount() again.
    virtual std::optional<Subscription> onChange(std::function<void()> observer) {
        (void)observer;
        return std::nullopt;
    }

    // The clipboard's items in order (may be empty).
    virtual std::size_t itemCount() = 0;
    // One item's type names, in the order the item lists them.
    virtual std::vector<std::string> types(std::size_t item) = 0;
    // The bytes one item holds for a type, or nothing when they cannot be read.
    virtual std::optional<Bytes> data(std::size_t item, const std::string& type) = 0;

    // The bytes of the first item that holds the type, or nothing.
    virtual std::optional<Bytes> dataForType(const std::string& type) = 0;
    // The plain text under the given plain-text type, or nothing.
    virtual std::optional<std::string> stringForType(const std::string& type) = 0;

    // How often other programs have read our own content (not merely its list
    // of types) so far; nothing where the platform cannot tell. On X11 a paste
    // reads the clipboard some time after the paste keystroke.
    virtual std::optional<std::int64_t> contentReadCount() { return std::nullopt; }

    // How often the application that owns `window` has read our own text (the
    // plain text, or a container that holds it) so far; with no window, reads
    // by anyone. Nothing where the platform cannot tell. A clipboard manager
    // reads every new clipboard at once; only the pasting application's reads
    // say that the paste has happened.
    virtual std::optional<std::int64_t> textReadsBy(std::optional<WindowId> window) {
        (void)window;
        return contentReadCount();
    }

    // How many requests of any kind, the list of types included, the
    // application that owns `window` has sent us so far; nothing where the
    // platform cannot tell. A paste that asks for anything after it seemed
    // done had stalled.
    virtual std::optional<std::int64_t> requestsBy(std::optional<WindowId> window) {
        (void)window;
        return std::nullopt;
    }

    // How many reads of another program's clipboard have failed so far because
    // the owner did not answer in time. A snapshot taken while this moved is
    // missing what the owner could not deliver.
    virtual std::int64_t readFailures() { return 0; }

    virtual void clearContents() = 0;
    // Places the items on the clipboard in one step.
    virtual void writeItems(const std::vector<PasteboardItemData>& items) = 0;
    // The clipboard afterwards holds just these items. Where a write already
    // replaces what was there (X11, Wayland), it is one change of owner
    // rather than a clear and a write, each a few round trips.
    // Announces what we hold once more, unchanged, as a new owner would. An
    // application whose paste stalled until the clipboard's next announcement
    // then reads our content rather than what replaces it. False where
    // nothing was announced (we do not hold the clipboard, or the platform
    // has no such announcement).
    virtual bool reannounce() { return false; }
    // Sends the application that owns `window` one event that changes nothing,
    // so that an event loop with work queued but not woken looks at it again.
    // False where nothing was sent (it never asked us for anything, or the
    // platform has no such event).
    virtual bool wake(std::optional<WindowId> window) {
        (void)window;
        return false;
    }
    virtual void replaceContents(const std::vector<PasteboardItemData>& items) {
        clearContents();
        writeItems(items);
    }
};

}  // namespace quillant::clipboard
