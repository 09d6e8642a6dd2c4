// The one request of a service operation, as the API groups make it: the
// path on the service's HTTP client, through its request loop. Each request
// runs in a frame of its own that holds the HTTP client, so the task stays
// valid whatever becomes of the group (or the core client) that made it.
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "core/async.hpp"
#include "core/http/http_client.hpp"

namespace zephlar::api::detail {

// GET the path, no body; the answer decoded as T.
template <class T>
Task<T> get(std::shared_ptr<http::HttpClient> http, std::string path) {
  co_return co_await http->get<T>(std::move(path));
}

// POST the record as a JSON body (written anew for every try); the answer
// decoded as T.
template <class T, class Body>
Task<T> post(std::shared_ptr<http::HttpClient> http, std::string path, Body body) {
  co_return co_await http->post<T>(std::move(path), std::move(body));
}

}  // namespace zephlar::api::detail
