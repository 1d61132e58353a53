#include "platform/linux/wayland/WaylandClipboard.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <map>
#include <stdexcept>
#include <thread>

#include "ext-data-control-v1-client-protocol.h"
#include "platform/linux/wayland/WaylandConnection.h"
#include "text/Text.h"
#include "wlr-data-control-unstable-v1-client-protocol.h"

namespace quillant::linux_platform {

namespace {

// Both data-control protocols have the same requests and events in the same
// order with the same arguments; only the interface names differ. So one
// code path speaks either, told which interfaces to create.
struct DataControlInterfaces {
    const wl_interface* manager;
    const wl_interface* device;
    const wl_interface* source;
    const wl_interface* offer;
};
constexpr std::uint32_t kManagerCreateSource = 0, kManagerGetDevice = 1, kManagerDestroy = 2;
constexpr std::uint32_t kDeviceSetSelection = 0, kDeviceDestroy = 1;
constexpr std::uint32_t kSourceOffer = 0, kSourceDestroy = 1;
constexpr std::uint32_t kOfferReceive = 0, kOfferDestroy = 1;

struct DeviceListener {
    void (*dataOffer)(void* data, wl_proxy* device, wl_proxy* offer);
    void (*selection)(void* data, wl_proxy* device, wl_proxy* offer);
    void (*finished)(void* data, wl_proxy* device);
    void (*primarySelection)(void* data, wl_proxy* device, wl_proxy* offer);
};
struct SourceListener {
    void (*send)(void* data, wl_proxy* source, const char* mimeType, std::int32_t fd);
    void (*cancelled)(void* data, wl_proxy* source);
};
struct OfferListener {
    void (*offer)(void* data, wl_proxy* offer, const char* mimeType);
};

void destroyProxy(wl_proxy* proxy, std::uint32_t opcode) {
    if (proxy) wl_proxy_marshal_flags(proxy, opcode, nullptr, wl_proxy_get_version(proxy), WL_MARSHAL_FLAG_DESTROY);
}

// Real owners offer a few dozen types; more is junk we do not look at.
constexpr std::size_t kMaxTypes = 1024;
constexpr std::size_t kReadChunk = 64 << 10;

TimePoint now() { return ContinuousClock::now(); }

std::string sizeText(std::size_t bytes) { return std::to_string(bytes) + " bytes"; }
std::string msText(Duration d) {
    return std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(d).count()) + " ms";
}

int remainingMs(TimePoint deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now()).count();
    return left <= 0 ? 0 : int(std::min<long long>(left, 60000));
}

// Writes what a reader could not take at once, from a thread of its own, so
// that a slow reader never holds the main thread; given up once the reader
// takes nothing for `stale`.
void finishWriteDetached(int fd, std::shared_ptr<const clipboard::Bytes> bytes, std::size_t offset, Duration stale) {
    std::thread([fd, bytes = std::move(bytes), offset, stale]() mutable {
        while (offset < bytes->size()) {
            pollfd p{fd, POLLOUT, 0};
            const int ready = ::poll(&p, 1, int(std::chrono::duration_cast<std::chrono::milliseconds>(stale).count()));
            if (ready <= 0 || (p.revents & (POLLERR | POLLHUP))) break;
            const ssize_t n = ::write(fd, bytes->data() + offset, bytes->size() - offset);
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
            if (n <= 0) break;
            offset += std::size_t(n);
        }
        ::close(fd);
    }).detach();
}

}  // namespace

struct WaylandClipboard::Impl {
    struct Offer {
        wl_proxy* proxy = nullptr;
        std::vector<std::string> types;
    };
    struct Owned {
        wl_proxy* source = nullptr;
        std::vector<std::pair<std::string, std::shared_ptr<const clipboard::Bytes>>> entries;
    };

    CategoryLogger log;
    X11ClipboardLimits limits;
    WaylandConnection connection;
    DataControlInterfaces interfaces{};
    std::string protocolName;
    wl_seat* seat = nullptr;
    wl_proxy* manager = nullptr;
    wl_proxy* device = nullptr;
    bool finished = false;

    std::map<wl_proxy*, std::vector<std::string>> introduced;  // offers not yet placed
    std::optional<Offer> selection;                            // what the seat's selection offers now
    std::optional<Owned> owned;                                // our source, until it is cancelled
    std::int64_t changeCount = 0;
    Signal selectionAnnounced;  // the compositor told of a new selection
    std::int64_t readFailures = 0;
    std::int64_t served = 0;     // requests for our own content
    std::int64_t textServed = 0;  // of which for the text itself
    ReadPass pass;

