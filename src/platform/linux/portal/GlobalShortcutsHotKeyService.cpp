#include "platform/linux/portal/GlobalShortcutsHotKeyService.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QObject>

#include "hotkey/Key.h"
#include "platform/linux/portal/PortalKeyboardMap.h"
#include "platform/linux/x11/KeysymTable.h"

namespace {

// One entry of the portal's a(sa{sv}) shortcut lists.
struct PortalShortcut {
    QString id;
    QVariantMap properties;
};

QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut) {
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut) {
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

}  // namespace

Q_DECLARE_METATYPE(PortalShortcut)

namespace quillant::linux_platform {

namespace {

const QString kInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
constexpr Duration kQuickBound = std::chrono::seconds(10);
// Binding may show the user a dialog; they may take their time.
constexpr Duration kDialogBound = std::chrono::minutes(3);

void registerTypes() {
    static const bool done = [] {
        qDBusRegisterMetaType<PortalShortcut>();
        qDBusRegisterMetaType<QList<PortalShortcut>>();
        return true;
    }();
    (void)done;
}

QList<PortalShortcut> shortcutsFrom(const QVariant& value) {
    QList<PortalShortcut> list;
    if (value.canConvert<QDBusArgument>()) value.value<QDBusArgument>() >> list;
    return list;
}

PortalShortcut shortcutFor(const std::string& description, const std::string& preferred) {
    QVariantMap properties;
    properties.insert(QStringLiteral("description"), QString::fromStdString(description));
    properties.insert(QStringLiteral("preferred_trigger"), QString::fromStdString(preferred));
    return PortalShortcut{QString::fromLatin1(GlobalShortcutsHotKeyService::kShortcutId), properties};
}

}  // namespace

std::string describe(GlobalShortcutsHotKeyService::State state) {
    using State = GlobalShortcutsHotKeyService::State;
    switch (state) {
        case State::idle: return "idle";
        case State::binding: return "binding";
        case State::bound: return "bound";
        case State::refused: return "refused";
        case State::failed: return "failed";
        case State::closed: return "closed";
    }
    return "failed";
}

// The portal's signals on its main object, filtered to our session.
class GlobalShortcutsHotKeyService::Signals final : public QObject {
    Q_OBJECT
public:
    explicit Signals(GlobalShortcutsHotKeyService& owner) : owner_(owner) {
        auto& bus = owner_.portal_.bus();
        bus.connect(kPortalService, kPortalPath, kInterface, QStringLiteral("Activated"), this,
                    SLOT(onActivated(QDBusMessage)));
        bus.connect(kPortalService, kPortalPath, kInterface, QStringLiteral("Deactivated"), this,
                    SLOT(onDeactivated(QDBusMessage)));
        bus.connect(kPortalService, kPortalPath, kInterface, QStringLiteral("ShortcutsChanged"), this,
                    SLOT(onShortcutsChanged(QDBusMessage)));
    }
    ~Signals() override {
        auto& bus = owner_.portal_.bus();
        bus.disconnect(kPortalService, kPortalPath, kInterface, QStringLiteral("Activated"), this,
                       SLOT(onActivated(QDBusMessage)));
        bus.disconnect(kPortalService, kPortalPath, kInterface, QStringLiteral("Deactivated"), this,
                       SLOT(onDeactivated(QDBusMessage)));
        bus.disconnect(kPortalService, kPortalPath, kInterface, QStringLiteral("ShortcutsChanged"), this,
                       SLOT(onShortcutsChanged(QDBusMessage)));
    }

public slots:
    void onActivated(const QDBusMessage& message) { forward(message, true); }
    void onDeactivated(const QDBusMessage& message) { forward(message, false); }
    void onShortcutsChanged(const QDBusMessage& message) {
        const auto args = message.arguments();
        if (args.size() < 2 || !owner_.session_ || pathOf(args[0]) != owner_.session_->handle()) return;
        owner_.readShortcuts(args[1]);
    }

private:
    static QString pathOf(const QVariant& value) {
        if (value.metaType() == QMetaType::fromType<QDBusObjectPath>()) return value.value<QDBusObjectPath>().path();
        return value.toString();
    }
    void forward(const QDBusMessage& message, bool pressed) {
        const auto args = message.arguments();
        if (args.size() < 2) return;
        owner_.activated(pathOf(args[0]), args[1].toString(), pressed);
    }
    GlobalShortcutsHotKeyService& owner_;
};

GlobalShortcutsHotKeyService::GlobalShortcutsHotKeyService(PortalConnection& portal, Logger& logger,
                                                           std::string description)
    : portal_(portal), log_(logger, std::string(kLogSubsystem), "hotkeys"), description_(std::move(description)) {
    registerTypes();
    signals_ = std::make_unique<Signals>(*this);
}

GlobalShortcutsHotKeyService::~GlobalShortcutsHotKeyService() {
    *alive_ = false;
    rebind_.cancel();
    signals_.reset();
    session_.reset();
}

bool GlobalShortcutsHotKeyService::offered(PortalConnection& portal) {
    return portal.interfaceVersion(kInterface).has_value();
}

hotkey::HotKeyRegistration GlobalShortcutsHotKeyService::registerEventHotKey(std::uint32_t keyCode,
                                                                             std::uint32_t modifiers,
                                                                             hotkey::EventHotKeyID hotKeyID) {
    const auto key = hotkey::Key::fromCarbonKeyCode(keyCode);
    const std::string trigger = key ? portalTrigger(keysymForKey(*key), modifiers) : std::string();
    if (trigger.empty()) return {-50, std::nullopt};
    current_ = hotKeyID;
    currentHandle_ = nextHandle_++;
    held_ = false;
    if (trigger != preferred_ || state_ != State::bound) {
        preferred_ = trigger;
        if (session_ && session_->open())
            bind();
        else
            startSession();
    }
    return {hotkey::noErr, static_cast<hotkey::EventHotKeyRef>(currentHandle_)};
}

void GlobalShortcutsHotKeyService::unregisterEventHotKey(hotkey::EventHotKeyRef handle) {
    // The portal cannot unbind one shortcut; its events are ignored instead.
    if (static_cast<std::uint64_t>(handle) != currentHandle_) return;
    current_.reset();
    currentHandle_ = 0;
    held_ = false;
}

std::optional<hotkey::EventHandlerRef> GlobalShortcutsHotKeyService::installEventHandler(EventCallback callback) {
    callback_ = std::move(callback);
    return static_cast<hotkey::EventHandlerRef>(++handlerCount_);
}

bool GlobalShortcutsHotKeyService::held() const {
    return held_ || (releasedAt_ && portal_.executor().now() < *releasedAt_ + kLetGoGrace);
}

void GlobalShortcutsHotKeyService::setState(State state) {
    state_ = state;
    if (onChange_) onChange_();
}

void GlobalShortcutsHotKeyService::startSession() {
    if (creating_) return;  // the bind follows the session
    creating_ = true;
    setState(State::binding);
    QVariantMap options;
    // The same token at every start and after the portal restarts: KDE names
    // the shortcut's entry in its settings after it, and an entry under a new
    // name would lose the user's chosen key, or be refused the one the old
    // entry still holds.
    options.insert(QStringLiteral("session_handle_token"), QStringLiteral("quillant_shortcuts"));
    // KDE Plasma 5.27 takes the shortcuts, with their proposed triggers, only
    // when the session is created (an early form of the interface); its bind
    // then keeps none. Other desktops ignore the option.
    if (!preferred_.empty())
        options.insert(QStringLiteral("shortcuts"), QVariant::fromValue(QList<PortalShortcut>{shortcutFor(description_, preferred_)}));
    portal_.request(kInterface, QStringLiteral("CreateSession"), {}, options, kQuickBound,
                    [this, alive = alive_](PortalResult result) {
                        if (!*alive) return;
                        creating_ = false;
                        const QString handle = sessionHandleFrom(result.results);
                        if (result.outcome != PortalOutcome::success || handle.isEmpty()) {
                            log_.error("The desktop's shortcut portal gave no session (" + describe(result.outcome) +
                                       "); bind `quillant trigger` in the desktop's shortcut settings for a hotkey in every window");
                            setState(result.outcome == PortalOutcome::failed || result.outcome == PortalOutcome::timedOut
                                         ? State::failed
                                         : State::refused);
                            return;
                        }
                        session_ = std::make_unique<PortalSession>(
                            portal_, handle, [this](PortalSession::End end) { sessionEnded(end); });
                        if (current_) bind();
                    });
}

void GlobalShortcutsHotKeyService::sessionEnded(PortalSession::End end) {
    held_ = false;
    releasedAt_.reset();
    if (end == PortalSession::End::closedByPortal) {
        // The desktop (or the user, through it) ended it: not ours to undo.
        log_.error("The desktop ended the shortcut session; the hotkey is off until quillant starts again");
        setState(State::closed);
        return;
    }
    log_.error("The desktop portal went away; the hotkey is bound again in a moment");
    setState(State::closed);
    rebind_.cancel();
    rebind_ = portal_.executor().schedule(kRebindDelay, [this, alive = alive_] {
        if (!*alive) return;
        // The ended session was the sender of the signal that brought us
        // here, so it goes only now; a registration since may have begun anew.
        if (session_ && !session_->open()) session_.reset();
        if (current_ && !session_) startSession();
    });
}

void GlobalShortcutsHotKeyService::bind() {
    setState(State::binding);
    const QList<PortalShortcut> shortcuts{shortcutFor(description_, preferred_)};
    const QVariantList arguments{QVariant::fromValue(QDBusObjectPath(session_->handle())),
                                 QVariant::fromValue(shortcuts), QString()};
    const std::string proposed = preferred_;
    portal_.request(kInterface, QStringLiteral("BindShortcuts"), arguments, {}, kDialogBound,
                    [this, alive = alive_, proposed](PortalResult result) {
                        if (!*alive) return;
                        if (result.outcome != PortalOutcome::success) {
                            log_.error("The hotkey " + proposed + " was not bound by the desktop's shortcut portal: " +
                                       describe(result.outcome));
                            setState(result.outcome == PortalOutcome::failed || result.outcome == PortalOutcome::timedOut
                                         ? State::failed
                                         : State::refused);
                            return;
                        }
                        readShortcuts(result.results.value(QStringLiteral("shortcuts")));
                        // Some desktops answer the bind without the triggers; then ask for them, and
                        // count it bound only then, so that "bound" says whether a trigger came.
                        if (trigger_.empty()) {
                            listShortcuts();
                            return;
                        }
                        setState(State::bound);
                        log_.info("Hotkey bound by the desktop's shortcut portal: " + trigger_);
                    });
}

void GlobalShortcutsHotKeyService::listShortcuts() {
    const QVariantList arguments{QVariant::fromValue(QDBusObjectPath(session_->handle()))};
    portal_.request(kInterface, QStringLiteral("ListShortcuts"), arguments, {}, kQuickBound,
                    [this, alive = alive_](PortalResult result) {
                        if (!*alive) return;
                        if (result.outcome == PortalOutcome::success)
                            readShortcuts(result.results.value(QStringLiteral("shortcuts")));
                        setState(State::bound);
                        log_.info("Hotkey bound by the desktop's shortcut portal: " +
                                  (trigger_.empty() ? std::string("no trigger yet (set one in the desktop's shortcut settings)")
                                                    : trigger_));
                    });
}

void GlobalShortcutsHotKeyService::readShortcuts(const QVariant& list) {
    for (const auto& shortcut : shortcutsFrom(list)) {
        if (shortcut.id != QLatin1String(kShortcutId)) continue;
        const std::string shown = shortcut.properties.value(QStringLiteral("trigger_description")).toString().toStdString();
        if (shown == trigger_) return;
        trigger_ = shown;
        if (state_ == State::bound && !trigger_.empty()) log_.info("The desktop's trigger for the hotkey is now " + trigger_);
        if (onChange_) onChange_();
    }
}

void GlobalShortcutsHotKeyService::activated(const QString& session, const QString& shortcut, bool pressed) {
    if (!session_ || session != session_->handle() || shortcut != QLatin1String(kShortcutId) || !current_) return;
    if (pressed == held_) return;  // a repeat, or a release we never saw pressed
    held_ = pressed;
    if (pressed)
        releasedAt_.reset();
    else
        releasedAt_ = portal_.executor().now();
    if (!callback_) return;
    const auto id = *current_;
    callback_(hotkey::HotKeyEvent{pressed ? hotkey::kEventHotKeyPressed : hotkey::kEventHotKeyReleased, hotkey::noErr, id});
    // No release will come: the next activation must count as a new press.
    if (pressed && releasesUnannounced_ && held_) activated(session, shortcut, false);
}

}  // namespace quillant::linux_platform

#include "GlobalShortcutsHotKeyService.moc"
