#include "ui/CorrectionsPanel.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "ui/MenuItemButtonStyle.h"
#include "ui/SecretField.h"

namespace quillant::ui {

namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }

void runService(const std::filesystem::path& program, QStringList args, CorrectionsServices::Done done) {
    auto* process = new QProcess;
    process->setProgram(qs(program.string()));
    process->setArguments(args);
    process->setStandardInputFile(QProcess::nullDevice());
    process->setProcessChannelMode(QProcess::SeparateChannels);
    QObject::connect(process, &QProcess::finished, process, [process, done](int code, QProcess::ExitStatus status) {
        std::vector<std::string> lines;
        for (const QString& line : QString::fromUtf8(process->readAllStandardOutput()).split('\n', Qt::SkipEmptyParts))
            lines.push_back(line.toStdString());
        process->deleteLater();
        done(status == QProcess::NormalExit && code == 0, std::move(lines));
    });
    QObject::connect(process, &QProcess::errorOccurred, process, [process, done](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart) return;
        process->deleteLater();
        done(false, {"quillant-service could not be started"});
    });
    process->start();
}

}  // namespace

void useServiceProgram(CorrectionsServices& services, std::filesystem::path program) {
    const QString dir = qs(services.configDir.string());
    services.listModels = [program, dir](const std::string& url, CorrectionsServices::Done done) {
        runService(program, {"--list-models", qs(url), "--user-config", dir}, std::move(done));
    };
    services.tryIt = [program, dir](CorrectionsServices::Done done) {
        runService(program, {"--try-corrections", "--user-config", dir}, std::move(done));
    };
}

CorrectionsPanel::CorrectionsPanel(CorrectionsServices services, std::function<void()> changed, QWidget* parent)
    : QWidget(parent), services_(std::move(services)), changed_(std::move(changed)) {
    setObjectName("correctionsPanel");
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(8, 0, 8, 4);
    column->setSpacing(4);
    offline_ = new QRadioButton("Offline dictionary", this);
    offline_->setObjectName("sourceOffline");
    local_ = new QRadioButton("A model on this computer", this);
    local_->setObjectName("sourceLocal");
    hosted_ = new QRadioButton("A hosted model", this);
    hosted_->setObjectName("sourceHosted");
    language_ = new QComboBox(this);
    language_->setObjectName("languageBox");
    language_->addItem("Automatic language", "auto");
    for (const auto& d : services_.dictionaries) language_->addItem(qs(d), qs(d));
    column->addWidget(offline_);
    column->addWidget(language_);
    column->addWidget(local_);
    column->addWidget(hosted_);

    modelSection_ = new QWidget(this);
    auto* models = new QVBoxLayout(modelSection_);
    models->setContentsMargins(0, 0, 0, 0);
    url_ = new QLineEdit(modelSection_);
    url_->setObjectName("modelUrl");
    url_->setPlaceholderText("Base URL");
    auto* modelRow = new QHBoxLayout;
    model_ = new QComboBox(modelSection_);
    model_->setObjectName("modelBox");
    model_->setEditable(true);
    model_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    list_ = new QPushButton("List models", modelSection_);
    list_->setObjectName("listModelsButton");
    modelRow->addWidget(model_, 1);
    modelRow->addWidget(list_);
    loopbackNote_ = new QLabel("Over plain http, another user of this computer could answer in the model's place "
                               "while it is down.",
                               modelSection_);
    loopbackNote_->setObjectName("loopbackNote");
    loopbackNote_->setWordWrap(true);
    QPalette quiet = loopbackNote_->palette();
    quiet.setColor(QPalette::WindowText, colours::secondaryText(*this));
    loopbackNote_->setPalette(quiet);
    key_ = new SecretField(modelSection_);
    key_->setObjectName("providerKey");
    models->addWidget(url_);
    models->addLayout(modelRow);
    models->addWidget(loopbackNote_);
    models->addWidget(key_);
    column->addWidget(modelSection_);

    auto* buttons = new QHBoxLayout;
    try_ = new QPushButton("Try it", this);
    try_->setObjectName("tryButton");
    save_ = new QPushButton("Save", this);
    save_->setObjectName("correctionsSaveButton");
    buttons->addStretch(1);
    buttons->addWidget(try_);
    buttons->addWidget(save_);
    column->addLayout(buttons);
    result_ = new QLabel(this);
    result_->setObjectName("correctionsResult");
    result_->setWordWrap(true);
    result_->setTextFormat(Qt::PlainText);
    column->addWidget(result_);

    for (auto* radio : {offline_, local_, hosted_})
        connect(radio, &QRadioButton::toggled, this, [this](bool on) {
            if (on) sourceChanged();
        });
    connect(url_, &QLineEdit::textEdited, this, [this] { loopbackNote_->setVisible(local_->isChecked() && url_->text().startsWith("http://")); });
    connect(list_, &QPushButton::clicked, this, [this] { listModels(); });
    connect(save_, &QPushButton::clicked, this, [this] {
        if (save()) say("Saved: the next fix uses it", false);
    });
    connect(try_, &QPushButton::clicked, this, [this] { tryIt(); });
    reload();
}

