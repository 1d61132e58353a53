// The key field on a real X server: whatever the user does with the typed
// key, our process owns neither CLIPBOARD nor PRIMARY, so no other program
// (a clipboard manager, xclip, our own clipboard reader) can read it or wait on us.
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QTest>
#include <QVBoxLayout>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>

#include "testsupport/X11TestHarness.h"
#include "ui/SecretField.h"

using namespace quillant;
using namespace quillant::testing;
using namespace std::chrono_literals;

namespace {

// The X server and the application on it, for the whole binary.
class X11AppEnvironment final : public ::testing::Environment {
public:
    static X11AppEnvironment& get() {
        static X11AppEnvironment* environment = [] {
            auto* e = new X11AppEnvironment;
            ::testing::AddGlobalTestEnvironment(e);
            return e;
        }();
        return *environment;
    }
    void start() {
        if (app) return;
        xvfb = std::make_unique<Xvfb>();
        ::setenv("DISPLAY", xvfb->display().c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        static int argc = 1;
        static char name[] = "ui_x11_tests";
        static char* argv[] = {name, nullptr};
        app = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override {
        app.reset();
        xvfb.reset();
    }
    std::unique_ptr<Xvfb> xvfb;
    std::unique_ptr<QApplication> app;
};

// Who owns a selection, asked over a connection of its own, as another program would.
xcb_window_t ownerOf(const char* selection) {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    auto atom = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, std::strlen(selection), selection), nullptr);
    auto owner = xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atom->atom), nullptr);
    const xcb_window_t window = owner ? owner->owner : XCB_NONE;
    std::free(owner);
    std::free(atom);
    xcb_disconnect(c);
    return window;
}

void settleEvents() {
    for (int i = 0; i < 5; ++i) QApplication::processEvents(QEventLoop::AllEvents, 20);
}

struct Gesture {
    const char* name;
    std::function<void(QLineEdit&)> act;
};

const std::vector<Gesture> kGestures = {
    {"select all", [](QLineEdit& f) { QTest::keyClick(&f, Qt::Key_A, Qt::ControlModifier); }},
    {"shift+home", [](QLineEdit& f) {
         QTest::keyClick(&f, Qt::Key_End);
         QTest::keyClick(&f, Qt::Key_Home, Qt::ShiftModifier);
     }},
    {"double click", [](QLineEdit& f) { QTest::mouseDClick(&f, Qt::LeftButton, {}, QPoint(20, f.height() / 2)); }},
    {"drag across", [](QLineEdit& f) {
         QTest::mousePress(&f, Qt::LeftButton, {}, QPoint(3, f.height() / 2));
         QTest::mouseMove(&f, QPoint(f.width() - 3, f.height() / 2));
         QTest::mouseRelease(&f, Qt::LeftButton, {}, QPoint(f.width() - 3, f.height() / 2));
     }},
    {"ctrl+c", [](QLineEdit& f) {
         f.selectAll();
         QTest::keyClick(&f, Qt::Key_C, Qt::ControlModifier);
     }},
    {"ctrl+insert", [](QLineEdit& f) {
         f.selectAll();
         QTest::keyClick(&f, Qt::Key_Insert, Qt::ControlModifier);
     }},
    {"ctrl+x", [](QLineEdit& f) {
         f.selectAll();
         QTest::keyClick(&f, Qt::Key_X, Qt::ControlModifier);
     }},
    {"shift+delete", [](QLineEdit& f) {
         f.selectAll();
         QTest::keyClick(&f, Qt::Key_Delete, Qt::ShiftModifier);
     }},
};

}  // namespace

TEST(SecretFieldOnX11, NeverOwnsASelectionWhateverTheUserDoes) {
    X11AppEnvironment::get().start();
    for (const auto& gesture : kGestures) {
        SCOPED_TRACE(gesture.name);
        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        auto* field = new ui::SecretField(&window);
        layout->addWidget(field);
        window.resize(300, 60);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        field->setFocus();
        QTest::keyClicks(field, "ql_secret_key_1234");
        gesture.act(*field);
        settleEvents();
        EXPECT_EQ(ownerOf("PRIMARY"), XCB_NONE);
        EXPECT_EQ(ownerOf("CLIPBOARD"), XCB_NONE);
        // A real reader finds nothing to read.
        auto primary = Process::start({"xclip", "-o", "-selection", "primary"}, {}, true);
        EXPECT_EQ(primary.readAll(5s).find("ql_secret"), std::string::npos);
        primary.wait(10s);
        EXPECT_EQ(field->text().toStdString().find("ql_secret"), 0u) << "copying and cutting leave the key in place";
    }
}

TEST(SecretFieldOnX11, AnOrdinaryFieldWouldOfferItsSelection) {
    // The checks above can fail: an unmasked field offers its selection as
    // PRIMARY and its copies as CLIPBOARD.
    X11AppEnvironment::get().start();
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* field = new QLineEdit(&window);
    layout->addWidget(field);
    window.resize(300, 60);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    field->setFocus();
    QTest::keyClicks(field, "plain words");
    kGestures[0].act(*field);  // select all
    settleEvents();
    EXPECT_NE(ownerOf("PRIMARY"), XCB_NONE);
    EXPECT_EQ(ownerOf("CLIPBOARD"), XCB_NONE);
    kGestures[4].act(*field);  // ctrl+c
    settleEvents();
    EXPECT_NE(ownerOf("CLIPBOARD"), XCB_NONE);
    QApplication::clipboard()->clear(QClipboard::Selection);
    QApplication::clipboard()->clear(QClipboard::Clipboard);
    settleEvents();
}
