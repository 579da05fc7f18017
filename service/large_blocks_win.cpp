#include "service/large_blocks.h"

namespace kavenor {

void ReturnLargeBlocksToTheSystem() {}

}  // namespace kavenor
