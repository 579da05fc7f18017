// Text conversions. Program text is UTF-16 (std::u16string); 8-bit text exists only at the edges.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kavenor {

// UTF-16 to UTF-8. An unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);

// UTF-8 to UTF-16. A malformed sequence becomes U+FFFD.
std::u16string Utf8ToUtf16(const std::string& text);

// 8-bit text in the ANSI code page (Windows: the thread's code page; Linux: the locale's charset)
// to UTF-16.
std::u16string AnsiToUtf16(const std::string& text);

// UTF-16 to the ANSI code page; a character the code page lacks becomes its best fit or "?".
std::string Utf16ToAnsi(const std::u16string& text);

// Decimal text of a signed 32-bit number ("%d").
std::u16string DecimalText(int value);

// The units of an SDK text buffer before the first zero unit, or `capacity` when the library wrote
// no terminator; never reads past `capacity`. Fast on megabytes (the card images).
size_t UnitsUpToZero(const char16_t* buffer, size_t capacity);

// Pointer-free view of an SDK text buffer: the text up to the first zero unit, or the whole
// capacity when the library wrote no terminator.
std::u16string TextUpToZero(const char16_t* buffer, size_t capacity);
std::string BytesUpToZero(const char* buffer, size_t capacity);

}  // namespace kavenor
