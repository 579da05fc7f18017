// Memory that incoming messages took is given back to the system when they are freed, so that a
// page that sent a large message, or many that were refused, does not leave the program large.
#pragma once

namespace kavenor {

// Call once, before the service runs. POSIX (glibc): every block of 128 KiB or more is mapped on
// its own and unmapped when freed; the allocator would otherwise raise that threshold after the
// first large free and keep the memory of later, smaller blocks. Windows: nothing to do, the heap
// returns large blocks by itself.
void ReturnLargeBlocksToTheSystem();

}  // namespace kavenor
