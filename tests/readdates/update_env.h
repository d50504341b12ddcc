#pragma once
// Helpers for the correction-run tests: fill the three fields through the keyboard, press Continue,
// read the audit file of the (fixed) current month.
#include <filesystem>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "readdates/frd_fixture.h"

namespace frdtest {

// A box as one comparable text: title, style, prompt.
inline std::string Box(const platform::ui::MsgBoxRecord &r) {
    return r.title + " | " + std::to_string(r.style) + " | " + r.prompt;
}

class UpdateTest : public FrdTest {
protected:
    UpdateTest() {
        platform::SetClockForTests([] { return platform::MakeDateTime(2021, 5, 3, 14, 7); });
    }
    ~UpdateTest() override { platform::SetClockForTests({}); }

    // Opens the window, chooses the code and leaves each field with its entry; forgets the count boxes.
    readdates::frmFixDupRdgs &Fill(const std::string &bill, const std::string &oldDate, const std::string &newDate,
                                   const std::string &code = " ALL CODES") {
        auto &f = form() ? *form() : OpenForm();
        f.cboCode->SetText(code);
        Enter(0, bill);
        Enter(1, oldDate);
        Enter(2, newDate);
        ClearBoxes();
        return f;
    }
    // Presses Continue; the boxes it showed.
    std::vector<platform::ui::MsgBoxRecord> Continue() {
        ClearBoxes();
        form()->cmdContinue->Press();
        ProcessEvents();
        return boxes;
    }
    std::filesystem::path AuditFile() const { return AuditFolder() / "billing202105.LOG"; }
    std::vector<std::string> AuditLines() const {
        std::vector<std::string> lines;
        if (!std::filesystem::exists(AuditFile())) return lines;
        const std::string text = qvtest::ReadFile(AuditFile());
        for (std::size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
            lines.push_back(text.substr(at, end - at));
        return lines;
    }
    std::vector<std::string> ReadDates() const {
        std::vector<std::string> out;
        for (auto &row : DataRows("select readdate from [tbl reading] order by rowid")) out.push_back(row[0]);
        return out;
    }
    long long LidbCount() const { return DataCount("select count(*) from LIDB"); }
};

}  // namespace frdtest
