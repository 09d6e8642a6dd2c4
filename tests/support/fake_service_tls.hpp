// The TLS identity of the fake service: a throw-away root certificate and a
// server certificate it signed, made in memory once per process.
#pragma once

#include <string>

namespace zephlar::testing {

struct TlsIdentity {
  std::string root_certificate_pem;
  std::string server_certificate_pem;  // SAN IP:127.0.0.1, DNS:localhost
  std::string server_key_pem;
};

// Made on first use (thread-safe); throws std::runtime_error when OpenSSL
// fails.
const TlsIdentity& tls_identity();

}  // namespace zephlar::testing
