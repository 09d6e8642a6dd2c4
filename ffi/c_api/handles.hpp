// Object handles of the C-callable interface.
//
// A handle is the address of a reference-counted cell that holds one shared
// object (a ZephClient or a QuoteStream). The count is a signed 64-bit
// atomic, starting at 1 for the handle a constructor returns; clone adds
// one, free and every method call drop one, and the call that drops the
// last one destroys the cell, and with it the library's share of the object,
// on its own thread. This is the only place where the interface owns memory
// through new/delete.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <utility>

namespace zephlar::ffi::capi {

struct HandleHeader {
  std::atomic<std::int64_t> references{1};
};

template <class T>
struct HandleCell : HandleHeader {
  explicit HandleCell(std::shared_ptr<T> value) noexcept : object(std::move(value)) {}
  std::shared_ptr<T> object;
};

// A new handle carrying one reference, owned by the caller.
template <class T>
void* new_handle(std::shared_ptr<T> object) {
  HandleHeader* cell = new HandleCell<T>(std::move(object));
  return cell;
}

// Adds one reference; the same handle comes back. Any object kind.
inline void* clone_handle(void* handle) noexcept {
  static_cast<HandleHeader*>(handle)->references.fetch_add(1, std::memory_order_relaxed);
  return handle;
}

// Drops one reference, destroying the cell with the last one.
template <class T>
void release_handle(void* handle) noexcept {
  auto* cell = static_cast<HandleCell<T>*>(static_cast<HandleHeader*>(handle));
  if (cell->references.fetch_sub(1, std::memory_order_acq_rel) == 1) delete cell;
}

// The reference a method call takes over, dropped when the call ends
// however it ends.
template <class T>
class HandleRef {
 public:
  explicit HandleRef(void* handle) noexcept
      : cell_(static_cast<HandleCell<T>*>(static_cast<HandleHeader*>(handle))) {}
  ~HandleRef() { release_handle<T>(static_cast<HandleHeader*>(cell_)); }
  HandleRef(const HandleRef&) = delete;
  HandleRef& operator=(const HandleRef&) = delete;

  T& operator*() const noexcept { return *cell_->object; }
  T* operator->() const noexcept { return cell_->object.get(); }

 private:
  HandleCell<T>* cell_;
};

}  // namespace zephlar::ffi::capi