void CorrectionsPanel::reload() {
    const auto s = app::loadCorrections(services_.settings);
    (s.source == app::kLocalModelSource ? local_ : s.source == app::kHostedModelSource ? hosted_ : offline_)->setChecked(true);
    int at = language_->findData(qs(s.language));
    language_->setCurrentIndex(at < 0 ? 0 : at);
    url_->setText(qs(s.modelURL));
    model_->setEditText(qs(s.modelName));
    key_->clear();
    sourceChanged();
    result_->clear();
}

void CorrectionsPanel::sourceChanged() {
    const bool model = !offline_->isChecked();
    modelSection_->setVisible(model);
    language_->setVisible(offline_->isChecked());
    key_->setVisible(hosted_->isChecked());
    key_->setPlaceholderText(app::hasProviderKey(services_.configDir) ? "Provider API key (saved; type to replace)"
                                                                       : "Provider API key");
    if (hosted_->isChecked() && url_->text().startsWith("http://")) url_->setText("https://");
    if (local_->isChecked() && url_->text().isEmpty()) url_->setText(qs(app::CorrectionsSettings{}.modelURL));
    loopbackNote_->setVisible(local_->isChecked() && url_->text().startsWith("http://"));
    if (QWidget* top = window()) top->adjustSize();
}

app::CorrectionsSettings CorrectionsPanel::edited() const {
    app::CorrectionsSettings s = app::loadCorrections(services_.settings);
    s.source = local_->isChecked() ? app::kLocalModelSource : hosted_->isChecked() ? app::kHostedModelSource : "offline";
    s.language = language_->currentData().toString().toStdString();
    std::string url = url_->text().trimmed().toStdString();
    while (!url.empty() && url.back() == '/') url.pop_back();
    if (s.source != "offline") s.modelURL = url;
    s.modelName = model_->currentText().trimmed().toStdString();
    return s;
}

void CorrectionsPanel::say(const std::string& text, bool error) {
    result_->setText(qs(text));
    QPalette palette = result_->palette();
    palette.setColor(QPalette::WindowText, error ? colours::red() : colours::secondaryText(*this));
    result_->setPalette(palette);
}

bool CorrectionsPanel::save() {
    const auto s = edited();
    if (std::string why = app::correctionsProblem(s); !why.empty()) {
        say("Not saved: " + why, true);
        return false;
    }
    if (s.source == app::kHostedModelSource) {
        const std::string key = key_->text().trimmed().toStdString();
        if (key.empty() && !app::hasProviderKey(services_.configDir)) {
            say("Not saved: enter the provider's API key", true);
            return false;
        }
        if (!key.empty()) {
            if (std::string why = app::saveProviderKey(services_.configDir, key); !why.empty()) {
                say("Not saved: " + why, true);
                return false;
            }
            key_->clear();
        }
    }
    app::saveCorrections(services_.settings, s);
    if (changed_) changed_();
    return true;
}

void CorrectionsPanel::listModels() {
    if (!services_.listModels) return;
    say("Asking " + url_->text().toStdString() + "…", false);
    QPointer<CorrectionsPanel> self(this);
    services_.listModels(edited().modelURL, [self](bool ok, std::vector<std::string> lines) {
        if (!self) return;
        if (!ok) {
            self->say(lines.empty() ? "The server gave no model list" : lines[0], true);
            return;
        }
        const QString chosen = self->model_->currentText();
        self->model_->clear();
        for (const auto& name : lines) self->model_->addItem(qs(name));
        int at = self->model_->findText(chosen);
        self->model_->setCurrentIndex(at < 0 ? 0 : at);
        self->say(std::to_string(lines.size()) + (lines.size() == 1 ? " model" : " models"), false);
    });
}

void CorrectionsPanel::tryIt() {
    if (!save() || !services_.tryIt) return;
    say("Trying…", false);
    QPointer<CorrectionsPanel> self(this);
    services_.tryIt([self](bool ok, std::vector<std::string> lines) {
        if (!self) return;
        if (!ok || lines.size() < 2) {
            self->say(lines.empty() ? "Try it failed" : lines[0], true);
            return;
        }
        self->say("“" + lines[0] + "” → “" + lines[1] + "”", false);
    });
}

}  // namespace quillant::ui
