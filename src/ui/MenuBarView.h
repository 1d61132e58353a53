#pragma once

#include <QPoint>
#include <QRect>
#include <QString>
#include <QUrl>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hotkey/HotkeyRecorder.h"
#include "hotkey/ShortcutStyle.h"
#include "ui/CorrectionsPanel.h"
#include "runtime/Clock.h"
#include "runtime/Observable.h"

class QLabel;
class QPushButton;
class QFrame;

namespace quillant {
class Executor;
namespace app {
class AppCoordinator;
}
namespace hotkey {
class KeyDownMonitor;
class Preferences;
}  // namespace hotkey
}  // namespace quillant

namespace quillant::ui {

class MenuItemRow;
class SecretField;

// What the panel needs besides the coordinator and the preferences.
struct MenuBarViewServices {
    hotkey::KeyDownMonitor& keyDownMonitor;
    Executor& executor;
    // The desktop's URL handler (xdg-open); false when it could not open it.
    std::function<bool(const QUrl&)> openUrl;
    // Ends the application.
    std::function<void()> quit;
    // The short version; none (or empty) reads "?".
    std::optional<std::string> version;
    // Where "Feedback" writes to.
    std::string feedbackAddress;
    // Prepares the page "Open Accessibility Settings" leads to; none when it
    // could not be written (the row then does nothing rather than open a dead link).
    std::function<std::optional<QUrl>()> accessibilityHelp;
    // Where corrections come from; none: no Corrections row.
    std::optional<CorrectionsServices> corrections;
    // The service is quillant's own local corrector, whose key quillant makes
    // itself: no key prompt and no key field, only whether it answers.
    bool localCorrector = false;
    // Presses elsewhere are told to pointerPressedAt() (the desktop hears them
    // without a grab): the panel then takes no grab of its own, and the click
    // that closes it still reaches what was clicked. Otherwise it is a popup.
    bool clicksWatched = false;
};

// Where a panel of `size` opens: centred under the icon (above it when there
// is no room below) when its geometry is known, else under (or above) the
// pointer; always inside `screen`.
QRect panelGeometry(QSize size, QRect iconGeometry, QPoint pointer, QRect screen);

// The tray's drop-down panel: the update banner, the API key prompt or the
// hotkey row with the key section, the way to the accessibility help, and
// the footer with Quit, Feedback and the version. It holds only the text being
// typed and one feedback line; all work goes to the coordinator, the
// preferences and the panel's own hotkey recorder. Main thread only.
class MenuBarView final : public QWidget {
public:
    static constexpr int kWidth = 300;

    MenuBarView(app::AppCoordinator& coordinator, hotkey::Preferences& preferences, MenuBarViewServices services,
                QWidget* parent = nullptr);
    ~MenuBarView() override;

    // Opens the panel at the tray icon (empty geometry: unknown) or the pointer.
    void popUpAt(QRect iconGeometry, QPoint pointer);
    // A click on the tray icon: opens the panel, or closes an open one.
    void iconActivated(QRect iconGeometry, QPoint pointer);
    // The help row's name: what it opens on this platform.
    static QString helpRowName(hotkey::ShortcutStyle style);
    // A pointer button went down at `global`: outside the panel, that closes it.
    void pointerPressedAt(QPoint global);

    hotkey::HotkeyRecorder& recorder() { return recorder_; }
    const std::string& tokenInput() const { return tokenInput_; }
    const std::optional<std::string>& tokenFeedback() const { return tokenFeedback_; }

protected:
    void hideEvent(QHideEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void build();
    void refresh();
    void setTokenInput(const QString& text);
    void save();
    void clear();
    void toggleRecording();
    void recordingEnded();
    void openFeedback();
    void openAccessibilityHelp();
    void focusTheField();
    // Keeps the panel whole on screen, where it was opened, as its size changes.
    void placeAtAnchor();

    app::AppCoordinator& coordinator_;
    hotkey::Preferences& preferences_;
    MenuBarViewServices services_;
    hotkey::HotkeyRecorder recorder_;
    std::string tokenInput_;
    std::optional<std::string> tokenFeedback_;
    // Set while the panel itself stops a capture, and when a capture was
    // delivered: only a capture that ended by itself (Escape) re-arms here.
    bool stoppingRecorder_ = false;
    bool captureDelivered_ = false;
    std::vector<Subscription> subscriptions_;
    // Where the panel was opened: the icon's rectangle (empty: unknown) and the pointer.
    std::optional<std::pair<QRect, QPoint>> anchor_;
    // The press outside that last closed the panel: when and where.
    std::optional<std::pair<TimePoint, QPoint>> closingPress_;
    bool closingForTheIcon_ = false;
    // Said when the help page could not be opened.
    QString helpNote_;

    QWidget* updateBanner_ = nullptr;
    QLabel* updateText_ = nullptr;
    QPushButton* installButton_ = nullptr;
    QFrame* updateDivider_ = nullptr;
    QWidget* prompt_ = nullptr;
    QLabel* promptTitle_ = nullptr;
    QLabel* promptMessage_ = nullptr;
    SecretField* promptField_ = nullptr;
    QPushButton* promptSave_ = nullptr;
    QPushButton* clearSavedKey_ = nullptr;
    QLabel* promptFeedback_ = nullptr;
    QWidget* keyed_ = nullptr;
    QLabel* hotkeyText_ = nullptr;
    QPushButton* changeButton_ = nullptr;
    QLabel* recorderError_ = nullptr;
    QLabel* hotkeyNote_ = nullptr;
    QLabel* outcomeText_ = nullptr;
    QLabel* helpNoteText_ = nullptr;
    QLabel* keyStatus_ = nullptr;
    SecretField* replaceField_ = nullptr;
    QPushButton* keySave_ = nullptr;
    QPushButton* keyClear_ = nullptr;
    QLabel* keyFeedback_ = nullptr;
    MenuItemRow* accessibilityRow_ = nullptr;
    MenuItemRow* correctionsRow_ = nullptr;
    QLabel* correctionsNote_ = nullptr;
    CorrectionsPanel* correctionsPanel_ = nullptr;
    MenuItemRow* quitRow_ = nullptr;
    MenuItemRow* feedbackRow_ = nullptr;
    QLabel* versionText_ = nullptr;
};

}  // namespace quillant::ui
