// Where this copy of the simulated reader library lies.
#pragma once

#include <string>

namespace kavenor::sim {

// Folder of the library file that holds this code, without a trailing separator; empty when the
// platform cannot tell. Each loaded copy answers with its own folder.
std::u16string LibraryDir();

// The file `name` in that folder; `name` alone when the folder is unknown.
std::u16string BesideLibrary(const std::u16string& name);

}  // namespace kavenor::sim
