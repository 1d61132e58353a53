// The tray icon against real tray hosts on a private X server and a private
// session bus: trayer (XEmbed) and a StatusNotifierWatcher with a host.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <QApplication>
#include <QCursor>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusConnectionInterface>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QScreen>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/linux/qt/QtExecutor.h"
#include "testsupport/RecordingLogger.h"
#include "testsupport/PrivateBus.h"
#include "testsupport/Process.h"
#include "testsupport/TempDir.h"
#include "testsupport/X11TestHarness.h"
#include "ui/DesktopNotifier.h"
#include "ui/TrayIcon.h"

using namespace quillant;
using namespace quillant::testing;
using namespace quillant::ui;
using app::MenuBarState;
using namespace std::chrono_literals;

namespace {

// One X server, one session bus and one QApplication for the test process.
class TrayWorld final : public ::testing::Environment {
public:
    static TrayWorld& get() {
        static TrayWorld* world = [] {
            auto* w = new TrayWorld;
            ::testing::AddGlobalTestEnvironment(w);
            w->start();
            return w;
        }();
        return *world;
    }
    void TearDown() override {
        delete app_;
        app_ = nullptr;
        bus_.reset();
        xvfb_.reset();
    }
    std::vector<std::string> env() const { return {"DISPLAY=" + xvfb_->display(), "DBUS_SESSION_BUS_ADDRESS=" + address_}; }
    const std::string& busAddress() const { return address_; }

private:
    void start() {
        xvfb_.emplace();
        bus_.emplace();
        address_ = bus_->address();
        ::setenv("DISPLAY", xvfb_->display().c_str(), 1);
        ::setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        static int argc = 1;
        static char name[] = "ui_tray_tests";
        static char* argv[] = {name, nullptr};
        app_ = new QApplication(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
    }
    std::optional<Xvfb> xvfb_;
    std::optional<PrivateSessionBus> bus_;
    std::string address_;
    QApplication* app_ = nullptr;
};

bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

void pumpFor(std::chrono::milliseconds d) { pumpUntil([] { return false; }, d); }

struct IconLine {
    int seq = 0;
    long long ns = 0;
    int width = 0, height = 0;
    double alpha = 0;
    int r = 0, g = 0, b = 0;
};

// The watcher program and what it has reported so far.
class Watcher {
public:
    Watcher() : process_(Process::start({SNI_WATCHER_EXE}, TrayWorld::get().env())) {
        if (!waitFor([this] { return ready_; }, 10s)) throw std::runtime_error("the watcher did not start");
    }
    bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds bound) {
        return pumpUntil([&] { return (read(), done()); }, bound);
    }
    void read() {
        while (auto line = process_.readLine(0ms)) {
            std::istringstream in(*line);
            std::string word, service;
            in >> word;
            if (word == "ready") ready_ = true;
            if (word == "registered") ++registrations_;
            if (word == "tooltip") {
                in >> service;
                std::getline(in, toolTip_);
                if (!toolTip_.empty() && toolTip_[0] == ' ') toolTip_.erase(0, 1);
            }
            if (word == "icon") {
                IconLine icon;
                char x;
                in >> service >> icon.seq >> icon.ns >> icon.width >> x >> icon.height >> icon.alpha >> icon.r >> icon.g >>
                    icon.b;
                if (icon.height == 22) icons_.push_back(icon);  // one line per update
            }
        }
    }
    int registrations() const { return registrations_; }
    const std::string& toolTip() const { return toolTip_; }
    const std::vector<IconLine>& icons() const { return icons_; }
    void stop() { process_.terminate(); }

private:
    Process process_;
    bool ready_ = false;
    int registrations_ = 0;
    std::string toolTip_;
    std::vector<IconLine> icons_;
};

struct StateSource : ObservableObject {
    Published<MenuBarState> state{*this, MenuBarState::idle};
};

bool isGreen(int r, int g, int b) { return g > r + 40 && g > b + 20; }
bool isAmber(int r, int g, int b) { return r >= g && r > b + 80 && g > b + 50; }

struct ImageStats {
    double luminance = 0;
    int r = 0, g = 0, b = 0;  // mean colour of the pixels unlike the panel
};

class TrayHosts : public ::testing::Test {
protected:
    TrayWorld& world = TrayWorld::get();
    linux_platform::QtExecutor executor;
    RecordingLogger logs;
    StateSource source;
    std::optional<Process> trayer;
    std::unique_ptr<TrayIcon> tray;
    std::vector<std::pair<QRect, QPoint>> clicks;

