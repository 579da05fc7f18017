#include "reader/entry_points.h"

namespace kavenor {

bool Binds(DriverKind kind, sdk::Drivers drivers) {
  switch (kind) {
    case DriverKind::k5A: return (drivers & sdk::k5A) != 0;
    case DriverKind::k5U: return (drivers & sdk::k5U) != 0;
    case DriverKind::k5ULN: return (drivers & sdk::k5ULN) != 0;
  }
  return false;
}

EntryPoints BindEntryPoints(const SharedLibrary& library, DriverKind kind) {
  EntryPoints e;
  if (!library.IsLoaded()) return e;
#define KADREL_BIND(name, type, drivers) \
  if (Binds(kind, sdk::drivers)) e.name = reinterpret_cast<sdk::type>(library.Resolve(#name));
  KADREL_ENTRY_POINTS(KADREL_BIND)
#undef KADREL_BIND
  return e;
}

}  // namespace kavenor
