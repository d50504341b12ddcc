// The dispatcher's last-resort report and the message boxes.
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <stdexcept>

#include "platform/error.h"
#include "support/modal.h"
#include "test_form.h"

using namespace uitest;

namespace {

class DispatchTest : public UiTest {};

TEST_F(DispatchTest, ErrorLeavingAHandlerIsReportedAndEndsWithStatus1) {
    qvtest::BoxRecorder boxes;
    TestForm f;
    bool after = false;
    f.onOk = [&] {
        platform::Raise(53);
        after = true;
    };
    f.ShowActive();
    testing::internal::CaptureStderr();
    f.cmdOk->Press();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(after);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    const platform::ui::MsgBoxRecord &box = boxes.boxes()[0];
    EXPECT_EQ(box.prompt, "Run-time error '53':\n\nFile not found");
    EXPECT_EQ(box.style, vbCritical);
    EXPECT_EQ(box.title, kAppTitle);
    EXPECT_NE(err.find(box.prompt), std::string::npos);
    EXPECT_TRUE(Ending());
    EXPECT_EQ(EndStatus(), 1);
    EXPECT_FALSE(f.IsVisible());
    EXPECT_EQ(f.unloads, 0);

    f.onOk = [&] { platform::Raise(76); };  // a second error while ending shows nothing more
    Dispatch([] { platform::Raise(76); });
    EXPECT_EQ(boxes.boxes().size(), 1u);
}

TEST_F(DispatchTest, OtherExceptionsAndErrorsInLoadAreReportedToo) {
    qvtest::BoxRecorder boxes;
    Dispatch([] { throw std::runtime_error("bad thing"); });
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].prompt, "Run-time error '5':\n\nbad thing");

    ResetEndingForTests();
    boxes.clear();
    TestForm f;
    f.onLoad = [] { platform::Raise(3024, "Could not find file 'C:\\x.mdb'."); };
    f.ShowModal();  // returns at once: the load failed
    EXPECT_FALSE(f.IsVisible());
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].prompt, "Run-time error '3024':\n\nCould not find file 'C:\\x.mdb'.");
    EXPECT_EQ(EndStatus(), 1);
}

TEST_F(DispatchTest, RealBoxShowsIconTitleAndOneOkButton) {
    struct Case {
        int style;
        QMessageBox::Icon icon;
        std::string title, shown;
    };
    const std::vector<Case> cases{{vbCritical, QMessageBox::Critical, "Quorvant 32", "Quorvant 32"},
                                  {vbInformation, QMessageBox::Information, "NOTHING TO DO", "NOTHING TO DO"},
                                  {vbOKOnly, QMessageBox::NoIcon, "", kAppTitle},
                                  {vbExclamation, QMessageBox::Warning, "", kAppTitle},
                                  {vbQuestion, QMessageBox::Question, "", kAppTitle}};
    for (const Case &c : cases) {
        QMessageBox::Icon icon{};
        QString title, text;
        int buttons = 0;
        qvtest::onNextModal<QMessageBox>([&](QMessageBox *mb) {
            icon = mb->icon();
            title = mb->windowTitle();
            text = mb->text();
            buttons = static_cast<int>(mb->buttons().size());
            mb->button(QMessageBox::Ok)->click();
        });
        EXPECT_EQ(MsgBox("Hello", c.style, c.title), vbOK);
        EXPECT_EQ(icon, c.icon) << c.style;
        EXPECT_EQ(title.toStdString(), c.shown);
        EXPECT_EQ(text, "Hello");
        EXPECT_EQ(buttons, 1);
    }
}

TEST_F(DispatchTest, ResponderRecordsTheShownTitle) {
    qvtest::BoxRecorder boxes;
    MsgBox("You have selected a GLOBAL file...this is not a valid file!");
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].title, kAppTitle);
    EXPECT_EQ(boxes.boxes()[0].style, vbOKOnly);
}

}  // namespace