    void TearDown() override {
        tray.reset();
        if (trayer) trayer->terminate();
        pumpFor(50ms);
    }

    void startTrayer(const char* edge = "top") {
        trayer = Process::start({"trayer", "--edge", edge, "--align", "right", "--widthtype", "pixel", "--width", "120",
                                 "--height", "24", "--tint", "0xdddddd", "--transparent", "true", "--alpha", "0"},
                                world.env(), true);
    }
    void makeTray() {
        tray = std::make_unique<TrayIcon>(executor, source.state, logs);
        QObject::connect(tray.get(), &TrayIcon::activated,
                         [this](QRect geometry, QPoint pointer) { clicks.emplace_back(geometry, pointer); });
    }
    int run(std::vector<std::string> argv) {
        auto p = Process::start(argv, world.env(), true);
        int status = -1;
        pumpUntil([&] { return !p.running(); }, 20s);
        status = p.wait(1s);
        return status;
    }
    // The program on trayer, its icon docked and clicked: the panel opens
    // under the icon. Fails the test (and returns nothing) otherwise.
    struct OnTrayer {
        TempDir home;
        std::vector<std::string> env;
        std::optional<Process> program;
        QRect icon, panel;
    };
    // The first window of `size` ("22x22", "300x"), on the screen; the icon is
    // named quillant and counts only once it sits inside trayer's panel: before
    // the tray takes it, the icon is a window of its own at the screen's corner.
    std::optional<QRect> windowOfSize(const std::vector<std::string>& env, const std::string& size) {
        auto tree = Process::start({"xwininfo", "-root", "-tree"}, env, true);
        std::istringstream in(tree.readAll(10s));
        tree.wait(5s);
        std::optional<QRect> trayPanel;
        for (std::string line; std::getline(in, line);) {
            const bool isTrayPanel = line.find("(\"panel\" \"trayer\")") != std::string::npos;
            if (size == "22x22" && !isTrayPanel && line.find("quillant") == std::string::npos) continue;
            auto at = line.find(isTrayPanel ? std::string(")  ") : " " + size);
            if (at == std::string::npos) continue;
            int w, h, x, y, ax, ay;
            if (std::sscanf(line.c_str() + at + 1, " %dx%d+%d+%d +%d+%d", &w, &h, &x, &y, &ax, &ay) != 6) continue;
            const QRect found(ax, ay, w, h);
            if (isTrayPanel) {
                trayPanel = found;
                continue;
            }
            if (size == "22x22" && !(trayPanel && trayPanel->contains(found))) continue;
            return found;
        }
        return std::nullopt;
    }
    void openThePanelOnTrayer(OnTrayer& t, const char* edge = "top") {
        startTrayer(edge);
        t.env = world.env();
        t.env.push_back("HOME=" + t.home.path().string());
        t.env.push_back("XDG_CONFIG_HOME=" + (t.home.path() / "config").string());
        t.env.push_back("XDG_RUNTIME_DIR=" + t.home.path().string());
        t.env.push_back("QUILLANT_LOG=stderr");
        t.env.push_back("QUILLANT_SERVICE_URL=http://127.0.0.1:9");
        t.program = Process::start({"/bin/sh", "-c", "exec \"$0\" 2>&1", QUILLANT_EXE}, t.env, false, true);
        std::optional<QRect> icon, settled;
        // Docked and laid out: the same place twice in a row.
        ASSERT_TRUE(pumpUntil([&] {
            settled = icon;
            icon = windowOfSize(t.env, "22x22");
            return icon && settled && *icon == *settled;
        }, 20s)) << "the icon never docked";
        ASSERT_EQ(run({"xdotool", "mousemove", std::to_string(icon->center().x()), std::to_string(icon->center().y()),
                       "click", "1"}),
                  0);
        std::optional<QRect> panel;
        ASSERT_TRUE(pumpUntil([&] { return (panel = windowOfSize(t.env, "300x")).has_value(); }, 10s))
            << "no panel after the click";
        t.icon = *icon;
        t.panel = *panel;
        if (std::string(edge) == "top") {
            EXPECT_GE(panel->top(), icon->bottom()) << "the panel opens under the icon";
            EXPECT_LE(panel->top() - icon->bottom(), 20);
        } else {
            EXPECT_LE(panel->bottom(), icon->top()) << "the panel opens over the icon";
        }
        EXPECT_LE(std::abs(panel->center().x() - icon->center().x()), 300);
    }
    // Whether the panel is on the screen (once made, its window stays, unmapped while closed).
    bool panelViewable(const std::vector<std::string>& env) {
        auto tree = Process::start({"xwininfo", "-root", "-tree"}, env, true);
        std::istringstream in(tree.readAll(10s));
        tree.wait(5s);
        for (std::string line; std::getline(in, line);) {
            if (line.find(" 300x") == std::string::npos) continue;
            std::istringstream words(line);
            std::string id;
            words >> id;
            auto info = Process::start({"xwininfo", "-id", id}, env, true);
            if (info.readAll(10s).find("IsViewable") != std::string::npos) return true;
        }
        return false;
    }
    ImageStats grabIcon() {
        const QRect g = tray->iconGeometry();
        const QImage img = QGuiApplication::primaryScreen()->grabWindow(0, g.x(), g.y(), g.width(), g.height()).toImage();
        const QRgb panel = img.pixel(0, 0);
        ImageStats s;
        double sum = 0;
        long r = 0, gr = 0, b = 0, n = 0;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x) {
                const QRgb p = img.pixel(x, y);
                sum += qGray(p);
                if (std::abs(qGray(p) - qGray(panel)) > 30 || std::abs(qGreen(p) - qGreen(panel)) > 30) {
                    r += qRed(p), gr += qGreen(p), b += qBlue(p), ++n;
                }
            }
        s.luminance = sum / (img.width() * img.height());
        if (n) s.r = int(r / n), s.g = int(gr / n), s.b = int(b / n);
        return s;
    }
};

}  // namespace

