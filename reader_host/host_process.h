// The reader host as a process: started by the program with a channel to it (a byte stream each
// way), and the host's own view of that channel. The platform pair: a socket pair, fork and exec,
// and the parent-death signal on Linux; two pipes, CreateProcess with only those handles inherited,
// and a job object that ends the host with the program on Windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kavenor {

// The reply area's size: more than the largest card record (two card images of the most the SDK's
// buffers hold, 2 x 20 MB, and the rest).
constexpr size_t kReplyAreaBytes = 48u << 20;

// One end of the channel between the program and the host. Blocking, whole reads and writes, and
// a memory area both sides map, where a long reply is handed over with one copy on each side
// instead of two through the system's buffers.
class HostChannel {
 public:
  struct Ends;  // the platform's descriptors or handles, closed by the deleter
  struct EndsDeleter {
    void operator()(Ends* ends) const;
  };
  using EndsPtr = std::unique_ptr<Ends, EndsDeleter>;
  explicit HostChannel(EndsPtr ends);
  HostChannel(HostChannel&&) noexcept;
  HostChannel& operator=(HostChannel&&) noexcept;
  ~HostChannel();  // Close()

  // False when the other side has gone (nothing is raised, no signal).
  bool Write(const void* data, size_t size);
  // Two pieces as one message, without joining them in memory first.
  bool Write(const void* head, size_t headSize, const void* body, size_t bodySize);
  // False at the end of the stream before `size` bytes came.
  bool Read(void* data, size_t size);
  // The other side reads the end of the stream.
  void Close();

  // The shared reply area (kReplyAreaBytes), or null where it could not be made.
  char* replyArea() const;

  // In the host: the channel named by the arguments that StartHostProcess gave it.
  static std::optional<HostChannel> FromArguments(const std::vector<std::string>& arguments);

 private:
  EndsPtr ends_;
};

// The host process as its parent sees it.
class HostProcess {
 public:
  struct Handle;  // released by the deleter
  struct HandleDeleter {
    void operator()(Handle* handle) const;
  };
  using HandlePtr = std::unique_ptr<Handle, HandleDeleter>;
  explicit HostProcess(HandlePtr handle);
  HostProcess(HostProcess&&) noexcept;
  HostProcess& operator=(HostProcess&&) noexcept;
  ~HostProcess();  // releases the handle; the process is neither ended nor awaited

  int64_t id() const;
  bool IsRunning();
  void Kill();
  // True once the process has ended, within `ms` milliseconds.
  bool WaitMs(uint32_t ms);

 private:
  HandlePtr handle_;
};

struct StartedHost {
  HostProcess process;
  HostChannel channel;
};

// Starts `executable` with `arguments` and the channel's own arguments after them. The host ends
// with this process; on Linux also when the thread that started it ends. Nullopt when it cannot start.
std::optional<StartedHost> StartHostProcess(const std::u16string& executable, const std::vector<std::string>& arguments);

// In the host, first: an access violation ends the process at once, without a dialog, and the
// terminal's interrupt is the program's to handle.
void PrepareHostProcess();

// In the host: ends the process now, without running anything more of it (no library unloads).
[[noreturn]] void EndHostProcessNow(int code);

// The host's executable, beside the program's: "KavenorReaderHost.exe" or "kavenor-reader-host".
extern const char16_t kHostExecutableName[];

}  // namespace kavenor
