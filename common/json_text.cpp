#include "common/json_text.h"

#include <utility>

#include "common/text.h"

namespace kavenor {
namespace {

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Whether `c` goes into a JSON string as it is (a surrogate only as half of a pair).
bool PassesAsIs(char16_t c) {
  if (c < 0x80) return c >= 0x20 && c != u'"' && c != u'\\';
  return (c < 0xD800 || c > 0xDFFF) && c != 0x2028 && c != 0x2029;
}

void AppendEscape(std::u16string& out, char16_t c) {
  static const char16_t kHex[] = u"0123456789abcdef";
  switch (c) {
    case u'"': out += u"\\\""; return;
    case u'\\': out += u"\\\\"; return;
    case u'\b': out += u"\\b"; return;
    case u'\f': out += u"\\f"; return;
    case u'\n': out += u"\\n"; return;
    case u'\r': out += u"\\r"; return;
    case u'\t': out += u"\\t"; return;
    default: break;
  }
  const char16_t escape[] = {u'\\', u'u', kHex[c >> 12], kHex[(c >> 8) & 0xF], kHex[(c >> 4) & 0xF], kHex[c & 0xF]};
  out.append(escape, 6);
}

}  // namespace

void AppendJsonString(std::u16string& out, std::u16string_view text) {
  out += u'"';
  const char16_t* const data = text.data();
  const size_t size = text.size();
  size_t run = 0;  // the start of the characters still to be copied as they are
  for (size_t i = 0; i < size; ++i) {
    const char16_t c = data[i];
    if (PassesAsIs(c)) continue;
    if (IsHighSurrogate(c) && i + 1 < size && IsLowSurrogate(data[i + 1])) {
      ++i;
      continue;
    }
    out.append(data + run, i - run);
    run = i + 1;
    if (IsHighSurrogate(c) || IsLowSurrogate(c))
      out += u'\uFFFD';
    else
      AppendEscape(out, c);
  }
  out.append(data + run, size - run);
  out += u'"';
}

void JsonObjectText::Key(const char* key) {
  if (!empty_) text_ += u',';
  empty_ = false;
  const std::string ascii(key);
  AppendJsonString(text_, std::u16string(ascii.begin(), ascii.end()));
  text_ += u':';
}

void JsonObjectText::String(const char* key, std::u16string_view value) {
  Key(key);
  AppendJsonString(text_, value);
}

void JsonObjectText::Number(const char* key, int value) {
  Key(key);
  text_ += DecimalText(value);
}

void JsonObjectText::Null(const char* key) {
  Key(key);
  text_ += u"null";
}

std::u16string JsonObjectText::Finish() {
  text_ += u'}';
  return std::move(text_);
}

}  // namespace kavenor