    Impl(Logger& logger, const std::string& display, X11ClipboardLimits l)
        : log(logger, std::string(kLogSubsystem), "clipboard"),
          limits(l),
          connection(display),
          pass(l.readPassTimeout, l.maxPassBytes) {
        // A reader that goes away mid-transfer must not end us.
        ::signal(SIGPIPE, SIG_IGN);
        const WaylandOffer offer = waylandOffer(connection.globals());
        if (offer.dataControl == kExtDataControl)
            interfaces = {&ext_data_control_manager_v1_interface, &ext_data_control_device_v1_interface,
                          &ext_data_control_source_v1_interface, &ext_data_control_offer_v1_interface};
        else if (offer.dataControl == kWlrDataControl)
            interfaces = {&zwlr_data_control_manager_v1_interface, &zwlr_data_control_device_v1_interface,
                          &zwlr_data_control_source_v1_interface, &zwlr_data_control_offer_v1_interface};
        else
            throw std::runtime_error("the compositor offers no data-control protocol (" + std::string(kExtDataControl) +
                                     " or " + kWlrDataControl + ")");
        protocolName = offer.dataControl;
        seat = static_cast<wl_seat*>(connection.bind("wl_seat", &wl_seat_interface, 1));
        if (!seat) throw std::runtime_error("the compositor offers no seat");
        // Version 1 of either has everything we use: the regular selection.
        manager = static_cast<wl_proxy*>(connection.bind(protocolName, interfaces.manager, 1));
        device = wl_proxy_marshal_flags(manager, kManagerGetDevice, interfaces.device, wl_proxy_get_version(manager), 0,
                                        nullptr, seat);
        static const DeviceListener deviceListener{
            [](void* data, wl_proxy*, wl_proxy* offer) { static_cast<Impl*>(data)->onDataOffer(offer); },
            [](void* data, wl_proxy*, wl_proxy* offer) { static_cast<Impl*>(data)->onSelection(offer); },
            [](void* data, wl_proxy*) { static_cast<Impl*>(data)->onFinished(); },
            [](void* data, wl_proxy*, wl_proxy* offer) { static_cast<Impl*>(data)->onPrimarySelection(offer); }};
        wl_proxy_add_listener(device, reinterpret_cast<void (**)(void)>(const_cast<DeviceListener*>(&deviceListener)),
                              this);
        // The first selection event comes upon getting the device.
        if (!connection.roundtrip()) throw std::runtime_error("the compositor refused the data-control device");
    }

    ~Impl() {
        for (auto& [proxy, types] : introduced) destroyProxy(proxy, kOfferDestroy);
        if (selection) destroyProxy(selection->proxy, kOfferDestroy);
        if (owned) destroyProxy(owned->source, kSourceDestroy);
        if (device && !finished) destroyProxy(device, kDeviceDestroy);
        destroyProxy(manager, kManagerDestroy);
        if (seat) wl_seat_destroy(seat);
        connection.flush();
    }

    // ---- events

    void onDataOffer(wl_proxy* offer) {
        introduced[offer];
        static const OfferListener offerListener{[](void* data, wl_proxy* o, const char* mime) {
            auto& self = *static_cast<Impl*>(data);
            auto it = self.introduced.find(o);
            // An X11 owner seen through XWayland may list the selection protocol's own
            // targets (TARGETS, TIMESTAMP…) as if they were content; the bridge never
            // answers for them, and offered back they would mislead X11 readers.
            if (it != self.introduced.end() && it->second.size() < kMaxTypes && isContentTarget(mime) &&
                std::find(it->second.begin(), it->second.end(), mime) == it->second.end())
                it->second.emplace_back(mime);
        }};
        wl_proxy_add_listener(offer, reinterpret_cast<void (**)(void)>(const_cast<OfferListener*>(&offerListener)),
                              this);
    }

    void onSelection(wl_proxy* offer) {
        if (selection) destroyProxy(selection->proxy, kOfferDestroy);
        selection.reset();
        if (offer) {
            auto it = introduced.find(offer);
            selection = Offer{offer, it != introduced.end() ? std::move(it->second) : std::vector<std::string>{}};
            if (it != introduced.end()) introduced.erase(it);
        }
        ++changeCount;
        selectionAnnounced.notify();
    }

    void onPrimarySelection(wl_proxy* offer) {
        // We keep to the clipboard; the primary selection's offers are let go at once.
        if (!offer) return;
        introduced.erase(offer);
        destroyProxy(offer, kOfferDestroy);
    }

