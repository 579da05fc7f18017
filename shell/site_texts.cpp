#include "shell/site_texts.h"

#include "common/text.h"

namespace kavenor {

std::u16string SiteQuestionText(const std::string& origin) {
  return u"网页 " + Utf8ToUtf16(origin) + u" 请求使用读卡器。是否允许？";
}

std::u16string SiteListEntry(const std::string& origin, bool allowed) {
  const std::u16string site = origin == "*" ? u"所有网站 (*)" : Utf8ToUtf16(origin);
  return std::u16string(allowed ? u"允许" : u"拒绝") + u"  " + site;
}

}  // namespace kavenor
