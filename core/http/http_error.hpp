// A failure of the HTTP client itself (no answer to classify), kept whole as
// the cause of a network error.
#pragma once

#include <string>

namespace zephlar::http {

struct HttpError {
  enum class Kind : unsigned char {
    timeout,  // the total time-out of the try ran out
    connect,  // no connection: refused, unresolvable, TLS handshake or certificate, proxy
    other,    // a refused URL, a broken connection, too many redirects, ...
  };
  Kind kind = Kind::other;
  int code = 0;         // the transfer library's own error code
  std::string message;  // and its text

  bool operator==(const HttpError&) const = default;
};

}  // namespace zephlar::http
