#include <windows.h>

#include "service/standard_output.h"

namespace kavenor {

bool StandardOutputAttached() {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  return out != nullptr && out != INVALID_HANDLE_VALUE;
}

}  // namespace kavenor
