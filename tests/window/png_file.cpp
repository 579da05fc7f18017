#include "tests/window/png_file.h"

#include <filesystem>
#include <fstream>

namespace kavenor::testing {
namespace {

uint32_t Crc32(const std::string& bytes) {
  static uint32_t table[256];
  if (table[1] == 0)
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      table[n] = c;
    }
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char b : bytes) crc = table[(crc ^ b) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

void Put32(std::string& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((v >> shift) & 0xFF);
}

void Chunk(std::string& out, const char* type, const std::string& data) {
  Put32(out, static_cast<uint32_t>(data.size()));
  std::string body = std::string(type, 4) + data;
  out += body;
  Put32(out, Crc32(body));
}

// A zlib stream of stored (uncompressed) deflate blocks.
std::string Stored(const std::string& raw) {
  std::string z = "\x78\x01";
  uint32_t a = 1, b = 0;
  for (unsigned char c : raw) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  size_t at = 0;
  do {
    size_t n = std::min<size_t>(65535, raw.size() - at);
    z += static_cast<char>(at + n == raw.size() ? 1 : 0);
    z += static_cast<char>(n & 0xFF);
    z += static_cast<char>(n >> 8);
    z += static_cast<char>(~n & 0xFF);
    z += static_cast<char>((~n >> 8) & 0xFF);
    z.append(raw, at, n);
    at += n;
  } while (at < raw.size());
  Put32(z, (b << 16) | a);
  return z;
}

}  // namespace

bool WritePng(const std::u16string& path, uint32_t width, uint32_t height, const std::vector<uint8_t>& rgb) {
  std::string raw;
  raw.reserve((width * 3 + 1) * height);
  for (uint32_t y = 0; y < height; ++y) {
    raw += '\0';  // no filter
    raw.append(reinterpret_cast<const char*>(rgb.data()) + y * width * 3, width * 3);
  }
  std::string header;
  Put32(header, width);
  Put32(header, height);
  header += std::string("\x08\x02\x00\x00\x00", 5);  // 8 bits, RGB
  std::string png = "\x89PNG\r\n\x1a\n";
  Chunk(png, "IHDR", header);
  Chunk(png, "IDAT", Stored(raw));
  Chunk(png, "IEND", "");
  std::ofstream out(std::filesystem::path(path), std::ios::binary);
  out.write(png.data(), static_cast<std::streamsize>(png.size()));
  return static_cast<bool>(out);
}

}  // namespace kavenor::testing
