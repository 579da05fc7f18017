#include "service/large_blocks.h"

#include <malloc.h>

namespace kavenor {

void ReturnLargeBlocksToTheSystem() {
#ifdef M_MMAP_THRESHOLD
  // Setting it fixes it: no dynamic adjustment afterwards.
  mallopt(M_MMAP_THRESHOLD, 128 * 1024);
#endif
}

}  // namespace kavenor