TEST_F(TrayHosts, XEmbedTrayShowsTheIconAndAClickGivesItsGeometry) {
    startTrayer();
    makeTray();
    ASSERT_TRUE(pumpUntil([&] { return tray->isShownInTray(); }, 10s)) << "the icon never docked";
    EXPECT_EQ(tray->path(), TrayIcon::Path::xembed);
    pumpFor(300ms);  // docked is not yet mapped: the tray maps the icon a moment later
    const QRect icon = tray->iconGeometry();
    ASSERT_FALSE(icon.isEmpty());

    ASSERT_EQ(run({"xdotool", "mousemove", std::to_string(icon.center().x()), std::to_string(icon.center().y()),
                   "click", "1"}),
              0);
    ASSERT_TRUE(pumpUntil([&] { return !clicks.empty(); }, 5s)) << "no activated() for the click";
    EXPECT_EQ(clicks[0].first, icon);
    EXPECT_TRUE(icon.contains(clicks[0].second)) << clicks[0].second.x() << "," << clicks[0].second.y();
}

TEST_F(TrayHosts, XEmbedTrayShowsThePulseThenTheFlash) {
    startTrayer();
    makeTray();
    ASSERT_TRUE(pumpUntil([&] { return tray->isShownInTray(); }, 10s));
    pumpFor(200ms);
    const ImageStats idle = grabIcon();

    source.state = MenuBarState::loading;
    std::vector<double> seen;
    for (int i = 0; i < 12; ++i) {
        pumpFor(45ms);
        seen.push_back(grabIcon().luminance);
    }
    const auto [lo, hi] = std::minmax_element(seen.begin(), seen.end());
    // The glyph's dark outline fades into the light panel: the icon gets lighter.
    EXPECT_GT(*hi - idle.luminance, 3.0) << "no fade seen on the tray";
    EXPECT_GT(*hi - *lo, 3.0);

    source.state = MenuBarState::ok;
    pumpFor(150ms);
    const ImageStats ok = grabIcon();
    EXPECT_TRUE(isGreen(ok.r, ok.g, ok.b)) << ok.r << " " << ok.g << " " << ok.b;
    source.state = MenuBarState::warn;
    pumpFor(150ms);
    const ImageStats warn = grabIcon();
    EXPECT_TRUE(isAmber(warn.r, warn.g, warn.b)) << warn.r << " " << warn.g << " " << warn.b;
}

