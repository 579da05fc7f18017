#include "service/web_socket_server.h"

#include <exception>
#include <iostream>
#include <memory>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "common/device_model.h"
#include "common/exe_dir.h"
#include "common/line_output.h"
#include "common/settings.h"
#include "common/text.h"
#include "service/access_rules.h"
#include "service/command_dispatch.h"
#include "service/http_page.h"
#include "service/large_blocks.h"
#include "service/listen_options.h"
#include "service/peer_watch.h"
#include "service/service_endpoint.h"
#include "service/standard_output.h"

namespace kavenor {
namespace {

using websocketpp::connection_hdl;
using Tcp = websocketpp::lib::asio::ip::tcp;

// The text of whatever was thrown, for the lines of the guards.
std::string ErrorText(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const websocketpp::exception& e) {
    return e.what();
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "other exception";
  }
}

// The service's endpoints: one per listening address, all run by one thread on the I/O service
// of the first, which owns it (and so is destroyed last).
class Endpoints {
 public:
  Endpoints() = default;
  Endpoints(const Endpoints&) = delete;
  Endpoints& operator=(const Endpoints&) = delete;
  ~Endpoints() {
    while (!all_.empty()) all_.pop_back();
  }

  ServiceEndpoint& Add() {
    all_.push_back(std::make_unique<ServiceEndpoint>());
    ServiceEndpoint& endpoint = *all_.back();
    if (all_.size() == 1)
      endpoint.init_asio();
    else
      endpoint.init_asio(&all_.front()->get_io_service());
    return endpoint;
  }

  const std::vector<std::unique_ptr<ServiceEndpoint>>& all() const { return all_; }
  ServiceEndpoint& first() { return *all_.front(); }

  // False when none was listening.
  bool StopListening() {
    bool stopped = false;
    for (const auto& endpoint : all_) {
      websocketpp::lib::error_code ec;
      endpoint->stop_listening(ec);
      stopped = stopped || !ec;
    }
    return stopped;
  }

