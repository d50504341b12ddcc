// Date entry validation on a real text field of a real window.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>

#include "platform/clock.h"
#include "platform/ui/app.h"
#include "platform/ui/forms.h"
#include "startup/date_entry.h"
#include "support/modal.h"

namespace {

using platform::ui::MsgBoxRecord;

class DateForm : public platform::ui::Form {
public:
    DateForm() : Form("frmDates", "Dates", 4000, 1500) {
        field = &AddTextBox("txt", 0, {120, 120, 1215, 285}, 0);
        other = &AddTextBox("txt", 1, {120, 600, 1215, 285}, 1);
    }
    platform::ui::TextBox *field;
    platform::ui::TextBox *other;
};

class DateEntryTest : public ::testing::Test {
protected:
    DateForm form;
    qvtest::BoxRecorder recorder;
    std::vector<MsgBoxRecord> &boxes = recorder.boxes();

    void SetUp() override {
        // Month/day alone and two-digit years are read against this clock.
        platform::SetClockForTests([] { return platform::MakeDateTime(2017, 6, 15, 9, 0, 0); });
        form.Show();
        QApplication::processEvents();
    }
    void TearDown() override {
        platform::SetClockForTests({});
    }
    std::string Validate(const std::string &typed) {
        boxes.clear();
        form.other->SetFocus();
        QApplication::processEvents();
        form.field->SetText(typed);
        startup::DateEntryValidation(*form.field);
        QApplication::processEvents();
        return form.field->Text();
    }
};

TEST_F(DateEntryTest, RecognisedAndComposedEntriesAreNormalised) {
    struct Case {
        const char *typed, *expected;
    };
    for (const Case &c : std::vector<Case>{
             {"5/1/17", "05/01/2017"},       {"5-1-17", "05/01/2017"},   {"May 1, 2017", "05/01/2017"},
             {"5/1/2017 10:30", "05/01/2017"}, {"5117", "05/01/2017"},   {"9999", "09/09/1999"},
             {"51517", "05/15/2017"},        {"051517", "05/15/2017"},   {"05152017", "05/15/2017"},
             {"1012017", "10/01/2017"},      {"0512017", "05/01/2017"},  {"5152017", "05/15/2017"},
             {"1152017", "11/05/2017"},      {"12/31/29", "12/31/2029"}, {"1/1/30", "01/01/1930"},
         }) {
        EXPECT_EQ(Validate(c.typed), c.expected) << c.typed;
        EXPECT_TRUE(boxes.empty()) << c.typed;
    }
}

TEST_F(DateEntryTest, UnreadableEntriesAreRefusedAndEmptied) {
    for (const char *typed : {"   ", "0000", "123", "123456789", "ab", "13/45/2017", "5\u00e917"}) {
        EXPECT_EQ(Validate(typed), "") << typed;
        ASSERT_EQ(boxes.size(), 1u) << typed;
        EXPECT_EQ(boxes[0].prompt, "Invalid Date");
        EXPECT_EQ(boxes[0].title, "Quorvant 32");
        EXPECT_EQ(boxes[0].style, platform::ui::vbCritical);
    }
}

TEST_F(DateEntryTest, FiveCharactersBeginningTenToTwelveAreAmbiguous) {
    for (const char *typed : {"10117", "11317", "12345"}) {
        EXPECT_EQ(Validate(typed), "") << typed;
        ASSERT_EQ(boxes.size(), 1u) << typed;
        EXPECT_EQ(boxes[0].prompt, "Ambiguous Date Entry");
        EXPECT_EQ(boxes[0].title, "Quorvant 32");
        EXPECT_EQ(boxes[0].style, platform::ui::vbCritical);
        EXPECT_TRUE(form.field->HasFocus()) << "focus goes back to the field: " << typed;
    }
}

TEST_F(DateEntryTest, AComposedTextThatIsNoDateIsLeftForTheCallerWithoutAMessage) {
    // 05117 composes 0/51/17: no message, and the field holds no date afterwards.
    for (const char *typed : {"05117", "ab/cd/ef", "99999999"}) {
        std::string left = Validate(typed);
        EXPECT_TRUE(boxes.empty()) << typed;
        EXPECT_FALSE(platform::IsDate(left)) << typed << " left " << left;
    }
}

}  // namespace