TEST_F(TrayHosts, StatusNotifierHostShowsTheIconAndActivateGivesThePointer) {
    Watcher watcher;
    makeTray();
    ASSERT_TRUE(watcher.waitFor([&] { return tray->isShownInTray() && !watcher.icons().empty(); }, 10s));
    EXPECT_EQ(tray->path(), TrayIcon::Path::statusNotifierItem);
    EXPECT_EQ(watcher.registrations(), 1);
    EXPECT_TRUE(tray->iconGeometry().isEmpty());

    // The host's click, as a panel sends it.
    auto tester = QDBusConnection::connectToBus(QString::fromStdString(world.busAddress()), "tester");
    auto call = QDBusMessage::createMethodCall(QStringLiteral("org.kde.StatusNotifierItem-%1-1").arg(::getpid()),
                                               "/StatusNotifierItem", "org.kde.StatusNotifierItem", "Activate");
    call << 640 << 12;
    QDBusPendingCall pending = tester.asyncCall(call);
    ASSERT_TRUE(pumpUntil([&] { return !clicks.empty() && pending.isFinished(); }, 5s));
    EXPECT_FALSE(pending.isError()) << pending.error().message().toStdString();
    EXPECT_TRUE(clicks[0].first.isEmpty());
    EXPECT_EQ(clicks[0].second, QCursor::pos());
    QDBusConnection::disconnectFromBus("tester");
}

TEST_F(TrayHosts, StatusNotifierHostSeesThePulseThenTheFlashAndNothingWhileIdle) {
    Watcher watcher;
    makeTray();
    ASSERT_TRUE(watcher.waitFor([&] { return tray->isShownInTray() && !watcher.icons().empty(); }, 10s));
    watcher.waitFor([] { return false; }, 1s);
    const auto idleUpdates = watcher.icons().size();
    EXPECT_EQ(idleUpdates, 1u) << "icon updates while idle";

    source.state = MenuBarState::loading;
    watcher.waitFor([] { return false; }, 600ms);
    source.state = MenuBarState::ok;
    ASSERT_TRUE(watcher.waitFor([&] {
        auto& i = watcher.icons();
        return !i.empty() && isGreen(i.back().r, i.back().g, i.back().b);
    }, 5s)) << "no check after the pulse";

    std::vector<IconLine> pulse(watcher.icons().begin() + long(idleUpdates), watcher.icons().end() - 1);
    ASSERT_GE(pulse.size(), 5u);
    EXPECT_LE(pulse.size(), 14u);  // about 18 a second for 0.6 s
    EXPECT_NEAR(pulse.front().alpha, watcher.icons().front().alpha, 0.01);  // starts undimmed
    for (std::size_t i = 1; i < std::min<std::size_t>(pulse.size(), 8); ++i)
        EXPECT_LT(pulse[i].alpha, pulse[i - 1].alpha) << "frame " << i;
    const double span = double(pulse.back().ns - pulse.front().ns) / 1e9;
    EXPECT_LE((pulse.size() - 1) / std::max(span, 0.001), 21.0);

    source.state = MenuBarState::warn;
    ASSERT_TRUE(watcher.waitFor([&] {
        auto& i = watcher.icons();
        return isAmber(i.back().r, i.back().g, i.back().b);
    }, 5s));
    const auto afterFlash = watcher.icons().size();
    watcher.waitFor([] { return false; }, 500ms);
    EXPECT_EQ(watcher.icons().size(), afterFlash);
}

TEST_F(TrayHosts, AWatcherThatStartsLaterStillGetsTheIcon) {
    makeTray();
    pumpFor(300ms);
    EXPECT_FALSE(tray->isShownInTray());
    EXPECT_TRUE(logs.contains("no tray is available"));
    pumpFor(2700ms);  // an autostarted panel, three seconds late

    Watcher watcher;
    ASSERT_TRUE(watcher.waitFor([&] { return tray->isShownInTray() && !watcher.icons().empty(); }, 10s));
    EXPECT_EQ(tray->path(), TrayIcon::Path::statusNotifierItem);

    // A panel that restarts gets it again.
    watcher.stop();
    ASSERT_TRUE(pumpUntil([&] { return !tray->isShownInTray(); }, 5s));
    Watcher again;
    ASSERT_TRUE(again.waitFor([&] { return tray->isShownInTray() && !again.icons().empty(); }, 10s));
    int noTray = 0;
    for (auto& m : logs.messages()) noTray += m.find("no tray is available") != std::string::npos;
    EXPECT_EQ(noTray, 1);
}

