// The read-date window's count of the readings that the entries made so far select.
#include "platform/clock.h"
#include "platform/ui/app.h"
#include "readdates/frmFixDupRdgs.h"
#include "readdates/read_date_entries.h"
#include "startup/shared.h"

namespace readdates {

namespace dao = platform::dao;

namespace {

std::string CountTitle(std::int64_t n) {
    if (n == 0) return "NO RECORDS FOUND";
    if (n == 1) return "ONE RECORD FOUND";
    return std::to_string(n) + " RECORDS FOUND";
}

std::string CountOpening(std::int64_t n) {
    if (n == 0) return "NO reading records were found";
    if (n == 1) return "One reading record was found";
    return std::to_string(n) + " reading records were found";
}

}  // namespace

void frmFixDupRdgs::ReportMatchingReadings(int Index) {
    const std::string bill = txt[0]->Text();
    const std::string field = txt[Index]->Text();
    const bool billIsDate = platform::IsDate(bill);
    const bool fieldIsAll = Index == 1 && IsAllKeyword(field);
    if (!fieldIsAll && !platform::IsDate(field)) return;
    // ALL without a bill date selects nothing to count.
    if (fieldIsAll && !billIsDate) return;

    const std::string code = cboCode->Text();
    std::string filter;
    if (code != kAllCodes) filter = " and code = '" + startup::SqlQuote(code) + "'";
    filter += " and lockey in (select lockey from FRDLK)";

    // Index 0 and ALL count the bill date; a read date (incorrect or new) is paired with the bill
    // date when there is one, else counted on every bill date. A read date matches its whole day, as
    // the run matches it.
    std::string where;
    if (Index == 0 || fieldIsAll)
        where = "billdate = " + DateLiteral(bill);
    else if (billIsDate)
        where = "billdate = " + DateLiteral(bill) + " and " + OnDay("readdate", field);
    else
        where = OnDay("readdate", field);

    auto &shared = startup::Shared();
    shared.db = dao::DBEngine().OpenDatabase(shared.DataFilePath);
    shared.rs = shared.db.OpenRecordset("select * from [tbl reading] where " + where + filter, dao::dbOpenSnapshot);
    std::int64_t count = shared.rs.RecordCount();
    if (count != 0) {
        shared.rs.MoveLast();
        count = shared.rs.RecordCount();
    }
    shared.rs.Close();
    shared.rs = {};
    shared.db.Close();
    shared.db = {};

    std::string prompt = CountOpening(count);
    if (code != kAllCodes) prompt += " for code " + code;
    if (Index == 0)
        prompt += " with bill date " + bill + ".";
    else if (Index == 1 && billIsDate)
        prompt += " with bill date " + bill + " and read date " + field + ".";
    else
        prompt += " with read date " + field + ".";
    platform::ui::MsgBox(prompt, platform::ui::vbInformation, CountTitle(count));
}

}  // namespace readdates
