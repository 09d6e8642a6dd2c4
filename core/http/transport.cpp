#include "core/http/transport.hpp"

#include <curl/curl.h>
#include <openssl/ssl.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <iterator>
#include <list>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "core/http/body_pool.hpp"
#include "core/http/root_store.hpp"

namespace zephlar::http {
namespace {

// ---------------------------------------------------------------------------
// Owning handles for the libcurl objects.

struct EasyDeleter {
  void operator()(CURL* h) const noexcept { curl_easy_cleanup(h); }
};
struct MultiDeleter {
  void operator()(CURLM* h) const noexcept { curl_multi_cleanup(h); }
};
struct SlistDeleter {
  void operator()(curl_slist* l) const noexcept { curl_slist_free_all(l); }
};
struct UrlDeleter {
  void operator()(CURLU* u) const noexcept { curl_url_cleanup(u); }
};
struct CurlStringDeleter {
  void operator()(char* s) const noexcept { curl_free(s); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;
using MultiHandle = std::unique_ptr<CURLM, MultiDeleter>;
using HeaderList = std::unique_ptr<curl_slist, SlistDeleter>;
using UrlHandle = std::unique_ptr<CURLU, UrlDeleter>;
using CurlString = std::unique_ptr<char, CurlStringDeleter>;

// libcurl's global state is set up once per process and never torn down:
// other parts of the host may use libcurl too.
CURLcode global_init() {
  static const CURLcode rc = curl_global_init(CURL_GLOBAL_DEFAULT);
  return rc;
}

// ---------------------------------------------------------------------------
// Failure classes.

HttpError::Kind kind_of(CURLcode rc) noexcept {
  switch (rc) {
    case CURLE_OPERATION_TIMEDOUT:
      return HttpError::Kind::timeout;
    // No connection to talk HTTP over: name resolution, TCP, the proxy, or
    // the TLS handshake including the check of the peer's certificate.
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_CLIENTCERT:
    case CURLE_PROXY:
      return HttpError::Kind::connect;
    default:
      return HttpError::Kind::other;
  }
}

// Short enough to be held without allocating, so it can always be made.
HttpError out_of_memory_error() noexcept {
  return HttpError{HttpError::Kind::other, CURLE_OUT_OF_MEMORY, "Out of memory"};
}

// An error with a message; the out-of-memory error when the message cannot
// be copied.
HttpError error_or_oom(HttpError::Kind kind, int code, std::string_view message) noexcept {
  try {
    return HttpError{kind, code, std::string(message)};
  } catch (...) {
    return out_of_memory_error();
  }
}

HttpError make_error(CURLcode rc, const char* errbuf) noexcept {
  std::string_view message = errbuf != nullptr && errbuf[0] != '\0' ? errbuf : curl_easy_strerror(rc);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.remove_suffix(1);
  return error_or_oom(kind_of(rc), static_cast<int>(rc), message);
}

bool istarts_with(std::string_view s, std::string_view prefix) noexcept {
  if (s.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    const char a = s[i] >= 'A' && s[i] <= 'Z' ? static_cast<char>(s[i] - 'A' + 'a') : s[i];
    if (a != prefix[i]) return false;
  }
  return true;
}

long timeout_ms(std::chrono::nanoseconds timeout) noexcept {
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(timeout).count();
  // 0 would mean "no limit" to libcurl.
  return static_cast<long>(std::clamp<std::chrono::milliseconds::rep>(ms, 1, LONG_MAX));
}

// The upper-case HTTP_PROXY is honoured for http URLs like the lower-case
// one, which takes precedence. libcurl itself reads only the lower-case
// form; in a CGI environment (REQUEST_METHOD set) the upper-case variable
// may have been filled from a client's "Proxy:" header, so it is ignored
// there.
const char* upper_case_http_proxy() noexcept {
  if (std::getenv("http_proxy") != nullptr) return nullptr;
  if (std::getenv("REQUEST_METHOD") != nullptr) return nullptr;
  const char* value = std::getenv("HTTP_PROXY");
  return value != nullptr && value[0] != '\0' ? value : nullptr;
}

}  // namespace

// ---------------------------------------------------------------------------
// Easy handles of finished transfers, set back to their defaults and used
// again: a fresh handle costs its allocation and that of its receive buffer
// (128 KiB, see receive_buffer_size) on every request. The connections
// themselves belong to the engines, not to the handles.

class EasyPool {
 public:
  EasyPool() { idle_.reserve(max_idle); }

