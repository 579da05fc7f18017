// What the operator reads about web sites: the question about a new one, and the entries of the
// settings window's list of the allowed and refused ones.
#pragma once

#include <string>

namespace kavenor {

// When Config.ini cannot be written: the answer or the removal holds only while the program runs.
inline constexpr char16_t kSiteChangeNotKept[] = u"Config.ini 无法写入：这一更改只在程序关闭前有效";

// "网页 https://counter.example.cn 请求使用读卡器。是否允许？"
std::u16string SiteQuestionText(const std::string& origin);

// "允许  https://counter.example.cn", "拒绝  https://evil.example", "允许  所有网站 (*)".
std::u16string SiteListEntry(const std::string& origin, bool allowed);

}  // namespace kavenor
