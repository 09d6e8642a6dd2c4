// The trusted roots of TLS as one parsed OpenSSL certificate store, built
// once per distinct PEM bundle in the process and shared, by reference
// count, by every transfer and connection that checks a server or an HTTPS
// proxy. Parsing the bundle (a couple of hundred kilobytes of PEM) for every
// connection would cost far more than the request itself.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "core/result.hpp"

typedef struct x509_store_st X509_STORE;

namespace zephlar::http {

class RootStore {
 public:
  // The store holding every certificate of `pem`; the same store for the
  // same bundle. Certificates are trusted as given, with nothing read from
  // the system. The error text says what failed.
  static Result<std::shared_ptr<const RootStore>, std::string> for_bundle(std::string_view pem);

  ~RootStore();
  RootStore(const RootStore&) = delete;
  RootStore& operator=(const RootStore&) = delete;

  // Never changed once built, so any number of handshakes may read it at
  // once.
  X509_STORE* get() const noexcept { return store_; }

  struct Key {};
  RootStore(Key, X509_STORE* store) noexcept : store_(store) {}

 private:
  X509_STORE* store_;
};

}  // namespace zephlar::http
