// The panel's Corrections row and its choices, on the coordinator's substitutes,
// with quillant-service's answers played by the test.
#include <sys/stat.h>

#include <gmock/gmock.h>

#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>

#include "PanelHarness.h"
#include "testsupport/FakeDefaultsStore.h"
#include "ui/SecretField.h"

using namespace quillant;
using namespace quillant::testing;

namespace {

struct Corrections {
    FakeDefaultsStore store;
    std::vector<std::string> listed{"llama3.2", "qwen2.5"};
    bool listWorks = true;
    std::vector<std::string> tried{"sample", "Sample."};
    bool tryWorks = true;
    std::vector<std::string> askedURLs;

    ui::CorrectionsServices services(const std::filesystem::path& dir) {
        return {store, dir, {"en_GB", "en_US"},
                [this](const std::string& url, ui::CorrectionsServices::Done done) {
                    askedURLs.push_back(url);
                    done(listWorks, listed);
                },
                [this](ui::CorrectionsServices::Done done) { done(tryWorks, tried); }};
    }
};

}  // namespace

TEST(CorrectionsPanel, SavesOnlyWhatIsSafeAndShowsEachAnswerOrError) {
    PanelHarness h;
    Corrections fake;
    const auto dir = h.core.home.path() / "config";
    h.corrections.emplace(fake.services(dir));
    h.start("qk_key");
    auto row = [&] { return h.find<QAbstractButton>("correctionsRow")->text(); };
    auto result = [&] { return h.text("correctionsResult").toStdString(); };
    auto resultIsRed = [&] { return h.colour("correctionsResult") == ui::colours::red(); };
    EXPECT_EQ(row(), "Corrections: Offline dictionary");
    EXPECT_FALSE(h.shown("correctionsPanel"));
    h.find<QAbstractButton>("correctionsRow")->click();
    ASSERT_TRUE(h.shown("correctionsPanel"));
    EXPECT_TRUE(h.shown("languageBox"));
    EXPECT_FALSE(h.shown("modelUrl"));

    // A hosted model: https only, and its key goes to a private file.
    h.find<QRadioButton>("sourceHosted")->click();
    EXPECT_TRUE(h.shown("providerKey"));
    EXPECT_EQ(h.find<QLineEdit>("providerKey")->echoMode(), QLineEdit::Password);
    h.find<QLineEdit>("modelUrl")->setText("http://api.example.com/v1");
    h.find<QComboBox>("modelBox")->setEditText("m");
    h.find<QLineEdit>("providerKey")->setText("sk-secret");
    h.find<QAbstractButton>("correctionsSaveButton")->click();
    EXPECT_THAT(result(), ::testing::HasSubstr("https only"));
    EXPECT_TRUE(resultIsRed());
    EXPECT_FALSE(std::filesystem::exists(dir / "provider-key"));

    h.find<QLineEdit>("modelUrl")->setText("https://api.example.com/v1/");
    h.find<QAbstractButton>("correctionsSaveButton")->click();
    EXPECT_EQ(result(), "Saved: the next fix uses it");
    EXPECT_EQ(readFile(dir / "provider-key"), "sk-secret\n");
    struct stat st {};
    ASSERT_EQ(::stat((dir / "provider-key").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(h.find<QLineEdit>("providerKey")->text(), "");
    EXPECT_EQ(app::loadCorrections(fake.store).modelURL, "https://api.example.com/v1");
    EXPECT_EQ(row(), "Corrections: m (hosted)");

    // A model on this computer, picked from the server's own list.
    h.find<QLineEdit>("modelUrl")->clear();
    h.find<QRadioButton>("sourceLocal")->click();
    EXPECT_EQ(h.find<QLineEdit>("modelUrl")->text(), "http://127.0.0.1:11434/v1");
    EXPECT_TRUE(h.shown("loopbackNote"));
    EXPECT_FALSE(h.shown("providerKey"));
    h.find<QAbstractButton>("listModelsButton")->click();
    EXPECT_EQ(fake.askedURLs, std::vector<std::string>{"http://127.0.0.1:11434/v1"});
    EXPECT_EQ(h.find<QComboBox>("modelBox")->count(), 2);
    EXPECT_EQ(h.find<QComboBox>("modelBox")->currentText(), "llama3.2");
    EXPECT_EQ(result(), "2 models");
    fake.listWorks = false;
    fake.listed = {"The model at http://127.0.0.1:11434/v1 lists no models"};
    h.find<QAbstractButton>("listModelsButton")->click();
    EXPECT_EQ(result(), "The model at http://127.0.0.1:11434/v1 lists no models");
    EXPECT_TRUE(resultIsRed());

    // Try it saves, then shows the sample corrected or the exact error.
    h.find<QAbstractButton>("tryButton")->click();
    EXPECT_EQ(result(), "“sample” → “Sample.”");
    EXPECT_EQ(app::loadCorrections(fake.store).source, "local-model");
    EXPECT_EQ(row(), "Corrections: llama3.2 on this computer");
    fake.tryWorks = false;
    fake.tried = {"The model at http://127.0.0.1:11434/v1 did not answer within 8 s"};
    h.find<QAbstractButton>("tryButton")->click();
    EXPECT_EQ(result(), "The model at http://127.0.0.1:11434/v1 did not answer within 8 s");
    EXPECT_TRUE(resultIsRed());
}

TEST(CorrectionsPanel, ARefusedKeyShowsInTheCorrectionsRow) {
    PanelHarness h;
    Corrections fake;
    h.corrections.emplace(fake.services(h.core.home.path() / "config"));
    h.start("qk_key");
    EXPECT_FALSE(h.shown("correctionsNote"));
    h.core.appCopies("teh text");
    h.core.fixReplies.push_back(FakeHttpSession::answer(
        200, R"({"corrected":"the text","note":"Corrected offline \u2014 the model at https://api.example.com/v1 refused the key"})"));
    h.core.pressAndSettle();
    h.settle();
    EXPECT_TRUE(h.shown("correctionsNote"));
    EXPECT_EQ(h.text("correctionsNote"), "Corrected offline — the model at https://api.example.com/v1 refused the key");
    EXPECT_EQ(h.colour("correctionsNote"), ui::colours::red());
}
