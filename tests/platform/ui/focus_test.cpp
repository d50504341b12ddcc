// Focus and key events: LostFocus/GotFocus by Tab, Enter-as-Tab, mouse and boxes; KeyPress; tab order.
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include "support/modal.h"
#include "test_form.h"

using namespace uitest;

namespace {

class FocusTest : public UiTest {};

QWidget *Focused() { return QApplication::focusWidget(); }

TEST_F(FocusTest, FocusStartsOnLowestTabIndexAndTabFollowsTabIndexes) {
    TestForm f;
    f.ShowActive();
    std::vector<QWidget *> seen{Focused()};
    for (int i = 0; i < 5; ++i) {
        Key(Qt::Key_Tab);
        seen.push_back(Focused());
    }
    const std::vector<QWidget *> expected{f.cbo->widget(), f.txt[0]->widget(), f.txt[1]->widget(),
                                          f.cmdOk->widget(), f.cmdExit->widget(), f.cbo->widget()};
    EXPECT_EQ(seen, expected);

    f.cmdOk->SetEnabled(false);  // a disabled control is passed over
    f.txt[1]->SetFocus();
    Key(Qt::Key_Tab);
    EXPECT_EQ(Focused(), f.cmdExit->widget());
}

TEST_F(FocusTest, TabAndMouseClickFireLostFocusThenGotFocusOnce) {
    TestForm f;
    f.ShowActive();
    f.txt[0]->SetFocus();
    f.log.clear();
    Key(Qt::Key_Tab);
    EXPECT_EQ(f.log, (std::vector<std::string>{"txt0:lost", "txt1:got"}));

    f.log.clear();
    QTest::mouseClick(f.txt[0]->widget(), Qt::LeftButton);
    QCoreApplication::processEvents();
    EXPECT_EQ(f.log, (std::vector<std::string>{"txt1:lost", "txt0:got"}));
    EXPECT_TRUE(f.txt[0]->HasFocus());
    EXPECT_EQ(f.ActiveControl(), f.txt[0]);
}

TEST_F(FocusTest, EnterTurnedIntoTabInsertsNothingAndMovesOn) {
    TestForm f;
    f.onTxtKey = [](int, int &key) {
        if (key == 13) {
            key = 0;
            SendKeys("{TAB}");
        }
    };
    f.ShowActive();
    f.txt[0]->SetFocus();
    Type("5/1/2017");
    f.log.clear();
    Key(Qt::Key_Return);
    QTRY_COMPARE(Focused(), f.txt[1]->widget());
    EXPECT_EQ(f.txt[0]->Text(), "5/1/2017");
    EXPECT_EQ(f.log, (std::vector<std::string>{"txt0:lost", "txt1:got"}));
    EXPECT_FALSE(f.has("cmdOk:click"));  // Enter clicks no button of the form
}

TEST_F(FocusTest, KeyPressHandlerCanSwallowOrReplaceKeys) {
    TestForm f;
    f.onTxtKey = [](int, int &key) {
        if (key == 'x') key = 0;
        else if (key >= 'a' && key <= 'z') key -= 32;
    };
    f.ShowActive();
    f.txt[0]->SetFocus();
    Type("axb");
    EXPECT_EQ(f.txt[0]->Text(), "AB");

    std::vector<int> keys;  // Tab and arrows are no KeyPress; Enter is 13, Backspace 8
    f.onTxtKey = [&](int, int &key) { keys.push_back(key); };
    Key(Qt::Key_Left);
    Key(Qt::Key_Backspace);
    Key(Qt::Key_Return);
    Key(Qt::Key_Tab);
    EXPECT_EQ(keys, (std::vector<int>{8, 13}));
}

TEST_F(FocusTest, EscapeDoesNotCloseAndEnterClicksOnlyTheFocusedButton) {
    TestForm f;
    f.ShowActive();
    Key(Qt::Key_Escape);
    f.txt[0]->SetFocus();
    Key(Qt::Key_Escape);
    EXPECT_TRUE(f.IsVisible());
    EXPECT_EQ(f.unloads, 0);

    Key(Qt::Key_Return);
    EXPECT_FALSE(f.has("cmdOk:click"));
    f.cmdOk->SetFocus();
    Key(Qt::Key_Return);
    EXPECT_TRUE(f.has("cmdOk:click"));
}

TEST_F(FocusTest, AccessKeyMovesFocusToTheButtonThenClicksIt) {
    TestForm f;
    f.ShowActive();
    f.txt[0]->SetFocus();
    f.log.clear();
    Key(Qt::Key_C, Qt::AltModifier);
    EXPECT_EQ(f.log, (std::vector<std::string>{"txt0:lost", "cmdOk:got", "cmdOk:click"}));
}

TEST_F(FocusTest, BoxOpenedWhileAControlHasFocusIsNoLostFocus) {
    TestForm f;
    f.onTxtKey = [](int, int &key) {
        if (key == 'm') {
            key = 0;
            MsgBox("Invalid Date", vbCritical, "Quorvant 32");
        }
    };
    f.ShowActive();
    f.txt[0]->SetFocus();
    f.log.clear();
    QString text;
    qvtest::onNextModal<QMessageBox>([&](QMessageBox *mb) {
        text = mb->text();
        mb->button(QMessageBox::Ok)->click();
    });
    Key(Qt::Key_M);
    EXPECT_EQ(text, "Invalid Date");
    QTRY_VERIFY(f.widget()->isActiveWindow());
    QCoreApplication::processEvents();
    EXPECT_EQ(Focused(), f.txt[0]->widget());
    EXPECT_TRUE(f.log.empty()) << f.log.front();  // neither LostFocus nor a second GotFocus
}

TEST_F(FocusTest, ValidationBoxInLostFocusKeepsFocusWithoutEventsOfTheNextControl) {
    TestForm f;
    f.onTxtLost = [&](int i) {
        if (i == 0 && f.txt[0]->Text() == "bad") {
            MsgBox("Invalid Date", vbCritical, "Quorvant 32");
            f.txt[0]->SetFocus();
        }
    };
    f.ShowActive();
    f.txt[0]->SetFocus();
    Type("bad");
    f.log.clear();
    qvtest::onNextModal<QMessageBox>([](QMessageBox *mb) { mb->button(QMessageBox::Ok)->click(); });
    Key(Qt::Key_Tab);
    QTRY_COMPARE(Focused(), f.txt[0]->widget());
    QCoreApplication::processEvents();
    EXPECT_EQ(f.log, (std::vector<std::string>{"txt0:lost", "txt0:got"}));
}

TEST_F(FocusTest, ComboPopupIsNoLostFocus) {
    TestForm f;
    f.cbo->AddItem("A");
    f.cbo->AddItem("B");
    f.ShowActive();
    f.log.clear();
    auto *combo = static_cast<QComboBox *>(f.cbo->widget());
    combo->showPopup();
    QCoreApplication::processEvents();
    combo->hidePopup();
    QCoreApplication::processEvents();
    EXPECT_TRUE(f.log.empty()) << f.log.front();
    Key(Qt::Key_Tab);
    EXPECT_EQ(f.log, (std::vector<std::string>{"cbo:lost", "txt0:got"}));
}

}  // namespace
