#include "ui/MenuBarView.h"

#include <QApplication>
#include <QCursor>
#include <QFontDatabase>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <algorithm>
#include <chrono>
#include <utility>

#include "app/AppCoordinator.h"
#include "hotkey/Preferences.h"
#include "text/Text.h"
#include "ui/MenuItemButtonStyle.h"
#include "ui/SecretField.h"

namespace quillant::ui {

using app::BackendStatus;

namespace {

constexpr int kCaptionPixels = 10;

QString qs(const std::string& text) { return QString::fromStdString(text); }

void setTextColour(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    palette.setColor(QPalette::Text, colour);
    widget->setPalette(palette);
}

QFont sized(const QWidget& widget, int pixels, QFont::Weight weight = QFont::Normal) {
    QFont font = widget.font();
    font.setPixelSize(pixels);
    font.setWeight(weight);
    return font;
}

QLabel* makeLabel(const QString& text, int pixels, QWidget* parent, const char* name,
                  QFont::Weight weight = QFont::Normal) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setFont(sized(*label, pixels, weight));
    label->setTextFormat(Qt::PlainText);
    return label;
}

// A button as small as its label: the style's minimum width would squeeze the key field.
class SmallButton final : public QPushButton {
public:
    using QPushButton::QPushButton;
    QSize sizeHint() const override {
        const QSize standard = QPushButton::sizeHint();
        return {fontMetrics().horizontalAdvance(text()) + 20, standard.height()};
    }
    QSize minimumSizeHint() const override { return sizeHint(); }
};

QPushButton* makeSmallButton(const QString& text, QWidget* parent, const char* name) {
    auto* button = new SmallButton(text, parent);
    button->setObjectName(name);
    button->setFont(sized(*button, 11));
    button->setAutoDefault(false);
    button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    return button;
}

QFrame* makeDivider(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setFixedHeight(1 + 2 * 2);  // the line and 2 px above and below
    setTextColour(line, colours::secondaryText(*parent));
    return line;
}

struct StatusWord {
    const char* text;
    enum { secondary, green, red, orange } colour;
};

StatusWord statusWord(BackendStatus status) {
    switch (status) {
    case BackendStatus::absent: return {"", StatusWord::secondary};
    case BackendStatus::checking: return {"Checking…", StatusWord::secondary};
    case BackendStatus::connected: return {"Connected", StatusWord::green};
    case BackendStatus::invalid: return {"Invalid", StatusWord::red};
    case BackendStatus::offline: return {"Offline", StatusWord::orange};
    }
    return {"", StatusWord::secondary};
}

}  // namespace

QRect panelGeometry(QSize size, QRect icon, QPoint pointer, QRect screen) {
    int x, y;
    if (icon.isValid() && !icon.isEmpty()) {
        x = icon.center().x() - size.width() / 2;
        y = icon.bottom() + 1;
        if (y + size.height() > screen.bottom() + 1) y = icon.top() - size.height();  // a panel at the bottom
    } else {
        x = pointer.x() - size.width() / 2;
        y = pointer.y() + 1;
        if (y + size.height() > screen.bottom() + 1) y = pointer.y() - size.height();
    }
    x = std::clamp(x, screen.left(), std::max(screen.left(), screen.right() + 1 - size.width()));
    y = std::clamp(y, screen.top(), std::max(screen.top(), screen.bottom() + 1 - size.height()));
    return {QPoint(x, y), size};
}

