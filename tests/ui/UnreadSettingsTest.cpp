// A settings file that could not be read when the window opened, put right
// while it runs: the window's defaults never go over it, and OK in the
// settings dialog brings the file's settings into the window.
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QTimer>

#include "settings/GuardedFile.h"
#include "tests/support/TempDir.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/ConfigForm.h"
#include "ui/Lang.h"
#include "ui/MainWindow.h"

namespace {

TEncoderConfig ReadSettings(const std::string& APath)
{
    TEncoderConfig c;
    LoadEncoderConfigFrom(APath, c);
    return c;
}

// Every message box that comes up while it lives: its text, closed at once.
class TMessageBoxes {
public:
    TMessageBoxes()
    {
        FPoll.setInterval(20);
        QObject::connect(&FPoll, &QTimer::timeout, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                Texts.push_back(box->text().toStdString());
                box->accept();
            }
        });
        FPoll.start();
    }
    std::vector<std::string> Texts;

private:
    QTimer FPoll;
};

class UnreadSettings : public testing::Test {
protected:
    // The operator's settings, several out of the settings dialog's reach,
    // grown past what is read (a runaway append, say) before the window
    // opens on them; then cut back to the settings, as the operator would.
    void SetUp() override
    {
        WriteSettings(FSettings, [](TEncoderConfig& c) {
            c.Host = "studio.example";
            c.Password = "s3cret";
            c.Genre = "News";
            c.TlsFingerprint = "AB:CD:EF";
            c.CompressorEnabled = true;
            c.EQBands = {1, 2, 3, 4, 5, 6, 7, 8, 9, -9};
            c.EQPreset = "custom";
        });
        FText = ReadTextFile(FSettings);
        std::filesystem::resize_file(FSettings, 2 * KMaxSettingsFileBytes);
        FWindow = std::make_unique<TFrmPrincipal>(FSettings);
        FWindow->show();
        ASSERT_EQ(Text(Control<QLabel>(*FWindow, "lblStatus")), "Unable to read " + FSettings + ": larger than 1 MiB");
        ASSERT_EQ(FWindow->Config().Host, "");
        std::filesystem::resize_file(FSettings, FText.size());
        ASSERT_EQ(ReadTextFile(FSettings), FText);
    }

    std::string Refusal() const
    {
        return QString::fromStdString(Translate("pt-BR", "settings_unread_at_start"))
            .arg(QString::fromStdString(FSettings))
            .toStdString();
    }

    TTempDir FDir;
    std::string FSettings = FDir.File("TavixEncoder.ini");
    std::string FText;
    std::unique_ptr<TFrmPrincipal> FWindow;
};

} // namespace

TEST_F(UnreadSettings, NoSaveOfTheWindowGoesOverTheFileOnceItReads)
{
    TMessageBoxes boxes;
    Control<QSlider>(*FWindow, "trEQ", 2)->setValue(6);
    Control<QCheckBox>(*FWindow, "chkCompressor")->click();
    Control<QPushButton>(*FWindow, "btnStartStop")->click();
    EXPECT_EQ(boxes.Texts, std::vector<std::string>(3, Refusal()));
    EXPECT_NE(Refusal().find(FSettings), std::string::npos);
    EXPECT_EQ(FWindow->Encoder(), nullptr);
    EXPECT_EQ(ReadTextFile(FSettings), FText);

    // The dialog reads the file to show it; cancelled, the window still
    // holds its defaults and must not save them.
    bool shown = false;
    OnNextModal([&](QWidget* AModal) {
        auto* dialog = qobject_cast<TFrmConfig*>(AModal);
        ASSERT_NE(dialog, nullptr);
        shown = true;
        EXPECT_EQ(dialog->edHost->text().toStdString(), "studio.example");
        dialog->btnCancel->click();
    });
    Control<QPushButton>(*FWindow, "btnConfig")->click();
    EXPECT_TRUE(shown);
    boxes.Texts.clear();
    Control<QSlider>(*FWindow, "trEQ", 3)->setValue(-4);
    EXPECT_EQ(boxes.Texts, std::vector<std::string>{Refusal()});
    EXPECT_EQ(ReadTextFile(FSettings), FText);
    EXPECT_EQ(FWindow->Config().Host, "");
}

TEST_F(UnreadSettings, OkInTheDialogBringsTheFileIntoTheWindowAndSavesWorkAgain)
{
    TMessageBoxes boxes;
    bool shown = false;
    OnNextModal([&](QWidget* AModal) {
        auto* dialog = qobject_cast<TFrmConfig*>(AModal);
        ASSERT_NE(dialog, nullptr);
        shown = true;
        dialog->edGenre->setText("Jazz");
        dialog->btnOK->click();
    });
    Control<QPushButton>(*FWindow, "btnConfig")->click();
    EXPECT_TRUE(shown);
    EXPECT_EQ(boxes.Texts, std::vector<std::string>{});

    const std::pair<const char*, TEncoderConfig> records[] = {{"file", ReadSettings(FSettings)},
                                                              {"window", FWindow->Config()}};
    for (const auto& [name, c] : records) {
        SCOPED_TRACE(name);
        EXPECT_EQ(c.Genre, "Jazz");
        EXPECT_EQ(c.Host, "studio.example");
        EXPECT_EQ(c.Password, "s3cret");
        EXPECT_EQ(c.TlsFingerprint, "AB:CD:EF");
        EXPECT_TRUE(c.CompressorEnabled);
        EXPECT_EQ(c.EQBands[8], 9);
        EXPECT_EQ(c.EQBands[9], -9);
    }
    EXPECT_TRUE(Control<QCheckBox>(*FWindow, "chkCompressor")->isChecked());
    EXPECT_EQ(Control<QSlider>(*FWindow, "trEQ", 9)->value(), -9);
    EXPECT_EQ(Text(Control<QLabel>(*FWindow, "lblServerInfo")).rfind("studio.example:", 0), 0u);

    // The window holds the file's settings now: its saves go through.
    Control<QSlider>(*FWindow, "trEQ", 0)->setValue(-5);
    EXPECT_EQ(boxes.Texts, std::vector<std::string>{});
    const TEncoderConfig stored = ReadSettings(FSettings);
    EXPECT_EQ(stored.EQBands[0], -5);
    EXPECT_EQ(stored.EQBands[9], -9);
    EXPECT_EQ(stored.Password, "s3cret");
    EXPECT_EQ(stored.Genre, "Jazz");
}
