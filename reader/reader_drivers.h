// The three process-wide drivers, constructed in the order ORV5A, ORV5U, ORV5U-LN and destroyed in
// the reverse order (members of one object).
#pragma once

#include "reader/reader_driver.h"

namespace kavenor {

struct ReaderDrivers {
  ReaderDrivers(const std::u16string& moduleDir, const MessageSink& report)
      : Reader5A(DriverKind::k5A, moduleDir, report),
        Reader5U(DriverKind::k5U, moduleDir, report),
        Reader5ULN(DriverKind::k5ULN, moduleDir, report) {}

  void SetStatusSink(const StatusSink& sink) {
    Reader5A.SetStatusSink(sink);
    Reader5U.SetStatusSink(sink);
    Reader5ULN.SetStatusSink(sink);
  }

  ReaderDriver Reader5A;
  ReaderDriver Reader5U;
  ReaderDriver Reader5ULN;
};

}  // namespace kavenor
