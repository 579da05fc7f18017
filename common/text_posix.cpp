#include <iconv.h>
#include <langinfo.h>

#include <cerrno>

#include "common/text.h"

namespace kavenor {
namespace {

// Converts with iconv; an input sequence the target lacks becomes `fallback` in the output.
std::string Convert(const char* to, const char* from, const std::string& in, const std::string& fallback,
                    size_t unit) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return {};
  std::string out;
  char buf[4096];
  char* src = const_cast<char*>(in.data());
  size_t left = in.size();
  while (left > 0) {
    char* dst = buf;
    size_t room = sizeof buf;
    size_t r = iconv(cd, &src, &left, &dst, &room);
    out.append(buf, static_cast<size_t>(dst - buf));
    if (r == static_cast<size_t>(-1) && errno != E2BIG) {
      out += fallback;
      size_t skip = left < unit ? left : unit;
      src += skip;
      left -= skip;
    }
  }
  char* dst = buf;
  size_t room = sizeof buf;
  iconv(cd, nullptr, nullptr, &dst, &room);
  out.append(buf, static_cast<size_t>(dst - buf));
  iconv_close(cd);
  return out;
}

}  // namespace

std::u16string AnsiToUtf16(const std::string& text) {
  std::string bytes = Convert("UTF-16LE", nl_langinfo(CODESET), text, std::string("\xFD\xFF", 2), 1);
  std::u16string out(bytes.size() / 2, u'\0');
  for (size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                   (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
  return out;
}

std::string Utf16ToAnsi(const std::u16string& text) {
  std::string bytes(text.size() * 2, '\0');
  for (size_t i = 0; i < text.size(); ++i) {
    bytes[2 * i] = static_cast<char>(text[i] & 0xFF);
    bytes[2 * i + 1] = static_cast<char>(text[i] >> 8);
  }
  return Convert(nl_langinfo(CODESET), "UTF-16LE", bytes, "?", 2);
}

}  // namespace kavenor