  // An idle handle, or a new one; null when none can be made.
  EasyHandle take() noexcept {
    {
      const std::lock_guard lock(mutex_);
      if (!idle_.empty()) {
        EasyHandle h = std::move(idle_.back());
        idle_.pop_back();
        return h;
      }
    }
    return EasyHandle(curl_easy_init());
  }

  // Keeps `h`, no longer in any multi handle, for a later transfer, or
  // frees it when enough are kept. Its options are set back to their
  // defaults first, so it points at nothing of the transfer that used it.
  void give_back(EasyHandle h) noexcept {
    if (!h) return;
    curl_easy_reset(h.get());
    const std::lock_guard lock(mutex_);
    // Room was reserved up front: pushing never allocates.
    if (idle_.size() < max_idle) idle_.push_back(std::move(h));
  }

 private:
  static constexpr std::size_t max_idle = 64;
  std::mutex mutex_;
  std::vector<EasyHandle> idle_;
};

// What the engines of one transport share.
struct Transport::Shared {
  // The store of `roots_pem`, parsed when the first TLS connection needs it
  // (a client that speaks plain HTTP never pays for it) and shared with
  // every transport of the process built with the same roots; null when it
  // cannot be built, which fails that connection. Any engine's thread.
  X509_STORE* root_store() noexcept {
    const std::lock_guard lock(roots_mutex);
    if (!roots) {
      try {
        if (auto built = RootStore::for_bundle(roots_pem)) roots = std::move(built).value();
      } catch (...) {
        // No memory: the next connection tries again.
      }
    }
    return roots ? roots->get() : nullptr;
  }

  long timeout_ms = 0;
  std::string roots_pem;
  std::mutex roots_mutex;
  std::shared_ptr<const RootStore> roots;
  BodyPool bodies;
  EasyPool easy_handles;
  std::mutex pick_mutex;  // one transfer at a time picks its engine
};

// ---------------------------------------------------------------------------
// One transfer: its easy handle and everything the handle points at. It is
// built on the caller's thread and then belongs to one engine's thread. The
// lists that hold transfers move them by splicing, which never allocates, so
// a transfer is never lost for want of memory once it has been handed over.

struct Transfer;
using TransferList = std::list<std::unique_ptr<Transfer>>;

struct Transfer {
  // Why the transfer's own callbacks stopped it.
  enum class Abort : unsigned char { none, replay, body_too_large, out_of_memory };

  Transfer() = default;
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;
  // The handle goes back to the pool before the strings and lists it points
  // at are gone.
  ~Transfer() {
    if (shared != nullptr) shared->easy_handles.give_back(std::move(easy));
  }

  TransferList::iterator self;          // its place in whichever list holds it
  Transport::Shared* shared = nullptr;  // its transport's, which outlives the transfer
  EasyHandle easy;
  HeaderList headers;
  std::string url;
  std::string body;
  char errbuf[CURL_ERROR_SIZE] = {};

  // The header block being received.
  int block_status = 0;
  bool block_has_location = false;
  // Requests started so far, and redirects followed; see on_prereq.
  unsigned requests_started = 0;
  unsigned redirects_followed = 0;
  Abort abort = Abort::none;

  // Holds the result being built, and the caller's handler.
  std::shared_ptr<Transport::Completion> completion;
  std::shared_ptr<Transport::CancelToken> cancel;

  TransferResult& result() noexcept { return completion->result; }

  void set_cancelled() noexcept {
    auto& r = result();
    r.cancelled = true;
    if (!r.error) r.error = error_or_oom(HttpError::Kind::other, CURLE_ABORTED_BY_CALLBACK, "Transfer cancelled");
  }

