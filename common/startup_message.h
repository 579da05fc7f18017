// Messages shown while the program starts, before any window of its own exists.
#pragma once

#include <string>

namespace kavenor {

// Windows: a modal message box with an OK button. Linux: a line on standard error, so that a
// headless start never blocks.
void ShowStartupMessage(const std::u16string& text);

}  // namespace kavenor
