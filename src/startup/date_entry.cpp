// The checks of a typed date: normalised, composed from its parts, refused or called ambiguous.
#include "startup/date_entry.h"

#include <vector>

#include "platform/clock.h"
#include "platform/ui/app.h"

namespace startup {

namespace {

constexpr const char *kTitle = "Quorvant 32";

// The characters of a UTF-8 text, one string each (a byte that starts no sequence counts as one).
std::vector<std::string> Characters(const std::string &text) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        std::size_t n = 1;
        while (n < length && i + n < text.size() && (static_cast<unsigned char>(text[i + n]) & 0xC0) == 0x80) ++n;
        out.push_back(text.substr(i, n));
        i += n;
    }
    return out;
}

bool StartsWithTwoDigitMonth(const std::vector<std::string> &t) {
    const std::string head = t[0] + t[1];
    return head == "10" || head == "11" || head == "12";
}

enum class Outcome { Composed, Invalid, Ambiguous };

// Cuts a run of four to eight characters into month, day and year by its length in characters.
Outcome Compose(const std::vector<std::string> &t, std::string &composed) {
    auto cut = [&t](std::size_t pos, std::size_t len) {
        std::string part;
        for (std::size_t i = pos; i < pos + len; ++i) part += t[i];
        return part;
    };
    switch (t.size()) {
    case 4: composed = cut(0, 1) + "/" + cut(1, 1) + "/" + cut(2, 2); return Outcome::Composed;
    case 5:
        if (StartsWithTwoDigitMonth(t)) return Outcome::Ambiguous;
        composed = cut(0, 1) + "/" + cut(1, 2) + "/" + cut(3, 2);
        return Outcome::Composed;
    case 6: composed = cut(0, 2) + "/" + cut(2, 2) + "/" + cut(4, 2); return Outcome::Composed;
    case 7:
        if (StartsWithTwoDigitMonth(t) || t[0] == "0")
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

    const std::vector<std::string> characters = Characters(text);
    std::string composed;
    switch (Compose(characters, composed)) {
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
    if (characters.size() == 4 && !platform::IsDate(field.Text())) Refuse(field);
}

}  // namespace startup