  // Records how the transfer library ended the transfer.
  void set_outcome(CURLcode rc) noexcept {
    auto& r = result();
    switch (abort) {
      case Abort::replay:
        r.error = error_or_oom(HttpError::Kind::other, CURLE_SEND_ERROR,
                               "Connection closed after the request was sent; it is not sent again");
        return;
      case Abort::body_too_large:
        r.error = error_or_oom(HttpError::Kind::other, CURLE_FILESIZE_EXCEEDED, "Answer body too large");
        return;
      case Abort::out_of_memory:
        r.error = out_of_memory_error();
        return;
      case Abort::none:
        break;
    }
    if (rc == CURLE_OK) {
      long code = 0;
      curl_easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &code);
      r.answered = true;
      r.status = static_cast<std::uint16_t>(code);
      return;
    }
    r.error = make_error(rc, errbuf);
    // A proxy that answers the tunnel's CONNECT with an error: no
    // connection to the server was made.
    long tunnel = 0;
    curl_easy_getinfo(easy.get(), CURLINFO_HTTP_CONNECTCODE, &tunnel);
    if (r.error->kind == HttpError::Kind::other && tunnel != 0 && (tunnel < 200 || tunnel > 299)) {
      r.error->kind = HttpError::Kind::connect;
    }
  }

  // Called as each request is about to go out on its connection. A request
  // goes out once, and once more for every redirect followed. Anything more
  // is the transfer library sending it again on a fresh connection because
  // a kept-alive one died before an answer came; the server may well have
  // acted on the first copy (executed a swap, say), so the transfer fails
  // instead and the request loop decides whether to try again.
  static int on_prereq(void* self, char*, char*, int, int) noexcept {
    auto& t = *static_cast<Transfer*>(self);
    if (++t.requests_started > t.redirects_followed + 1) {
      t.abort = Abort::replay;
      return CURL_PREREQFUNC_ABORT;
    }
    return CURL_PREREQFUNC_OK;
  }

  // Opens the socket of each new connection. One opened after a request
  // went out (and no redirect followed since) can only be for sending that
  // request again; it is refused before any connection or handshake is
  // made, with the same outcome as above.
  static curl_socket_t on_open_socket(void* self, curlsocktype, curl_sockaddr* address) noexcept {
    auto& t = *static_cast<Transfer*>(self);
    if (t.requests_started > t.redirects_followed) {
      t.abort = Abort::replay;
      return CURL_SOCKET_BAD;
    }
    // Not inherited by programs the host starts.
    return ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
  }

  static std::size_t on_header(char* data, std::size_t size, std::size_t count, void* self) noexcept {
    auto& t = *static_cast<Transfer*>(self);
    return t.header_line(std::string_view(data, size * count)) ? size * count : 0;
  }

  static std::size_t on_body(char* data, std::size_t size, std::size_t count, void* self) noexcept {
    auto& t = *static_cast<Transfer*>(self);
    const std::size_t n = size * count;
    std::string& body = t.result().body;
    if (n > max_body_bytes - body.size()) return t.stop_body(Abort::body_too_large);
    try {
      body.append(data, n);
    } catch (...) {
      return t.stop_body(Abort::out_of_memory);
    }
    return n;
  }

  // Ends the transfer from the body callback, handing back what was read.
  std::size_t stop_body(Abort why) noexcept {
    abort = why;
    std::string().swap(result().body);
    return CURL_WRITEFUNC_ERROR;
  }