TEST_F(TrayHosts, WithBothKindsOfHostOnlyTheStatusNotifierItemShows) {
    startTrayer();
    Watcher watcher;
    makeTray();
    ASSERT_TRUE(watcher.waitFor([&] { return tray->isShownInTray(); }, 10s));
    pumpFor(500ms);
    EXPECT_EQ(tray->path(), TrayIcon::Path::statusNotifierItem);
    auto tree = Process::start({"xwininfo", "-root", "-tree"}, world.env(), true);
    const std::string windows = tree.readAll(10s);
    EXPECT_EQ(windows.find("22x22"), std::string::npos) << "an XEmbed icon docked as well:\n" << windows;
}

TEST_F(TrayHosts, TheProgramShowsItsIconOnTheHostAndWarnsOfAHotkeyWithoutAKey) {
    Watcher watcher;
    TempDir home;
    auto env = world.env();
    env.push_back("HOME=" + home.path().string());
    env.push_back("XDG_CONFIG_HOME=" + (home.path() / "config").string());
    env.push_back("QUILLANT_LOG=stderr");
    env.push_back("QUILLANT_SERVICE_URL=http://127.0.0.1:9");
    auto program = Process::start({"/bin/sh", "-c", "exec \"$0\" 2>&1", QUILLANT_EXE}, env, false, true);
    std::string log;
    auto sawLine = [&](const std::string& needle) {
        while (auto line = program.readLine(0ms)) log += *line + "\n";
        return log.find(needle) != std::string::npos;
    };
    ASSERT_TRUE(watcher.waitFor([&] { return sawLine("quillant started") && !watcher.icons().empty(); }, 20s)) << log;
    ASSERT_TRUE(watcher.waitFor([&] { return sawLine("tray icon shown on the StatusNotifierItem host"); }, 5s)) << log;
    const IconLine first = watcher.icons().front();
    EXPECT_FALSE(isAmber(first.r, first.g, first.b) || isGreen(first.r, first.g, first.b));

    ASSERT_EQ(run({"xdotool", "key", "alt+shift+g"}), 0);
    EXPECT_TRUE(watcher.waitFor([&] {
        auto& i = watcher.icons();
        return sawLine("no API key is set") && isAmber(i.back().r, i.back().g, i.back().b);
    }, 10s)) << log;
    // Why, on hovering the icon.
    EXPECT_TRUE(watcher.waitFor([&] { return watcher.toolTip() == "quillant — Enter API key to start"; }, 5s))
        << watcher.toolTip();
    // Back to the still glyph when the flash is over.
    EXPECT_TRUE(watcher.waitFor([&] {
        auto& i = watcher.icons();
        return std::abs(i.back().alpha - first.alpha) < 0.001 && !isAmber(i.back().r, i.back().g, i.back().b);
    }, 5s));
    ::kill(program.pid(), SIGTERM);
    EXPECT_EQ(program.wait(10s), 0);
}

TEST_F(TrayHosts, TheProgramsIconOnTrayerOpensThePanelUnderItAndQuitEndsIt) {
    OnTrayer t;
    ASSERT_NO_FATAL_FAILURE(openThePanelOnTrayer(t));
    ASSERT_EQ(run({"xdotool", "key", "ctrl+q"}), 0);
    EXPECT_EQ(t.program->wait(10s), 0) << t.program->readAll(1s);
}
TEST_F(TrayHosts, OverABottomTrayThePanelStaysClearOfItWhenItGrows) {
    OnTrayer t;
    ASSERT_NO_FATAL_FAILURE(openThePanelOnTrayer(t, "bottom"));
    // A key saved on first use: the panel grows by the key check's answer.
    ASSERT_EQ(run({"xdotool", "type", "--delay", "5", "sk-not-a-real-key"}), 0);
    ASSERT_EQ(run({"xdotool", "key", "Return"}), 0);
    std::optional<QRect> grown;
    ASSERT_TRUE(pumpUntil([&] {
        grown = windowOfSize(t.env, "300x");
        return grown && grown->height() != t.panel.height();
    }, 10s)) << "the panel did not change size";
    EXPECT_LE(grown->bottom(), t.icon.top()) << "the grown panel runs over the tray";
    EXPECT_GE(grown->top(), 0) << "the grown panel runs off the screen";
    ::kill(t.program->pid(), SIGTERM);
    EXPECT_EQ(t.program->wait(10s), 0);
}