MenuBarView::MenuBarView(app::AppCoordinator& coordinator, hotkey::Preferences& preferences,
                         MenuBarViewServices services, QWidget* parent)
    : QWidget(parent, services.clicksWatched ? Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                                                   Qt::X11BypassWindowManagerHint
                                             : Qt::Popup | Qt::FramelessWindowHint),
      coordinator_(coordinator),
      preferences_(preferences),
      services_(std::move(services)),
      recorder_(services_.keyDownMonitor, services_.executor, preferences.style()) {
    setObjectName("menuBarView");
    setFixedWidth(kWidth);
    build();

    auto refreshOnChange = [this](const auto&) { refresh(); };
    subscriptions_.push_back(coordinator_.backendStatus.onDidSet(refreshOnChange));
    subscriptions_.push_back(coordinator_.updateAvailable.onDidSet(refreshOnChange));
    subscriptions_.push_back(coordinator_.updateVersion.onDidSet(refreshOnChange));
    subscriptions_.push_back(coordinator_.isUpdating.onDidSet(refreshOnChange));
    subscriptions_.push_back(coordinator_.updateStatus.onDidSet(refreshOnChange));
    subscriptions_.push_back(coordinator_.correctionsNote.onDidSet(refreshOnChange));
    subscriptions_.push_back(coordinator_.lastOutcome.onDidSet(refreshOnChange));
    subscriptions_.push_back(coordinator_.hotkeyArming.onDidSet(refreshOnChange));
    subscriptions_.push_back(preferences_.hotkeyCombo.onDidSet(refreshOnChange));
    subscriptions_.push_back(recorder_.lastError.onDidSet(refreshOnChange));
    subscriptions_.push_back(recorder_.isRecording.onDidSet([this](bool recording) {
        if (!recording) recordingEnded();
        refresh();
    }));
    refresh();
}

MenuBarView::~MenuBarView() {
    subscriptions_.clear();
    if (recorder_.isRecording.get()) {
        recorder_.stop();
        coordinator_.resumeHotkey();
    }
}

