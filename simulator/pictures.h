// The pictures of the demo card, as the Base64 texts the picture getters deliver.
#pragma once

#include <cstddef>
#include <string>

namespace kavenor::sim {

// A valid Base64 text of exactly `length` characters (when `length` is a multiple of 4).
std::u16string Base64Filler(size_t length);

// The generated 24-bit BMP of the demo card for Getbase64BMPDataU (102x126 photo),
// Getbase64FrontBMPDataU and Getbase64backBMPDataU (428x270 card sides), Base64-encoded; empty for
// any other name. Made once per loaded library; the same bytes on every run.
const std::u16string& DemoPicture(const std::string& getter);

}  // namespace kavenor::sim
