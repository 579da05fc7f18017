#include "reader_host/host_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <utility>

#include "common/text.h"

namespace kavenor {

const char16_t kHostExecutableName[] = u"kavenor-reader-host";

namespace {

// The descriptors the host finds its end of the channel and the reply area on.
constexpr int kHostChannelFd = 3;
constexpr int kReplyAreaFd = 4;
constexpr int kChannelBufferBytes = 4 << 20;

}  // namespace

struct HostChannel::Ends {
  int fd = -1;
  void* area = nullptr;
};

void HostChannel::EndsDeleter::operator()(Ends* ends) const {
  if (ends->fd >= 0) close(ends->fd);
  if (ends->area) munmap(ends->area, kReplyAreaBytes);
  delete ends;
}

char* HostChannel::replyArea() const { return ends_ ? static_cast<char*>(ends_->area) : nullptr; }

namespace {

// Null when the area cannot be mapped: replies then cross the socket.
void* MapReplyArea(int fd) {
  if (fd < 0) return nullptr;
  void* area = mmap(nullptr, kReplyAreaBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  return area == MAP_FAILED ? nullptr : area;
}

}  // namespace

bool HostChannel::Write(const void* data, size_t size) { return Write(data, size, nullptr, 0); }

bool HostChannel::Write(const void* head, size_t headSize, const void* body, size_t bodySize) {
  if (!ends_) return false;
  iovec pieces[2] = {{const_cast<void*>(head), headSize}, {const_cast<void*>(body), bodySize}};
  iovec* next = pieces;
  int count = bodySize > 0 ? 2 : 1;
  while (count > 0) {
    msghdr message{};
    message.msg_iov = next;
    message.msg_iovlen = static_cast<size_t>(count);
    const ssize_t sent = sendmsg(ends_->fd, &message, MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    size_t left = static_cast<size_t>(sent);
    while (count > 0 && left >= next->iov_len) {
      left -= next->iov_len;
      ++next;
      --count;
    }
    if (count > 0) {
      next->iov_base = static_cast<char*>(next->iov_base) + left;
      next->iov_len -= left;
    }
  }
  return true;
}

bool HostChannel::Read(void* data, size_t size) {
  if (!ends_) return false;
  char* at = static_cast<char*>(data);
  while (size > 0) {
    const ssize_t got = recv(ends_->fd, at, size, MSG_WAITALL);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    at += got;
    size -= static_cast<size_t>(got);
  }
  return true;
}

std::optional<HostChannel> HostChannel::FromArguments(const std::vector<std::string>& arguments) {
  bool channel = false, area = false;
  for (size_t i = 0; i + 1 < arguments.size(); ++i) {
    channel = channel || (arguments[i] == "--channel" && arguments[i + 1] == std::to_string(kHostChannelFd));
    area = area || (arguments[i] == "--reply-area" && arguments[i + 1] == std::to_string(kReplyAreaFd));
  }
  if (!channel) return std::nullopt;
  void* mapped = area ? MapReplyArea(kReplyAreaFd) : nullptr;
  if (area) close(kReplyAreaFd);  // the mapping stays
  return HostChannel(EndsPtr(new Ends{kHostChannelFd, mapped}));
}

struct HostProcess::Handle {
  pid_t pid = -1;
  bool reaped = false;
};

void HostProcess::HandleDeleter::operator()(Handle* handle) const { delete handle; }

int64_t HostProcess::id() const { return handle_ ? handle_->pid : -1; }

bool HostProcess::IsRunning() {
  if (!handle_ || handle_->reaped) return false;
  int status = 0;
  const pid_t got = waitpid(handle_->pid, &status, WNOHANG);
  if (got == handle_->pid || (got < 0 && errno == ECHILD)) handle_->reaped = true;
  return !handle_->reaped;
}

void HostProcess::Kill() {
  if (IsRunning()) kill(handle_->pid, SIGKILL);
}

bool HostProcess::WaitMs(uint32_t ms) {
  // Only at the end of a host, rarely: a short poll is simpler than a signal-driven wait.
  for (uint32_t waited = 0;; waited += 5) {
    if (!IsRunning()) return true;
    if (waited >= ms) return false;
    usleep(5000);
  }
}

std::optional<StartedHost> StartHostProcess(const std::u16string& executable, const std::vector<std::string>& arguments) {
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return std::nullopt;
  // A card record crosses in a few writes, not a hundred (the system may allow less).
  for (int fd : fds)
    for (int option : {SO_SNDBUF, SO_RCVBUF}) setsockopt(fd, SOL_SOCKET, option, &kChannelBufferBytes, sizeof kChannelBufferBytes);
  int areaFd = memfd_create("kavenor-replies", MFD_CLOEXEC);
  if (areaFd >= 0 && ftruncate(areaFd, kReplyAreaBytes) != 0) {
    close(areaFd);
    areaFd = -1;
  }
  void* area = MapReplyArea(areaFd);
  // Everything the child needs is made before fork: after it, only async-signal-safe calls.
  const std::string path = Utf16ToUtf8(executable);
  std::vector<std::string> words = {path};
  words.insert(words.end(), arguments.begin(), arguments.end());
  words.push_back("--channel");
  words.push_back(std::to_string(kHostChannelFd));
  if (area) {
    words.push_back("--reply-area");
    words.push_back(std::to_string(kReplyAreaFd));
  }
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const pid_t parent = getpid();

  const pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    if (areaFd >= 0) close(areaFd);
    if (area) munmap(area, kReplyAreaBytes);
    return std::nullopt;
  }
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(126);  // the program ended before the signal was set
    setpgid(0, 0);                        // the terminal's Ctrl+C is the program's to handle
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    // Above both numbers first, so that placing one cannot close the other.
    const int channel = fcntl(fds[1], F_DUPFD, kReplyAreaFd + 1);
    const int areaCopy = areaFd >= 0 ? fcntl(areaFd, F_DUPFD, kReplyAreaFd + 1) : -1;
    if (channel < 0 || dup2(channel, kHostChannelFd) < 0) _exit(126);
    if (areaCopy >= 0 && dup2(areaCopy, kReplyAreaFd) < 0) _exit(126);
    close_range(kReplyAreaFd + 1, ~0U, 0);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(fds[1]);
  if (areaFd >= 0) close(areaFd);  // the mapping stays
  return StartedHost{HostProcess(HostProcess::HandlePtr(new HostProcess::Handle{pid, false})),
                     HostChannel(HostChannel::EndsPtr(new HostChannel::Ends{fds[0], area}))};
}

void PrepareHostProcess() {}

void EndHostProcessNow(int code) { _exit(code); }

}  // namespace kavenor
