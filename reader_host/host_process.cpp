#include "reader_host/host_process.h"

#include <utility>

namespace kavenor {

HostChannel::HostChannel(EndsPtr ends) : ends_(std::move(ends)) {}
HostChannel::HostChannel(HostChannel&&) noexcept = default;
HostChannel& HostChannel::operator=(HostChannel&&) noexcept = default;
HostChannel::~HostChannel() = default;

void HostChannel::Close() { ends_.reset(); }

HostProcess::HostProcess(HandlePtr handle) : handle_(std::move(handle)) {}
HostProcess::HostProcess(HostProcess&&) noexcept = default;
HostProcess& HostProcess::operator=(HostProcess&&) noexcept = default;
HostProcess::~HostProcess() = default;

}  // namespace kavenor
