// A loopback port that refuses every connection for as long as this object
// lives: the socket is bound but never listens. A port freed by a stopped
// server could be taken by another test running at the same time; this one
// cannot.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <stdexcept>
#include <string>

namespace zephlar::testing {

class RefusingPort {
 public:
  RefusingPort() : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      if (fd_ >= 0) ::close(fd_);
      throw std::runtime_error("cannot bind a loopback port");
    }
    port_ = ntohs(address.sin_port);
  }
  ~RefusingPort() { ::close(fd_); }
  RefusingPort(const RefusingPort&) = delete;
  RefusingPort& operator=(const RefusingPort&) = delete;

  std::uint16_t port() const noexcept { return port_; }
  std::string base_url() const { return "http://127.0.0.1:" + std::to_string(port_); }

 private:
  int fd_;
  std::uint16_t port_ = 0;
};

}  // namespace zephlar::testing
