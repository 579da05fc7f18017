// Contactless memory-card (M1) operations on ORV5A: one reader cycle and one library call each.
#include <cstring>

#include "common/reply_texts.h"
#include "reader/reader_driver.h"

namespace kavenor {
namespace {

// "%02x " per byte.
void AppendHexBytes(std::u16string& out, const uint8_t* bytes, size_t count) {
  static const char kDigits[] = "0123456789abcdef";
  for (size_t i = 0; i < count; ++i) {
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 15];
    out += u' ';
  }
}

// The identifier is printed from its last byte to its first.
void AppendIdentifier(std::u16string& out, const uint8_t id[4]) {
  const uint8_t reversed[4] = {id[3], id[2], id[1], id[0]};
  AppendHexBytes(out, reversed, 4);
}

}  // namespace

std::u16string ReaderDriver::M1Request(uint32_t pauseMs) {
  return InReaderCycle(pauseMs, [&]() -> std::u16string {
    uint8_t id[4] = {}, request[4] = {};
    if (!entry_.ORV_M1_Request || entry_.ORV_M1_Request(0, id, request) != sdk::kM1Ok) return texts::kM1AuthFailed;
    std::u16string reply;
    AppendIdentifier(reply, id);
    reply += u'|';
    AppendHexBytes(reply, request, 2);
    return reply;
  });
}

std::u16string ReaderDriver::M1Read(uint32_t pauseMs, const uint8_t key[6], uint8_t block) {
  return InReaderCycle(pauseMs, [&]() -> std::u16string {
    uint8_t id[sdk::kM1IdBytes] = {}, data[sdk::kM1BlockBytes] = {}, keyCopy[sdk::kM1KeyBytes];
    std::memcpy(keyCopy, key, sizeof keyCopy);
    if (!entry_.ORV_M1_Read || entry_.ORV_M1_Read(0, id, block, keyCopy, data) != sdk::kM1Ok) return texts::kM1ReadFailed;
    std::u16string reply;
    AppendIdentifier(reply, id);
    reply += u'|';
    AppendHexBytes(reply, data, 16);
    return reply;
  });
}

std::u16string ReaderDriver::M1Write(uint32_t pauseMs, const uint8_t key[6], uint8_t block,
                                     const uint8_t data[16]) {
  return InReaderCycle(pauseMs, [&]() -> std::u16string {
    uint8_t id[sdk::kM1IdBytes] = {}, keyCopy[sdk::kM1KeyBytes], dataCopy[sdk::kM1BlockBytes];
    std::memcpy(keyCopy, key, sizeof keyCopy);
    std::memcpy(dataCopy, data, sizeof dataCopy);
    if (!entry_.ORV_M1_Write || entry_.ORV_M1_Write(0, id, block, keyCopy, dataCopy) != sdk::kM1Ok)
      return texts::kM1WriteFailed;
    std::u16string reply;
    AppendIdentifier(reply, id);
    return reply;
  });
}

}  // namespace kavenor
