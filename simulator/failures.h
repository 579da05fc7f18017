// The failures a scenario asks of the simulated reader: a call, or the library's load, that crashes
// the process, aborts it or never returns, so that the reader host's supervision can be tested.
//
// A failure set to "once" leaves a marker file beside the library before it fails, named
// "failed.<key>" (for example failed.crash.ORV_Read_Content), holding the identity of the scenario
// file it was read from (its size, modification time and content hash). A once failure whose marker
// holds the identity of the scenario file now read is used up and does nothing, so the process
// started again after the failure goes on. Writing scenario.ini anew makes every once failure due
// again; a test that writes the very same bytes again within one tick of the file system's clock
// deletes the markers itself. A marker that cannot be written leaves its failure undone: it could
// not stay once.
#pragma once

#include <string>

#include "simulator/scenario.h"

namespace kavenor::sim {

// Whether `scenario` sets any failure of `point` (an entry point's name, or "load").
bool FailureAsked(const Scenario& scenario, const std::string& point);

// Fails as `scenario` asks of `point`, trying crash, abort and hang in that order: the process ends
// or the call never returns. Returns when nothing is asked of `point` or what is asked is used up.
void FailIfAsked(const Scenario& scenario, const std::string& point);

// Run as the library is loaded: reads the scenario file beside it and fails as it asks of "load",
// after a call-log line "<ms> load".
void FailAtLoadIfAsked();

}  // namespace kavenor::sim
