// The WebSocket/HTTP endpoint type: websocketpp 0.8.2 over Boost.Asio, configured by debug_custom.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include <websocketpp/config/debug_asio_no_tls.hpp>
#include <websocketpp/server.hpp>
#include <websocketpp/version.hpp>

#include "common/clock.h"
#include "service/message_budget.h"

// The frame reader below replaces one member of the library's hybi13 processor; it is written
// against this release and must be looked at again on any other.
static_assert(websocketpp::major_version == 0 && websocketpp::minor_version == 8 &&
                  websocketpp::patch_version == 2,
              "service/bounded_frames.cpp follows websocketpp 0.8.2's hybi13 frame reader");

namespace kavenor {

// The most an incoming message reserves ahead of the bytes that have arrived. A frame header may
// claim up to the 32,000,000-byte message limit; the memory follows the payload, not the claim.
constexpr size_t kMaxMessageReservation = 64 * 1024;

// websocketpp's allocating message manager, but the size a frame header claims is only a hint:
// the reservation it makes is capped at kMaxMessageReservation.
class BudgetedMessage;

template <typename Message>
class BoundedMessageManager : public websocketpp::lib::enable_shared_from_this<BoundedMessageManager<Message>> {
 public:
  typedef BoundedMessageManager<Message> type;
  typedef websocketpp::lib::shared_ptr<BoundedMessageManager> ptr;
  typedef websocketpp::lib::weak_ptr<BoundedMessageManager> weak_ptr;
  typedef typename Message::ptr message_ptr;

  message_ptr get_message() {
    auto message = websocketpp::lib::make_shared<BudgetedMessage>(type::shared_from_this());
    message->SetProgressOf(type::shared_from_this());
    return message_ptr(message);
  }

  message_ptr get_message(websocketpp::frame::opcode::value op, size_t size) {
    auto message = websocketpp::lib::make_shared<BudgetedMessage>(type::shared_from_this(), op,
                                                                  std::min(size, kMaxMessageReservation));
    message->SetProgressOf(type::shared_from_this());
    return message_ptr(message);
  }

  // Messages are freed, never pooled.
  bool recycle(Message*) { return false; }

  // The data message being received on this connection (network thread only): since when its last
  // bytes came, or nothing between messages. `started` is called when one begins.
  std::optional<uint64_t> PartialMessageLastProgress() const { return lastProgress_; }
  void OnMessageStarted(std::function<void()> started) { started_ = std::move(started); }
  void NoteProgress(uint64_t nowMs) {
    const bool starting = !lastProgress_;
    lastProgress_ = nowMs;
    if (starting && started_) started_();
  }
  void NoteComplete() { lastProgress_.reset(); }

 private:
  std::optional<uint64_t> lastProgress_;
  std::function<void()> started_;
};

// A message whose payload, while it is still arriving, counts against the MessageBudget. Every
// message the manager above makes is one.
using ServiceMessage = websocketpp::message_buffer::message<BoundedMessageManager>;
using ServiceMessageManager = BoundedMessageManager<ServiceMessage>;

class BudgetedMessage : public ServiceMessage {
 public:
  using websocketpp::message_buffer::message<BoundedMessageManager>::message;
  BudgetedMessage(const BudgetedMessage&) = delete;
  BudgetedMessage& operator=(const BudgetedMessage&) = delete;
  // A connection closed half-way through a message gives its bytes back here.
  ~BudgetedMessage() { MessageBudget::Give(charged_); }

  // The connection's message manager, told of this message's progress.
  void SetProgressOf(const std::shared_ptr<ServiceMessageManager>& manager) { manager_ = manager; }
  std::shared_ptr<ServiceMessageManager> manager() const { return manager_.lock(); }

  // Counts `bytes` more of payload; false when the budget has no room for them.
  bool Charge(size_t bytes) {
    if (!MessageBudget::Take(bytes)) return false;
    charged_ += bytes;
    if (auto m = manager_.lock()) m->NoteProgress(TickCountMs());
    return true;
  }
  // The message is complete: it no longer counts.
  void Settle() {
    MessageBudget::Give(charged_);
    charged_ = 0;
    if (auto m = manager_.lock()) m->NoteComplete();
  }
  // The message is refused: its bytes go back now, not when its connection has finished closing.
  void Drop() {
    std::string().swap(get_raw_payload());
    Settle();
  }

 private:
  size_t charged_ = 0;
  std::weak_ptr<ServiceMessageManager> manager_;
};

// The library's debug configuration over Asio without TLS, with what this service changes: a 10 s
// opening-handshake time-out and bounded message reservations. The rest (basic concurrency, all
// log channels compiled in, 5000 ms closing-handshake and pong time-outs, the 32,000,000-byte
// message limit) is restated so that it cannot drift with the base; HTTP bodies get 16 KiB. The library itself
// accepts protocol versions 13, 8, 7 and 0 and answers with its own name, "WebSocket++/0.8.2".
struct debug_custom : public websocketpp::config::debug_asio {
  typedef debug_custom type;
  typedef websocketpp::config::debug_asio base;

  typedef base::concurrency_type concurrency_type;
  typedef base::request_type request_type;
  typedef base::response_type response_type;

  typedef websocketpp::message_buffer::message<BoundedMessageManager> message_type;
  typedef BoundedMessageManager<message_type> con_msg_manager_type;
  typedef websocketpp::message_buffer::alloc::endpoint_msg_manager<con_msg_manager_type>
      endpoint_msg_manager_type;

  typedef base::alog_type alog_type;
  typedef base::elog_type elog_type;
  typedef base::rng_type rng_type;

  struct transport_config : public base::transport_config {
    typedef type::concurrency_type concurrency_type;
    typedef type::alog_type alog_type;
    typedef type::elog_type elog_type;
    typedef type::request_type request_type;
    typedef type::response_type response_type;
    typedef websocketpp::transport::asio::basic_socket::endpoint socket_type;
  };
  typedef websocketpp::transport::asio::endpoint<transport_config> transport_type;

  // A connection that has not finished its opening handshake in 10 s is closed: without a limit,
  // connections opened faster than anyone finishes them would hold memory and descriptors for ever.
  static const long timeout_open_handshake = 10000;
  static const long timeout_close_handshake = 5000;
  static const long timeout_pong = 5000;

  static const websocketpp::log::level elog_level = websocketpp::log::elevel::all;
  static const websocketpp::log::level alog_level = websocketpp::log::alevel::all;

  static const size_t max_message_size = 32000000;
  // The test pages need no request body; a larger one is refused (413) before it is read, so that
  // requests cannot hold memory outside the budget of the messages.
  static const size_t max_http_body_size = 16 * 1024;

  // permessage-deflate stays the base's disabled stub: no extension is ever negotiated.
  typedef base::permessage_deflate_type permessage_deflate_type;
};

typedef websocketpp::server<debug_custom> ServiceEndpoint;

}  // namespace kavenor

// The library's frame reader reserves, for every continuation frame, the whole length its header
// claims. Ours (service/bounded_frames.cpp) caps that reservation as the message manager caps the
// first one. hybi07 and hybi08 inherit it.
template <>
size_t websocketpp::processor::hybi13<kavenor::debug_custom>::consume(uint8_t* buf, size_t len,
                                                                      websocketpp::lib::error_code& ec);
