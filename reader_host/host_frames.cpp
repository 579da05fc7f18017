#include "reader_host/host_frames.h"

#include <cstring>

#include "reader_host/host_process.h"

namespace kavenor {
namespace {

void PutU32(std::string& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

uint32_t GetU32(const char* at) {
  uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value |= static_cast<uint32_t>(static_cast<uint8_t>(at[i])) << (8 * i);
  return value;
}

// model, code, json, badParameters, key, block, data
constexpr size_t kRunBytes = 4 + 4 + 1 + 1 + 6 + 1 + 16;

}  // namespace

bool SendFrame(HostChannel& channel, FrameKind kind, const void* payload, size_t size) {
  if (size + 1 > kMostFrameBytes) return false;
  std::string head;
  PutU32(head, static_cast<uint32_t>(size + 1));
  head += static_cast<char>(kind);
  return channel.Write(head.data(), head.size(), payload, size);
}

std::optional<FrameHead> ReadFrameHead(HostChannel& channel) {
  char head[5];
  if (!channel.Read(head, sizeof head)) return std::nullopt;
  const uint32_t length = GetU32(head);
  if (length == 0 || length > kMostFrameBytes) return std::nullopt;
  return FrameHead{static_cast<FrameKind>(head[4]), length - 1};
}

std::string EncodeRun(const Command& c, int32_t model) {
  std::string out;
  PutU32(out, static_cast<uint32_t>(model));
  PutU32(out, static_cast<uint32_t>(c.code));
  out += static_cast<char>(c.json);
  out += static_cast<char>(c.badParameters);
  out.append(reinterpret_cast<const char*>(c.key), sizeof c.key);
  out += static_cast<char>(c.block);
  out.append(reinterpret_cast<const char*>(c.data), sizeof c.data);
  return out;
}

bool DecodeRun(const std::string& payload, Command& c, int32_t& model) {
  if (payload.size() != kRunBytes) return false;
  const char* at = payload.data();
  model = static_cast<int32_t>(GetU32(at));
  const uint32_t code = GetU32(at + 4);
  if (code < static_cast<uint32_t>(CommandCode::kWaitingRead) || code > static_cast<uint32_t>(CommandCode::kBankCardNumber))
    return false;
  c = Command{};
  c.code = static_cast<CommandCode>(code);
  c.json = at[8] != 0;
  c.badParameters = at[9] != 0;
  std::memcpy(c.key, at + 10, sizeof c.key);
  c.block = static_cast<uint8_t>(at[16]);
  std::memcpy(c.data, at + 17, sizeof c.data);
  return true;
}

bool SendReply(HostChannel& channel, std::optional<std::u16string_view> reply) {
  const size_t textBytes = reply ? reply->size() * sizeof(char16_t) : 0;
  if (textBytes > kMostInlineReplyBytes && textBytes <= kReplyAreaBytes && channel.replyArea()) {
    // The program reads it before it sends the next command: the area is free until then.
    std::memcpy(channel.replyArea(), reply->data(), textBytes);
    std::string head;
    PutU32(head, 6);
    head += static_cast<char>(FrameKind::kReply);
    head += '\2';
    PutU32(head, static_cast<uint32_t>(reply->size()));
    return channel.Write(head.data(), head.size());
  }
  if (textBytes + 2 > kMostFrameBytes) return false;
  std::string head;
  PutU32(head, static_cast<uint32_t>(textBytes + 2));
  head += static_cast<char>(FrameKind::kReply);
  head += reply ? '\1' : '\0';
  return channel.Write(head.data(), head.size(), reply ? reply->data() : nullptr, textBytes);
}

bool ReadReply(HostChannel& channel, uint32_t bytes, std::u16string& received, std::optional<std::u16string_view>& reply) {
  char has = 0;
  if (bytes < 1 || !channel.Read(&has, 1)) return false;
  if (has == 2) {
    char units[4];
    if (bytes != 5 || !channel.Read(units, sizeof units)) return false;
    const uint32_t count = GetU32(units);
    if (!channel.replyArea() || count > kReplyAreaBytes / sizeof(char16_t)) return false;
    reply.emplace(reinterpret_cast<const char16_t*>(channel.replyArea()), count);
    return true;
  }
  if ((bytes - 1) % 2 != 0) return false;
  if (!has) {
    reply.reset();
    return bytes == 1;
  }
  received.assign((bytes - 1) / 2, u'\0');
  if (!received.empty() && !channel.Read(received.data(), bytes - 1)) return false;
  reply = received;
  return true;
}

std::string EncodeLoaded(const std::array<bool, 3>& loaded) {
  return {static_cast<char>(loaded[0]), static_cast<char>(loaded[1]), static_cast<char>(loaded[2])};
}

bool DecodeLoaded(const std::string& payload, std::array<bool, 3>& loaded) {
  if (payload.size() != 3) return false;
  for (size_t i = 0; i < 3; ++i) loaded[i] = payload[i] != 0;
  return true;
}

std::string EncodeU32(uint32_t value) {
  std::string out;
  PutU32(out, value);
  return out;
}

bool DecodeU32(const std::string& payload, uint32_t& value) {
  if (payload.size() != 4) return false;
  value = GetU32(payload.data());
  return true;
}

}  // namespace kavenor