TEST_F(TrayHosts, AClickOutsideThePanelClosesItAndReachesTheWindowClicked) {
    OnTrayer t;
    ASSERT_NO_FATAL_FAILURE(openThePanelOnTrayer(t));

    // A click elsewhere closes the panel and reaches the window clicked.
    auto xev = Process::start({"xev", "-geometry", "200x120+40+500", "-event", "button"}, t.env, true);
    std::optional<QRect> xevWindow;
    ASSERT_TRUE(pumpUntil([&] { return (xevWindow = windowOfSize(t.env, "200x120")).has_value(); }, 10s)) << "no xev window";
    ASSERT_EQ(run({"xdotool", "mousemove", std::to_string(xevWindow->center().x()),
                   std::to_string(xevWindow->center().y()), "click", "1"}),
              0);
    // The panel's window stays, unmapped.
    auto panelShown = [&] { return panelViewable(t.env); };
    EXPECT_TRUE(pumpUntil([&] { return !panelShown(); }, 10s)) << "the panel stays open";
    EXPECT_TRUE(xev.waitForLine("ButtonPress", 5s)) << "the click did not reach the window under it";
    xev.terminate();
    // And the icon opens it again.
    ASSERT_EQ(run({"xdotool", "mousemove", std::to_string(t.icon.center().x()), std::to_string(t.icon.center().y()),
                   "click", "1"}),
              0);
    EXPECT_TRUE(pumpUntil([&] { return panelShown(); }, 10s)) << "the icon did not open the panel again";
    ::kill(t.program->pid(), SIGTERM);
    EXPECT_EQ(t.program->wait(10s), 0);
}

TEST_F(TrayHosts, TheProgramsIconOnTrayerClosesThePanelItOpenedAndOpensItAgain) {
    OnTrayer t;
    ASSERT_NO_FATAL_FAILURE(openThePanelOnTrayer(t));
    const auto clickTheIcon = [&] {
        return run({"xdotool", "mousemove", std::to_string(t.icon.center().x()), std::to_string(t.icon.center().y()),
                    "click", "1"});
    };
    ASSERT_EQ(clickTheIcon(), 0);
    EXPECT_TRUE(pumpUntil([&] { return !panelViewable(t.env); }, 10s)) << "a second click on the icon left the panel open";
    ASSERT_EQ(clickTheIcon(), 0);
    EXPECT_TRUE(pumpUntil([&] { return panelViewable(t.env); }, 10s)) << "a third click did not open it again";
    ::kill(t.program->pid(), SIGTERM);
    EXPECT_EQ(t.program->wait(10s), 0);
}

