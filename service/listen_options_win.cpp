#include "service/listen_options.h"

namespace kavenor {

const bool kListenWithAddressReuse = false;

void ClaimPortAlone(const ServiceEndpoint::acceptor_ptr& acceptor) {
  websocketpp::lib::asio::error_code ignored;  // without it the bind still fails on a port in use
  acceptor->set_option(websocketpp::lib::asio::detail::socket_option::boolean<SOL_SOCKET, SO_EXCLUSIVEADDRUSE>(true),
                       ignored);
}

}  // namespace kavenor
