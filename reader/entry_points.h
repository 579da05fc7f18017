// The SDK entry points one driver holds, and their binding by export name.
#pragma once

#include "common/shared_library.h"
#include "reader/sdk_abi.h"

namespace kavenor {

enum class DriverKind { k5A, k5U, k5ULN };

// Null where the library is not loaded, lacks the export, or the driver does not bind that row.
struct EntryPoints {
#define KADREL_FIELD(name, type, drivers) sdk::type name = nullptr;
  KADREL_ENTRY_POINTS(KADREL_FIELD)
#undef KADREL_FIELD
};

// Whether a driver of `kind` binds the entry points marked with `drivers`.
bool Binds(DriverKind kind, sdk::Drivers drivers);

// Resolves the rows that `kind` binds from `library`; a missing export stays null, silently.
EntryPoints BindEntryPoints(const SharedLibrary& library, DriverKind kind);

}  // namespace kavenor
