// The frames between the program and the reader host: a 4-byte length (of what follows it), a
// 1-byte kind, the payload. Program to host: kRun. Host to program: kReady once, then per command
// any kStatus and one kReply; kHung instead when an SDK call does not return in time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "reader/sdk_abi.h"
#include "service/command_params.h"

namespace kavenor {

class HostChannel;

enum class FrameKind : uint8_t {
  kRun = 1,    // model (4), command (Encode)
  kReady = 2,  // 3 bytes: whether each library (ORV5A, ORV5U, ORV5ULN) loaded
  kStatus = 3, // a status code (4)
  kReply = 4,  // 1 byte (1: a text follows, 0: no reply, 2: a text of N units lies in the reply
               // area), then the text's UTF-16 units, or N (4)
  kHung = 5,   // the entry point (1) whose call did not return; kLoading for the libraries' loading
};

// kHung's value for the loading of the libraries at the host's start.
constexpr uint8_t kLoading = static_cast<uint8_t>(sdk::EntryPoint::kCount);

// Larger than any reply: two card images of the largest size the ABI allows, and the rest.
constexpr uint32_t kMostFrameBytes = 64u << 20;

struct FrameHead {
  FrameKind kind;
  uint32_t payloadBytes;
};

// Writes one frame; false when the other side has gone.
bool SendFrame(HostChannel& channel, FrameKind kind, const void* payload, size_t size);
// The next frame's head; nullopt at the end of the stream or for a length beyond kMostFrameBytes.
std::optional<FrameHead> ReadFrameHead(HostChannel& channel);

std::string EncodeRun(const Command& command, int32_t model);
bool DecodeRun(const std::string& payload, Command& command, int32_t& model);

// A reply text longer than this is handed over in the channel's reply area, where it has one.
constexpr size_t kMostInlineReplyBytes = 64u << 10;

// Writes the kReply frame of `reply`, its text straight from where it lies or through the reply area.
bool SendReply(HostChannel& channel, std::optional<std::u16string_view> reply);
// Reads a kReply payload of `bytes` from the channel: the text is read into `received`, or lies in
// the reply area (until the next command); `reply` views it.
bool ReadReply(HostChannel& channel, uint32_t bytes, std::u16string& received, std::optional<std::u16string_view>& reply);

std::string EncodeLoaded(const std::array<bool, 3>& loaded);
bool DecodeLoaded(const std::string& payload, std::array<bool, 3>& loaded);

std::string EncodeU32(uint32_t value);
bool DecodeU32(const std::string& payload, uint32_t& value);

}  // namespace kavenor
