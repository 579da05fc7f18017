#include "reader_host/host_process.h"

#include <windows.h>

#include <cstdlib>
#include <utility>

namespace kavenor {

const char16_t kHostExecutableName[] = u"KavenorReaderHost.exe";

namespace {

// Large enough that a card record crosses in a few writes.
constexpr DWORD kPipeBytes = 1 << 20;

// Every host of this program is in it; closing its last handle, at the program's end whatever the
// cause, ends them.
HANDLE HostJob() {
  static HANDLE job = [] {
    HANDLE created = CreateJobObjectW(nullptr, nullptr);
    if (!created) return created;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION;
    SetInformationJobObject(created, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    return created;
  }();
  return job;
}

std::string HandleText(HANDLE handle) { return std::to_string(reinterpret_cast<uintptr_t>(handle)); }

HANDLE HandleFrom(const std::string& text) {
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0') return nullptr;
  return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(value));
}

void CloseIfOpen(HANDLE& handle) {
  if (handle) CloseHandle(handle);
  handle = nullptr;
}

// A command line word for CreateProcessW: quoted, its quotes and the backslashes before them escaped.
std::wstring Quoted(const std::wstring& word) {
  std::wstring out = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : word) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, L'\\');
  return out + L"\"";
}

}  // namespace

struct HostChannel::Ends {
  HANDLE read = nullptr;
  HANDLE write = nullptr;
  void* area = nullptr;
};

void HostChannel::EndsDeleter::operator()(Ends* ends) const {
  CloseIfOpen(ends->read);
  CloseIfOpen(ends->write);
  if (ends->area) UnmapViewOfFile(ends->area);
  delete ends;
}

char* HostChannel::replyArea() const { return ends_ ? static_cast<char*>(ends_->area) : nullptr; }

namespace {

// Null when the area cannot be mapped: replies then cross the pipe.
void* MapReplyArea(HANDLE mapping) {
  return mapping ? MapViewOfFile(mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, kReplyAreaBytes) : nullptr;
}

}  // namespace

namespace {

// ReadFile or WriteFile until all of `size` has passed; false when the pipe's other end has gone.
template <typename Transfer>
bool Whole(char* at, size_t size, Transfer transfer) {
  while (size > 0) {
    DWORD done = 0;
    const DWORD piece = static_cast<DWORD>(size < (1u << 30) ? size : (1u << 30));
    if (!transfer(at, piece, &done) || done == 0) return false;
    at += done;
    size -= done;
  }
  return true;
}

}  // namespace

bool HostChannel::Write(const void* data, size_t size) {
  if (!ends_ || !ends_->write) return false;
  return Whole(const_cast<char*>(static_cast<const char*>(data)), size, [this](char* at, DWORD n, DWORD* done) {
    return WriteFile(ends_->write, at, n, done, nullptr);
  });
}

bool HostChannel::Write(const void* head, size_t headSize, const void* body, size_t bodySize) {
  return Write(head, headSize) && (bodySize == 0 || Write(body, bodySize));
}

bool HostChannel::Read(void* data, size_t size) {
  if (!ends_ || !ends_->read) return false;
  return Whole(static_cast<char*>(data), size, [this](char* at, DWORD n, DWORD* done) {
    return ReadFile(ends_->read, at, n, done, nullptr);
  });
}

std::optional<HostChannel> HostChannel::FromArguments(const std::vector<std::string>& arguments) {
  HANDLE read = nullptr, write = nullptr, mapping = nullptr;
  for (size_t i = 0; i + 1 < arguments.size(); ++i) {
    if (arguments[i] == "--channel" && i + 2 < arguments.size()) {
      read = HandleFrom(arguments[i + 1]);
      write = HandleFrom(arguments[i + 2]);
    } else if (arguments[i] == "--reply-area") {
      mapping = HandleFrom(arguments[i + 1]);
    }
  }
  if (!read || !write) return std::nullopt;
  void* area = MapReplyArea(mapping);
  CloseIfOpen(mapping);  // the view stays
  return HostChannel(EndsPtr(new Ends{read, write, area}));
}

struct HostProcess::Handle {
  HANDLE process = nullptr;
  DWORD id = 0;
};

void HostProcess::HandleDeleter::operator()(Handle* handle) const {
  CloseIfOpen(handle->process);
  delete handle;
}

int64_t HostProcess::id() const { return handle_ ? handle_->id : -1; }

