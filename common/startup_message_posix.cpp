#include "common/line_output.h"
#include "common/startup_message.h"
#include "common/text.h"

namespace kavenor {

void ShowStartupMessage(const std::u16string& text) { WriteWholeLine(StdStream::kError, Utf16ToUtf8(text)); }

}  // namespace kavenor