void MenuBarView::build() {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(6, 6, 6, 6);
    column->setSpacing(2);

    // The update banner.
    updateBanner_ = new QWidget(this);
    updateBanner_->setObjectName("updateBanner");
    auto* banner = new QHBoxLayout(updateBanner_);
    banner->setContentsMargins(8, 4, 8, 4);
    updateText_ = makeLabel({}, 12, updateBanner_, "updateText");
    installButton_ = makeSmallButton("Install", updateBanner_, "installButton");
    connect(installButton_, &QPushButton::clicked, this, [this] { coordinator_.installUpdate(); });
    banner->addWidget(updateText_);
    banner->addStretch(1);
    banner->addWidget(installButton_);
    column->addWidget(updateBanner_);
    updateDivider_ = makeDivider(this);
    column->addWidget(updateDivider_);

    // The key prompt: no key, or a rejected one.
    prompt_ = new QWidget(this);
    prompt_->setObjectName("keyPrompt");
    auto* promptColumn = new QVBoxLayout(prompt_);
    promptColumn->setContentsMargins(8, 6, 8, 6);
    promptColumn->setSpacing(4);
    promptTitle_ = makeLabel({}, 13, prompt_, "promptTitle", QFont::DemiBold);
    promptMessage_ = makeLabel({}, 11, prompt_, "promptMessage");
    promptMessage_->setWordWrap(true);
    auto* promptRow = new QHBoxLayout;
    promptRow->setSpacing(6);
    promptField_ = new SecretField(prompt_);
    promptField_->setObjectName("promptField");
    promptField_->setPlaceholderText("ql_…");
    promptSave_ = makeSmallButton("Save", prompt_, "promptSaveButton");
    promptSave_->setDefault(true);
    promptRow->addWidget(promptField_, 1);
    promptRow->addWidget(promptSave_);
    clearSavedKey_ = makeSmallButton("Clear saved key", prompt_, "clearSavedKeyButton");
    promptFeedback_ = makeLabel({}, kCaptionPixels, prompt_, "promptFeedback");
    setTextColour(promptFeedback_, colours::orange());
    promptColumn->addWidget(promptTitle_);
    promptColumn->addWidget(promptMessage_);
    promptColumn->addLayout(promptRow);
    promptColumn->addWidget(clearSavedKey_, 0, Qt::AlignLeft);
    promptColumn->addWidget(promptFeedback_);
    column->addWidget(prompt_);

    // With a key: the hotkey row, the key section and the accessibility row.
    keyed_ = new QWidget(this);
    keyed_->setObjectName("keyedSection");
    auto* keyedColumn = new QVBoxLayout(keyed_);
    keyedColumn->setContentsMargins(0, 0, 0, 0);
    keyedColumn->setSpacing(2);

    auto* hotkeyRow = new QWidget(keyed_);
    auto* hotkeyLine = new QHBoxLayout(hotkeyRow);
    hotkeyLine->setContentsMargins(8, 4, 8, 4);
    auto* hotkeyTitle = makeLabel("Hotkey", 12, hotkeyRow, "hotkeyTitle");
    setTextColour(hotkeyTitle, colours::secondaryText(*this));
    hotkeyText_ = makeLabel({}, 12, hotkeyRow, "hotkeyText", QFont::Medium);
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPixelSize(12);
    mono.setWeight(QFont::Medium);
    hotkeyText_->setFont(mono);
    changeButton_ = makeSmallButton("Change", hotkeyRow, "changeButton");
    connect(changeButton_, &QPushButton::clicked, this, [this] { toggleRecording(); });
    hotkeyLine->addWidget(hotkeyTitle, 0, Qt::AlignBaseline);
    hotkeyLine->addStretch(1);
    hotkeyLine->addWidget(hotkeyText_, 0, Qt::AlignBaseline);
    hotkeyLine->addWidget(changeButton_, 0, Qt::AlignBaseline);
    keyedColumn->addWidget(hotkeyRow);

    recorderError_ = makeLabel({}, kCaptionPixels, keyed_, "recorderError");
    recorderError_->setContentsMargins(8, 0, 8, 0);
    recorderError_->setWordWrap(true);
    setTextColour(recorderError_, colours::orange());
    keyedColumn->addWidget(recorderError_);
    // Why the hotkey does not work, and what to do about it.
    hotkeyNote_ = makeLabel({}, kCaptionPixels, keyed_, "hotkeyNote");
    hotkeyNote_->setContentsMargins(8, 0, 8, 0);
    hotkeyNote_->setWordWrap(true);
    setTextColour(hotkeyNote_, colours::orange());
    keyedColumn->addWidget(hotkeyNote_);
    // How the last fix ended: no dialog, and the glyph's flash is soon gone.
    outcomeText_ = makeLabel({}, kCaptionPixels, keyed_, "outcomeText");
    outcomeText_->setContentsMargins(8, 0, 8, 0);
    outcomeText_->setWordWrap(true);
    keyedColumn->addWidget(outcomeText_);
    keyedColumn->addWidget(makeDivider(keyed_));

    auto* keySection = new QWidget(keyed_);
    auto* keyColumn = new QVBoxLayout(keySection);
    keyColumn->setContentsMargins(8, 4, 8, 4);
    keyColumn->setSpacing(4);
    auto* keyLine = new QHBoxLayout;
    auto* keyTitle = makeLabel(services_.localCorrector ? "Local corrector" : "API key", 12, keySection, "keyTitle");
    setTextColour(keyTitle, colours::secondaryText(*this));
    keyStatus_ = makeLabel({}, 11, keySection, "keyStatus");
    keyLine->addWidget(keyTitle, 0, Qt::AlignBaseline);
    keyLine->addStretch(1);
    keyLine->addWidget(keyStatus_, 0, Qt::AlignBaseline);
    auto* keyRow = new QHBoxLayout;
    keyRow->setSpacing(6);
    replaceField_ = new SecretField(keySection);
    replaceField_->setObjectName("replaceField");
    replaceField_->setPlaceholderText("Replace key…");
    keySave_ = makeSmallButton("Save", keySection, "keySaveButton");
    keyClear_ = makeSmallButton("Clear", keySection, "keyClearButton");
    keyRow->addWidget(replaceField_, 1);
    keyRow->addWidget(keySave_);
    keyRow->addWidget(keyClear_);
    keyFeedback_ = makeLabel({}, kCaptionPixels, keySection, "keyFeedback");
    setTextColour(keyFeedback_, colours::secondaryText(*this));
    keyColumn->addLayout(keyLine);
    keyColumn->addLayout(keyRow);
    keyColumn->addWidget(keyFeedback_);
    keyedColumn->addWidget(keySection);
    column->addWidget(keyed_);

    // What this desktop allows matters most while setting up: the row shows
    // under the key prompt too.
    column->addWidget(makeDivider(this));
    accessibilityRow_ = MenuItemButtonStyle::makeRow(helpRowName(preferences_.style()), this);
    accessibilityRow_->setObjectName("accessibilityRow");
    connect(accessibilityRow_, &QAbstractButton::clicked, this, [this] { openAccessibilityHelp(); });
    column->addWidget(accessibilityRow_);
    helpNoteText_ = makeLabel({}, kCaptionPixels, this, "helpNote");
    helpNoteText_->setContentsMargins(8, 0, 8, 0);
    helpNoteText_->setWordWrap(true);
    helpNoteText_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    setTextColour(helpNoteText_, colours::orange());
    column->addWidget(helpNoteText_);

    // Where corrections come from: the row opens its choices below it.
    if (services_.corrections) {
        correctionsRow_ = MenuItemButtonStyle::makeRow("Corrections", this);
        correctionsRow_->setObjectName("correctionsRow");
        correctionsNote_ = makeLabel({}, kCaptionPixels, this, "correctionsNote");
        correctionsNote_->setWordWrap(true);
        correctionsNote_->setContentsMargins(MenuItemRow::kHorizontalPadding, 0, MenuItemRow::kHorizontalPadding, 0);
        setTextColour(correctionsNote_, colours::red());
        correctionsPanel_ = new CorrectionsPanel(*services_.corrections, [this] { refresh(); }, this);
        correctionsPanel_->hide();
        connect(correctionsRow_, &QAbstractButton::clicked, this, [this] {
            if (!correctionsPanel_->isVisible()) correctionsPanel_->reload();
            correctionsPanel_->setVisible(!correctionsPanel_->isVisible());
            refresh();
        });
        column->addWidget(correctionsRow_);
        column->addWidget(correctionsNote_);
        column->addWidget(correctionsPanel_);
    }

    // The footer.
    column->addWidget(makeDivider(this));
    auto* footer = new QHBoxLayout;
    footer->setContentsMargins(0, 0, 0, 0);
    quitRow_ = MenuItemButtonStyle::makeRow("Quit quillant", this);
    quitRow_->setObjectName("quitRow");
    quitRow_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    quitRow_->setToolTip("Ctrl+Q");
    connect(quitRow_, &QAbstractButton::clicked, this, [this] { services_.quit(); });
    auto* quitShortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), this);
    connect(quitShortcut, &QShortcut::activated, this, [this] { services_.quit(); });
    feedbackRow_ = MenuItemButtonStyle::makeRow("Feedback", this);
    feedbackRow_->setObjectName("feedbackRow");
    feedbackRow_->setSecondary(true);
    feedbackRow_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    connect(feedbackRow_, &QAbstractButton::clicked, this, [this] { openFeedback(); });
    const bool known = services_.version && !services_.version->empty();
    versionText_ = makeLabel("v" + (known ? qs(*services_.version) : QString("?")), 11, this, "versionText");
    versionText_->setContentsMargins(0, 0, 8, 0);
    setTextColour(versionText_, colours::secondaryText(*this));
    footer->addWidget(quitRow_, 0, Qt::AlignVCenter);
    footer->addStretch(1);
    footer->addWidget(feedbackRow_, 0, Qt::AlignVCenter);
    footer->addWidget(versionText_, 0, Qt::AlignVCenter);
    column->addLayout(footer);

    // Both key fields edit the one typed key.
    for (SecretField* field : {promptField_, replaceField_}) {
        connect(field, &QLineEdit::textChanged, this, [this](const QString& text) { setTokenInput(text); });
        connect(field, &QLineEdit::returnPressed, this, [this] { save(); });
    }
    connect(promptSave_, &QPushButton::clicked, this, [this] { save(); });
    connect(keySave_, &QPushButton::clicked, this, [this] { save(); });
    connect(clearSavedKey_, &QPushButton::clicked, this, [this] { clear(); });
    connect(keyClear_, &QPushButton::clicked, this, [this] { clear(); });
}