TEST_F(TrayHosts, TheProgramsItemOnAStatusNotifierHostOpensThePanelAtThePointer) {
    Watcher watcher;
    TempDir home;
    auto env = world.env();
    env.push_back("HOME=" + home.path().string());
    env.push_back("XDG_CONFIG_HOME=" + (home.path() / "config").string());
    env.push_back("XDG_RUNTIME_DIR=" + home.path().string());
    env.push_back("QUILLANT_SERVICE_URL=http://127.0.0.1:9");
    auto program = Process::start({QUILLANT_EXE}, env, true);
    ASSERT_TRUE(watcher.waitFor([&] { return watcher.registrations() == 1 && !watcher.icons().empty(); }, 20s));
    ASSERT_EQ(run({"xdotool", "mousemove", "600", "400"}), 0);

    auto tester = QDBusConnection::connectToBus(QString::fromStdString(world.busAddress()), "program-tester");
    auto call = QDBusMessage::createMethodCall(QStringLiteral("org.kde.StatusNotifierItem-%1-1").arg(program.pid()),
                                               "/StatusNotifierItem", "org.kde.StatusNotifierItem", "Activate");
    call << 0 << 0;  // what Qt-based hosts often send; the pointer decides
    QDBusPendingCall pending = tester.asyncCall(call);
    ASSERT_TRUE(pumpUntil([&] { return pending.isFinished(); }, 5s));
    EXPECT_FALSE(pending.isError()) << pending.error().message().toStdString();
    std::optional<QRect> panel;
    ASSERT_TRUE(pumpUntil([&] {
        auto tree = Process::start({"xwininfo", "-root", "-tree"}, env, true);
        std::istringstream in(tree.readAll(10s));
        tree.wait(5s);
        for (std::string line; std::getline(in, line);) {
            auto at = line.find(" 300x");
            int w, h, x, y, ax, ay;
            if (at != std::string::npos &&
                std::sscanf(line.c_str() + at, " %dx%d+%d+%d +%d+%d", &w, &h, &x, &y, &ax, &ay) == 6)
                panel = QRect(ax, ay, w, h);
        }
        return panel.has_value();
    }, 10s)) << "no panel after Activate";
    EXPECT_LE(std::abs(panel->center().x() - 600), 200) << "the panel opens at the pointer, not in a corner";
    EXPECT_LE(std::min(std::abs(panel->top() - 400), std::abs(panel->bottom() - 400)), 40);
    // Activated again, it closes the panel.
    QDBusPendingCall again = tester.asyncCall(call);
    ASSERT_TRUE(pumpUntil([&] { return again.isFinished(); }, 5s));
    EXPECT_TRUE(pumpUntil([&] { return !panelViewable(env); }, 10s)) << "a second Activate left the panel open";
    // And a third opens it again, where Ctrl+Q quits.
    QDBusPendingCall third = tester.asyncCall(call);
    ASSERT_TRUE(pumpUntil([&] { return third.isFinished(); }, 5s));
    EXPECT_TRUE(pumpUntil([&] { return panelViewable(env); }, 10s)) << "a third Activate did not open the panel";
    QDBusConnection::disconnectFromBus("program-tester");

    ASSERT_EQ(run({"xdotool", "key", "ctrl+q"}), 0);
    EXPECT_EQ(program.wait(10s), 0);
}

// --- what the tray and the desktop tell of the last fix ---

TEST_F(TrayHosts, TheStatusNotifierHostShowsTheStatusInTheTooltip) {
    Watcher watcher;
    makeTray();
    ASSERT_TRUE(watcher.waitFor([&] { return tray->isShownInTray() && !watcher.toolTip().empty(); }, 10s));
    EXPECT_EQ(watcher.toolTip(), "quillant");
    tray->setStatus("Not fixed — XTerm is a terminal; its selection can't be replaced");
    EXPECT_TRUE(watcher.waitFor(
        [&] { return watcher.toolTip() == "quillant — Not fixed — XTerm is a terminal; its selection can't be replaced"; },
        5s))
        << watcher.toolTip();
}

TEST_F(TrayHosts, TheXEmbedIconShowsTheStatusInTheTooltip) {
    startTrayer();
    makeTray();
    ASSERT_TRUE(pumpUntil([&] { return tray->isShownInTray(); }, 10s));
    pumpFor(300ms);
    tray->setStatus("Replaced (7 → 7 chars)");
    const QRect icon = tray->iconGeometry();
    ASSERT_EQ(run({"xdotool", "mousemove", std::to_string(icon.center().x() - 3), std::to_string(icon.center().y())}), 0);
    ASSERT_EQ(run({"xdotool", "mousemove", std::to_string(icon.center().x()), std::to_string(icon.center().y())}), 0);
    // The tip Qt puts up on hovering, as the user sees it.
    QString shown;
    EXPECT_TRUE(pumpUntil([&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible() && QByteArray(w->metaObject()->className()) == "QTipLabel")
                shown = static_cast<QLabel*>(w)->text();
        return !shown.isEmpty();
    }, 10s)) << "no tooltip on hovering the icon";
    EXPECT_EQ(shown, QString::fromUtf8("quillant — Replaced (7 → 7 chars)"));
}

