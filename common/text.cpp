#include "common/text.h"

#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kavenor {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

void AppendUtf16(std::u16string& out, char32_t c) {
  if (c < 0x10000) {
    out += static_cast<char16_t>(c);
  } else {
    c -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (c >> 10));
    out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
  }
}

}  // namespace

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size() * 3);
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = kReplacement;
    }
    AppendUtf8(out, c);
  }
  return out;
}

std::u16string Utf8ToUtf16(const std::string& text) {
  std::u16string out;
  out.reserve(text.size());
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  size_t n = text.size();
  for (size_t i = 0; i < n;) {
    unsigned char b = s[i];
    size_t len = b < 0x80 ? 1 : (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xE ? 3 : (b >> 3) == 0x1E ? 4 : 0;
    if (len == 0 || i + len > n) {
      out += static_cast<char16_t>(kReplacement);
      ++i;
      continue;
    }
    char32_t c = len == 1 ? b : len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
    bool ok = true;
    for (size_t k = 1; k < len; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      c = (c << 6) | (s[i + k] & 0x3F);
    }
    static const char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (!ok || c < kMin[len] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      out += static_cast<char16_t>(kReplacement);
      ++i;
      continue;
    }
    AppendUtf16(out, c);
    i += len;
  }
  return out;
}

std::u16string DecimalText(int value) {
  std::string s = std::to_string(value);
  return std::u16string(s.begin(), s.end());
}

size_t UnitsUpToZero(const char16_t* buffer, size_t capacity) {
  size_t n = 0;
#if defined(__SSE2__)
  // 32 units a step while a whole step fits; the step with a zero is looked at unit by unit below.
  const __m128i zero = _mm_setzero_si128();
  for (; capacity - n >= 32; n += 32) {
    const __m128i* p = reinterpret_cast<const __m128i*>(buffer + n);
    const __m128i zeros =
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(_mm_loadu_si128(p), zero), _mm_cmpeq_epi16(_mm_loadu_si128(p + 1), zero)),
                     _mm_or_si128(_mm_cmpeq_epi16(_mm_loadu_si128(p + 2), zero), _mm_cmpeq_epi16(_mm_loadu_si128(p + 3), zero)));
    if (_mm_movemask_epi8(zeros) != 0) break;
  }
#endif
  while (n < capacity && buffer[n] != 0) ++n;
  return n;
}

std::u16string TextUpToZero(const char16_t* buffer, size_t capacity) {
  return std::u16string(buffer, UnitsUpToZero(buffer, capacity));
}

std::string BytesUpToZero(const char* buffer, size_t capacity) {
  size_t n = 0;
  while (n < capacity && buffer[n] != 0) ++n;
  return std::string(buffer, n);
}

}  // namespace kavenor
