// The reader host: the process that alone loads the reader SDK. It loads the three libraries,
// reports which loaded, then runs the program's commands one at a time until the program closes
// the channel. A call that does not return in time is reported and ends the host at once; a crash
// inside the library ends it too, and the program, seeing the channel end, starts a fresh one.
#include <array>
#include <clocale>
#include <exception>
#include <iostream>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/exe_dir.h"
#include "reader/reader_drivers.h"
#include "reader_host/call_watch.h"
#include "reader_host/host_frames.h"
#include "reader_host/host_process.h"
#include "service/command_dispatch.h"
#include "service/reader_backend.h"

namespace kavenor {
namespace {

// Exit codes, for a person reading a process list or a core file's note.
constexpr int kExitBadArguments = 2;
constexpr int kExitHungCall = 3;

uint32_t CallTimeoutFrom(const std::vector<std::string>& arguments) {
  for (size_t i = 0; i + 1 < arguments.size(); ++i)
    if (arguments[i] == "--call-timeout-ms") return static_cast<uint32_t>(std::strtoul(arguments[i + 1].c_str(), nullptr, 10));
  return 0;
}

int HostMain(const std::vector<std::string>& arguments) {
  PrepareHostProcess();
  // The SDK's 8-bit texts are in the locale's charset.
  std::setlocale(LC_ALL, "");
  std::optional<HostChannel> channel = HostChannel::FromArguments(arguments);
  const uint32_t callTimeoutMs = CallTimeoutFrom(arguments);
  if (!channel || callTimeoutMs == 0) return kExitBadArguments;

  // The watch's thread and the command loop both write; whole frames only.
  std::mutex sending;
  auto send = [&](FrameKind kind, const std::string& payload) {
    std::lock_guard<std::mutex> lock(sending);
    return SendFrame(*channel, kind, payload.data(), payload.size());
  };
  CallWatch watch(callTimeoutMs, [&](uint8_t call) {
    send(FrameKind::kHung, std::string(1, static_cast<char>(call)));
    EndHostProcessNow(kExitHungCall);
  });

  // The program shows the message of each library that did not load, from the ready frame.
  watch.Begin(kLoading);
  ReaderDrivers drivers(GetModuleDirWithSeparator(), MessageSink{});
  watch.End();
  for (ReaderDriver* driver : {&drivers.Reader5A, &drivers.Reader5U, &drivers.Reader5ULN})
    driver->ReplaceEntryPoints(watch.Watched(driver->entryPoints(), driver->kind()));
  InProcessReader reader(drivers);
  reader.SetStatusSink([&](uint32_t code) { send(FrameKind::kStatus, EncodeU32(code)); });
  if (!send(FrameKind::kReady, EncodeLoaded(reader.LibrariesLoaded()))) return 0;

  for (;;) {
    std::optional<FrameHead> head = ReadFrameHead(*channel);
    if (!head || head->kind != FrameKind::kRun) return 0;  // the program has closed the channel
    std::string payload(head->payloadBytes, '\0');
    Command command;
    int32_t model = 0;
    if (!channel->Read(payload.data(), payload.size()) || !DecodeRun(payload, command, model)) return 0;
    std::optional<std::u16string_view> reply;
    try {
      reply = reader.Run(command, model);
    } catch (const std::exception& e) {
      // As the program's own reader thread answers one: with the operation's failure text.
      std::cerr << "Command " << static_cast<uint32_t>(command.code) << " failed: " << e.what() << std::endl;
      reply = FailureText(command.code);
    }
    std::lock_guard<std::mutex> lock(sending);
    if (!SendReply(*channel, reply)) return 0;
    reader.Recover();  // the reply has gone: its memory goes back
  }
}

}  // namespace
}  // namespace kavenor

int main(int argc, char** argv) {
  return kavenor::HostMain(std::vector<std::string>(argv + 1, argv + argc));
}
