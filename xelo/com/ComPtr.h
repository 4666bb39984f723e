// An owning reference to a COM interface: AddRef on copy, Release on
// destruction, QueryInterface through As(). Main-thread use, like the
// objects it points to.
#pragma once

#include "xelo/com/Unknown.h"

#include <cstddef>
#include <utility>

namespace xelo::com {

template <class Interface>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  // Takes a new reference (AddRef).
  explicit ComPtr(Interface* p) : p_(p) {
    if (p_ != nullptr) p_->AddRef();
  }
  ComPtr(const ComPtr& other) : ComPtr(other.p_) {}
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  template <class Other>
  ComPtr(const ComPtr<Other>& other) : ComPtr(static_cast<Interface*>(other.Get())) {}
  ~ComPtr() { Reset(); }

  ComPtr& operator=(const ComPtr& other) {
    ComPtr(other).Swap(*this);
    return *this;
  }
  ComPtr& operator=(ComPtr&& other) noexcept {
    ComPtr(std::move(other)).Swap(*this);
    return *this;
  }
  ComPtr& operator=(std::nullptr_t) {
    Reset();
    return *this;
  }

  // Adopts a reference the caller already owns (no AddRef).
  static ComPtr Attach(Interface* p) {
    ComPtr result;
    result.p_ = p;
    return result;
  }
  // Gives up the reference without releasing it.
  [[nodiscard]] Interface* Detach() { return std::exchange(p_, nullptr); }

  void Reset() {
    if (Interface* old = std::exchange(p_, nullptr)) old->Release();
  }
  void Swap(ComPtr& other) noexcept { std::swap(p_, other.p_); }

  Interface* Get() const { return p_; }
  Interface* operator->() const { return p_; }
  Interface& operator*() const { return *p_; }
  explicit operator bool() const { return p_ != nullptr; }

  // Releases the current reference and returns the slot for an out-parameter.
  Interface** Put() {
    Reset();
    return &p_;
  }
  void** PutVoid() { return reinterpret_cast<void**>(Put()); }

  // QueryInterface for another interface; the HRESULT of the query.
  template <class Other>
  HRESULT As(ComPtr<Other>& out) const {
    if (p_ == nullptr) {
      out.Reset();
      return E_POINTER;
    }
    return p_->QueryInterface(IidOf<Other>(), out.PutVoid());
  }
  // The same, giving an empty pointer when the object refuses.
  template <class Other>
  ComPtr<Other> As() const {
    ComPtr<Other> out;
    As(out);
    return out;
  }

  friend bool operator==(const ComPtr& a, const ComPtr& b) { return a.p_ == b.p_; }
  friend bool operator==(const ComPtr& a, std::nullptr_t) { return a.p_ == nullptr; }

 private:
  Interface* p_ = nullptr;
};

// The IUnknown of an object, for identity comparison as COM defines it.
template <class Interface>
ComPtr<IUnknown> IdentityOf(Interface* p) {
  ComPtr<IUnknown> unknown;
  if (p != nullptr) p->QueryInterface(IID_IUnknown, unknown.PutVoid());
  return unknown;
}

}  // namespace xelo::com
