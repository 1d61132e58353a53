#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "clipboard/Pasteboard.h"
#include "platform/linux/x11/SelectionPolicy.h"
#include "runtime/Logger.h"

namespace quillant::linux_platform {

// The Wayland clipboard through a data-control protocol
// (ext_data_control_manager_v1, preferred, or zwlr_data_control_manager_v1:
// the same requests and events under two names), which lets a program
// without a window read and set the seat's selection.
//
// Every MIME type keeps its own name and exact bytes. The bounds are those
// of the X11 clipboard (X11ClipboardLimits): a time bound per answer and per
// read pass, a size bound per type and per pass. Large content we serve is
// written from a thread of its own, dropped when the reader stops taking it.
//
// Data-control does not say who reads our content: a clipboard manager and
// the pasting application look the same. So the read counts are of reads by
// anyone, whatever window is asked about. The pause after a paste is then
// never shorter than the fixed one, and longer only while nobody has read
// the text yet.
//
// It has its own connection: the host watches fd() and calls
// processPendingEvents() when it is readable. Main thread only.
class WaylandClipboard final : public clipboard::Pasteboard {
public:
    // Connects to `display` (empty: $WAYLAND_DISPLAY). Throws
    // std::runtime_error without a compositor, a seat or a data-control global.
    explicit WaylandClipboard(Logger& logger, const std::string& display = {}, X11ClipboardLimits limits = {});
    ~WaylandClipboard() override;
    WaylandClipboard(const WaylandClipboard&) = delete;
    WaylandClipboard& operator=(const WaylandClipboard&) = delete;

    // The data-control global in use.
    const std::string& protocol() const;

    int fd() const;
    // False once the connection is lost or the seat went away.
    bool connected() const;
    void processPendingEvents();

    // clipboard::Pasteboard
    std::int64_t changeCount() override;
    // Told of every selection event of the data-control device (our own
    // selection's echo included), as processPendingEvents() reads it.
    std::optional<Subscription> onChange(std::function<void()> observer) override;
    std::int64_t readFailures() override;
    std::optional<std::int64_t> contentReadCount() override;
    std::optional<std::int64_t> textReadsBy(std::optional<clipboard::WindowId> window) override;
    std::size_t itemCount() override;
    std::vector<std::string> types(std::size_t item) override;
    std::optional<clipboard::Bytes> data(std::size_t item, const std::string& type) override;
    std::optional<clipboard::Bytes> dataForType(const std::string& type) override;
    // For the plain-text names this also takes the other plain-text types an
    // owner may offer instead (STRING converted from Latin-1). Text that is
    // not UTF-8 gives nothing.
    std::optional<std::string> stringForType(const std::string& type) override;
    // Sets a selection that offers nothing, so that a paste gives nothing and
    // a clipboard manager does not put old content back.
    void clearContents() override;
    // One selection holds one item: only the first is offered.
    void writeItems(const std::vector<clipboard::PasteboardItemData>& items) override;
    // A write replaces the clipboard whole: one change of owner.
    void replaceContents(const std::vector<clipboard::PasteboardItemData>& items) override { writeItems(items); }

    bool ownsClipboard();
    // What we offer while we own the clipboard, type by type.
    std::vector<std::pair<std::string, clipboard::Bytes>> ownedEntries();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace quillant::linux_platform