  // Redirects and 1xx answers come with header blocks of their own; only
  // the block of the final answer counts as the answer. False stops the
  // transfer.
  bool header_line(std::string_view line) noexcept {
    if (line.starts_with("HTTP/")) {
      block_status = 0;
      block_has_location = false;
      const auto space = line.find(' ');
      if (space != std::string_view::npos) {
        int code = 0;
        std::size_t i = space + 1;
        for (int digits = 0; digits < 3 && i < line.size() && line[i] >= '0' && line[i] <= '9'; ++digits, ++i) {
          code = code * 10 + (line[i] - '0');
        }
        block_status = code;
      }
    } else if (line == "\r\n" || line == "\n") {
      const bool followed_redirect = block_status / 100 == 3 && block_has_location;
      if (followed_redirect) ++redirects_followed;
      if (block_status >= 200 && !followed_redirect) return final_header_block_ended();
    } else if (istarts_with(line, "location:")) {
      block_has_location = true;
    }
    return true;
  }

  bool final_header_block_ended() noexcept {
    auto& r = result();
    r.answered = true;
    r.status = static_cast<std::uint16_t>(block_status);
    curl_off_t length = -1;
    if (curl_easy_getinfo(easy.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK || length <= 0) {
      return true;
    }
    if (static_cast<std::uint64_t>(length) > max_body_bytes) {
      abort = Abort::body_too_large;
      return false;
    }
    // Room for the whole body when its length is announced, instead of a
    // chain of regrowths and copies for large answers. Only a saving: when
    // memory is short the body grows as it comes.
    const auto size = static_cast<std::size_t>(length);
    try {
      if (r.body.empty() && shared != nullptr) {
        r.body = shared->bodies.take(size);
      } else {
        r.body.reserve(size);
      }
    } catch (...) {
    }
    return true;
  }
};

struct Transport::CancelToken {
  std::weak_ptr<Engine> engine;  // the one the transfer is handed to
  std::atomic<bool> requested{false};
};

// ---------------------------------------------------------------------------
// One engine: a multi handle, its connection pool and its thread.

class Transport::Engine {
 public:
  Engine(std::shared_ptr<Shared> shared, MultiHandle multi) : shared_(std::move(shared)), multi_(std::move(multi)) {}
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // Transfers handed over and not yet delivered back.
  std::size_t load() const noexcept { return load_.load(std::memory_order_relaxed); }

  // Counts a transfer about to be handed over, until it is delivered back
  // or dropped.
  void claim() noexcept { load_.fetch_add(1, std::memory_order_relaxed); }
  void unclaim() noexcept { load_.fetch_sub(1, std::memory_order_relaxed); }

  // Takes the one transfer of `one`, claimed before.
  void submit(TransferList& one) noexcept {
    {
      const std::lock_guard lock(mutex_);
      incoming_.splice(incoming_.end(), one);
    }
    wake();
  }

  // A cancel token of one of its transfers was set.
  void cancel_requested() noexcept {
    cancel_pending_.store(true);
    wake();
  }

