#include "service/http_page.h"

#include <iostream>

#include "common/file_io.h"

namespace kavenor {

const char16_t* TestPageName(int32_t model) {
  switch (model) {
    case 0:
    case 3: return u"03_idcard.html";
    case 4:
    case 5: return u"NFC_idcard.html";
    default: return u"idcardM1.html";
  }
}

void LoadFileToString(const std::u16string& path, std::string& out) {
  if (!ReadWholeFile(path, out)) std::cout << "open  file Fail  !!!" << std::endl;
}

std::string TestPageBody(const std::u16string& dir, int32_t model) {
  std::string body;
  LoadFileToString(dir + TestPageName(model), body);
  return body;
}

}  // namespace kavenor