bool HostProcess::IsRunning() { return handle_ && handle_->process && WaitForSingleObject(handle_->process, 0) == WAIT_TIMEOUT; }

void HostProcess::Kill() {
  if (IsRunning()) TerminateProcess(handle_->process, 1);
}

bool HostProcess::WaitMs(uint32_t ms) {
  return !handle_ || !handle_->process || WaitForSingleObject(handle_->process, ms) == WAIT_OBJECT_0;
}

std::optional<StartedHost> StartHostProcess(const std::u16string& executable, const std::vector<std::string>& arguments) {
  // The host's ends are inheritable; only they are handed to it (the handle list), not the
  // program's sockets or files.
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  HANDLE toHostRead = nullptr, toHostWrite = nullptr, fromHostRead = nullptr, fromHostWrite = nullptr;
  if (!CreatePipe(&toHostRead, &toHostWrite, &inheritable, kPipeBytes)) return std::nullopt;
  if (!CreatePipe(&fromHostRead, &fromHostWrite, &inheritable, kPipeBytes)) {
    CloseIfOpen(toHostRead);
    CloseIfOpen(toHostWrite);
    return std::nullopt;
  }
  SetHandleInformation(toHostWrite, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(fromHostRead, HANDLE_FLAG_INHERIT, 0);
  HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, &inheritable, PAGE_READWRITE,
                                      static_cast<DWORD>(uint64_t{kReplyAreaBytes} >> 32),
                                      static_cast<DWORD>(kReplyAreaBytes & 0xFFFFFFFFu), nullptr);
  void* area = MapReplyArea(mapping);
  if (!area) CloseIfOpen(mapping);
  auto fail = [&]() -> std::optional<StartedHost> {
    for (HANDLE* h : {&toHostRead, &toHostWrite, &fromHostRead, &fromHostWrite, &mapping}) CloseIfOpen(*h);
    if (area) UnmapViewOfFile(area);
    return std::nullopt;
  };

  std::wstring commandLine = Quoted(std::wstring(executable.begin(), executable.end()));
  std::vector<std::string> words = arguments;
  words.insert(words.end(), {"--channel", HandleText(toHostRead), HandleText(fromHostWrite)});
  if (mapping) words.insert(words.end(), {"--reply-area", HandleText(mapping)});
  for (const std::string& word : words) commandLine += L" " + Quoted(std::wstring(word.begin(), word.end()));

  SIZE_T listSize = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &listSize);
  std::string listBytes(listSize, '\0');
  auto list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(listBytes.data());
  if (!InitializeProcThreadAttributeList(list, 1, 0, &listSize)) return fail();
  HANDLE inherited[3] = {toHostRead, fromHostWrite, mapping};
  const bool listed = UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                                (mapping ? 3 : 2) * sizeof(HANDLE), nullptr, nullptr);
  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof startup;
  startup.lpAttributeList = list;
  PROCESS_INFORMATION info{};
  const BOOL started = listed && CreateProcessW(reinterpret_cast<const wchar_t*>(executable.c_str()), commandLine.data(),
                                                nullptr, nullptr, TRUE,
                                                EXTENDED_STARTUPINFO_PRESENT | CREATE_NO_WINDOW | CREATE_SUSPENDED,
                                                nullptr, nullptr, &startup.StartupInfo, &info);
  DeleteProcThreadAttributeList(list);
  if (!started) return fail();
  // In the job before it runs a single instruction.
  if (HANDLE job = HostJob()) AssignProcessToJobObject(job, info.hProcess);
  ResumeThread(info.hThread);
  CloseHandle(info.hThread);
  CloseIfOpen(toHostRead);
  CloseIfOpen(fromHostWrite);
  CloseIfOpen(mapping);  // the view stays
  return StartedHost{HostProcess(HostProcess::HandlePtr(new HostProcess::Handle{info.hProcess, info.dwProcessId})),
                     HostChannel(HostChannel::EndsPtr(new HostChannel::Ends{fromHostRead, toHostWrite, area}))};
}

namespace {

LONG WINAPI EndOnUnhandledException(EXCEPTION_POINTERS* exception) {
  TerminateProcess(GetCurrentProcess(), exception ? exception->ExceptionRecord->ExceptionCode : 3);
  return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

void PrepareHostProcess() {
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  SetUnhandledExceptionFilter(EndOnUnhandledException);
}

void EndHostProcessNow(int code) {
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(code));
  std::_Exit(code);
}

}  // namespace kavenor
