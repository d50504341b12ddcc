#include "startup/date_entry.h"

#include "platform/clock.h"
#include "platform/ui/app.h"

namespace startup {

namespace {

constexpr const char *kTitle = "Quorvant 32";

bool StartsWithTwoDigitMonth(const std::string &t) {
    const std::string head = t.substr(0, 2);
    return head == "10" || head == "11" || head == "12";
}

enum class Outcome { Composed, Invalid, Ambiguous };

// Cuts a run of four to eight characters into month, day and year by its length.
Outcome Compose(const std::string &t, std::string &composed) {
    auto cut = [&t](std::size_t pos, std::size_t len) { return t.substr(pos, len); };
    switch (t.size()) {
    case 4: composed = cut(0, 1) + "/" + cut(1, 1) + "/" + cut(2, 2); return Outcome::Composed;
    case 5:
        if (StartsWithTwoDigitMonth(t)) return Outcome::Ambiguous;
        composed = cut(0, 1) + "/" + cut(1, 2) + "/" + cut(3, 2);
        return Outcome::Composed;
    case 6: composed = cut(0, 2) + "/" + cut(2, 2) + "/" + cut(4, 2); return Outcome::Composed;
    case 7:
        if (StartsWithTwoDigitMonth(t) || t[0] == '0')
            composed = cut(0, 2) + "/" + cut(2, 1) + "/" + cut(3, 4);
        else
            composed = cut(0, 1) + "/" + cut(1, 2) + "/" + cut(3, 4);
        return Outcome::Composed;
    case 8: composed = cut(0, 2) + "/" + cut(2, 2) + "/" + cut(4, 4); return Outcome::Composed;
    default: return Outcome::Invalid;
    }
}

// "mm/dd/yyyy" of a recognised date; a text that is no date stays as it is (so it is still no date).
std::string Normalised(const std::string &text) {
    auto d = platform::RecognizeDate(text);
    return d ? platform::Format(*d, "mm/dd/yyyy") : text;
}

void Refuse(platform::ui::TextBox &field) {
    platform::ui::MsgBox("Invalid Date", platform::ui::vbCritical, kTitle);
    field.SetText("");
}

}  // namespace

void DateEntryValidation(platform::ui::TextBox &field) {
    const std::string text = field.Text();
    if (text.find_first_not_of(' ') == std::string::npos) return Refuse(field);
    if (platform::IsDate(text)) return field.SetText(Normalised(text));

    std::string composed;
    switch (Compose(text, composed)) {
    case Outcome::Invalid: return Refuse(field);
    case Outcome::Ambiguous:
        platform::ui::MsgBox("Ambiguous Date Entry", platform::ui::vbCritical, kTitle);
        field.SetText("");
        field.SetFocus();
        return;
    case Outcome::Composed: break;
    }
    field.SetText(Normalised(composed));
    // Only the four-character form is checked again; the longer forms leave a non-date for the caller.
    if (text.size() == 4 && !platform::IsDate(field.Text())) Refuse(field);
}

}  // namespace startup
