#include "core/http/root_store.hpp"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <climits>
#include <mutex>
#include <utility>
#include <vector>

namespace zephlar::http {
namespace {

struct BioDeleter {
  void operator()(BIO* b) const noexcept { BIO_free(b); }
};
struct X509Deleter {
  void operator()(X509* c) const noexcept { X509_free(c); }
};
struct StoreDeleter {
  void operator()(X509_STORE* s) const noexcept { X509_STORE_free(s); }
};
using Bio = std::unique_ptr<BIO, BioDeleter>;
using Certificate = std::unique_ptr<X509, X509Deleter>;
using Store = std::unique_ptr<X509_STORE, StoreDeleter>;

Result<Store, std::string> parse(std::string_view pem) {
  if (pem.size() > static_cast<std::size_t>(INT_MAX)) return Err(std::string("The trusted roots are too large"));
  Store store(X509_STORE_new());
  Bio bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  if (!store || !bio) return Err(std::string("Out of memory"));
  // Only this bundle's errors may be read below.
  ERR_clear_error();
  for (;;) {
    Certificate cert(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
    if (!cert) break;
    // A certificate listed twice is already in the store; nothing else can
    // fail here but memory.
    if (X509_STORE_add_cert(store.get(), cert.get()) != 1 &&
        ERR_GET_REASON(ERR_peek_last_error()) != X509_R_CERT_ALREADY_IN_HASH_TABLE) {
      ERR_clear_error();
      return Err(std::string("Failed to load the trusted roots"));
    }
  }
  // The end of the bundle reads as "no start line"; anything else (memory,
  // a damaged certificate) would leave roots out, so it fails the store.
  const unsigned long last = ERR_peek_last_error();
  ERR_clear_error();
  if (last != 0 && !(ERR_GET_LIB(last) == ERR_LIB_PEM && ERR_GET_REASON(last) == PEM_R_NO_START_LINE)) {
    return Err(std::string("Failed to load the trusted roots"));
  }
  // Chains are accepted from the first trusted certificate found, even when
  // that one is not self-signed, as the transfer library's own store does.
  X509_STORE_set_flags(store.get(), X509_V_FLAG_TRUSTED_FIRST | X509_V_FLAG_PARTIAL_CHAIN);
  return store;
}

// The stores built so far. Only a handful of bundles ever exist in a
// process (the compiled-in roots, plus those of tests), so a short list is
// enough; the oldest goes when it is full.
struct Cache {
  std::mutex mutex;
  std::vector<std::pair<std::string, std::shared_ptr<const RootStore>>> entries;
};

Cache& cache() {
  static Cache instance;
  return instance;
}

constexpr std::size_t max_cached_bundles = 8;

}  // namespace

RootStore::~RootStore() { X509_STORE_free(store_); }

Result<std::shared_ptr<const RootStore>, std::string> RootStore::for_bundle(std::string_view pem) {
  auto& c = cache();
  const std::lock_guard lock(c.mutex);
  for (const auto& [bundle, store] : c.entries) {
    if (bundle == pem) return store;
  }
  auto parsed = parse(pem);
  if (!parsed) return Err(std::move(parsed).error());
  auto store = std::make_shared<const RootStore>(Key{}, parsed.value().release());
  if (c.entries.size() >= max_cached_bundles) c.entries.erase(c.entries.begin());
  c.entries.emplace_back(std::string(pem), store);
  return store;
}

}  // namespace zephlar::http
