#include "core/http/transport.hpp"

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <vector>

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

HttpError make_error(CURLcode rc, const char* errbuf) {
  std::string message = errbuf != nullptr && errbuf[0] != '\0' ? std::string(errbuf) : curl_easy_strerror(rc);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
  return HttpError{kind_of(rc), static_cast<int>(rc), std::move(message)};
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

using Clock = std::chrono::steady_clock;

}  // namespace

// ---------------------------------------------------------------------------
// Buffers for large bodies, handed back by their readers and received into
// again. A body of a megabyte or more freshly allocated for every answer
// comes from newly mapped memory (the C library hands such blocks back to the
// system when they are freed), so the transfer thread would take a page
// fault every few kilobytes while it copies the answer in, and every unmap
// would interrupt all the threads of the process to flush their address
// translations. Kept buffers are already in place.

class BodyPool {
 public:
  // An empty buffer with room for `length` bytes: the smallest kept one
  // that fits without being far too large, or a new one.
  std::string take(std::size_t length) {
    std::string taken;
    {
      const std::lock_guard lock(mutex_);
      last_take_ = Clock::now();
      auto best = kept_.end();
      for (auto it = kept_.begin(); it != kept_.end(); ++it) {
        const std::size_t room = it->capacity();
        if (room >= length && room / 4 <= length && (best == kept_.end() || room < best->capacity())) best = it;
      }
      if (best != kept_.end()) {
        kept_bytes_ -= best->capacity();
        taken = std::move(*best);
        *best = std::move(kept_.back());
        kept_.pop_back();
      }
    }
    taken.reserve(length);
    return taken;
  }

  // Keeps `body` for a later answer when it is large enough to be worth it
  // and the pool has room. True when the transfer thread must be woken: it
  // went to sleep for long, with nothing kept and nothing taken lately, and
  // now has to watch for idleness.
  bool give_back(std::string body) {
    if (body.capacity() < min_kept || body.capacity() > max_kept_bytes) return false;
    body.clear();
    const std::lock_guard lock(mutex_);
    if (kept_.size() >= max_kept_ || kept_bytes_ + body.capacity() > max_kept_bytes) return false;
    kept_bytes_ += body.capacity();
    kept_.push_back(std::move(body));
    return std::exchange(sleeping_long_, false);
  }

  // Keeps up to `count` buffers: the peak of transfers under way at once,
  // whose bodies were all in memory then anyway.
  void keep_up_to(std::size_t count) {
    const std::lock_guard lock(mutex_);
    max_kept_ = count;
  }

  // How long the transfer thread may sleep before it checks for idleness;
  // called as it goes to sleep. A buffer taken lately is likely to come
  // back soon: the short sleep then spares its reader a wake-up call.
  std::chrono::milliseconds check_after() {
    const std::lock_guard lock(mutex_);
    sleeping_long_ = kept_.empty() && Clock::now() - last_take_ >= idle_after;
    return sleeping_long_ ? std::chrono::milliseconds(30'000) : std::chrono::milliseconds(idle_after);
  }

  // Frees the kept buffers once none has been taken for a while: memory is
  // held only while large answers keep coming.
  void trim_if_idle() {
    std::vector<std::string> dropped;
    {
      const std::lock_guard lock(mutex_);
      if (kept_.empty() || Clock::now() - last_take_ < idle_after) return;
      dropped.swap(kept_);
      kept_bytes_ = 0;
    }
  }

 private:
  // Below this size the allocator recycles freed memory by itself.
  static constexpr std::size_t min_kept = std::size_t{128} << 10;
  // Bounds the memory kept, in all, whatever the peak.
  static constexpr std::size_t max_kept_bytes = std::size_t{256} << 20;
  static constexpr std::chrono::milliseconds idle_after{1000};

  mutable std::mutex mutex_;
  std::vector<std::string> kept_;
  std::size_t kept_bytes_ = 0;
  std::size_t max_kept_ = 0;
  Clock::time_point last_take_{};
  bool sleeping_long_ = false;
};

// ---------------------------------------------------------------------------
// One transfer: its easy handle and everything the handle points at.

struct Transfer {
  std::uint64_t id = 0;
  EasyHandle easy;
  HeaderList headers;
  std::string url;
  std::string body;
  char errbuf[CURL_ERROR_SIZE] = {};

  // The header block being received.
  int block_status = 0;
  bool block_has_location = false;

  TransferResult result;
  std::unique_ptr<Transport::Completion> completion;
  std::shared_ptr<Transport::CancelToken> cancel;
  BodyPool* bodies = nullptr;  // the engine's, which outlives the transfer

  void complete() { std::exchange(completion, nullptr)->complete(std::move(result)); }

