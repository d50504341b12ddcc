// The form framework on real widgets (offscreen): life of a form, the last-resort report and boxes,
// focus and key events, controls, input dropped while busy, drive and folder lists, the file dialog.
#include <QApplication>
#include <QComboBox>
#include <QImage>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/ui/app.h"
#include "platform/ui/forms.h"
#include "qvsample/temp_drive.h"
#include "support/modal.h"

namespace uitest {

using namespace platform::ui;

class TestForm : public Form {
public:
    TestForm() : Form("frmTest", "Test Form", 6000, 3000) {
        // created out of tab order on purpose: focus order must follow the tab indexes
        cmdExit = &AddButton("cmdExit", -1, {4500, 2400, 1000, 400}, "E&xit", 4);
        txt[1] = &AddTextBox("txt", 1, {1500, 900, 1500, 285}, 2);
        txt[0] = &AddTextBox("txt", 0, {1500, 500, 1500, 285}, 1);
        cbo = &AddComboBox("cbo", {1500, 100, 1935, 315}, 0);
        cmdOk = &AddButton("cmdOk", -1, {3300, 2400, 1000, 400}, "&Continue", 3);
        pb = &AddProgressBar("pb", {120, 1800, 5700, 375}, 6);
        for (int i = 0; i < 2; ++i) {
            txt[i]->onGotFocus = [this, i] { log.push_back("txt" + std::to_string(i) + ":got"); };
            txt[i]->onLostFocus = [this, i] {
                log.push_back("txt" + std::to_string(i) + ":lost");
                if (onTxtLost) onTxtLost(i);
            };
            txt[i]->onKeyPress = [this, i](int &key) {
                if (onTxtKey) onTxtKey(i, key);
            };
        }
        cbo->onGotFocus = [this] { log.push_back("cbo:got"); };
        cbo->onLostFocus = [this] { log.push_back("cbo:lost"); };
        cmdOk->onGotFocus = [this] { log.push_back("cmdOk:got"); };
        cmdOk->onClick = [this] {
            log.push_back("cmdOk:click");
            if (onOk) onOk();
        };
        cmdExit->onClick = [this] {
            log.push_back("cmdExit:click");
            Unload();
        };
    }

    int loads = 0, unloads = 0;
    std::vector<std::string> log;
    std::function<void(int, int &)> onTxtKey;
    std::function<void(int)> onTxtLost;
    std::function<void()> onOk, onLoad;

    TextBox *txt[2]{};
    ComboBox *cbo{};
    CommandButton *cmdOk{}, *cmdExit{};
    ProgressBar *pb{};

protected:
    void Form_Load() override {
        ++loads;
        if (onLoad) onLoad();
    }
    void Form_Unload() override { ++unloads; }
};

// Shows the form and waits until it is active with its first control focused.
inline void ShowActive(Form &f) {
    f.Show();
    EXPECT_TRUE(QTest::qWaitForWindowActive(f.widget()));
    QCoreApplication::processEvents();
}

// Presses a key as the keyboard would: at the focused widget.
inline void Key(Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QWidget *w = QApplication::focusWidget();
    ASSERT_NE(w, nullptr) << "no widget has the focus";
    QTest::keyClick(w, key, mods);
    QCoreApplication::processEvents();
}

// Each ui test starts with the utility not ending and no box responder.
class UiTest : public ::testing::Test {
protected:
    void SetUp() override { ResetEndingForTests(); }
    void TearDown() override {
        ResetEndingForTests();
        SetMsgBoxResponderForTests({});
    }
};

}  // namespace uitest

using namespace uitest;

