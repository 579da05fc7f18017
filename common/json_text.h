// Writing JSON text: one object of named strings, numbers and nulls, in the program's UTF-16, so
// that it reaches the wire through the same UTF-8 conversion as every other reply.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kavenor {

// Appends `text` as a JSON string, quotes included. '"', '\' and the control characters U+0000 to
// U+001F are escaped (\n, \t... where JSON has a short form, else \u00XX), and so are U+2028 and
// U+2029, which older JavaScript does not take inside a string. A surrogate without its partner
// becomes U+FFFD, so the result is well-formed UTF-16 and converts to valid UTF-8.
void AppendJsonString(std::u16string& out, std::u16string_view text);

// One JSON object on one line, its members in the order they are added. Keys are ASCII literals.
class JsonObjectText {
 public:
  JsonObjectText() : text_(u"{") {}
  // Makes room for `units` in all, so that an object of large members is not copied as it grows.
  void Reserve(size_t units) { text_.reserve(units); }
  void String(const char* key, std::u16string_view value);
  void Number(const char* key, int value);
  void Null(const char* key);
  // The object, closed. Called once, last.
  std::u16string Finish();

 private:
  void Key(const char* key);
  std::u16string text_;
  bool empty_ = true;
};

}  // namespace kavenor
