#include "service/http_page.h"

#include <iostream>

#include "common/device_model.h"
#include "common/file_io.h"

namespace kavenor {

const char16_t* TestPageName(int32_t model) {
  switch (model) {
    case kModelOrv5u:
    case kModelOrv5uLn: return u"03_idcard.html";
    // Outside the model list, but the NFC readers' page answers to them.
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