namespace {

struct OutcomeSource : ObservableObject {
    Published<std::optional<app::FixOutcome>> outcome{*this, std::nullopt};
};

// The notification server on the test's bus (python3-dbusmock's template), and what it was asked.
class NotificationServer {
public:
    NotificationServer()
        : process_(Process::startWith({"/usr/bin/python3", "-m", "dbusmock", "--template", "notification_daemon", "-l",
                                       (dir_.path() / "calls.log").string()},
                                      ProcessOptions{{"DBUS_SESSION_BUS_ADDRESS=" + TrayWorld::get().busAddress()}})) {
        auto bus = QDBusConnection::connectToBus(QString::fromStdString(TrayWorld::get().busAddress()), "notify-probe");
        const bool up = pumpUntil(
            [&] { return bus.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.Notifications")); }, 20s);
        QDBusConnection::disconnectFromBus("notify-probe");
        if (!up) throw std::runtime_error("the notification server did not start");
    }
    std::vector<std::string> notifications() const {
        std::vector<std::string> out;
        std::ifstream in(dir_.path() / "calls.log");
        for (std::string line; std::getline(in, line);)
            if (auto at = line.find(" Notify "); at != std::string::npos) out.push_back(line.substr(at + 8));
        return out;
    }

private:
    TempDir dir_;
    Process process_;
};

}  // namespace

TEST_F(TrayHosts, WithoutATrayARefusalIsOneReplacingNotificationAndASuccessNone) {
    NotificationServer server;
    OutcomeSource source;
    bool glyphShown = false;
    auto bus = QDBusConnection::connectToBus(QString::fromStdString(world.busAddress()), "notifier");
    ui::DesktopNotifier notifier(bus, source.outcome, [&] { return glyphShown; });

    source.outcome = app::FixOutcome{"Replaced (7 → 7 chars)", false};
    source.outcome = app::FixOutcome{"Empty selection", true};
    ASSERT_TRUE(pumpUntil([&] { return notifier.lastId() != 0; }, 10s)) << "no notification for a refusal";
    pumpFor(300ms);
    auto seen = server.notifications();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].rfind("\"quillant\" 0 ", 0), 0u) << seen[0];
    EXPECT_NE(seen[0].find("\"Empty selection\""), std::string::npos) << seen[0];
    EXPECT_EQ(seen[0].substr(seen[0].rfind(' ') + 1), std::to_string(ui::DesktopNotifier::kExpiresMs)) << "expires";

    // The next one takes its place; none while a tray shows the glyph.
    source.outcome = app::FixOutcome{"Quota reached, resets tomorrow 9:00", true};
    ASSERT_TRUE(pumpUntil([&] { return server.notifications().size() == 2; }, 10s));
    EXPECT_EQ(server.notifications()[1].rfind("\"quillant\" " + std::to_string(notifier.lastId()) + " ", 0), 0u)
        << server.notifications()[1];
    glyphShown = true;
    source.outcome = app::FixOutcome{"Empty selection", true};
    pumpFor(500ms);
    EXPECT_EQ(server.notifications().size(), 2u);
    QDBusConnection::disconnectFromBus("notifier");
}

TEST_F(TrayHosts, TheProgramWithNoTrayTellsARefusedFixByANotification) {
    NotificationServer server;
    TempDir home;
    auto env = world.env();
    env.push_back("HOME=" + home.path().string());
    env.push_back("XDG_CONFIG_HOME=" + (home.path() / "config").string());
    env.push_back("XDG_RUNTIME_DIR=" + home.path().string());
    env.push_back("QUILLANT_LOG=stderr");
    env.push_back("QUILLANT_SERVICE_URL=http://127.0.0.1:9");
    auto program = Process::start({"/bin/sh", "-c", "exec \"$0\" 2>&1", QUILLANT_EXE}, env, false, true);
    ASSERT_TRUE(program.waitForLine("quillant started", 20s));
    pumpFor(500ms);
    EXPECT_TRUE(server.notifications().empty());
    ASSERT_EQ(run({"xdotool", "key", "alt+shift+g"}), 0);
    ASSERT_TRUE(pumpUntil([&] { return !server.notifications().empty(); }, 10s)) << "no notification";
    EXPECT_NE(server.notifications()[0].find("\"Enter API key to start\""), std::string::npos)
        << server.notifications()[0];
    ::kill(program.pid(), SIGTERM);
    EXPECT_EQ(program.wait(10s), 0);
}
