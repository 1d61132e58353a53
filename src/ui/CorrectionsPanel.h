#pragma once

#include <QWidget>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/CorrectionsSettings.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace quillant::ui {

class SecretField;

// What the Corrections choices need: the settings, the folder of the
// provider key, and quillant-service to ask a server for its models and to
// correct a sample sentence as the saved settings choose.
struct CorrectionsServices {
    hotkey::DefaultsStore& settings;
    std::filesystem::path configDir;
    std::vector<std::string> dictionaries;
    // Answers: whether it worked, and the lines of the result or the error.
    using Done = std::function<void(bool ok, std::vector<std::string> lines)>;
    std::function<void(const std::string& url, Done)> listModels;
    std::function<void(Done)> tryIt;
};

// quillant-service run with QProcess: `program` with --list-models or
// --try-corrections and the user's settings folder.
void useServiceProgram(CorrectionsServices& services, std::filesystem::path program);

// The choices under the panel's Corrections row: the offline dictionary and
// its language, a model on this computer (its server's URL and one of the
// models it lists), or a hosted model (https, a model name, the provider's key
// in a masked field). Save keeps them (the next fix uses them); Try it saves
// and shows the correction of a sample sentence or the exact error.
class CorrectionsPanel final : public QWidget {
public:
    CorrectionsPanel(CorrectionsServices services, std::function<void()> changed, QWidget* parent = nullptr);

    // Shows what is saved.
    void reload();

private:
    void sourceChanged();
    bool save();
    void listModels();
    void tryIt();
    app::CorrectionsSettings edited() const;
    void say(const std::string& text, bool error);

    CorrectionsServices services_;
    std::function<void()> changed_;
    QRadioButton* offline_ = nullptr;
    QRadioButton* local_ = nullptr;
    QRadioButton* hosted_ = nullptr;
    QComboBox* language_ = nullptr;
    QWidget* modelSection_ = nullptr;
    QLineEdit* url_ = nullptr;
    QComboBox* model_ = nullptr;
    QPushButton* list_ = nullptr;
    QLabel* loopbackNote_ = nullptr;
    SecretField* key_ = nullptr;
    QPushButton* save_ = nullptr;
    QPushButton* try_ = nullptr;
    QLabel* result_ = nullptr;
};

}  // namespace quillant::ui
