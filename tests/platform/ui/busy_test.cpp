// BusyScope: the user's input to the forms is swallowed, boxes opened meanwhile still answer.
#include <QMessageBox>
#include <QPushButton>

#include "support/modal.h"
#include "test_form.h"

using namespace uitest;

namespace {

class BusyTest : public UiTest {};

TEST_F(BusyTest, ClicksAndKeysDuringTheWorkAreDroppedNotDeferred) {
    TestForm f;
    ShowActive(f);
    f.txt[0]->SetFocus();
    f.onOk = [&] {
        BusyScope busy;
        QTest::mouseClick(f.cmdExit->widget(), Qt::LeftButton);
        QTest::keyClicks(f.txt[0]->widget(), "abc");
        busy.Pump();
        QCoreApplication::processEvents();
    };
    f.cmdOk->Press();
    QCoreApplication::processEvents();
    EXPECT_FALSE(f.has("cmdExit:click"));
    EXPECT_EQ(f.txt[0]->Text(), "");
    EXPECT_TRUE(f.IsVisible());

    QTest::mouseClick(f.cmdExit->widget(), Qt::LeftButton);  // afterwards input is normal
    EXPECT_TRUE(f.has("cmdExit:click"));
}

TEST_F(BusyTest, BoxShownWhileBusyCanBeAnswered) {
    TestForm f;
    ShowActive(f);
    bool answered = false;
    f.onOk = [&] {
        BusyScope busy;
        qvtest::onNextModal<QMessageBox>([&](QMessageBox *mb) {
            QTest::mouseClick(mb->button(QMessageBox::Ok), Qt::LeftButton);
            answered = !mb->isVisible();
            if (!answered) mb->done(0);  // never hang on a box that ignored its click
        });
        MsgBox("Records changed: 3", vbInformation, "FINISHED");
    };
    f.cmdOk->Press();
    EXPECT_TRUE(answered);
}

}  // namespace