  void request_stop() noexcept {
    {
      const std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake();
  }

  void wake() noexcept { curl_multi_wakeup(multi_.get()); }

  void run() noexcept;

  std::thread thread;

 private:
  void add_incoming() noexcept;
  void cancel_requested_transfers() noexcept;
  void read_finished() noexcept;
  void keep_connections_for(std::size_t in_use) noexcept;
  void stop_everything() noexcept;

  // Posts the transfer's completion and frees the transfer. When the post
  // finds no memory, the transfer waits in `undelivered_` and is posted
  // again on a later turn.
  void deliver(TransferList& from, TransferList::iterator it) noexcept {
    const auto& completion = (*it)->completion;
    // Counted off before the caller can run: a caller that goes on with its
    // next request must find this engine, and its connection, free again.
    load_.fetch_sub(1, std::memory_order_relaxed);
    try {
      completion->post(completion);
    } catch (...) {
      load_.fetch_add(1, std::memory_order_relaxed);
      undelivered_.splice(undelivered_.end(), from, it);
      return;
    }
    from.erase(it);
  }

  void deliver_again() noexcept {
    while (!undelivered_.empty()) {
      const std::size_t before = undelivered_.size();
      deliver(undelivered_, undelivered_.begin());
      // Still no memory: the rest waits for the next turn too.
      if (undelivered_.size() == before) return;
    }
  }

  // Bounds the connections kept idle, whatever the peak of concurrency.
  static constexpr std::size_t max_kept_connections = 1024;

  // Outlives every transfer, whose handle goes back to its pool.
  const std::shared_ptr<Shared> shared_;
  MultiHandle multi_;
  std::atomic<std::size_t> load_{0};
  std::atomic<bool> cancel_pending_{false};

  std::mutex mutex_;
  TransferList incoming_;
  bool stopping_ = false;

  // Used by the engine's thread only.
  TransferList active_;
  TransferList undelivered_;
  std::size_t kept_connections_ = 0;
};

void Transport::Engine::add_incoming() noexcept {
  TransferList added;
  {
    const std::lock_guard lock(mutex_);
    added.splice(added.end(), incoming_);
  }
  while (!added.empty()) {
    const auto it = added.begin();
    Transfer& t = **it;
    if (t.cancel && t.cancel->requested.load()) {
      // Cancelled before it reached this thread.
      t.set_cancelled();
      deliver(added, it);
    } else if (const CURLMcode mc = curl_multi_add_handle(multi_.get(), t.easy.get()); mc != CURLM_OK) {
      t.result().error = error_or_oom(HttpError::Kind::other, CURLE_FAILED_INIT, curl_multi_strerror(mc));
      deliver(added, it);
    } else {
      active_.splice(active_.end(), added, it);
    }
  }
  keep_connections_for(active_.size());
}

void Transport::Engine::cancel_requested_transfers() noexcept {
  if (!cancel_pending_.exchange(false)) return;
  for (auto it = active_.begin(); it != active_.end();) {
    const auto next = std::next(it);
    Transfer& t = **it;
    if (t.cancel && t.cancel->requested.load()) {
      curl_multi_remove_handle(multi_.get(), t.easy.get());
      t.set_cancelled();
      deliver(active_, it);
    }
    it = next;
  }
}

void Transport::Engine::read_finished() noexcept {
  int left = 0;
  while (CURLMsg* msg = curl_multi_info_read(multi_.get(), &left)) {
    if (msg->msg != CURLMSG_DONE) continue;
    // The message dies with the handle's removal: copy it first.
    CURL* const easy = msg->easy_handle;
    const CURLcode rc = msg->data.result;
    char* priv = nullptr;
    curl_easy_getinfo(easy, CURLINFO_PRIVATE, &priv);
    auto* t = reinterpret_cast<Transfer*>(priv);
    curl_multi_remove_handle(multi_.get(), easy);
    if (t == nullptr) continue;
    t->set_outcome(rc);
    deliver(active_, t->self);
  }
}

// The idle connections kept for reuse. libcurl's own rule keeps four per
// transfer still under way at the moment one ends, so when a burst of
// concurrent transfers winds down most of its connections are closed and the
// next burst connects anew. Keeping as many as were ever in use at once
// (never fewer than four) costs no descriptors beyond that peak.
void Transport::Engine::keep_connections_for(std::size_t in_use) noexcept {
  const std::size_t wanted = std::clamp<std::size_t>(in_use, 4, max_kept_connections);
  if (wanted <= kept_connections_) return;
  if (curl_multi_setopt(multi_.get(), CURLMOPT_MAXCONNECTS, static_cast<long>(wanted)) == CURLM_OK) {
    kept_connections_ = wanted;
  }
  // As many bodies may be read at once as transfers run at once, on all
  // engines together; each engine raises the bound to its own peak.
  shared_->bodies.keep_up_to(wanted);
}

void Transport::Engine::run() noexcept {
  BodyPool& bodies = shared_->bodies;
  for (;;) {
    bool stop = false;
    {
      const std::lock_guard lock(mutex_);
      stop = stopping_;
    }
    add_incoming();
    cancel_requested_transfers();
    if (stop) break;

    int running = 0;
    curl_multi_perform(multi_.get(), &running);
    read_finished();
    deliver_again();
    // Woken by new transfers, cancellations, stopping and the first body
    // handed back; libcurl shortens the wait to its own next time-out. A
    // completion that could not be posted is tried again soon.
    const int wait_ms = undelivered_.empty() ? static_cast<int>(bodies.check_after().count()) : 10;
    curl_multi_poll(multi_.get(), nullptr, 0, wait_ms, nullptr);
    bodies.trim_if_idle();
  }
  stop_everything();
}

// Stopping: whatever is still under way or waiting ends as cancelled.
void Transport::Engine::stop_everything() noexcept {
  while (!active_.empty()) {
    Transfer& t = *active_.front();
    curl_multi_remove_handle(multi_.get(), t.easy.get());
    t.set_cancelled();
    deliver(active_, active_.begin());
  }
  TransferList rest;
  {
    const std::lock_guard lock(mutex_);
    rest.splice(rest.end(), incoming_);
  }
  while (!rest.empty()) {
    rest.front()->set_cancelled();
    deliver(rest, rest.begin());
  }
  // A few more tries for completions that found no memory; those still
  // undelivered then are dropped with their handlers.
  for (int i = 0; i < 100 && !undelivered_.empty(); ++i) {
    deliver_again();
    if (!undelivered_.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

// ---------------------------------------------------------------------------

namespace {

// Engines per transport: one keeps up with a few callers, but its single
// thread caps small answers under many callers; a few spread them. Each has
// its own pool of connections.
std::size_t engine_count() noexcept {
  const unsigned cores = std::thread::hardware_concurrency();
  return std::clamp<std::size_t>(cores / 2, 1, 4);
}

bool append_header(Transfer& t, const char* line) noexcept {
  curl_slist* grown = curl_slist_append(t.headers.get(), line);
  if (grown == nullptr) return false;
  (void)t.headers.release();
  t.headers.reset(grown);
  return true;
}

// Receive buffer of each transfer: large answers arrive in a few reads rather
// than one per 16 KiB (the default), each of which costs libcurl a readiness
// check and a call back.
constexpr long receive_buffer_size = 128L << 10;

// Hands a connection being set up the one shared store of trusted roots,
// in place of the empty one the transfer library made for it. Servers and
// HTTPS proxies are both checked against it.
CURLcode use_shared_roots(CURL*, void* ssl_ctx, void* shared) noexcept {
  X509_STORE* store = static_cast<Transport::Shared*>(shared)->root_store();
  if (store == nullptr) return CURLE_SSL_CACERT_BADFILE;
  SSL_CTX_set1_cert_store(static_cast<SSL_CTX*>(ssl_ctx), store);
  return CURLE_OK;
}

// Sets the easy handle up for `request`; on failure the error that ends the
// transfer at once. May throw std::bad_alloc.
std::optional<HttpError> prepare(Transfer& t, TransferRequest& request, Transport::Shared& shared) {
  t.url = std::move(request.url);
  // The URL goes to libcurl as a C string: a NUL inside would cut it short
  // and send a request the caller did not ask for.
  if (t.url.find('\0') != std::string::npos) {
    return error_or_oom(HttpError::Kind::other, CURLE_URL_MALFORMAT, curl_url_strerror(CURLUE_MALFORMED_INPUT));
  }
  // libcurl would guess a scheme for a URL without one; only absolute
  // URLs are taken.
  UrlHandle parsed(curl_url());
  if (!parsed) return out_of_memory_error();
  if (const CURLUcode uc = curl_url_set(parsed.get(), CURLUPART_URL, t.url.c_str(), CURLU_NON_SUPPORT_SCHEME)) {
    return error_or_oom(HttpError::Kind::other, CURLE_URL_MALFORMAT, curl_url_strerror(uc));
  }
  char* scheme_raw = nullptr;
  if (curl_url_get(parsed.get(), CURLUPART_SCHEME, &scheme_raw, 0) == CURLUE_OUT_OF_MEMORY) {
    return out_of_memory_error();
  }
  const CurlString scheme(scheme_raw);

  t.easy = shared.easy_handles.take();
  if (!t.easy) return error_or_oom(HttpError::Kind::other, CURLE_FAILED_INIT, "Failed to initialise a transfer");
  CURL* h = t.easy.get();

  for (const char* line : {"Expect:", "Accept:"}) {
    if (!append_header(t, line)) return out_of_memory_error();
  }
  if (request.body) {
    // An empty content type suppresses the form type libcurl would send.
    const std::string line = "Content-Type: " + request.body->content_type;
    if (line.find('\0') != std::string::npos) {
      return error_or_oom(HttpError::Kind::other, CURLE_BAD_FUNCTION_ARGUMENT, "Content type holds a NUL byte");
    }
    if (!append_header(t, request.body->content_type.empty() ? "Content-Type:" : line.c_str())) {
      return out_of_memory_error();
    }
    t.body = std::move(request.body->bytes);
  }

  CURLcode rc = CURLE_OK;
  const auto set = [&](CURLoption option, auto value) {
    if (rc == CURLE_OK) rc = curl_easy_setopt(h, option, value);
  };
  set(CURLOPT_PRIVATE, static_cast<void*>(&t));
  set(CURLOPT_ERRORBUFFER, t.errbuf);
  set(CURLOPT_URL, t.url.c_str());
  set(CURLOPT_NOSIGNAL, 1L);
  set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  set(CURLOPT_PROTOCOLS_STR, "http,https");
  set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  set(CURLOPT_FOLLOWLOCATION, 1L);
  set(CURLOPT_MAXREDIRS, 10L);
  set(CURLOPT_TIMEOUT_MS, shared.timeout_ms);
  set(CURLOPT_HTTPHEADER, t.headers.get());
  set(CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  set(CURLOPT_OPENSOCKETFUNCTION, &Transfer::on_open_socket);
  set(CURLOPT_OPENSOCKETDATA, static_cast<void*>(&t));
  set(CURLOPT_PREREQFUNCTION, &Transfer::on_prereq);
  set(CURLOPT_PREREQDATA, static_cast<void*>(&t));
  set(CURLOPT_HEADERFUNCTION, &Transfer::on_header);
  set(CURLOPT_HEADERDATA, static_cast<void*>(&t));
  set(CURLOPT_WRITEFUNCTION, &Transfer::on_body);
  set(CURLOPT_WRITEDATA, static_cast<void*>(&t));
  set(CURLOPT_BUFFERSIZE, receive_buffer_size);
  // TLS 1.2 or 1.3, checked against the shared store of trusted roots only:
  // no system file or directory, for the server and for an HTTPS proxy.
  set(CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
  set(CURLOPT_PROXY_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
  set(CURLOPT_SSL_VERIFYPEER, 1L);
  set(CURLOPT_SSL_VERIFYHOST, 2L);
  set(CURLOPT_CAINFO, static_cast<const char*>(nullptr));
  set(CURLOPT_CAPATH, static_cast<const char*>(nullptr));
  set(CURLOPT_PROXY_CAINFO, static_cast<const char*>(nullptr));
  set(CURLOPT_PROXY_CAPATH, static_cast<const char*>(nullptr));
  set(CURLOPT_SSL_CTX_FUNCTION, &use_shared_roots);
  set(CURLOPT_SSL_CTX_DATA, static_cast<void*>(&shared));
  if (request.body) {
    set(CURLOPT_POST, 1L);
    set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(t.body.size()));
    set(CURLOPT_POSTFIELDS, t.body.data());
  } else {
    set(CURLOPT_HTTPGET, 1L);
  }
  if (scheme && std::string_view(scheme.get()) == "http") {
    if (const char* proxy = upper_case_http_proxy()) set(CURLOPT_PROXY, proxy);
  }
  if (rc != CURLE_OK) return make_error(rc, nullptr);
  return std::nullopt;
}

}  // namespace

// ---------------------------------------------------------------------------

Result<std::unique_ptr<Transport>, std::string> Transport::create(Options options) {
  if (const CURLcode rc = global_init(); rc != CURLE_OK) return Err(std::string(curl_easy_strerror(rc)));
  auto shared = std::make_shared<Shared>();
  shared->timeout_ms = timeout_ms(options.timeout);
  shared->roots_pem = std::move(options.trusted_roots_pem);

  std::vector<std::shared_ptr<Engine>> engines;
  // Whatever fails half way stops the engines already running first: a
  // thread left joinable would end the process.
  const auto stop_all = [&engines] {
    for (auto& engine : engines) {
      engine->request_stop();
      if (engine->thread.joinable()) engine->thread.join();
    }
  };
  try {
    for (std::size_t i = 0, n = engine_count(); i < n; ++i) {
      MultiHandle multi(curl_multi_init());
      if (!multi) {
        stop_all();
        return Err(std::string("Failed to create the transfer engine"));
      }
      engines.push_back(std::make_shared<Engine>(shared, std::move(multi)));
      auto& engine = engines.back();
      // The thread keeps its engine alive until it has finished.
      engine->thread = std::thread([engine] { engine->run(); });
    }
  } catch (const std::system_error& e) {
    stop_all();
    return Err(std::string("Failed to start the transfer thread: ") + e.what());
  } catch (...) {
    stop_all();
    throw;
  }
  return std::make_unique<Transport>(std::move(shared), std::move(engines));
}

Transport::Transport(std::shared_ptr<Shared> shared, std::vector<std::shared_ptr<Engine>> engines)
    : shared_(std::move(shared)), engines_(std::move(engines)) {}

Transport::~Transport() {
  for (auto& engine : engines_) engine->request_stop();
  for (auto& engine : engines_) {
    if (engine->thread.get_id() == std::this_thread::get_id()) {
      engine->thread.detach();
    } else {
      engine->thread.join();
    }
  }
}

HttpError Transport::out_of_memory() noexcept { return out_of_memory_error(); }

void Transport::fail_to_start(const std::shared_ptr<Completion>& completion, const std::shared_ptr<CancelToken>& cancel,
                              HttpError error) noexcept {
  if (cancel) {
    if (const auto engine = cancel->engine.lock()) engine->unclaim();
  }
  completion->result.error = std::move(error);
  try {
    completion->post(completion);
  } catch (...) {
  }
}

std::shared_ptr<Transport::CancelToken> Transport::new_cancel_token() {
  auto token = std::make_shared<CancelToken>();
  // The engine with the fewest transfers under way: one at a time keeps
  // using the first engine and its connections, many at once spread out
  // evenly, so that a burst like an earlier one finds its connections open.
  const std::lock_guard lock(shared_->pick_mutex);
  const std::shared_ptr<Engine>* best = &engines_.front();
  for (const auto& engine : engines_) {
    if (engine->load() < (*best)->load()) best = &engine;
  }
  (*best)->claim();
  token->engine = *best;
  return token;
}

void Transport::recycle_body(std::string body) noexcept {
  if (shared_->bodies.give_back(std::move(body))) {
    for (auto& engine : engines_) engine->wake();
  }
}

void Transport::CancelHandler::operator()(boost::asio::cancellation_type type) noexcept {
  if (type == boost::asio::cancellation_type::none) return;
  token_->requested.store(true);
  if (const auto engine = token_->engine.lock()) engine->cancel_requested();
}

void Transport::start(TransferRequest request, std::shared_ptr<Completion> completion,
                      std::shared_ptr<CancelToken> cancel) noexcept {
  TransferList one;
  try {
    one.push_back(std::make_unique<Transfer>());
  } catch (...) {
    fail_to_start(completion, cancel, out_of_memory_error());
    return;
  }
  Transfer& t = *one.front();
  t.self = one.begin();
  t.shared = shared_.get();
  t.completion = completion;
  t.cancel = cancel;
  std::optional<HttpError> error;
  try {
    error = prepare(t, request, *shared_);
  } catch (...) {
    error = out_of_memory_error();
  }
  const auto engine = cancel->engine.lock();
  if (error || !engine) {
    fail_to_start(completion, cancel, error ? std::move(*error) : out_of_memory_error());
    return;
  }
  engine->submit(one);
}

}  // namespace zephlar::http
