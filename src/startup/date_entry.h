#pragma once
// Date entry validation of a text field.
#include <string>

#include "platform/ui/forms.h"

namespace startup {

// Normalises the field's text to "mm/dd/yyyy", or refuses it ("Invalid Date", "Ambiguous Date Entry",
// critical, title "Quorvant 32") and empties the field. The caller tests the field's text afterwards.
void DateEntryValidation(platform::ui::TextBox &field);

}  // namespace startup
