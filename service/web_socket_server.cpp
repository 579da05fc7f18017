#include "service/web_socket_server.h"

#include <chrono>
#include <exception>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <system_error>
#include <utility>
#include <vector>

#include "common/clock.h"
#include "common/device_model.h"
#include "common/line_output.h"
#include "common/settings.h"
#include "common/text.h"
#include "service/access_rules.h"
#include "service/command_dispatch.h"
#include "service/http_page.h"
#include "service/large_blocks.h"
#include "service/listen_options.h"
#include "service/log_text.h"
#include "service/service_endpoint.h"
#include "service/status_report.h"

namespace kavenor {
namespace {

using websocketpp::connection_hdl;
using Tcp = websocketpp::lib::asio::ip::tcp;

// How long a closing connection may take to answer the close frame when the service ends.
constexpr long kClosingHandshakeOnStopMs = 250;
// What a client that does not read its replies may leave queued: past this, or when a reply has not
// left for kStalledReplyMs, it is closed and what it left returns. Pongs go only while little waits.
// The batch already being written no longer counts as queued, so one client holds at most twice this.
constexpr size_t kMostUnsentBytes = 32 * 1024 * 1024;
constexpr size_t kMostUnsentForPong = 64 * 1024;
constexpr long kStalledReplyMs = 60000;
// How long a client closed for not reading gets to take its close frame.
constexpr long kClosingHandshakeOfAStalledClientMs = 1000;
// When no connection can be accepted (no descriptor left), accepting is tried again after this long
// or as soon as a connection closes, whichever comes first.
constexpr long kAcceptRetryMs = 1000;
// A message still arriving that gets no byte for this long is given up (1008), so that unfinished
// messages cannot hold the budget of the messages for ever; looked at every kStallCheckMs.
constexpr uint64_t kStalledMessageMs = 10000;
constexpr long kStallCheckMs = 2000;
// The most sites the operator may be asked about at once; a page of yet another is refused.
constexpr size_t kMostOpenQuestions = 4;
// The close reasons a page's library shows.
constexpr char kRefusedByOperator[] = "refused by the operator";
constexpr char kNoAnswerFromOperator[] = "no answer from the operator";

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
  websocketpp::lib::asio::io_service& io() { return all_.front()->get_io_service(); }

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

void ConfigureLogs(ServiceEndpoint& endpoint, bool verbose) {
  endpoint.get_alog().set_ostream(&std::cout);
  endpoint.get_elog().set_ostream(&std::cerr);
  endpoint.set_access_channels(websocketpp::log::alevel::all);
  endpoint.clear_access_channels(websocketpp::log::alevel::frame_payload);
  // The library's own workings, a dozen lines a frame, and a line a control frame: a flood of pings
  // would flood the log.
  if (!verbose)
    endpoint.clear_access_channels(websocketpp::log::alevel::devel | websocketpp::log::alevel::frame_header |
                                   websocketpp::log::alevel::control);
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

// One run of the network loop: the endpoints, the open connections and their numbers for the
// reader thread. Everything here but Stop runs on the service thread.
class CWebSocketServer::Session {
 public:
  Session(const ReaderBackend& backend, ReaderThread& reader, const std::u16string& pageDir, BindScope bind, SiteDecisions& sites,
          const ServiceHooks& hooks, long operatorAnswerMs, uint16_t port, bool verboseLog)
      : backend_(backend), reader_(reader), pageDir_(pageDir), sites_(sites), hooks_(hooks), operatorAnswerMs_(operatorAnswerMs),
        port_(port) {
    const int listeners = bind == BindScope::kLoopbackOnly ? 2 : 1;
    for (int i = 0; i < listeners; ++i) {
      ServiceEndpoint& endpoint = endpoints_.Add();
      ConfigureLogs(endpoint, verboseLog);
      endpoint.set_reuse_addr(kListenWithAddressReuse);
      ServiceEndpoint* self = &endpoint;
      endpoint.set_open_handler([this, self](connection_hdl hdl) { OnOpen(self, std::move(hdl)); });
      endpoint.set_message_handler([this, self](connection_hdl hdl, ServiceEndpoint::message_ptr msg) {
        OnMessage(self, std::move(hdl), std::move(msg));
      });
      endpoint.set_http_handler([this, self](connection_hdl hdl) { OnHttp(self, std::move(hdl)); });
      endpoint.set_fail_handler([this, self](connection_hdl hdl) { OnFail(self, std::move(hdl)); });
      endpoint.set_close_handler([this](connection_hdl hdl) { OnClose(std::move(hdl)); });
      endpoint.set_ping_handler([self](connection_hdl hdl, std::string) { return OnPing(self, std::move(hdl)); });
      endpoint.set_validate_handler([this, self](connection_hdl hdl) { return OnValidate(self, std::move(hdl)); });
    }
  }

  Endpoints& endpoints() { return endpoints_; }

  // Accepts connections on every endpoint that listens, until it stops listening.
  void StartAccepting() {
    for (const auto& endpoint : endpoints_.all())
      if (endpoint->is_listening()) Accept(endpoint.get());
  }

  // Any thread: hands the end over to the network loop.
  void Stop() {
    websocketpp::lib::asio::post(endpoints_.io(), [this] { OnStop(); });
  }

  // Any thread: hands the operator's answer, kept already (or not: `written`), over to the network
  // loop.
  void Answer(const std::string& origin, bool allowed, bool written) {
    websocketpp::lib::asio::post(endpoints_.io(),
                                 [this, origin, allowed, written] { OnAnswer(origin, allowed, written); });
  }

 private:
  struct Client {
    ReaderThread::ClientId id;
    ServiceEndpoint* endpoint;
    bool localProgram;  // on this computer and no browser (no Origin): it may stop the service
    // While the operator is asked about its site: the site, and the commands that wait meanwhile.
    std::string awaitedSite;
    std::vector<Command> held;
    // While replies wait unsent: a timer, and how much waited when it was set.
    std::shared_ptr<websocketpp::lib::asio::steady_timer> sendWatch;
    size_t watchedUnsent = 0;
    // The connection's message manager: how the message it is receiving progresses.
    std::weak_ptr<ServiceMessageManager> messages;
    std::string site;  // as Judge() names it
  };
  using Clients = std::map<connection_hdl, Client, std::owner_less<connection_hdl>>;

  void OnOpen(ServiceEndpoint* endpoint, connection_hdl hdl) {
    ServiceEndpoint::connection_ptr con = endpoint->get_con_from_hdl(hdl);
    websocketpp::lib::asio::error_code ec;
    websocketpp::lib::asio::ip::address peer = con->get_raw_socket().remote_endpoint(ec).address();
    if (peer.is_v6() && peer.to_v6().is_v4_mapped()) peer = peer.to_v6().to_v4();
    const bool local = !ec && peer.is_loopback() && con->get_request_header("Origin").empty() &&
                       con->get_request_header("Sec-WebSocket-Origin").empty();
    std::weak_ptr<ServiceMessageManager> messages;
    // The connection makes its messages with a manager of its own; a message made here shows it.
    if (auto probe = std::static_pointer_cast<BudgetedMessage>(con->get_message(websocketpp::frame::opcode::text, 0)))
      if (auto manager = probe->manager()) {
        manager->OnMessageStarted([this] { WatchStalledMessages(); });
        messages = manager;
      }
    const Judgement judged = Judge(con);
    Client& client = clients_.emplace(hdl, Client{nextClient_++, endpoint, local, {}, {}, nullptr, 0, messages, judged.site})
                         .first->second;
    if (judged.standing == SiteStanding::kRefused) {
      CloseWithPolicyViolation(con, judged.site + " is in [Security] DeniedOrigins", kRefusedByOperator);
    } else if (judged.standing == SiteStanding::kUndecided) {
      client.awaitedSite = judged.site;
      Ask(judged.site);
    }
  }

  // While a message is arriving on any connection, looks every kStallCheckMs for one that has had
  // no byte for kStalledMessageMs; no timer runs while none arrives.
  void WatchStalledMessages() {
    if (stallWatch_) return;
    stallWatch_ = std::make_shared<websocketpp::lib::asio::steady_timer>(endpoints_.io());
    stallWatch_->expires_after(std::chrono::milliseconds(kStallCheckMs));
    stallWatch_->async_wait([this](const websocketpp::lib::asio::error_code& error) {
      stallWatch_.reset();
      if (error) return;
      const uint64_t now = TickCountMs();
      bool arriving = false;
      std::vector<ServiceEndpoint::connection_ptr> stalled;
      for (const auto& [hdl, client] : clients_) {
        const auto manager = client.messages.lock();
        const std::optional<uint64_t> last = manager ? manager->PartialMessageLastProgress() : std::nullopt;
        if (!last) continue;
        websocketpp::lib::error_code ec;
        ServiceEndpoint::connection_ptr con = endpoints_.first().get_con_from_hdl(hdl, ec);
        if (con && now - *last >= kStalledMessageMs)
          stalled.push_back(con);
        else
          arriving = true;
      }
      for (const auto& con : stalled)
        CloseWithPolicyViolation(
            con, "a message has had no byte for " + std::to_string(kStalledMessageMs / 1000) + " s", "message stalled");
      if (arriving) WatchStalledMessages();
    });
  }

  void OnMessage(ServiceEndpoint* endpoint, connection_hdl hdl, ServiceEndpoint::message_ptr msg) {
    const std::string& payload = msg->get_payload();
    std::cout << "on_message called with hdl: " << hdl.lock().get() << " and message: " << LoggedMessage(payload)
              << std::endl;
    auto client = clients_.find(hdl);
    if (client == clients_.end()) return;

    if (payload == kStopListening) {
      if (!client->second.localProgram)
        std::cout << "stop-listening ignored: only a program on this computer that sends no Origin may stop the service"
                  << std::endl;
      else if (!endpoints_.StopListening())
        std::cout << "stop-listening ignored: the service is not listening" << std::endl;
      return;
    }
    const std::optional<Command> command = ParseCommand(payload);
    if (!command) return;
    if (!client->second.awaitedSite.empty() && client->second.held.size() < ReaderThread::kMaxPendingPerClient) {
      client->second.held.push_back(*command);
      return;
    }
    if (client->second.awaitedSite.empty() && Submit(client->first, client->second, *command)) return;
    // Its queue goes at once; what else it sends while closing is not looked at.
    const std::string waitingFor = client->second.awaitedSite.empty() ? "the reader" : "the operator's answer";
    websocketpp::lib::error_code ec;
    if (ServiceEndpoint::connection_ptr con = endpoint->get_con_from_hdl(hdl, ec))
      CloseWithPolicyViolation(con,
                               "more than " + std::to_string(ReaderThread::kMaxPendingPerClient) +
                                   " of its commands wait for " + waitingFor,
                               "too many commands waiting");
  }

  // Hands a command to the reader thread; false when the client has too many waiting there. The
  // reply is encoded on the reader thread and sent from the network loop.
  bool Submit(const connection_hdl& hdl, const Client& client, const Command& command) {
    ServiceEndpoint* endpoint = client.endpoint;
    return reader_.Submit(client.id, command, [this, endpoint, hdl](std::u16string_view reply) {
      HandOver(Outgoing{endpoint, hdl, Utf16ToUtf8(reply)});
    });
  }

  // The site a handshake comes from and where it stands. The older protocol versions 7 and 8 name
  // the origin in Sec-WebSocket-Origin; a browser never sends two that differ.
  struct Judgement {
    SiteStanding standing;
    std::string site;  // as OriginText writes it; the header itself when it is no origin
  };
  Judgement Judge(const ServiceEndpoint::connection_ptr& con) const {
    const std::string& origin = con->get_request_header("Origin");
    const std::string& older = con->get_request_header("Sec-WebSocket-Origin");
    const std::string& judged = origin.empty() ? older : origin;
    const std::optional<WebOrigin> site = ParseWebOrigin(judged);
    Judgement judgement{sites_.StandingOf(judged, port_), site ? OriginText(*site) : judged};
    if (!origin.empty() && !older.empty() && !(site == ParseWebOrigin(older)))
      judgement.standing = SiteStanding::kNotAllowed;
    return judgement;
  }

  // Asks the operator about `site`, once until the answer or the time-out.
  void Ask(const std::string& site) {
    if (questions_.count(site)) return;
    auto deadline = std::make_shared<websocketpp::lib::asio::steady_timer>(endpoints_.io());
    deadline->expires_after(std::chrono::milliseconds(operatorAnswerMs_));
    deadline->async_wait([this, site](const websocketpp::lib::asio::error_code& error) {
      if (!error) OnNoAnswer(site);
    });
    questions_.emplace(site, deadline);
    std::cout << "Asking the operator whether the pages of " << site << " may use the reader" << std::endl;
    hooks_.askOperator(site);
  }

  // The connections that wait for the operator's answer about `site`.
  std::vector<connection_hdl> Awaiting(const std::string& site) const {
    std::vector<connection_hdl> waiting;
    for (const auto& [hdl, client] : clients_)
      if (client.awaitedSite == site) waiting.push_back(hdl);
    return waiting;
  }

  void CloseAwaiting(const std::string& site, const std::string& why, const char* reason) {
    for (const connection_hdl& hdl : Awaiting(site)) {
      websocketpp::lib::error_code ec;
      if (ServiceEndpoint::connection_ptr con = endpoints_.first().get_con_from_hdl(hdl, ec))
        CloseWithPolicyViolation(con, why, reason);
    }
  }

  void OnAnswer(const std::string& site, bool allowed, bool written) {
    auto question = questions_.find(site);
    if (question != questions_.end()) {
      question->second->cancel();
      questions_.erase(question);
    }
    std::cout << "The operator has " << (allowed ? "allowed" : "refused") << " the pages of " << site
              << (written ? std::string("; kept in [Security] ") + (allowed ? "AllowedOrigins" : "DeniedOrigins")
                          : std::string("; Config.ini could not be written: kept until the program ends"))
              << std::endl;
    if (!allowed) return CloseAwaiting(site, "the operator has refused its site", kRefusedByOperator);
    for (const connection_hdl& hdl : Awaiting(site)) {
      Client& client = clients_.at(hdl);
      client.awaitedSite.clear();
      std::vector<Command> held;
      held.swap(client.held);
      for (const Command& command : held) Submit(hdl, client, command);
    }
  }

  void OnNoAnswer(const std::string& site) {
    questions_.erase(site);
    std::cout << "No answer from the operator about " << site << " within " << operatorAnswerMs_ / 1000 << " s"
              << std::endl;
    CloseAwaiting(site, "the operator has not answered about its site", kNoAnswerFromOperator);
    if (hooks_.questionWithdrawn) hooks_.questionWithdrawn(site);
  }

  struct Outgoing {
    ServiceEndpoint* endpoint;
    connection_hdl hdl;
    std::string bytes;
  };

  // Reader thread: queues a reply for the network loop. Replies that come while the loop has not
  // yet taken the last ones go with them, for one wake-up of the loop.
  void HandOver(Outgoing reply) {
    std::lock_guard<std::mutex> lock(outboxMutex_);
    outbox_.push_back(std::move(reply));
    if (outbox_.size() == 1) websocketpp::lib::asio::post(endpoints_.io(), [this] { SendReplies(); });
  }

  void SendReplies() {
    std::vector<Outgoing> replies;
    {
      std::lock_guard<std::mutex> lock(outboxMutex_);
      replies.swap(outbox_);
    }
    for (const Outgoing& reply : replies) {
      websocketpp::lib::error_code ec;
      ServiceEndpoint::connection_ptr con = reply.endpoint->get_con_from_hdl(reply.hdl, ec);
      if (con && con->get_buffered_amount() + reply.bytes.size() > kMostUnsentBytes) {
        CloseWithPolicyViolation(con,
                                 "more than " + std::to_string(kMostUnsentBytes) + " bytes of its replies wait unread");
        continue;
      }
      if (con) ec = con->send(reply.bytes, websocketpp::frame::opcode::text);
      // The client has gone meanwhile: nobody is left to answer.
      if (ec) {
        std::cout << "Echo failed because: " << "(" << ec.message() << ")" << std::endl;
        continue;
      }
      WatchSending(reply.endpoint, reply.hdl);
    }
  }

  // A client that does not read what it is sent is not answered without end.
  static bool OnPing(ServiceEndpoint* endpoint, connection_hdl hdl) {
    websocketpp::lib::error_code ec;
    ServiceEndpoint::connection_ptr con = endpoint->get_con_from_hdl(hdl, ec);
    return con && con->get_buffered_amount() <= kMostUnsentForPong;
  }

  // Closes a client that holds the service up or may not use it (1008) and drops its queue at once;
  // what it holds goes with the connection, after a short close handshake.
  void CloseWithPolicyViolation(const ServiceEndpoint::connection_ptr& con, const std::string& why,
                                const std::string& reason = "replies not read") {
    std::cout << "Closing a connection with 1008: " << why << std::endl;
    websocketpp::lib::error_code ec;
    con->set_close_handshake_timeout(kClosingHandshakeOfAStalledClientMs);
    con->close(websocketpp::close::status::policy_violation, reason, ec);
    // Its queue is dropped at once; the rest goes with the connection.
    auto client = clients_.find(con->get_handle());
    if (client == clients_.end()) return;
    reader_.Forget(client->second.id);
    if (client->second.sendWatch) client->second.sendWatch->cancel();
    clients_.erase(client);
  }

  // While a connection has replies unsent, looks every kStalledReplyMs whether they move.
  void WatchSending(ServiceEndpoint* endpoint, const connection_hdl& hdl) {
    websocketpp::lib::error_code ec;
    ServiceEndpoint::connection_ptr con = endpoint->get_con_from_hdl(hdl, ec);
    auto client = clients_.find(hdl);
    if (!con || client == clients_.end() || client->second.sendWatch) return;
    const size_t unsent = con->get_buffered_amount();
    if (unsent == 0) return;
    auto timer = std::make_shared<websocketpp::lib::asio::steady_timer>(endpoints_.io());
    client->second.sendWatch = timer;
    client->second.watchedUnsent = unsent;
    timer->expires_after(std::chrono::milliseconds(kStalledReplyMs));
    timer->async_wait([this, endpoint, hdl](const websocketpp::lib::asio::error_code& error) {
      if (error) return;  // cancelled: the connection has gone
      auto client = clients_.find(hdl);
      if (client == clients_.end()) return;
      const size_t watched = client->second.watchedUnsent;
      client->second.sendWatch.reset();
      websocketpp::lib::error_code ec;
      ServiceEndpoint::connection_ptr con = endpoint->get_con_from_hdl(hdl, ec);
      if (!con) return;
      const size_t unsent = con->get_buffered_amount();
      if (unsent > 0 && unsent >= watched)
        return CloseWithPolicyViolation(
            con, "its replies have not moved for " + std::to_string(kStalledReplyMs / 1000) + " s");
      WatchSending(endpoint, hdl);
    });
  }

  void OnHttp(ServiceEndpoint* endpoint, connection_hdl hdl) {
    ServiceEndpoint::connection_ptr con = endpoint->get_con_from_hdl(hdl);
    const std::string& resource = con->get_resource();
    if (resource.substr(0, resource.find('?')) == "/status") return AnswerStatus(con);
    try {
      con->set_body(TestPageBody(pageDir_, CurrentDeviceModel()));
      con->set_status(websocketpp::http::status_code::ok);
    } catch (...) {
      std::cout << "HTTP handler failed: " << ErrorText(std::current_exception()) << std::endl;
      con->set_status(websocketpp::http::status_code::internal_server_error);
    }
  }

  // Any page may read it (it is made for the page's own origin); a preflight is answered too.
  void AnswerStatus(const ServiceEndpoint::connection_ptr& con) {
    con->append_header("Access-Control-Allow-Origin", "*");
    con->append_header("Cache-Control", "no-store");
    if (con->get_request().get_method() == "OPTIONS") {
      con->append_header("Access-Control-Allow-Methods", "GET");
      con->append_header("Access-Control-Allow-Private-Network", "true");
      con->set_status(websocketpp::http::status_code::no_content);
      return;
    }
    const std::string& origin = con->get_request_header("Origin");
    const std::optional<WebOrigin> site = ParseWebOrigin(origin);
    ServiceStatus status;
    status.origin = site ? OriginText(*site) : origin;
    switch (sites_.StandingOf(origin, port_)) {
      case SiteStanding::kAllowed: status.access = "allowed"; break;
      case SiteStanding::kRefused: status.access = "refused"; break;
      case SiteStanding::kNotAllowed: status.access = "not allowed"; break;
      case SiteStanding::kUndecided:
        status.access = !hooks_.askOperator ? "not allowed" : questions_.count(status.origin) ? "asking" : "ask";
        break;
    }
    status.model = CurrentDeviceModel();
    const std::array<bool, 3> loaded = backend_.LibrariesLoaded();
    std::copy(loaded.begin(), loaded.end(), status.sdkLoaded);
    const ReaderThread::Load load = reader_.CurrentLoad();
    status.commandRunning = load.running;
    status.commandsWaiting = load.waiting;
    std::set<ReaderThread::ClientId> otherSites;
    for (const auto& [hdl, client] : clients_)
      if (client.site != status.origin) otherSites.insert(client.id);
    const ReaderThread::Load others =
        reader_.CurrentLoad([&otherSites](ReaderThread::ClientId id) { return otherSites.count(id) > 0; });
    status.otherSitesRunning = others.running;
    status.otherSitesWaiting = others.waiting;
    con->append_header("Content-Type", "application/json; charset=utf-8");
    con->set_body(StatusJson(status, ProductVersion()));
    con->set_status(websocketpp::http::status_code::ok);
  }

  void OnFail(ServiceEndpoint* endpoint, connection_hdl hdl) {
    if (!pausedAccepts_.empty()) ResumeAccepting();
    websocketpp::lib::error_code ec;
    ServiceEndpoint::connection_ptr con = endpoint->get_con_from_hdl(hdl, ec);
    if (con) ec = con->get_ec();
    // error_code prints as "category:value".
    std::cout << "Fail handler: " << ec << " " << ec.message() << std::endl;
  }

  // The library's accept loop, but one that pauses when an accept fails (no descriptor left)
  // instead of trying again at once, without end.
  void Accept(ServiceEndpoint* endpoint) {
    if (!endpoint->is_listening()) return;
    ServiceEndpoint::connection_ptr con = endpoint->get_connection();
    if (!con) return PauseAccepting(endpoint, "no connection could be made");
    websocketpp::lib::error_code ec;
    endpoint->async_accept(
        con, [this, endpoint, con](const websocketpp::lib::error_code& error) { OnAccepted(endpoint, con, error); },
        ec);
    if (ec) {
      con->terminate(websocketpp::lib::error_code());
      PauseAccepting(endpoint, ec.message());
    }
  }

  void OnAccepted(ServiceEndpoint* endpoint, const ServiceEndpoint::connection_ptr& con,
                  const websocketpp::lib::error_code& error) {
    if (!error) {
      con->start();
      return Accept(endpoint);
    }
    con->terminate(error);
    if (error == websocketpp::error::operation_canceled) return;  // the listener was stopped
    PauseAccepting(endpoint, error.message());
  }

  void PauseAccepting(ServiceEndpoint* endpoint, const std::string& why) {
    if (pausedAccepts_.empty())
      std::cout << "Not accepting connections for now (" << why << "); going on when one closes" << std::endl;
    pausedAccepts_.push_back(endpoint);
    if (acceptRetry_) return;
    acceptRetry_ = std::make_shared<websocketpp::lib::asio::steady_timer>(endpoints_.io());
    acceptRetry_->expires_after(std::chrono::milliseconds(kAcceptRetryMs));
    acceptRetry_->async_wait([this](const websocketpp::lib::asio::error_code& error) {
      if (!error) ResumeAccepting();
    });
  }

  void ResumeAccepting() {
    if (acceptRetry_) acceptRetry_->cancel();
    acceptRetry_.reset();
    std::vector<ServiceEndpoint*> paused;
    paused.swap(pausedAccepts_);
    for (ServiceEndpoint* endpoint : paused) Accept(endpoint);
  }

  void OnClose(connection_hdl hdl) {
    std::cout << "Close handler" << std::endl;
    if (!pausedAccepts_.empty()) ResumeAccepting();
    auto client = clients_.find(hdl);
    if (client != clients_.end()) {
      reader_.Forget(client->second.id);
      if (client->second.sendWatch) client->second.sendWatch->cancel();
      clients_.erase(client);
    }
    // At the end, a connection still opening may keep the loop waiting: once the last open one
    // has gone, the loop ends.
    if (stopping_ && clients_.empty()) endpoints_.first().stop();
  }

  // A connection is accepted whatever its path or sub-protocols (none is selected). A page of a site
  // that may not use the reader is refused with 403 before it can send a command, unless the
  // operator has refused it: that one is told so once open. A page of a site the operator is to be
  // asked about is accepted; its commands wait for the answer.
  bool OnValidate(ServiceEndpoint* endpoint, connection_hdl hdl) {
    ServiceEndpoint::connection_ptr con = endpoint->get_con_from_hdl(hdl);
    const Judgement judged = Judge(con);
    std::string why;
    switch (judged.standing) {
      case SiteStanding::kAllowed:
      case SiteStanding::kRefused: return true;
      case SiteStanding::kUndecided:
        if (!hooks_.askOperator)
          why = "not in [Security] AllowedOrigins, and there is no window to ask the operator: to allow its pages, "
                "add it to AllowedOrigins in Config.ini";
        else if (questions_.size() >= kMostOpenQuestions && !questions_.count(judged.site))
          why = std::to_string(questions_.size()) + " other sites wait for the operator's answer";
        else
          return true;
        break;
      case SiteStanding::kNotAllowed:
        why = judged.site == "null"
                  ? "pages opened from a file may connect only when [Security] AllowedOrigins lists null"
                  : "not in [Security] AllowedOrigins";
        break;
    }
    std::cout << "Refused a WebSocket connection from origin " << LoggedMessage(judged.site) << ": " << why
              << std::endl;
    con->set_status(websocketpp::http::status_code::forbidden);
    return false;
  }

  void OnStop() {
    if (stopping_) return;
    stopping_ = true;
    endpoints_.StopListening();
    if (acceptRetry_) acceptRetry_->cancel();
    if (stallWatch_) stallWatch_->cancel();
    pausedAccepts_.clear();
    for (const auto& [site, deadline] : questions_) {
      deadline->cancel();
      if (hooks_.questionWithdrawn) hooks_.questionWithdrawn(site);
    }
    questions_.clear();
    if (clients_.empty()) {
      endpoints_.first().stop();
      return;
    }
    for (const auto& [hdl, id] : clients_) {
      websocketpp::lib::error_code ec;
      ServiceEndpoint::connection_ptr con = endpoints_.first().get_con_from_hdl(hdl, ec);
      if (!con) continue;
      con->set_close_handshake_timeout(kClosingHandshakeOnStopMs);
      con->close(websocketpp::close::status::going_away, "the service is closing", ec);
    }
  }

  const ReaderBackend& backend_;  // only whether each library is loaded
  ReaderThread& reader_;
  const std::u16string& pageDir_;
  SiteDecisions& sites_;
  const ServiceHooks& hooks_;
  long operatorAnswerMs_;
  uint16_t port_;
  Endpoints endpoints_;
  Clients clients_;
  ReaderThread::ClientId nextClient_ = 1;
  bool stopping_ = false;
  std::mutex outboxMutex_;
  std::vector<Outgoing> outbox_;  // replies for the network loop to send
  std::vector<ServiceEndpoint*> pausedAccepts_;
  std::shared_ptr<websocketpp::lib::asio::steady_timer> acceptRetry_;
  std::shared_ptr<websocketpp::lib::asio::steady_timer> stallWatch_;
  // The sites the operator is asked about, each with the time its answer is awaited until.
  std::map<std::string, std::shared_ptr<websocketpp::lib::asio::steady_timer>> questions_;
};

CWebSocketServer::CWebSocketServer(ReaderBackend& reader, std::u16string settingsPath, std::u16string pageDir,
                                   ServiceHooks hooks)
    : backend_(reader),
      settingsPath_(std::move(settingsPath)),
      pageDir_(std::move(pageDir)),
      hooks_(std::move(hooks)),
      reader_(backend_) {
  // The settings window shows the sites before the service has started.
  sites_.Load(ReadAccessRules(settingsPath_), settingsPath_);
}

CWebSocketServer::~CWebSocketServer() { Stop(); }

int CWebSocketServer::Run() {
  const int32_t configuredPort = ReadSetting(kPortSetting, settingsPath_);
  reader_.Start(ReadSetting(kModelSetting, settingsPath_));

  ReturnLargeBlocksToTheSystem();
  const AccessRules rules = ReadAccessRules(settingsPath_);
  for (const std::string& notice : rules.notices) std::cout << notice << std::endl;
  if (rules.anyOrigin)
    std::cout << "[Security] AllowedOrigins=*: the pages of every web site may use the reader, without asking"
              << std::endl;
  sites_.Load(rules, settingsPath_);
  const uint16_t port = static_cast<uint16_t>(static_cast<uint32_t>(configuredPort) & 0xFFFFu);

  try {
    Session session(backend_, reader_, pageDir_, rules.bind, sites_, hooks_, operatorAnswerMs_, port, verboseLog_);
    {
      std::lock_guard<std::mutex> lock(sessionMutex_);
      session_ = &session;
      // Asked to end before it began: it listens and serves nothing.
      if (stopRequested_) session.Stop();
    }
    // Whatever ends the loop, the session is no longer reachable once it is gone.
    struct Unregister {
      CWebSocketServer* server;
      ~Unregister() {
        std::lock_guard<std::mutex> lock(server->sessionMutex_);
        server->session_ = nullptr;
      }
    } unregister{this};

    Listen(session.endpoints(), rules.bind, port, hooks_);
    session.StartAccepting();
    RunLoop(session.endpoints().first());
    // No reply may be handed to the loop once it is gone: the running command finishes first.
    reader_.Stop();
  } catch (const websocketpp::exception& e) {
    std::cout << e.what() << std::endl;
  } catch (const std::exception& e) {
    std::cout << e.what() << std::endl;
  } catch (...) {
    std::cout << "other exception" << std::endl;
  }
  reader_.Stop();
  return 0;
}

void CWebSocketServer::Start(std::function<void()> beforeRun) {
  if (thread_.joinable()) return;
  ended_ = false;
  thread_ = std::thread([this, before = std::move(beforeRun)] {
    ServiceThreadProc(*this, before);
    ended_ = true;
  });
}

void CWebSocketServer::RequestStop() {
  std::lock_guard<std::mutex> lock(sessionMutex_);
  stopRequested_ = true;
  if (session_) session_->Stop();
}

bool CWebSocketServer::AnswerOperator(const std::string& origin, bool allowed) {
  // In force at once; an answer that comes just after the time-out still counts for the next pages.
  const bool written = sites_.Remember(origin, allowed);
  std::lock_guard<std::mutex> lock(sessionMutex_);
  if (session_) session_->Answer(origin, allowed, written);
  return written;
}

void CWebSocketServer::Stop() {
  RequestStop();
  if (thread_.joinable()) thread_.join();
}

int ServiceThreadProc(CWebSocketServer& server, const std::function<void()>& beforeRun) {
  try {
    if (beforeRun) beforeRun();
    server.Run();
  } catch (...) {
    std::cout << ErrorText(std::current_exception()) << std::endl;
  }
  return 0;
}

}  // namespace kavenor
