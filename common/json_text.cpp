#include "common/json_text.h"

#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// The first unit at or after `i` that may need a look, found eight units at a time where the
// processor has SSE2 (every x86-64): long runs of plain text, such as the Base64 pictures, pass
// without a test per unit. Without SSE2 it is `i`, and the units are looked at one by one.
size_t SkipPlainRun(const char16_t* data, size_t i, size_t size) {
#if defined(__SSE2__)
  const __m128i space = _mm_set1_epi16(0x20), printable = _mm_set1_epi16(0x5F);
  const __m128i quote = _mm_set1_epi16(u'"'), backslash = _mm_set1_epi16(u'\\');
  while (size - i >= 8) {
    const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
    // Outside 0x20..0x7F: above 0x5F after 0x20 is taken off (wrapping), so not zero after
    // subtracting 0x5F with saturation.
    const __m128i outside = _mm_subs_epu16(_mm_sub_epi16(units, space), printable);
    const __m128i plain = _mm_andnot_si128(_mm_or_si128(_mm_cmpeq_epi16(units, quote), _mm_cmpeq_epi16(units, backslash)),
                                           _mm_cmpeq_epi16(outside, _mm_setzero_si128()));
    if (_mm_movemask_epi8(plain) != 0xFFFF) break;
    i += 8;
  }
#else
  (void)data;
  (void)size;
#endif
  return i;
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
  for (size_t i = SkipPlainRun(data, 0, size); i < size; i = SkipPlainRun(data, i, size)) {
    const char16_t c = data[i];
    if (PassesAsIs(c)) {
      ++i;
      continue;
    }
    if (IsHighSurrogate(c) && i + 1 < size && IsLowSurrogate(data[i + 1])) {
      i += 2;
      continue;
    }
    out.append(data + run, i - run);
    run = ++i;
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