void MenuBarView::refresh() {
    if (correctionsRow_) {
        const auto chosen = app::loadCorrections(services_.corrections->settings);
        correctionsRow_->setText("Corrections: " + qs(chosen.source == app::kLocalModelSource ? chosen.modelName + " on this computer"
                                                      : chosen.source == app::kHostedModelSource ? chosen.modelName + " (hosted)"
                                                                                                  : "Offline dictionary"));
        correctionsRow_->setToolTip(qs(app::describeCorrections(chosen)));
        correctionsNote_->setText(qs(coordinator_.correctionsNote.get()));
        correctionsNote_->setVisible(!coordinator_.correctionsNote.get().empty());
    }
    const bool update = coordinator_.updateAvailable.get();
    updateBanner_->setVisible(update);
    updateDivider_->setVisible(update);
    // Once Install is pressed the banner follows the run: its progress, then its failure or the restart.
    const std::string& updateStatus = coordinator_.updateStatus.get();
    updateText_->setText(updateStatus.empty() ? "Update available (" + qs(coordinator_.updateVersion.get()) + ")"
                                              : qs(updateStatus));
    installButton_->setEnabled(!coordinator_.isUpdating.get());

    const BackendStatus status = coordinator_.backendStatus.get();
    const bool invalid = status == BackendStatus::invalid;
    // The local corrector's key is quillant's own: there is nothing to ask for.
    const bool asking = !services_.localCorrector && (status == BackendStatus::absent || invalid);
    prompt_->setVisible(asking);
    keyed_->setVisible(!asking);

    promptTitle_->setText(invalid ? "API key rejected" : "Enter your API key");
    promptMessage_->setText(invalid ? "The saved key was rejected by the backend. Paste a new key below."
                                    : "quillant needs an API key to fix text. Paste yours below.");
    setTextColour(promptMessage_, invalid ? colours::red() : colours::secondaryText(*this));
    clearSavedKey_->setVisible(invalid);

    const bool blank = text::trimmed(tokenInput_).empty();
    promptSave_->setEnabled(!blank);
    keySave_->setEnabled(!blank);
    const QString feedback = tokenFeedback_ ? qs(*tokenFeedback_) : QString();
    promptFeedback_->setText(feedback);
    promptFeedback_->setVisible(tokenFeedback_.has_value());
    keyFeedback_->setText(feedback);
    keyFeedback_->setVisible(tokenFeedback_.has_value() && !services_.localCorrector);
    for (QWidget* keyEditing : std::initializer_list<QWidget*>{replaceField_, keySave_, keyClear_})
        keyEditing->setVisible(!services_.localCorrector);

    const bool recording = recorder_.isRecording.get();
    const app::HotkeyArming& arming = coordinator_.hotkeyArming.get();
    hotkeyText_->setText(recording ? "Press combo… (Esc)" : qs(arming.shown.empty() ? preferences_.hotkeyDisplay() : arming.shown));
    setTextColour(hotkeyText_, recording       ? colours::accent(*this)
                               : arming.armed ? colours::primaryText(*this)
                                              : colours::orange());
    changeButton_->setText(recording ? "Cancel" : "Change");
    const auto& error = recorder_.lastError.get();
    recorderError_->setText(error ? qs(*error) : QString());
    recorderError_->setVisible(error.has_value());
    std::string note;
    if (!arming.armed) {
        note = "Not armed";
        if (!arming.reason.empty()) note += ": " + arming.reason;
        if (!arming.whatToDo.empty()) note += " — " + arming.whatToDo;
    }
    hotkeyNote_->setText(qs(note));
    hotkeyNote_->setVisible(!recording && !note.empty());
    const auto& outcome = coordinator_.lastOutcome.get();
    outcomeText_->setText(outcome ? qs(outcome->text) : QString());
    outcomeText_->setVisible(outcome.has_value());
    setTextColour(outcomeText_, outcome && outcome->failed ? colours::orange() : colours::secondaryText(*this));
    helpNoteText_->setText(helpNote_);
    helpNoteText_->setVisible(!helpNote_.isEmpty());

    const StatusWord word = statusWord(status);
    keyStatus_->setText(word.text);
    switch (word.colour) {
    case StatusWord::secondary: setTextColour(keyStatus_, colours::secondaryText(*this)); break;
    case StatusWord::green: setTextColour(keyStatus_, colours::green()); break;
    case StatusWord::red: setTextColour(keyStatus_, colours::red()); break;
    case StatusWord::orange: setTextColour(keyStatus_, colours::orange()); break;
    }

    // As tall as what shows now, at once: a hidden row otherwise counts until
    // its section's layout request comes round.
    ensurePolished();
    const QList<QLayout*> nested = findChildren<QLayout*>();
    for (QLayout* l : nested) l->invalidate();
    for (auto l = nested.rbegin(); l != nested.rend(); ++l) (*l)->activate();  // innermost first
    layout()->invalidate();
    layout()->activate();
    const int height = layout()->hasHeightForWidth() ? layout()->totalHeightForWidth(kWidth)
                                                     : layout()->totalSizeHint().height();
    resize(kWidth, height);
    if (isVisible()) placeAtAnchor();
}