 private:
  std::vector<std::unique_ptr<ServiceEndpoint>> all_;
};

void OnMessage(ReaderDrivers& drivers, Endpoints& endpoints, ServiceEndpoint* endpoint, connection_hdl hdl,
               ServiceEndpoint::message_ptr msg) {
  const std::string& payload = msg->get_payload();
  std::cout << "on_message called with hdl: " << hdl.lock().get() << " and message: " << payload << std::endl;

  if (payload == kStopListening) {
    if (!endpoints.StopListening()) std::cout << "stop-listening ignored: the service is not listening" << std::endl;
    return;
  }

  try {
    std::string reply;
    try {
      // A waiting read holds this thread, so the connection's own handlers cannot tell that its
      // client has gone: its socket is asked directly.
      ServiceEndpoint::connection_ptr con = endpoint->get_con_from_hdl(hdl);
      std::optional<std::u16string> text =
          HandleCommand(payload, drivers, [&con] {
            if (!PeerGone(con->get_raw_socket())) return false;
            std::cout << "The waiting read ends: its client has gone" << std::endl;
            return true;
          });
      if (!text) return;
      reply = Utf16ToUtf8(*text);
    } catch (...) {
      // The command is answered all the same, and the service goes on.
      std::cout << "Command failed: " << ErrorText(std::current_exception()) << std::endl;
      reply.clear();
    }
    endpoint->send(hdl, reply, websocketpp::frame::opcode::text);
  } catch (const websocketpp::exception& e) {
    std::cout << "Echo failed because: " << "(" << e.what() << ")" << std::endl;
  }
}

void OnHttp(const std::u16string& pageDir, ServiceEndpoint* endpoint, connection_hdl hdl) {
  ServiceEndpoint::connection_ptr con = endpoint->get_con_from_hdl(hdl);
  try {
    con->set_body(TestPageBody(pageDir, CurrentDeviceModel()));
    con->set_status(websocketpp::http::status_code::ok);
  } catch (...) {
    std::cout << "HTTP handler failed: " << ErrorText(std::current_exception()) << std::endl;
    con->set_status(websocketpp::http::status_code::internal_server_error);
  }
}

void OnFail(ServiceEndpoint* endpoint, connection_hdl hdl) {
  websocketpp::lib::error_code ec;
  ServiceEndpoint::connection_ptr con = endpoint->get_con_from_hdl(hdl, ec);
  if (con) ec = con->get_ec();
  // error_code prints as "category:value".
  std::cout << "Fail handler: " << ec << " " << ec.message() << std::endl;
}

void OnClose(connection_hdl) { std::cout << "Close handler" << std::endl; }

// A connection is accepted whatever its path or sub-protocols (none is selected), and whatever its
// origin unless the settings list the origins allowed: then a page of another origin is refused
// with 403 before it can send a command.
bool OnValidate(const AccessRules& rules, uint16_t port, ServiceEndpoint* endpoint, connection_hdl hdl) {
  ServiceEndpoint::connection_ptr con = endpoint->get_con_from_hdl(hdl);
  const std::string& origin = con->get_origin();
  if (rules.AllowsOrigin(origin, port)) return true;
  std::cout << "Refused a WebSocket connection from origin " << origin << ": not in [Security] AllowedOrigins"
            << std::endl;
  con->set_status(websocketpp::http::status_code::forbidden);
  return false;
}

void ConfigureLogs(ServiceEndpoint& endpoint) {
  endpoint.get_alog().set_ostream(&std::cout);
  endpoint.get_elog().set_ostream(&std::cerr);
  endpoint.set_access_channels(websocketpp::log::alevel::all);
  endpoint.clear_access_channels(websocketpp::log::alevel::frame_payload);
  // A windowed start has nowhere to write them; they are not formatted at all.
  if (!StandardOutputAttached()) endpoint.clear_access_channels(websocketpp::log::alevel::all);
  endpoint.set_error_channels(websocketpp::log::elevel::all);
}

// Listens on one address. `opened` tells whether the socket could be opened at all (it cannot for
// an address family the machine lacks): the library reports every failure alike.
void ListenOn(ServiceEndpoint& endpoint, const Tcp::endpoint& address, websocketpp::lib::error_code& ec,
              bool* opened = nullptr) {
  endpoint.set_tcp_pre_bind_handler([opened](ServiceEndpoint::acceptor_ptr acceptor) {
    if (opened) *opened = true;
    ClaimPortAlone(acceptor);
    return websocketpp::lib::error_code();
  });
  endpoint.listen(address, ec);
  endpoint.set_tcp_pre_bind_handler(nullptr);
}

// Listens on :: with IPV6_V6ONLY off, so that IPv4 clients are served too. Where no such socket
// can be opened (IPv6 switched off), listens on IPv4 instead. Any other failure (the port is
// taken, say) is returned.
websocketpp::lib::error_code ListenOnEveryInterface(ServiceEndpoint& endpoint, uint16_t port) {
  bool dualStack = false;
  endpoint.set_tcp_pre_bind_handler([&dualStack](ServiceEndpoint::acceptor_ptr acceptor) {
    websocketpp::lib::asio::error_code ec;
    acceptor->set_option(websocketpp::lib::asio::ip::v6_only(false), ec);
    if (ec) return std::make_error_code(std::errc::address_family_not_supported);
    dualStack = true;
    ClaimPortAlone(acceptor);
    return websocketpp::lib::error_code();
  });
  websocketpp::lib::error_code ec;
  endpoint.listen(Tcp::endpoint(Tcp::v6(), port), ec);
  if (!ec || dualStack) {
    endpoint.set_tcp_pre_bind_handler(nullptr);
    return ec;
  }
  std::cout << "No dual-stack socket (" << ec.message() << "); listening on IPv4" << std::endl;
  ec.clear();
  ListenOn(endpoint, Tcp::endpoint(Tcp::v4(), port), ec);
  return ec;
}

// 127.0.0.1 on the first endpoint and ::1 on the second; a machine without IPv6 has only the first.
websocketpp::lib::error_code ListenOnLoopback(Endpoints& endpoints, uint16_t port) {
  websocketpp::lib::error_code ec;
  ListenOn(*endpoints.all()[0], Tcp::endpoint(websocketpp::lib::asio::ip::address_v4::loopback(), port), ec);
  if (ec) return ec;
  bool opened = false;
  ListenOn(*endpoints.all()[1], Tcp::endpoint(websocketpp::lib::asio::ip::address_v6::loopback(), port), ec,
           &opened);
  if (ec && !opened) {
    std::cout << "No IPv6 socket; listening on 127.0.0.1 only" << std::endl;
    ec.clear();
  }
  if (ec) endpoints.StopListening();
  return ec;
}

websocketpp::lib::error_code TryListen(Endpoints& endpoints, BindScope scope, uint16_t port) {
  if (scope == BindScope::kLoopbackOnly) return ListenOnLoopback(endpoints, port);
  return ListenOnEveryInterface(endpoints.first(), port);
}

// The instance this one replaces may still hold the port for a moment: once it has gone, the
// port is tried again. A failure is reported to the program, then raised.
void Listen(Endpoints& endpoints, BindScope scope, uint16_t port, const ServiceHooks& hooks) {
  websocketpp::lib::error_code ec = TryListen(endpoints, scope, port);
  if (ec && hooks.awaitPredecessor && hooks.awaitPredecessor()) ec = TryListen(endpoints, scope, port);
  if (!ec) {
    if (hooks.listening) hooks.listening(port);
    return;
  }
  if (hooks.listenFailed) hooks.listenFailed(port);
  throw websocketpp::exception(ec);
}

// Runs the network loop until it has no more work, one handler at a time: the log lines of a
// handler leave together once it has returned. An error that escapes a handler is written out and
// the loop goes on serving the other connections.
void RunLoop(ServiceEndpoint& endpoint) {
  HoldFlushedOutput();
  for (;;) {
    try {
      while (endpoint.run_one() > 0) FlushHeldOutput();
      FlushHeldOutput();
      return;
    } catch (...) {
      std::cout << ErrorText(std::current_exception()) << std::endl;
      FlushHeldOutput();
    }
  }
}

}  // namespace

