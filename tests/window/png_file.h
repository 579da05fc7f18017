// Writes screenshots as PNG files (24-bit RGB, stored without compression: small code, big files).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kavenor::testing {

// `rgb`: width * height * 3 bytes, rows top to bottom. False when the file cannot be written.
bool WritePng(const std::u16string& path, uint32_t width, uint32_t height, const std::vector<uint8_t>& rgb);

}  // namespace kavenor::testing
