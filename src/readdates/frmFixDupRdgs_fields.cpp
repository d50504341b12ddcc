// The read-date window's entry fields: Enter as Tab, select on focus, validation and prompts when a
// field is left, and the state of Continue.
#include "platform/clock.h"
#include "platform/ascii.h"
#include "platform/ui/app.h"
#include "readdates/frmFixDupRdgs.h"
#include "readdates/read_date_entries.h"
#include "startup/date_entry.h"

namespace readdates {

namespace {

constexpr int kEnter = 13;

void EnterActsAsTab(int &KeyAscii) {
    if (KeyAscii != kEnter) return;
    KeyAscii = 0;
    platform::ui::SendKeys("{TAB}");
}

}  // namespace

void frmFixDupRdgs::cboCode_KeyPress(int &KeyAscii) { EnterActsAsTab(KeyAscii); }

void frmFixDupRdgs::txt_KeyPress(int /*Index*/, int &KeyAscii) { EnterActsAsTab(KeyAscii); }

void frmFixDupRdgs::txt_GotFocus(int Index) {
    txt[Index]->SetSelStart(0);
    txt[Index]->SetSelLength(static_cast<int>(txt[Index]->Text().size()));
}

void frmFixDupRdgs::txt_LostFocus(int Index) {
    platform::ui::TextBox &field = *txt[Index];
    if (field.Text().empty()) {
        // An emptied field must not leave Continue enabled on the entries it had before.
        RefreshContinue();
        return;
    }
    switch (Index) {
    case 0:
        startup::DateEntryValidation(field);
        if (platform::IsDate(field.Text())) {
            Label1->SetCaption("Enter the INCORRECT READ DATE that needs to be changed, "
                               "or enter ALL if all read dates for BILL DATE " +
                               field.Text() + " need to be changed to the same READ DATE.");
            Label4->SetCaption("Enter the READ DATE that needs to be given to the set "
                               "of readings that are being corrected for BILL DATE " +
                               field.Text() + ".");
            ReportMatchingReadings(0);
        }
        break;
    case 1:
        if (IsAllKeyword(field.Text())) {
            ReportMatchingReadings(1);
        } else {
            startup::DateEntryValidation(field);
            if (platform::IsDate(field.Text())) ReportMatchingReadings(1);
        }
        break;
    default:
        if (!platform::IsAllSpaces(field.Text())) {
            startup::DateEntryValidation(field);
            if (platform::IsDate(field.Text())) ReportMatchingReadings(2);
        }
        break;
    }
    RefreshContinue();
}

void frmFixDupRdgs::RefreshContinue() {
    cmdContinue->SetEnabled(EntriesValid(txt[0]->Text(), txt[1]->Text(), txt[2]->Text()));
}

void frmFixDupRdgs::cmdExit_Click() { Unload(); }

}  // namespace readdates
