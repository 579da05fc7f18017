// Whether the process's standard output leads anywhere.
#pragma once

namespace kavenor {

// False for a windowed start without a console or redirection (Windows: no valid standard output
// handle) or a descriptor 1 that is closed or /dev/null (elsewhere); the access log is then not
// formatted at all.
bool StandardOutputAttached();

}  // namespace kavenor