namespace {

// Unload runs once whatever closes the form; ShowModal returns when a handler unloads it, and a form
// unloaded during its load is never shown.
TEST_F(UiTest, UnloadRunsOnceWhateverClosesTheFormAndShowModalReturnsOnUnload) {
    const std::function<void(TestForm &)> closings[] = {
        [](TestForm &f) { ShowActive(f); f.Unload(); f.Unload(); },
        [](TestForm &f) { ShowActive(f); f.widget()->close(); QCoreApplication::processEvents(); },  // close box
        [](TestForm &f) { ShowActive(f); f.cmdExit->Press(); },  // a handler unloads it from inside a click
        [](TestForm &f) {  // ShowModal returns when a handler unloads the form
            QTimer::singleShot(0, [&f] { f.cmdExit->Press(); });
            f.ShowModal();
        },
        [](TestForm &f) {  // unloaded during its load: never shown (ShowModal would block if it showed)
            f.onLoad = [&f] { f.Unload(); };
            f.ShowModal();
        }};
    for (const auto &close : closings) {
        TestForm f;
        close(f);
        EXPECT_EQ(f.loads, 1);
        EXPECT_EQ(f.unloads, 1);
        EXPECT_FALSE(f.IsVisible());
        EXPECT_FALSE(f.IsLoaded());
    }
}

TEST_F(UiTest, EndClosesModalFormsWithoutUnloadAndStopsHandlers) {
    TestForm f;
    f.onOk = [] { End(3); };
    QTimer::singleShot(0, [&] { f.cmdOk->Press(); });
    f.ShowModal();
    EXPECT_TRUE(Ending());
    EXPECT_EQ(EndStatus(), 3);
    EXPECT_EQ(f.unloads, 0);
    EXPECT_FALSE(f.IsVisible());
    f.cmdOk->Press();  // while ending, no handler runs
    EXPECT_EQ(std::count(f.log.begin(), f.log.end(), "cmdOk:click"), 1);
    EXPECT_EQ(MsgBox("late"), 0);
}

TEST_F(UiTest, ErrorLeavingAHandlerIsReportedAndEndsWithStatus1) {
    qvtest::BoxRecorder boxes;
    TestForm f;
    f.onOk = [&] { platform::Raise(53); };
    ShowActive(f);
    f.cmdOk->Press();  // the report on standard error is checked end to end (StartupE2E.SettingsFailures...)
    ASSERT_EQ(boxes.boxes().size(), 1u);
    const platform::ui::MsgBoxRecord &box = boxes.boxes()[0];
    EXPECT_EQ(box.prompt, "Run-time error '53':\n\nFile not found");
    EXPECT_EQ(box.style, vbCritical);  // its title and the status 1 are seen end to end
    EXPECT_TRUE(Ending());
    EXPECT_FALSE(f.IsVisible());
    EXPECT_EQ(f.unloads, 0);

    f.onOk = [&] { platform::Raise(76); };  // a second error while ending shows nothing more
    Dispatch([] { platform::Raise(76); });
    EXPECT_EQ(boxes.boxes().size(), 1u);
}

QWidget *Focused() { return QApplication::focusWidget(); }

// Tab, a click and an access key each give one LostFocus then one GotFocus; Escape closes nothing and
// Enter clicks only a focused button.
TEST_F(UiTest, TabClickAndAccessKeyMoveFocusOnceAndOnlyAFocusedButtonTakesEnter) {
    TestForm f;
    ShowActive(f);
    f.txt[0]->SetFocus();
    f.log.clear();
    Key(Qt::Key_Tab);
    QTest::mouseClick(f.txt[0]->widget(), Qt::LeftButton);
    QCoreApplication::processEvents();
    EXPECT_EQ(f.ActiveControl(), f.txt[0]);
    Key(Qt::Key_Escape);
    Key(Qt::Key_Return);
    EXPECT_TRUE(f.IsVisible());
    EXPECT_EQ(f.unloads, 0);
    Key(Qt::Key_C, Qt::AltModifier);
    EXPECT_EQ(f.log, (std::vector<std::string>{"txt0:lost", "txt1:got", "txt1:lost", "txt0:got", "txt0:lost",
                                               "cmdOk:got", "cmdOk:click"}));
    Key(Qt::Key_Return);
    EXPECT_EQ(std::count(f.log.begin(), f.log.end(), "cmdOk:click"), 2);
}

// A combo's popup, a box opened from a key press and a validation box in LostFocus (which sets the
// focus back) give no LostFocus or GotFocus of their own, nor events of the next control.
TEST_F(UiTest, PopupsAndBoxesAreNoLostFocusAndAValidationBoxKeepsTheFocus) {
    TestForm f;
    f.onTxtKey = [](int, int &key) {
        if (key == 'm') { key = 0; MsgBox("Invalid Date", vbCritical, "Quorvant 32"); }
    };
    f.onTxtLost = [&](int i) {
        if (i == 0 && f.txt[0]->Text() == "bad") {
            MsgBox("Invalid Date", vbCritical, "Quorvant 32");
            f.txt[0]->SetFocus();
        }
    };
    f.cbo->AddItem("A");
    ShowActive(f);
    f.log.clear();
    auto *combo = static_cast<QComboBox *>(f.cbo->widget());
    combo->showPopup();
    QCoreApplication::processEvents();
    combo->hidePopup();
    QCoreApplication::processEvents();
    EXPECT_TRUE(f.log.empty()) << f.log.front();
    Key(Qt::Key_Tab);
    EXPECT_EQ(f.log, (std::vector<std::string>{"cbo:lost", "txt0:got"}));

    f.log.clear();
    QString shown;  // a real box: its text, title, icon and one OK button
    qvtest::onNextModal<QMessageBox>([&](QMessageBox *mb) {
        shown = mb->text() + "|" + mb->windowTitle() + "|" + QString::number(mb->icon()) + "|" + QString::number(mb->buttons().size());
        mb->button(QMessageBox::Ok)->click();
    });
    Key(Qt::Key_M);
    EXPECT_EQ(shown, "Invalid Date|Quorvant 32|" + QString::number(QMessageBox::Critical) + "|1");
    QTRY_VERIFY(f.widget()->isActiveWindow());
    QCoreApplication::processEvents();
    EXPECT_EQ(Focused(), f.txt[0]->widget());
    EXPECT_TRUE(f.log.empty()) << f.log.front();  // neither LostFocus nor a second GotFocus

    QTest::keyClicks(Focused(), "bad");
    f.log.clear();
    qvtest::onNextModal<QMessageBox>([](QMessageBox *mb) { mb->button(QMessageBox::Ok)->click(); });
    Key(Qt::Key_Tab);
    QTRY_COMPARE(Focused(), f.txt[0]->widget());
    QCoreApplication::processEvents();
    EXPECT_EQ(f.log, (std::vector<std::string>{"txt0:lost", "txt0:got"}));
}

// The bar as the window system shows it (not painted afresh), and the share of its inner row in the
// highlight colour.
std::pair<QImage, double> OnScreen(QWidget *bar) {
    const QPoint at = bar->mapTo(bar->window(), QPoint(0, 0));
    const QImage img = bar->screen()->grabWindow(bar->window()->winId(), at.x(), at.y(), bar->width(), bar->height()).toImage().convertToFormat(QImage::Format_RGB32);
    const QColor hl = bar->palette().color(QPalette::Highlight);
    const int y = img.height() / 2;
    int filled = 0, inner = 0;
    for (int x = 3; x < img.width() - 3; ++x) {
        ++inner;
        const QColor c = img.pixelColor(x, y);
        if (std::abs(c.hue() - hl.hue()) < 20 && c.saturation() > 60) ++filled;
    }
    return {img, static_cast<double>(filled) / inner};
}

// A range of millions is scaled to the widget and a value past the maximum fills the bar; the bar drawn
// step by step (only where its fill grew) is on screen what the whole bar drawn afresh is, also back at 0.
TEST_F(UiTest, ProgressBarShowsItsScaledValueWhileTheHandlerKeepsTheThreadAndClampsIt) {
    TestForm f;
    ShowActive(f);
    const struct { int value; double share, within; } rows[] = {{1'000'000, 0.5, 0.015}, {3'000'000, 1.0, 0.05}, {0, 0.0, 0.015}};
    std::vector<std::string> wrong;
    f.onOk = [&] {  // a busy handler that never returns to the event loop until done
        BusyScope busy;
        f.pb->SetMax(2'000'000);
        for (int i = 0; i < 1000; ++i) f.pb->SetValue(i * 1000);
        for (const auto &r : rows) {
            f.pb->SetValue(r.value);
            const auto [img, share] = OnScreen(f.pb->widget());
            if (std::abs(share - r.share) > r.within || img != f.pb->widget()->grab().toImage().convertToFormat(QImage::Format_RGB32))
                wrong.push_back(std::to_string(r.value));
        }
    };
    f.cmdOk->Press();
    EXPECT_TRUE(wrong.empty()) << wrong.front();
}

TEST_F(UiTest, ClippedCaptionsReportsOnlyWhatDoesNotFit) {
    class Captions : public Form {
    public:
        Captions() : Form("frmCaptions", "Captions", 6000, 2000) {
            AddLabel("lblWide", -1, {120, 120, 5000, 255}, "Records processed: 0 of 12,345", 0);
            AddLabel("lbl", 3, {120, 500, 900, 255}, "Records processed: 0 of 12,345", 1);
            AddLabel("lblWrap", -1, {120, 900, 3200, 495}, "Update only meter reading records with this code:", 2);
            AddButton("cmdExit", -1, {120, 1400, 1000, 400}, "E&xit", 3);
            AddButton("cmdNarrow", -1, {2000, 1400, 600, 400}, "&Continue", 4);
        }
    } form;
    EXPECT_EQ(qvtest::ClippedCaptions(form),
              (std::vector<std::string>{"lbl(3): Records processed: 0 of 12,345", "cmdNarrow: &Continue"}));
}

// Keys and clicks during a long run are dropped, not deferred: the keyboard run end to end
// (FrdE2E.KeyboardCorrectionOfEveryReadingOfABillDate) presses and clicks into it under X.

namespace fs = std::filesystem;

class Lists : public Form {
public:
    Lists() : Form("frmLists", "Lists", 5520, 4260) {
        Drive1 = &AddDriveListBox("Drive1", {240, 480, 5055, 315}, 3);
        Dir1 = &AddDirListBox("Dir1", {240, 840, 5055, 2340}, 2);
        Drive1->onChange = [this] {
            log.push_back("Drive1:" + Drive1->Drive());
            Dir1->SetPath(Drive1->Drive());
        };
        Dir1->onChange = [this] { log.push_back("Dir1:" + Dir1->Path()); };
    }
    DriveListBox *Drive1;
    DirListBox *Dir1;
    std::vector<std::string> log;
};

class DriveDirTest : public UiTest {
protected:
    void SetUp() override {
        UiTest::SetUp();
        for (const char *d : {"C/QVNWin32/AUDIT", "C/data/backup", "C/.hidden", "E/Backups/2024", "E/archive"})
            fs::create_directories(drives.root() / d);
    }
    qvtest::TempDrives drives{"CE"};
};

QTreeWidgetItem *ItemNamed(QTreeWidget *tree, const QString &text) {
    const auto found = tree->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
    return found.isEmpty() ? nullptr : found.front();
}

// A missing folder or drive refused with the path kept is the backup window's (BackupWindowTest.WhatCannot...).
TEST_F(DriveDirTest, DirListShowsTheChainAndSubfoldersOfItsPath) {
    Lists f;
    f.Dir1->SetPath("c:\\DATA");  // matched regardless of case, reported as stored
    EXPECT_EQ(f.Dir1->Path(), "C:\\data");
    EXPECT_EQ(f.Dir1->List(-1), "C:\\data");
    EXPECT_EQ(f.Dir1->List(-2), "C:\\");
    EXPECT_EQ(f.Dir1->List(-3), "");
    ASSERT_EQ(f.Dir1->ListCount(), 1);
    EXPECT_EQ(f.Dir1->List(0), "C:\\data\\backup");

    f.Dir1->SetPath("C:\\");
    EXPECT_EQ(f.Dir1->Path(), "C:\\");
    ASSERT_EQ(f.Dir1->ListCount(), 2);  // the dot folder is hidden
    EXPECT_EQ(f.Dir1->List(0), "C:\\data");
    EXPECT_EQ(f.Dir1->List(1), "C:\\QVNWin32");
    EXPECT_EQ(f.log, (std::vector<std::string>{"Dir1:C:\\data", "Dir1:C:\\"}));

    f.Dir1->SetPath("C:\\");  // no change, no event
    EXPECT_EQ(f.log.size(), 2u);
}

TEST_F(DriveDirTest, PickingADriveOpensItsCurrentFolderAndDoubleClickOrEnterOpensAFolder) {
    const fs::path old = fs::current_path();
    fs::current_path(drives.root() / "E/Backups");
    Lists f;
    EXPECT_EQ(f.Drive1->Drive(), "e:");
    EXPECT_EQ(f.Dir1->Path(), "E:\\Backups");
    auto *combo = static_cast<QComboBox *>(f.Drive1->widget());
    ASSERT_EQ(combo->count(), 2);  // the mapped drives, c: and e:

    ShowActive(f);
    combo->setFocus();
    Key(Qt::Key_Up);  // the user picks the other drive
    EXPECT_EQ(f.Drive1->Drive(), "c:");
    f.Dir1->SetPath("E:\\archive");
    f.Drive1->SetDrive("E:");
    EXPECT_EQ(f.Dir1->Path(), "E:\\Backups");  // the drive's current folder, not its root
    EXPECT_EQ(f.log, (std::vector<std::string>{"Drive1:c:", "Dir1:C:\\", "Dir1:E:\\archive", "Drive1:e:",
                                               "Dir1:E:\\Backups"}));
    fs::current_path(old);

    // A click only highlights a folder; a double click or Enter opens it.
    f.Dir1->SetPath("E:\\");
    auto *tree = static_cast<QTreeWidget *>(f.Dir1->widget());
    QTreeWidgetItem *item = ItemNamed(tree, "Backups");
    ASSERT_NE(item, nullptr);
    const QPoint at = tree->visualItemRect(item).center();
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, at);
    EXPECT_EQ(f.Dir1->Path(), "E:\\");  // highlighted only
    QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, at);
    EXPECT_EQ(f.Dir1->Path(), "E:\\Backups");

    tree->setFocus();
    tree->setCurrentItem(ItemNamed(tree, "2024"));
    Key(Qt::Key_Return);
    EXPECT_EQ(f.Dir1->Path(), "E:\\Backups\\2024");
    tree->setCurrentItem(ItemNamed(tree, "e:\\"));
    Key(Qt::Key_Return);
    EXPECT_EQ(f.Dir1->Path(), "E:\\");
}

}  // namespace
