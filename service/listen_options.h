// How the listening socket holds its port: the one platform difference of the endpoint.
#pragma once

#include "service/service_endpoint.h"

namespace kavenor {

// Whether the listening socket is opened with address reuse. POSIX: yes, so that a port that the
// connections of an earlier run left in TIME_WAIT binds at once. Windows: no, for there address
// reuse lets a socket bind a port that another program listens on, and neither would notice.
extern const bool kListenWithAddressReuse;

// Called before the listening socket binds. Windows: asks for exclusive use of the port, so that no
// other program can take it over either. Elsewhere: nothing.
void ClaimPortAlone(const ServiceEndpoint::acceptor_ptr& acceptor);

}  // namespace kavenor
