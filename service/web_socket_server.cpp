#include "service/web_socket_server.h"

#include <exception>
#include <iostream>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

#include "common/device_model.h"
#include "common/exe_dir.h"
#include "common/line_output.h"
#include "common/settings.h"
#include "common/text.h"
#include "service/command_dispatch.h"
#include "service/http_page.h"
#include "service/listen_options.h"
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

void OnMessage(ReaderDrivers& drivers, ServiceEndpoint* endpoint, connection_hdl hdl,
               ServiceEndpoint::message_ptr msg) {
  const std::string& payload = msg->get_payload();
  std::cout << "on_message called with hdl: " << hdl.lock().get() << " and message: " << payload << std::endl;

  if (payload == kStopListening) {
    websocketpp::lib::error_code ec;
    endpoint->stop_listening(ec);
    if (ec) std::cout << "stop-listening ignored: the service is not listening" << std::endl;
    return;
  }

  try {
    std::string reply;
    try {
      std::optional<std::u16string> text = HandleCommand(payload, drivers);
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

// Every connection is accepted, whatever its origin, path or sub-protocols; none is selected.
bool OnValidate(ServiceEndpoint*, connection_hdl) { return true; }

void ConfigureLogs(ServiceEndpoint& endpoint) {
  endpoint.get_alog().set_ostream(&std::cout);
  endpoint.get_elog().set_ostream(&std::cerr);
  endpoint.set_access_channels(websocketpp::log::alevel::all);
  endpoint.clear_access_channels(websocketpp::log::alevel::frame_payload);
  // A windowed start has nowhere to write them; they are not formatted at all.
  if (!StandardOutputAttached()) endpoint.clear_access_channels(websocketpp::log::alevel::all);
  endpoint.set_error_channels(websocketpp::log::elevel::all);
}

// Listens on :: with IPV6_V6ONLY off, so that IPv4 clients are served too. Where no such socket
// can be opened (IPv6 switched off), listens on IPv4 instead. Any other failure (the port is
// taken, say) is returned.
websocketpp::lib::error_code TryListen(ServiceEndpoint& endpoint, uint16_t port) {
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
  endpoint.set_tcp_pre_bind_handler([](ServiceEndpoint::acceptor_ptr acceptor) {
    ClaimPortAlone(acceptor);
    return websocketpp::lib::error_code();
  });
  ec.clear();
  endpoint.listen(Tcp::endpoint(Tcp::v4(), port), ec);
  endpoint.set_tcp_pre_bind_handler(nullptr);
  return ec;
}

// The instance this one replaces may still hold the port for a moment: once it has gone, the
// port is tried again. A failure is reported to the program, then raised.
void Listen(ServiceEndpoint& endpoint, uint16_t port, const ServiceHooks& hooks) {
  websocketpp::lib::error_code ec = TryListen(endpoint, port);
  if (ec && hooks.awaitPredecessor && hooks.awaitPredecessor()) ec = TryListen(endpoint, port);
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

  try {
    ServiceEndpoint endpoint;
    ConfigureLogs(endpoint);
    endpoint.init_asio();
    endpoint.set_reuse_addr(kListenWithAddressReuse);

    ReaderDrivers& drivers = drivers_;
    const std::u16string& pageDir = pageDir_;
    ServiceEndpoint* self = &endpoint;
    endpoint.set_message_handler([&drivers, self](connection_hdl hdl, ServiceEndpoint::message_ptr msg) {
      OnMessage(drivers, self, std::move(hdl), std::move(msg));
    });
    endpoint.set_http_handler([&pageDir, self](connection_hdl hdl) { OnHttp(pageDir, self, std::move(hdl)); });
    endpoint.set_fail_handler([self](connection_hdl hdl) { OnFail(self, std::move(hdl)); });
    endpoint.set_close_handler(&OnClose);
    endpoint.set_validate_handler([self](connection_hdl hdl) { return OnValidate(self, std::move(hdl)); });

    Listen(endpoint, static_cast<uint16_t>(static_cast<uint32_t>(port_) & 0xFFFFu), hooks_);
    endpoint.start_accept();
    RunLoop(endpoint);
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
