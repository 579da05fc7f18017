#include "common/text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <memory>
#ifdef _WIN32
#include <windows.h>
#endif

namespace kavenor {
namespace {

TEST(Utf, SurrogatePairsAndMalformedInput) {
  struct Case {
    std::u16string utf16;
    std::string utf8;
  } cases[] = {
      {u"大厅1", "\xE5\xA4\xA7\xE5\x8E\x85" "1"},
      {u"\U00020BB7", "\xF0\xA0\xAE\xB7"},  // outside the BMP: one surrogate pair
      {u"a\U0001F600b", "a\xF0\x9F\x98\x80" "b"},
      {u"", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Utf16ToUtf8(c.utf16), c.utf8);
    EXPECT_EQ(Utf8ToUtf16(c.utf8), c.utf16);
  }
  // A lone surrogate and malformed UTF-8 become U+FFFD rather than garbage bytes.
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800)) + u"x"), "\xEF\xBF\xBDx");
  EXPECT_EQ(Utf8ToUtf16("\xC3"), u"\uFFFD");
  EXPECT_EQ(Utf8ToUtf16("\xE5\xA4x"), u"\uFFFD\uFFFDx");
  EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");  // overlong
}

TEST(Utf, UpToZeroStopsAtCapacity) {
  const char16_t full[3] = {u'a', u'b', u'c'};  // no terminator
  EXPECT_EQ(TextUpToZero(full, 3), u"abc");
  const char16_t cut[4] = {u'a', 0, u'c', 0};
  EXPECT_EQ(TextUpToZero(cut, 4), u"a");
  const char bytes[2] = {'1', '2'};
  EXPECT_EQ(BytesUpToZero(bytes, 2), "12");
}

// The fast scan goes 32 units a step: a zero at each place around the steps, in buffers of exactly
// their capacity (so that a read past it is a fault the memory checkers see), at even and odd
// starting addresses.
TEST(Utf, UnitsUpToZeroFindsTheFirstZeroAndStaysWithinTheCapacity) {
  for (size_t capacity : {0, 1, 7, 31, 32, 33, 63, 64, 65, 100, 129}) {
    for (size_t start : {0, 1}) {
      for (size_t zero = 0; zero <= capacity; ++zero) {  // `capacity`: no zero at all
        std::unique_ptr<char16_t[]> block(new char16_t[start + capacity]);
        char16_t* buffer = block.get() + start;
        std::fill_n(buffer, capacity, u'x');
        if (zero < capacity) buffer[zero] = 0;
        if (zero + 5 < capacity) buffer[zero + 5] = 0;  // a later zero changes nothing
        ASSERT_EQ(UnitsUpToZero(buffer, capacity), zero) << "capacity " << capacity << ", start " << start;
      }
    }
  }
}

#ifdef _WIN32
// Under Wine with LC_ALL=zh_CN.UTF-8 the ANSI code page is 936 (GBK), as on the operators' machines.
TEST(Ansi, ChineseCodePage) {
  ASSERT_EQ(GetACP(), 936u);
  EXPECT_EQ(Utf16ToAnsi(u"大厅1"), "\xB4\xF3\xCC\xFC" "1");
  EXPECT_EQ(AnsiToUtf16("\xB4\xF3\xCC\xFC" "1"), u"大厅1");
  EXPECT_EQ(Utf16ToAnsi(u"a한b"), "a?b");  // Hangul is not in GBK
  EXPECT_EQ(Utf16ToAnsi(u"\U00020BB7").find_first_not_of('?'), std::string::npos);
}
#else
TEST(Ansi, LocaleCharset) {
  ASSERT_NE(std::setlocale(LC_ALL, "C.UTF-8"), nullptr);
  EXPECT_EQ(Utf16ToAnsi(u"大厅1"), "\xE5\xA4\xA7\xE5\x8E\x85" "1");
  EXPECT_EQ(AnsiToUtf16(Utf16ToAnsi(u"大厅1\U00020BB7")), u"大厅1\U00020BB7");
  // A charset that lacks the characters: each becomes "?", the rest survives.
  ASSERT_NE(std::setlocale(LC_ALL, "C"), nullptr);
  EXPECT_EQ(Utf16ToAnsi(u"a大b"), "a?b");
  std::setlocale(LC_ALL, "C.UTF-8");
}
#endif

}  // namespace
}  // namespace kavenor
