// Bank-card number (ORV5A) and the security-module number (ORV5U text form, ORV5U-LN raw record).
#include <cstdio>
#include <cstring>

#include "common/reply_texts.h"
#include "common/text.h"
#include "reader/reader_driver.h"

namespace kavenor {
namespace {

constexpr uint32_t kBankCardPauseMs = 10;

uint32_t LittleEndian32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

std::u16string Ascii(const char* text) { return std::u16string(text, text + std::strlen(text)); }

std::u16string UnsignedText(uint32_t value) { return Ascii(std::to_string(value).c_str()); }

// A short code of one character gains a leading "0".
std::u16string ShortCode(const std::u16string& group) { return group.size() == 1 ? u"0" + group : group; }

}  // namespace

std::u16string ReaderDriver::ReadBankCardNumber() {
  return InReaderCycle(kBankCardPauseMs, [&]() -> std::u16string {
    char number[sdk::kFisNumberBytes] = {}, second[sdk::kFisSecondBytes] = {};
    int extra = 0;
    if (!entry_.M1_MF_GetFisCardID || entry_.M1_MF_GetFisCardID(number, second, &extra) != sdk::kM1Ok)
      return texts::kBankCardFailed;
    std::u16string reply;
    for (char16_t c : AnsiToUtf16(BytesUpToZero(number, sizeof number)))
      if (c != u'f') reply += c;  // only the lower-case filler; "F" stays
    reply += u'|';
    reply += AnsiToUtf16(BytesUpToZero(second, sizeof second));
    return reply;
  });
}

std::u16string ReaderDriver::ReadSamId() {
  return InReaderCycle(std::nullopt, [&]() -> std::u16string {
    char text[sdk::kSamIdBytes] = {};
    if (entry_.ORV_GetSAMID) entry_.ORV_GetSAMID(text);
    const std::u16string raw = AnsiToUtf16(BytesUpToZero(text, sizeof text));

    // G0..G3 end at the first four hyphens; G4 is the whole remainder, hyphens included.
    std::u16string groups[5];
    size_t position = 0;
    for (int g = 0; g < 4; ++g) {
      size_t hyphen = raw.find(u'-', position);
      if (hyphen == std::u16string::npos) {
        Post(kStatusBadSamId);
        return texts::kSamIdFailed;
      }
      groups[g] = raw.substr(position, hyphen - position);
      position = hyphen + 1;
    }
    groups[4] = raw.substr(position);
    return ShortCode(groups[0]) + u"." + ShortCode(groups[1]) + u"-" + PadLeftZeros(groups[2], 8) + u"-" +
           PadLeftZeros(groups[3], 10) + u"-" + PadLeftZeros(groups[4], 10);
  });
}

std::u16string ReaderDriver::ReadCompleteSamId() {
  return InReaderCycle(std::nullopt, [&]() -> std::u16string {
    uint8_t raw[sdk::kCompleteSamIdBytes] = {};
    if (!entry_.ORV_GetCompleteSAMID || entry_.ORV_GetCompleteSAMID(raw) != sdk::kOk) return u"";
    char head[8];
    std::snprintf(head, sizeof head, "%02X.%02X", raw[0], raw[2]);
    return Ascii(head) + u"-" + PadLeftZeros(UnsignedText(LittleEndian32(raw + 4)), 8) + u"-" +
           PadLeftZeros(UnsignedText(LittleEndian32(raw + 8)), 10) + u"-" +
           PadLeftZeros(UnsignedText(LittleEndian32(raw + 12)), 10);
  });
}

}  // namespace kavenor
