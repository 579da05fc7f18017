// A loaded shared library (LoadLibraryW / dlopen), released when the object goes.
#pragma once

#include <memory>
#include <string>

namespace kavenor {

class SharedLibrary {
 public:
  SharedLibrary() = default;
  ~SharedLibrary();
  SharedLibrary(SharedLibrary&& other) noexcept;
  SharedLibrary& operator=(SharedLibrary&& other) noexcept;
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;

  // The platform's file name of a library called `base`: "kadrel.dll" or "libkadrel.so".
  static std::u16string FileName(const std::u16string& base);

  // Loads the library at `path`; an empty object when it cannot be loaded.
  static SharedLibrary Load(const std::u16string& path);

  bool IsLoaded() const { return handle_ != nullptr; }

  // The address of the export `name` (exact, 8-bit), or null when the library lacks it.
  void* Resolve(const char* name) const;

  // Releases the library now; the object becomes empty.
  void Free();

 private:
  void* handle_ = nullptr;
};

}  // namespace kavenor
