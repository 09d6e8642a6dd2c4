// A value or an error, the return type of every fallible operation.
#pragma once

#include <cassert>
#include <type_traits>
#include <utility>
#include <variant>

namespace zephlar {

template <class E>
struct Err {
  explicit Err(E e) : error(std::move(e)) {}
  E error;
};

template <class E>
Err(E) -> Err<E>;

template <class T, class E>
class [[nodiscard]] Result {
 public:
  using value_type = T;
  using error_type = E;

  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
  template <class F, class = std::enable_if_t<std::is_constructible_v<E, F&&>>>
  Result(Err<F> err) : state_(std::in_place_index<1>, std::move(err.error)) {}

  bool ok() const noexcept { return state_.index() == 0; }
  explicit operator bool() const noexcept { return ok(); }

  T& value() & {
    assert(ok());
    return *std::get_if<0>(&state_);
  }
  const T& value() const& {
    assert(ok());
    return *std::get_if<0>(&state_);
  }
  T&& value() && {
    assert(ok());
    return std::move(*std::get_if<0>(&state_));
  }
  E& error() & {
    assert(!ok());
    return *std::get_if<1>(&state_);
  }
  const E& error() const& {
    assert(!ok());
    return *std::get_if<1>(&state_);
  }
  E&& error() && {
    assert(!ok());
    return std::move(*std::get_if<1>(&state_));
  }

  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }

 private:
  std::variant<T, E> state_;
};

}  // namespace zephlar
