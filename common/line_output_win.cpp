#include <windows.h>

#include <mutex>

#include "common/line_output.h"

namespace kavenor {

void WriteStandardStream(StdStream stream, const char* bytes, size_t size) {
  static std::mutex mutex;
  HANDLE handle = GetStdHandle(stream == StdStream::kOutput ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;  // a windowed start has none
  std::lock_guard<std::mutex> lock(mutex);
  while (size > 0) {
    DWORD written = 0;
    DWORD chunk = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
    if (!WriteFile(handle, bytes, chunk, &written, nullptr) || written == 0) return;
    bytes += written;
    size -= written;
  }
}

bool StandardOutputAttached() {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  return out != nullptr && out != INVALID_HANDLE_VALUE;
}

}  // namespace kavenor