    void onFinished() {
        finished = true;
        log.error("the compositor ended our clipboard access (the seat went away)");
        destroyProxy(device, kDeviceDestroy);
        device = nullptr;
    }

    void onSend(wl_proxy* source, const std::string& mime, int fd) {
        if (!owned || owned->source != source) {
            ::close(fd);
            return;
        }
        auto it = std::find_if(owned->entries.begin(), owned->entries.end(), [&](auto& e) { return e.first == mime; });
        if (it == owned->entries.end()) {
            ::close(fd);
            return;
        }
        ++served;
        if (carriesText(mime)) ++textServed;
        const auto& bytes = it->second;
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        std::size_t offset = 0;
        while (offset < bytes->size()) {
            const ssize_t n = ::write(fd, bytes->data() + offset, bytes->size() - offset);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            offset += std::size_t(n);
        }
        if (offset < bytes->size() && errno == EAGAIN) {
            finishWriteDetached(fd, bytes, offset, limits.staleTransferTimeout);
            return;
        }
        ::close(fd);
    }

    void onCancelled(wl_proxy* source) {
        if (owned && owned->source == source) owned.reset();
        destroyProxy(source, kSourceDestroy);
    }

    // ---- ownership

    bool usable() const { return !finished && device && !connection.broken(); }

    void drain() { connection.dispatchPending(); }

    void setSelection(std::vector<std::pair<std::string, std::shared_ptr<const clipboard::Bytes>>> entries) {
        if (!usable()) return;
        drain();
        wl_proxy* source = wl_proxy_marshal_flags(manager, kManagerCreateSource, interfaces.source,
                                                  wl_proxy_get_version(manager), 0, nullptr);
        static const SourceListener sourceListener{
            [](void* data, wl_proxy* s, const char* mime, std::int32_t fd) {
                static_cast<Impl*>(data)->onSend(s, mime, fd);
            },
            [](void* data, wl_proxy* s) { static_cast<Impl*>(data)->onCancelled(s); }};
        wl_proxy_add_listener(source, reinterpret_cast<void (**)(void)>(const_cast<SourceListener*>(&sourceListener)),
                              this);
        for (auto& [mime, bytes] : entries)
            wl_proxy_marshal_flags(source, kSourceOffer, nullptr, wl_proxy_get_version(source), 0, mime.c_str());
        // A previous source of ours is no longer served; the compositor cancels it.
        owned = Owned{source, std::move(entries)};
        const std::int64_t before = changeCount;
        wl_proxy_marshal_flags(device, kDeviceSetSelection, nullptr, wl_proxy_get_version(device), 0, source);
        // The compositor tells every data-control client of the new selection,
        // us included: that echo moves the change count, once.
        connection.roundtrip();
        if (changeCount == before) ++changeCount;
    }

    bool weOwn() {
        drain();
        return usable() && owned.has_value();
    }

    const std::shared_ptr<const clipboard::Bytes>* ownEntry(const std::string& mime) const {
        for (auto& [m, b] : owned->entries)
            if (m == mime) return &b;
        return nullptr;
    }

    // ---- reading another program's selection

    struct PassScope {
        explicit PassScope(Impl& i) : pass(i.pass) {
            i.drain();
            pass.begin(now(), i.changeCount);
        }
        ~PassScope() { pass.end(now()); }
        ReadPass& pass;
    };

    std::vector<std::string> contentTypes() {
        if (weOwn()) {
            std::vector<std::string> out;
            for (auto& [m, b] : owned->entries) out.push_back(m);
            return out;
        }
        if (!usable() || !selection) return {};
        return selection->types;
    }

    std::optional<clipboard::Bytes> content(const std::string& mime) {
        if (weOwn()) {
            auto* e = ownEntry(mime);
            return e ? std::optional(**e) : std::nullopt;
        }
        if (!usable() || !selection) return std::nullopt;
        if (std::find(selection->types.begin(), selection->types.end(), mime) == selection->types.end())
            return std::nullopt;
        PassScope scope(*this);
        return receive(mime);
    }

