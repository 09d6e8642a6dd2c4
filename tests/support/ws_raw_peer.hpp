// A loopback WebSocket peer that does the upgrade by hand and then sends
// scripted raw bytes: the answers and frames a proper server never sends
// (an answer other than 101, a 101 naming a subprotocol, masked or reserved
// bits, oversized control frames, a close message without the end of the
// connection).
//
// It never ends a connection of its own accord: every connection is held
// open until the peer is destroyed, whatever the client does. What the
// client sends is decoded frame by frame and recorded.
//
// Runs on one thread of its own; 127.0.0.1 on a port chosen by the system.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace zephlar::testing {

struct RawPeerScript {
  bool tls = false;  // the certificate of tls_identity() (fake_service_tls.hpp)
  // The whole answer to the upgrade request, sent as is. When empty, a valid
  // 101 answer (with the accept value of the client's key) that also carries
  // `extra_headers`.
  std::string answer{};
  std::string extra_headers{};  // "Name: value\r\n" lines
  // Sent once the client's first frame (the subscription) has arrived.
  std::string after_first_frame{};
};

struct RawFrame {
  std::uint8_t opcode = 0;
  std::string payload;  // unmasked
};

struct RawPeerConnection {
  std::vector<RawFrame> frames;  // from the client, in order
  bool client_ended = false;     // the client ended the connection (end of stream or reset)
};

class RawWsPeer {
 public:
  explicit RawWsPeer(RawPeerScript script);
  ~RawWsPeer();
  RawWsPeer(const RawWsPeer&) = delete;
  RawWsPeer& operator=(const RawWsPeer&) = delete;

  // "http://127.0.0.1:PORT", or "https://localhost:PORT" with TLS
  std::string base_url() const;

  std::vector<RawPeerConnection> connections() const;

  // Waits until `done` holds for the connections (true), or `timeout`
  // passes (false).
  bool wait_until(const std::function<bool(const std::vector<RawPeerConnection>&)>& done,
                  std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// One server frame, unmasked unless asked otherwise.
struct RawFrameBits {
  bool rsv1 = false;
  bool masked = false;
};
std::string raw_frame(std::uint8_t opcode, std::string_view payload, RawFrameBits bits = {});
std::string raw_text_frame(std::string_view text);
std::string raw_close_frame(std::uint16_t code);

inline constexpr std::uint8_t raw_opcode_text = 0x1;
inline constexpr std::uint8_t raw_opcode_close = 0x8;
inline constexpr std::uint8_t raw_opcode_ping = 0x9;

// The status code of a close frame's payload; 0 when it has none.
std::uint16_t raw_close_code(const RawFrame& frame);

}  // namespace zephlar::testing
