#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "clipboard/Pasteboard.h"
#include "platform/linux/x11/SelectionPolicy.h"
#include "runtime/Logger.h"

namespace quillant::linux_platform {

// One target as the owner handed it over: its bytes and the property type
// and format they came in.
struct SelectionData {
    std::string type;
    int format = 8;
    clipboard::Bytes bytes;
};

// The X11 CLIPBOARD selection spoken directly over xcb, so that every target
// keeps its own name and exact bytes (toolkit clipboards merge, rename and
// convert targets).
//
// It has its own connection. The host watches fd() and calls
// processPendingEvents() when it is readable; serving other programs
// (TARGETS, TIMESTAMP, MULTIPLE, incremental transfers) happens there. Every
// call handles the events it has read before it returns, so watching fd()
// is enough.
// Reading a foreign owner waits synchronously, within the bounds of
// X11ClipboardLimits, and keeps serving requests addressed to us meanwhile.
//
// X11 has one item with many targets: itemCount() is 0 or 1.
// Main thread only.
class X11Clipboard final : public clipboard::Pasteboard {
public:
    // Connects to `display` (empty: $DISPLAY). Throws std::runtime_error when
    // the display cannot be opened or lacks the XFIXES extension.
    explicit X11Clipboard(Logger& logger, const std::string& display = {}, X11ClipboardLimits limits = {});
    ~X11Clipboard() override;
    X11Clipboard(const X11Clipboard&) = delete;
    X11Clipboard& operator=(const X11Clipboard&) = delete;

    // The connection's descriptor, to be watched for readability.
    int fd() const;
    // False once the connection to the X server is lost: stop watching fd().
    bool connected() const;
    // Handles everything the server has sent; never blocks.
    void processPendingEvents();

    // clipboard::Pasteboard
    std::int64_t changeCount() override;
    // Told of every XFixes announcement of an owner other than ourselves, as
    // the host's processPendingEvents() (or any other call) reads it.
    std::optional<Subscription> onChange(std::function<void()> observer) override;
    std::optional<std::int64_t> contentReadCount() override;
    // Reads of our text by the X client that created `window`: X gives each
    // client its own range of resource ids, so a request's requestor window
    // tells which client asked. A clipboard manager is another client.
    std::optional<std::int64_t> textReadsBy(std::optional<clipboard::WindowId> window) override;
    // Requests of any kind for the clipboard from that client, counted alike.
    std::optional<std::int64_t> requestsBy(std::optional<clipboard::WindowId> window) override;
    // Requests to a foreign owner that got no answer within the bounds.
    std::int64_t readFailures() override;
    std::size_t itemCount() override;
    std::vector<std::string> types(std::size_t item) override;
    std::optional<clipboard::Bytes> data(std::size_t item, const std::string& type) override;
    std::optional<clipboard::Bytes> dataForType(const std::string& type) override;
    // For the plain-text names (text/plain;charset=utf-8, UTF8_STRING) this
    // also takes the other plain-text targets an owner may offer instead,
    // STRING converted from Latin-1. Text that is not UTF-8 gives nothing.
    std::optional<std::string> stringForType(const std::string& type) override;
    // We take the clipboard and offer nothing, so that a paste gives nothing
    // and a clipboard manager does not put old content back.
    void clearContents() override;
    // X11 holds one item: only the first is served. An item with
    // text/plain;charset=utf-8 but no UTF8_STRING is offered under
    // UTF8_STRING too, the name every X11 program asks for.
    void writeItems(const std::vector<clipboard::PasteboardItemData>& items) override;
    // A write replaces the clipboard whole: one change of owner.
    void replaceContents(const std::vector<clipboard::PasteboardItemData>& items) override { writeItems(items); }
    // Takes the clipboard again with what we hold: every watcher hears of a new owner.
    bool reannounce() override;
    // A ClientMessage of a private type, to the window the application that
    // owns `window` last asked us from: toolkits drop types they do not know.
    bool wake(std::optional<clipboard::WindowId> window) override;

    // Whether this process owns the clipboard right now.
    bool ownsClipboard();
    // The owner's full answer to TARGETS, protocol targets included.
    std::vector<std::string> ownerTargets();
    // One target with its property type and format.
    std::optional<SelectionData> fetch(const std::string& target);

    // When we own the clipboard, asks a running clipboard manager to take a
    // copy (ICCCM SAVE_TARGETS), serving it meanwhile, so that the content
    // outlives this process. True when the manager confirmed within `bound`.
    bool handOverToClipboardManager(std::chrono::milliseconds bound = std::chrono::milliseconds(3000));

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace quillant::linux_platform
