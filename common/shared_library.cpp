#include "common/shared_library.h"

#include <utility>

namespace kavenor {

SharedLibrary::~SharedLibrary() { Free(); }

SharedLibrary::SharedLibrary(SharedLibrary&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)) {}

SharedLibrary& SharedLibrary::operator=(SharedLibrary&& other) noexcept {
  if (this != &other) {
    Free();
    handle_ = std::exchange(other.handle_, nullptr);
  }
  return *this;
}

}  // namespace kavenor
