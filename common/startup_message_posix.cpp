#include <cstdio>

#include "common/startup_message.h"
#include "common/text.h"

namespace kavenor {

void ShowStartupMessage(const std::u16string& text) {
  std::fprintf(stderr, "%s\n", Utf16ToUtf8(text).c_str());
  std::fflush(stderr);
}

}  // namespace kavenor