CWebSocketServer::CWebSocketServer(ReaderDrivers& drivers, std::u16string settingsPath, std::u16string pageDir,
                                   ServiceHooks hooks)
    : drivers_(drivers), settingsPath_(std::move(settingsPath)), pageDir_(std::move(pageDir)), hooks_(std::move(hooks)) {}

int CWebSocketServer::Run(WindowHandle window) {
  port_ = ReadSetting(kPortSetting, settingsPath_);
  SetDeviceModel(ReadSetting(kModelSetting, settingsPath_));
  drivers_.SetStatusWindow(window);

  ReturnLargeBlocksToTheSystem();
  const AccessRules rules = ReadAccessRules(settingsPath_);
  for (const std::string& notice : rules.notices) std::cout << notice << std::endl;
  const uint16_t port = static_cast<uint16_t>(static_cast<uint32_t>(port_) & 0xFFFFu);

  try {
    Endpoints endpoints;
    const int listeners = rules.bind == BindScope::kLoopbackOnly ? 2 : 1;
    for (int i = 0; i < listeners; ++i) {
      ServiceEndpoint& endpoint = endpoints.Add();
      ConfigureLogs(endpoint);
      endpoint.set_reuse_addr(kListenWithAddressReuse);

      ReaderDrivers& drivers = drivers_;
      const std::u16string& pageDir = pageDir_;
      ServiceEndpoint* self = &endpoint;
      Endpoints* all = &endpoints;
      endpoint.set_message_handler([&drivers, all, self](connection_hdl hdl, ServiceEndpoint::message_ptr msg) {
        OnMessage(drivers, *all, self, std::move(hdl), std::move(msg));
      });
      endpoint.set_http_handler([&pageDir, self](connection_hdl hdl) { OnHttp(pageDir, self, std::move(hdl)); });
      endpoint.set_fail_handler([self](connection_hdl hdl) { OnFail(self, std::move(hdl)); });
      endpoint.set_close_handler(&OnClose);
      endpoint.set_validate_handler([&rules, port, self](connection_hdl hdl) {
        return OnValidate(rules, port, self, std::move(hdl));
      });
    }

    Listen(endpoints, rules.bind, port, hooks_);
    for (const auto& endpoint : endpoints.all())
      if (endpoint->is_listening()) endpoint->start_accept();
    RunLoop(endpoints.first());
  } catch (const websocketpp::exception& e) {
    std::cout << e.what() << std::endl;
  } catch (const std::exception& e) {
    std::cout << e.what() << std::endl;
  } catch (...) {
    std::cout << "other exception" << std::endl;
  }
  return 0;
}

int ServiceThreadProc(CWebSocketServer& server, WindowHandle window, const std::function<void()>& hideWindow) {
  try {
    if (hideWindow) hideWindow();
    server.Run(window);
  } catch (...) {
    std::cout << ErrorText(std::current_exception()) << std::endl;
  }
  return 0;
}

void StartServiceThread(CWebSocketServer& server, WindowHandle window, std::function<void()> hideWindow) {
  std::thread([&server, window, hide = std::move(hideWindow)] { ServiceThreadProc(server, window, hide); })
      .detach();
}

}  // namespace kavenor