void MenuBarView::placeAtAnchor() {
    if (!anchor_) return;
    const auto& [iconGeometry, pointer] = *anchor_;
    const QPoint probe = iconGeometry.isEmpty() ? pointer : iconGeometry.center();
    QScreen* screen = QGuiApplication::screenAt(probe);
    if (!screen) screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    const QRect wanted = panelGeometry(size(), iconGeometry, pointer, area);
    if (wanted != geometry()) setGeometry(wanted);
}

QString MenuBarView::helpRowName(hotkey::ShortcutStyle style) {
    return style == hotkey::ShortcutStyle::macGlyphs ? QStringLiteral("Open Accessibility Settings")
                                                     : QStringLiteral("Help: what this desktop allows…");
}

void MenuBarView::focusTheField() {
    if (!isVisible()) return;
    if (prompt_->isVisible())
        promptField_->setFocus(Qt::PopupFocusReason);
    else if (replaceField_->isVisible())
        replaceField_->setFocus(Qt::PopupFocusReason);
}

void MenuBarView::setTokenInput(const QString& text) {
    tokenInput_ = text.toStdString();
    for (SecretField* field : {promptField_, replaceField_}) {
        if (field->text() == text) continue;
        const QSignalBlocker quiet(field);
        field->setText(text);
    }
    refresh();
}

