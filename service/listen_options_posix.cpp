#include "service/listen_options.h"

namespace kavenor {

const bool kListenWithAddressReuse = true;

void ClaimPortAlone(const ServiceEndpoint::acceptor_ptr&) {}

}  // namespace kavenor
