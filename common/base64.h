// Standard Base64 (RFC 4648 alphabet, "=" padding, no line breaks).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kavenor {

std::u16string Base64Encode(const uint8_t* data, size_t size);

}  // namespace kavenor