void MenuBarView::save() {
    const std::string key = text::trimmed(tokenInput_);
    if (key.empty()) return;
    if (coordinator_.saveBackendToken(key)) {
        tokenFeedback_.reset();
        setTokenInput({});
        focusTheField();
    } else {
        tokenFeedback_ = "Failed to save key";
        refresh();
    }
}

void MenuBarView::clear() {
    coordinator_.clearBackendToken();
    tokenFeedback_.reset();
    setTokenInput({});
    focusTheField();
}

void MenuBarView::toggleRecording() {
    if (recorder_.isRecording.get()) {
        stoppingRecorder_ = true;
        recorder_.stop();
        stoppingRecorder_ = false;
        coordinator_.resumeHotkey();
        return;
    }
    // The old combination must not fire while a new one is pressed.
    if (auto* hotkey = coordinator_.hotkey()) hotkey->unregister();
    captureDelivered_ = false;
    recorder_.start([this](hotkey::KeyCombo combo) {
        captureDelivered_ = true;
        coordinator_.applyNewHotkey(combo);
    });
}

void MenuBarView::recordingEnded() {
    // Ended by itself without a capture (Escape): arm the saved hotkey again,
    // exactly as Cancel does.
    if (!stoppingRecorder_ && !captureDelivered_) coordinator_.resumeHotkey();
    // However it ended, the complaint about an earlier press is over.
    recorder_.dismissError();
}

void MenuBarView::openFeedback() {
    if (services_.feedbackAddress.empty() || !services_.openUrl) return;
    const QString version = services_.version && !services_.version->empty() ? qs(*services_.version) : "?";
    QUrl url("mailto:" + qs(services_.feedbackAddress));
    url.setQuery("subject=" + QString::fromUtf8(QUrl::toPercentEncoding("quillant v" + version)));
    // The mail program takes over: the panel would otherwise hold the first click meant for it.
    hide();
    services_.openUrl(url);
}

