#include "common/json_text.h"

#include <gtest/gtest.h>

#include "common/text.h"

namespace kavenor {
namespace {

TEST(JsonText, StringEscapes) {
  const struct {
    const char* name;
    std::u16string text;
    std::u16string json;
  } cases[] = {
      {"plain and CJK", u"张三 Zoë 1990", u"\"张三 Zoë 1990\""},
      {"empty", u"", u"\"\""},
      {"quote, backslash, slash", u"a\"b\\c/d", u"\"a\\\"b\\\\c/d\""},
      {"short escapes", u"\b\f\n\r\t", u"\"\\b\\f\\n\\r\\t\""},
      {"other controls", std::u16string(u"\0\x01\x1f\x7f", 4), u"\"\\u0000\\u0001\\u001f\x7f\""},
      {"line and paragraph separators", u"x\u2028y\u2029", u"\"x\\u2028y\\u2029\""},
      {"surrogate pair kept", u"张\xD842\xDFB7", u"\"张\xD842\xDFB7\""},
      {"lone high at the end", u"ab\xD842", u"\"ab\uFFFD\""},
      {"lone high before a letter", u"\xD842z", u"\"\uFFFDz\""},
      {"lone low", u"\xDFB7z", u"\"\uFFFDz\""},
      {"pair reversed", u"\xDFB7\xD842", u"\"\uFFFD\uFFFD\""},
      {"two highs then a low", u"\xD842\xD842\xDFB7", u"\"\uFFFD\xD842\xDFB7\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::u16string out = u"[";
    AppendJsonString(out, c.text);
    EXPECT_EQ(out, u"[" + c.json);
    // Well-formed UTF-16: the trip through UTF-8 gives it back unchanged.
    EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(out)), out);
  }
}

// Plain text passes four units at a time: a character to escape must be found at any place in a
// long run, and a plain one beside it must not be taken for one.
TEST(JsonText, EscapesAreFoundAtEveryPlaceInALongRun) {
  const struct {
    std::u16string unit;
    std::u16string json;
  } specials[] = {
      {u"\"", u"\\\""}, {u"\\", u"\\\\"}, {std::u16string(1, u'\0'), u"\\u0000"}, {u"\x1f", u"\\u001f"},
      {u"\n", u"\\n"}, {u"\u2028", u"\\u2028"}, {u"\xDC00", u"\uFFFD"},
      // Units that pass as they are, beside the ones that do not.
      {u"\x20", u"\x20"}, {u"\x7f", u"\x7f"}, {u"\x21", u"\x21"}, {u"\x5d", u"\x5d"}, {u"\x80", u"\x80"},
      {u"张", u"张"}, {u"\xD842\xDFB7", u"\xD842\xDFB7"},
  };
  const std::u16string base = u"QkAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA+/";
  for (const auto& special : specials) {
    for (size_t at = 0; at <= base.size(); ++at) {
      SCOPED_TRACE(Utf16ToUtf8(special.json) + " at " + std::to_string(at));
      std::u16string out;
      AppendJsonString(out, base.substr(0, at) + special.unit + base.substr(at));
      EXPECT_EQ(out, u"\"" + base.substr(0, at) + special.json + base.substr(at) + u"\"");
    }
  }
}

TEST(JsonText, ObjectMembersInOrder) {
  JsonObjectText empty;
  EXPECT_EQ(empty.Finish(), u"{}");

  JsonObjectText object;
  object.String("name", u"a|\"b\"");
  object.Number("count", -7);
  object.Null("photo");
  object.Number("zero", 0);
  EXPECT_EQ(object.Finish(), u"{\"name\":\"a|\\\"b\\\"\",\"count\":-7,\"photo\":null,\"zero\":0}");
}

}  // namespace
}  // namespace kavenor