    std::optional<clipboard::Bytes> receive(const std::string& mime) {
        if (pass.expired(now())) {
            ++readFailures;
            log.error("left " + mime + " out of the clipboard copy: its owner used up the time for reading");
            return std::nullopt;
        }
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return std::nullopt;
        wl_proxy_marshal_flags(selection->proxy, kOfferReceive, nullptr, wl_proxy_get_version(selection->proxy), 0,
                               mime.c_str(), fds[1]);
        ::close(fds[1]);
        connection.flush();
        const std::size_t allowance = pass.allowance(limits.maxTargetBytes);
        std::string bytes;
        char buffer[kReadChunk];
        for (;;) {
            pollfd p{fds[0], POLLIN, 0};
            const int ready = ::poll(&p, 1, remainingMs(pass.waitDeadline(now(), limits.requestTimeout)));
            if (ready < 0 && errno == EINTR) continue;
            if (ready <= 0) {
                ::close(fds[0]);
                ++readFailures;
                log.error(bytes.empty() ? "the clipboard owner did not answer for " + mime + " within " +
                                              msText(limits.requestTimeout)
                                        : "the clipboard owner stopped sending " + mime + " after " +
                                              sizeText(bytes.size()));
                return std::nullopt;
            }
            const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (n <= 0) break;  // the owner closed its end: that is all
            if (bytes.size() + std::size_t(n) > allowance) {
                ::close(fds[0]);
                log.error("left " + mime + " out of the clipboard copy: it is over the bound of " +
                          sizeText(allowance));
                return std::nullopt;
            }
            bytes.append(buffer, std::size_t(n));
        }
        ::close(fds[0]);
        pass.consume(bytes.size());
        return clipboard::Bytes(std::move(bytes));
    }
};

WaylandClipboard::WaylandClipboard(Logger& logger, const std::string& display, X11ClipboardLimits limits)
    : impl_(std::make_unique<Impl>(logger, display, limits)) {}

WaylandClipboard::~WaylandClipboard() = default;

const std::string& WaylandClipboard::protocol() const { return impl_->protocolName; }

int WaylandClipboard::fd() const { return impl_->connection.fd(); }

bool WaylandClipboard::connected() const { return impl_->usable(); }

void WaylandClipboard::processPendingEvents() { impl_->drain(); }

std::int64_t WaylandClipboard::changeCount() {
    impl_->drain();
    return impl_->changeCount;
}

std::optional<Subscription> WaylandClipboard::onChange(std::function<void()> observer) {
    return impl_->selectionAnnounced.connect(std::move(observer));
}

std::int64_t WaylandClipboard::readFailures() {
    impl_->drain();
    return impl_->readFailures;
}

std::size_t WaylandClipboard::itemCount() { return impl_->contentTypes().empty() ? 0 : 1; }

std::vector<std::string> WaylandClipboard::types(std::size_t item) {
    if (item != 0) return {};
    return impl_->contentTypes();
}

std::optional<clipboard::Bytes> WaylandClipboard::data(std::size_t item, const std::string& type) {
    if (item != 0) return std::nullopt;
    return impl_->content(type);
}

std::optional<clipboard::Bytes> WaylandClipboard::dataForType(const std::string& type) {
    return impl_->content(type);
}

std::optional<std::string> WaylandClipboard::stringForType(const std::string& type) {
    auto candidates = plainTextFallbacks(type);
    if (candidates.empty()) {
        auto b = impl_->content(type);
        if (!b || !text::isValidUTF8(b->view())) return std::nullopt;
        return b->str();
    }
    Impl::PassScope scope(*impl_);
    for (auto& name : candidates) {
        auto b = impl_->content(name);
        if (!b) continue;
        if (name == "STRING") return latin1ToUTF8(b->view());
        if (text::isValidUTF8(b->view())) return b->str();
    }
    return std::nullopt;
}

void WaylandClipboard::clearContents() { impl_->setSelection({}); }

void WaylandClipboard::writeItems(const std::vector<clipboard::PasteboardItemData>& items) {
    std::vector<std::pair<std::string, std::shared_ptr<const clipboard::Bytes>>> entries;
    if (!items.empty())
        for (auto& [type, bytes] : items.front().entries) {
            if (type.empty() || entries.size() >= kMaxTypes) continue;
            entries.emplace_back(type, std::make_shared<const clipboard::Bytes>(bytes));
        }
    impl_->setSelection(std::move(entries));
}

bool WaylandClipboard::ownsClipboard() { return impl_->weOwn(); }

std::vector<std::pair<std::string, clipboard::Bytes>> WaylandClipboard::ownedEntries() {
    std::vector<std::pair<std::string, clipboard::Bytes>> out;
    if (!impl_->weOwn()) return out;
    for (auto& [type, bytes] : impl_->owned->entries) out.emplace_back(type, *bytes);
    return out;
}

std::optional<std::int64_t> WaylandClipboard::contentReadCount() {
    impl_->drain();
    return impl_->served;
}

std::optional<std::int64_t> WaylandClipboard::textReadsBy(std::optional<clipboard::WindowId>) {
    impl_->drain();
    return impl_->textServed;
}

}  // namespace quillant::linux_platform
