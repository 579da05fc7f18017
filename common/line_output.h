// Standard output and standard error in whole lines. Text from any thread, ours or the endpoint's
// logs, reaches the stream one complete line at a time and is never cut into by another line.
#pragma once

#include <string>

namespace kavenor {

enum class StdStream { kOutput, kError };

// Writes `line` and "\n" as one piece (in order with every other whole line of the process).
void WriteWholeLine(StdStream stream, const std::string& line);

// From now on std::cout and std::cerr hold each thread's text until that thread flushes (std::endl,
// std::flush) and then write it whole, up to its last line end. Text after the last line end waits
// for the next flush.
void UseWholeLinesOnStandardStreams();

// For a thread that runs short tasks one after another (the service thread's network loop): its
// flushed lines wait until FlushHeldOutput, so that the lines of one task leave in one piece.
void HoldFlushedOutput();
void FlushHeldOutput();

// Writes `bytes` to the stream as they are (the platform part: one lock, the whole buffer).
void WriteStandardStream(StdStream stream, const char* bytes, size_t size);

// False for a windowed start without a console or redirection (Windows: no valid standard output
// handle) or a descriptor 1 that is closed or /dev/null (elsewhere): what is written there is lost,
// so a writer may skip formatting it.
bool StandardOutputAttached();

}  // namespace kavenor
