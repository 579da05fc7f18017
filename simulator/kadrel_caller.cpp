// Loads a simulated reader library and calls entry points in it, one after the other, as the reader
// host does; the tests of the failures a scenario asks for run it as the process that fails.
//   kadrel_caller <library> <entry point>...
// Exit code 0 when every call returned, else one of kadrel_caller.h. An int argument is 1 (port,
// active).
#include "simulator/kadrel_caller.h"

#include <string>
#include <vector>

#include "common/shared_library.h"
#include "common/text.h"
#include "reader/sdk_abi.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

using namespace kavenor::sdk;

#ifdef _WIN32
// As the reader host does: a crash ends the process, its exit code the exception's, with no dialog.
// Wine does not heed SEM_NOGPFAULTERRORBOX alone: it starts its debugger, whose crash dialog holds
// the process until someone answers it.
LONG WINAPI EndOnUnhandledException(EXCEPTION_POINTERS*) { return EXCEPTION_EXECUTE_HANDLER; }
#endif

template <typename Fn>
bool Invoke(Fn) {
  return false;
}

bool Invoke(NoArgFn fn) {
  fn();
  return true;
}

bool Invoke(InitCommFn fn) {  // also ReadContentFn: the same type
  fn(1);
  return true;
}

bool Invoke(TextGetterFn fn) {
  std::vector<KadrelU16> text(kTextChars);
  int length = kTextChars;
  fn(text.data(), &length);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return kavenor::sim::kCallerNotLoaded;
#ifdef _WIN32
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  SetUnhandledExceptionFilter(EndOnUnhandledException);
#endif
  kavenor::SharedLibrary library = kavenor::SharedLibrary::Load(kavenor::Utf8ToUtf16(argv[1]));
  if (!library.IsLoaded()) return kavenor::sim::kCallerNotLoaded;
  for (int i = 2; i < argc; ++i) {
    const std::string name = argv[i];
    bool called = false;
#define KADREL_CALL_ENTRY(entry, type, drivers) \
  if (name == #entry)                           \
    if (void* address = library.Resolve(#entry)) called = Invoke(reinterpret_cast<type>(address));
    KADREL_ENTRY_POINTS(KADREL_CALL_ENTRY)
#undef KADREL_CALL_ENTRY
    if (!called) return kavenor::sim::kCallerCannotCall;
  }
  return 0;
}