void MenuBarView::openAccessibilityHelp() {
    if (!services_.accessibilityHelp || !services_.openUrl) return;
    const auto page = services_.accessibilityHelp();
    if (!page) {
        helpNote_ = "The help page could not be written; quillant doctor tells the same in a terminal.";
        refresh();
        return;
    }
    if (services_.openUrl(*page)) {
        hide();
        return;
    }
    // No URL handler (or a broken one): say where the page is instead.
    helpNote_ = "Couldn't open the help page; it is at " + (page->isLocalFile() ? page->toLocalFile() : page->toString());
    refresh();
}

void MenuBarView::popUpAt(QRect iconGeometry, QPoint pointer) {
    anchor_ = {iconGeometry, pointer};
    refresh();
    placeAtAnchor();
    show();
    raise();
    activateWindow();
    focusTheField();
}

void MenuBarView::iconActivated(QRect iconGeometry, QPoint pointer) {
    if (isVisible()) {
        closingForTheIcon_ = true;
        hide();
        closingForTheIcon_ = false;
        return;
    }
    // The press of this very click may have been heard first, and closed the
    // panel already (or, as a popup, Qt closed it on that press): where the
    // icon's place is known, that press was on it; where it is not (a
    // StatusNotifierItem host, which asks on release), it was a moment ago.
    if (auto press = std::exchange(closingPress_, std::nullopt)) {
        constexpr auto kSameClick = std::chrono::milliseconds(500);
        const auto& [at, where] = *press;
        if (services_.executor.now() - at <= kSameClick && (iconGeometry.isEmpty() || iconGeometry.contains(where)))
            return;
    }
    popUpAt(iconGeometry, pointer);
}

void MenuBarView::hideEvent(QHideEvent* event) {
    // Closing abandons a capture (the saved hotkey works again) and forgets
    // whatever was typed.
    if (recorder_.isRecording.get()) {
        stoppingRecorder_ = true;
        recorder_.stop();
        stoppingRecorder_ = false;
        coordinator_.resumeHotkey();
    }
    // A popup is closed by Qt on a press outside it, which may be on the icon.
    if (!services_.clicksWatched && !closingForTheIcon_) closingPress_ = {services_.executor.now(), QCursor::pos()};
    recorder_.dismissError();
    helpNote_.clear();
    tokenFeedback_.reset();
    setTokenInput({});
    QWidget::hideEvent(event);
}

void MenuBarView::pointerPressedAt(QPoint global) {
    // A list of ours that drops out of the panel (a combo box, a field's menu) takes its own clicks.
    if (QApplication::activePopupWidget()) return;
    // The click that opened the panel may be heard after it opened: on the icon it stays open.
    if (anchor_) {
        const auto& [icon, pointer] = *anchor_;
        const QRect opener = icon.isEmpty() ? QRect(pointer - QPoint(16, 16), QSize(33, 33)) : icon;
        if (opener.contains(global)) return;
    }
    if (isVisible() && !frameGeometry().contains(global)) {
        closingPress_ = {services_.executor.now(), global};
        hide();
    }
}

void MenuBarView::keyPressEvent(QKeyEvent* event) {
    // A popup closes on Escape by itself; a panel that is none does it here.
    if (event->key() == Qt::Key_Escape && services_.clicksWatched) {
        hide();
        return;
    }
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && prompt_->isVisible()) {
        // A key field passes its Return on after it has saved: one press, one save.
        if (focusWidget() != promptField_ && focusWidget() != replaceField_) save();
        return;
    }
    QWidget::keyPressEvent(event);
}

}  // namespace quillant::ui

namespace quillant::ui {

void MenuBarView::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    // Without a window manager's frame the panel needs an edge of its own,
    // on light and dark desktops alike.
    QPainter painter(this);
    painter.setPen(colours::secondaryText(*this));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

}  // namespace quillant::ui