  void fail(HttpError error) {
    result.error = std::move(error);
    complete();
  }

  void complete_cancelled() {
    result.cancelled = true;
    if (!result.error)
      result.error = HttpError{HttpError::Kind::other, CURLE_ABORTED_BY_CALLBACK, "Transfer cancelled"};
    complete();
  }

  static std::size_t on_header(char* data, std::size_t size, std::size_t count, void* self) {
    static_cast<Transfer*>(self)->header_line(std::string_view(data, size * count));
    return size * count;
  }

  static std::size_t on_body(char* data, std::size_t size, std::size_t count, void* self) {
    static_cast<Transfer*>(self)->result.body.append(data, size * count);
    return size * count;
  }

  // Redirects and 1xx answers come with header blocks of their own; only
  // the block of the final answer counts as the answer.
  void header_line(std::string_view line) {
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
      if (block_status >= 200 && !followed_redirect) {
        result.answered = true;
        result.status = static_cast<std::uint16_t>(block_status);
        // Room for the whole body when its length is announced, instead of a
        // chain of regrowths and copies for large answers.
        curl_off_t length = -1;
        if (curl_easy_getinfo(easy.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK && length > 0 &&
            length <= (curl_off_t{1} << 30)) {
          const auto size = static_cast<std::size_t>(length);
          if (result.body.empty() && bodies != nullptr) {
            result.body = bodies->take(size);
          } else {
            result.body.reserve(size);
          }
        }
      }
    } else if (istarts_with(line, "location:")) {
      block_has_location = true;
    }
  }
};

struct Transport::CancelToken {
  std::weak_ptr<Core> core;
  std::uint64_t id = 0;
  std::atomic<bool> requested{false};
};

// ---------------------------------------------------------------------------
// The multi handle and its thread.

class Transport::Core {
 public:
  Core(Options options, MultiHandle multi)
      : timeout_ms_(timeout_ms(options.timeout)),
        roots_(std::move(options.trusted_roots_pem)),
        multi_(std::move(multi)) {}

  Core(const Core&) = delete;
  Core& operator=(const Core&) = delete;

  std::uint64_t next_id() noexcept { return next_id_.fetch_add(1, std::memory_order_relaxed); }

