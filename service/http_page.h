// The test page that every plain HTTP request receives.
#pragma once

#include <cstdint>
#include <string>

namespace kavenor {

// The page file of a reader model: 0 and 3 "03_idcard.html"; 4 and 5 "NFC_idcard.html"; any other
// value "idcardM1.html".
const char16_t* TestPageName(int32_t model);

// Reads the whole file, bytes unchanged (NUL bytes kept), into `out`. When the file cannot be
// opened, writes "open  file Fail  !!!" to standard output and leaves `out` as it was.
void LoadFileToString(const std::u16string& path, std::string& out);

// The page of `model` in `dir` (which ends in a separator or is empty); empty when it is missing.
std::string TestPageBody(const std::u16string& dir, int32_t model);

}  // namespace kavenor