  // Sets the easy handle up for `request`; on failure the error that ends
  // the transfer at once.
  std::optional<HttpError> prepare(Transfer& t, TransferRequest& request) {
    t.url = std::move(request.url);
    // libcurl would guess a scheme for a URL without one; only absolute
    // URLs are taken.
    UrlHandle parsed(curl_url());
    if (!parsed) return HttpError{HttpError::Kind::other, CURLE_OUT_OF_MEMORY, "Out of memory"};
    if (const CURLUcode uc = curl_url_set(parsed.get(), CURLUPART_URL, t.url.c_str(), CURLU_NON_SUPPORT_SCHEME)) {
      return HttpError{HttpError::Kind::other, CURLE_URL_MALFORMAT, curl_url_strerror(uc)};
    }
    char* scheme_raw = nullptr;
    curl_url_get(parsed.get(), CURLUPART_SCHEME, &scheme_raw, 0);
    const CurlString scheme(scheme_raw);

    t.easy.reset(curl_easy_init());
    if (!t.easy) return HttpError{HttpError::Kind::other, CURLE_FAILED_INIT, "Failed to initialise a transfer"};
    CURL* h = t.easy.get();

    for (const char* line : {"Expect:", "Accept:"}) {
      if (!append_header(t, line)) return HttpError{HttpError::Kind::other, CURLE_OUT_OF_MEMORY, "Out of memory"};
    }
    if (request.body) {
      // An empty content type suppresses the form type libcurl would send.
      const std::string line = "Content-Type: " + request.body->content_type;
      if (!append_header(t, request.body->content_type.empty() ? "Content-Type:" : line.c_str())) {
        return HttpError{HttpError::Kind::other, CURLE_OUT_OF_MEMORY, "Out of memory"};
      }
      t.body = std::move(request.body->bytes);
    }

    curl_blob roots{roots_.data(), roots_.size(), CURL_BLOB_NOCOPY};
    CURLcode rc = CURLE_OK;
    const auto set = [&](CURLoption option, auto value) {
      if (rc == CURLE_OK) rc = curl_easy_setopt(h, option, value);
    };
    set(CURLOPT_ERRORBUFFER, t.errbuf);
    set(CURLOPT_URL, t.url.c_str());
    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    set(CURLOPT_PROTOCOLS_STR, "http,https");
    set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    set(CURLOPT_FOLLOWLOCATION, 1L);
    set(CURLOPT_MAXREDIRS, 10L);
    set(CURLOPT_TIMEOUT_MS, timeout_ms_);
    set(CURLOPT_HTTPHEADER, t.headers.get());
    set(CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    set(CURLOPT_HEADERFUNCTION, &Transfer::on_header);
    set(CURLOPT_HEADERDATA, static_cast<void*>(&t));
    set(CURLOPT_WRITEFUNCTION, &Transfer::on_body);
    set(CURLOPT_WRITEDATA, static_cast<void*>(&t));
    // Large answers arrive in a few reads rather than one per 16 KiB (the
    // default), each of which costs libcurl a readiness check and a call back.
    set(CURLOPT_BUFFERSIZE, receive_buffer_size);
    // TLS 1.2 or 1.3, checked against the compiled-in roots only: no
    // system file or directory, for the server and for an HTTPS proxy.
    set(CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
    set(CURLOPT_PROXY_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
    set(CURLOPT_SSL_VERIFYPEER, 1L);
    set(CURLOPT_SSL_VERIFYHOST, 2L);
    set(CURLOPT_CAINFO, static_cast<const char*>(nullptr));
    set(CURLOPT_CAPATH, static_cast<const char*>(nullptr));
    set(CURLOPT_CAINFO_BLOB, &roots);
    set(CURLOPT_PROXY_CAINFO, static_cast<const char*>(nullptr));
    set(CURLOPT_PROXY_CAPATH, static_cast<const char*>(nullptr));
    set(CURLOPT_PROXY_CAINFO_BLOB, &roots);
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

  BodyPool& bodies() noexcept { return bodies_; }

  void wake() { curl_multi_wakeup(multi_.get()); }

  void submit(std::unique_ptr<Transfer> t) {
    {
      const std::lock_guard lock(mutex_);
      incoming_.push_back(std::move(t));
    }
    curl_multi_wakeup(multi_.get());
  }

  void request_cancel(std::uint64_t id) {
    {
      const std::lock_guard lock(mutex_);
      cancels_.push_back(id);
    }
    curl_multi_wakeup(multi_.get());
  }

  void request_stop() {
    {
      const std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    curl_multi_wakeup(multi_.get());
  }

  void run() {
    CURLM* multi = multi_.get();
    std::unordered_map<CURL*, std::unique_ptr<Transfer>> active;
    const auto finish = [&](CURL* easy, auto&& completer) {
      const auto it = active.find(easy);
      if (it == active.end()) return;
      auto t = std::move(it->second);
      active.erase(it);
      curl_multi_remove_handle(multi, easy);
      completer(*t);
    };

    // The idle connections kept for reuse. libcurl's own rule keeps four per
    // transfer still under way at the moment one ends, so when a burst of
    // concurrent transfers winds down most of its connections are closed and
    // the next burst connects anew. Keeping as many as were ever in use at
    // once (never fewer than four) costs no descriptors beyond that peak.
    std::size_t kept_connections = 0;
    const auto keep_connections_for = [&](std::size_t in_use) {
      const std::size_t wanted = std::clamp<std::size_t>(in_use, 4, max_kept_connections);
      if (wanted <= kept_connections) return;
      if (curl_multi_setopt(multi, CURLMOPT_MAXCONNECTS, static_cast<long>(wanted)) == CURLM_OK) {
        kept_connections = wanted;
      }
      // As many bodies may be read at once as transfers run at once.
      bodies_.keep_up_to(wanted);
    };
    keep_connections_for(0);

    for (;;) {
      std::vector<std::unique_ptr<Transfer>> added;
      std::vector<std::uint64_t> cancelled;
      bool stop = false;
      {
        const std::lock_guard lock(mutex_);
        added.swap(incoming_);
        cancelled.swap(cancels_);
        stop = stopping_;
      }

      for (auto& t : added) {
        // Cancelled before it reached this thread.
        if (t->cancel && t->cancel->requested.load()) {
          t->complete_cancelled();
          continue;
        }
        if (const CURLMcode mc = curl_multi_add_handle(multi, t->easy.get()); mc != CURLM_OK) {
          t->fail(HttpError{HttpError::Kind::other, CURLE_FAILED_INIT, curl_multi_strerror(mc)});
          continue;
        }
        CURL* easy = t->easy.get();
        active.emplace(easy, std::move(t));
      }
      keep_connections_for(active.size());
      for (const std::uint64_t id : cancelled) {
        const auto it = std::find_if(active.begin(), active.end(), [id](const auto& e) { return e.second->id == id; });
        if (it != active.end()) finish(it->first, [](Transfer& t) { t.complete_cancelled(); });
      }
      if (stop) break;

      int running = 0;
      curl_multi_perform(multi, &running);
      int left = 0;
      while (CURLMsg* msg = curl_multi_info_read(multi, &left)) {
        if (msg->msg != CURLMSG_DONE) continue;
        // The message dies with the handle's removal: copy it first.
        CURL* const easy = msg->easy_handle;
        const CURLcode rc = msg->data.result;
        finish(easy, [rc](Transfer& t) {
          if (rc == CURLE_OK) {
            long code = 0;
            curl_easy_getinfo(t.easy.get(), CURLINFO_RESPONSE_CODE, &code);
            t.result.answered = true;
            t.result.status = static_cast<std::uint16_t>(code);
          } else {
            t.result.error = make_error(rc, t.errbuf);
            // A proxy that answers the tunnel's CONNECT with an error: no
            // connection to the server was made.
            long tunnel = 0;
            curl_easy_getinfo(t.easy.get(), CURLINFO_HTTP_CONNECTCODE, &tunnel);
            if (t.result.error->kind == HttpError::Kind::other && tunnel != 0 && (tunnel < 200 || tunnel > 299)) {
              t.result.error->kind = HttpError::Kind::connect;
            }
          }
          t.complete();
        });
      }
      // Woken by new transfers, cancellations, stopping and the first body
      // handed back; libcurl shortens the wait to its own next time-out.
      curl_multi_poll(multi, nullptr, 0, static_cast<int>(bodies_.check_after().count()), nullptr);
      bodies_.trim_if_idle();
    }

    // Stopping: whatever is still under way or waiting ends as cancelled.
    while (!active.empty()) finish(active.begin()->first, [](Transfer& t) { t.complete_cancelled(); });
    std::vector<std::unique_ptr<Transfer>> rest;
    {
      const std::lock_guard lock(mutex_);
      rest.swap(incoming_);
    }
    for (auto& t : rest) t->complete_cancelled();
  }

  std::thread thread;

 private:
  static bool append_header(Transfer& t, const char* line) {
    curl_slist* grown = curl_slist_append(t.headers.get(), line);
    if (grown == nullptr) return false;
    (void)t.headers.release();
    t.headers.reset(grown);
    return true;
  }

  // Bounds the connections kept idle, whatever the peak of concurrency.
  static constexpr std::size_t max_kept_connections = 1024;
  static constexpr long receive_buffer_size = 128L << 10;

  const long timeout_ms_;
  std::string roots_;  // shared by every transfer, never changed
  MultiHandle multi_;
  std::atomic<std::uint64_t> next_id_{1};
  BodyPool bodies_;

  std::mutex mutex_;
  std::vector<std::unique_ptr<Transfer>> incoming_;
  std::vector<std::uint64_t> cancels_;
  bool stopping_ = false;
};

// ---------------------------------------------------------------------------

Result<std::unique_ptr<Transport>, std::string> Transport::create(Options options) {
  if (const CURLcode rc = global_init(); rc != CURLE_OK) return Err(std::string(curl_easy_strerror(rc)));
  MultiHandle multi(curl_multi_init());
  if (!multi) return Err(std::string("Failed to create the transfer engine"));
  auto core = std::make_shared<Core>(std::move(options), std::move(multi));
  try {
    // The thread keeps the engine alive until it has finished.
    core->thread = std::thread([core] { core->run(); });
  } catch (const std::system_error& e) {
    return Err(std::string("Failed to start the transfer thread: ") + e.what());
  }
  return std::make_unique<Transport>(std::move(core));
}

Transport::Transport(std::shared_ptr<Core> core) : core_(std::move(core)) {}

Transport::~Transport() {
  core_->request_stop();
  if (core_->thread.get_id() == std::this_thread::get_id()) {
    core_->thread.detach();
  } else {
    core_->thread.join();
  }
}

std::shared_ptr<Transport::CancelToken> Transport::new_cancel_token() {
  auto token = std::make_shared<CancelToken>();
  token->core = core_;
  token->id = core_->next_id();
  return token;
}

void Transport::recycle_body(std::string body) {
  if (core_->bodies().give_back(std::move(body))) core_->wake();
}

void Transport::CancelHandler::operator()(boost::asio::cancellation_type type) {
  if (type == boost::asio::cancellation_type::none) return;
  token_->requested.store(true);
  if (const auto core = token_->core.lock()) core->request_cancel(token_->id);
}

void Transport::start(TransferRequest request, std::unique_ptr<Completion> completion,
                      std::shared_ptr<CancelToken> cancel) {
  auto t = std::make_unique<Transfer>();
  t->bodies = &core_->bodies();
  t->id = cancel->id;
  t->cancel = std::move(cancel);
  t->completion = std::move(completion);
  if (auto error = core_->prepare(*t, request)) {
    t->fail(std::move(*error));
    return;
  }
  core_->submit(std::move(t));
}

}  // namespace zephlar::http
