// Reference-counted implementation base for COM objects.
//
//   class Sink : public xelo::com::ComObject<IOPCDataCallback> { ... };
//   auto sink = xelo::com::MakeComObject<Sink>(args...);   // one reference
//
// The template arguments are the object's interface table: QueryInterface
// answers IID_IUnknown and the IID of each listed interface, then asks
// QueryExtraInterface (for objects that answer to more IIDs than they
// derive from), and refuses everything else with E_NOINTERFACE. The object
// deletes itself when the last reference is released. Reference counting
// is atomic; everything else follows the one-thread model of the library.
#pragma once

#include "xelo/com/ComPtr.h"
#include "xelo/com/Unknown.h"

#include <atomic>
#include <utility>

namespace xelo::com {

template <class First, class... Rest>
class ComObject : public First, public Rest... {
 public:
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

  STDMETHOD(QueryInterface)(REFIID riid, void** ppvObject) override {
    if (ppvObject == nullptr) return E_POINTER;
    *ppvObject = FindInterface(riid);
    if (*ppvObject == nullptr) return E_NOINTERFACE;
    static_cast<IUnknown*>(static_cast<First*>(this))->AddRef();
    return S_OK;
  }
  STDMETHOD_(ULONG, AddRef)() override { return ++refs_; }
  STDMETHOD_(ULONG, Release)() override {
    const ULONG remaining = --refs_;
    if (remaining == 0) delete this;
    return remaining;
  }

  // The object's own IUnknown (the identity COM compares).
  IUnknown* GetUnknown() { return static_cast<First*>(this); }

 protected:
  ComObject() = default;
  virtual ~ComObject() = default;

  // Answers additional IIDs; return the interface pointer (without AddRef)
  // or nullptr.
  virtual void* QueryExtraInterface(REFIID) { return nullptr; }

  ULONG RefCount() const { return refs_.load(); }

 private:
  void* FindInterface(REFIID riid) {
    if (riid == IID_IUnknown) return GetUnknown();
    void* found = nullptr;
    if (riid == IidOf<First>()) found = static_cast<First*>(this);
    ((found == nullptr && riid == IidOf<Rest>() ? (void)(found = static_cast<Rest*>(this)) : (void)0),
     ...);
    return found != nullptr ? found : QueryExtraInterface(riid);
  }

  std::atomic<ULONG> refs_{0};
};

// Creates an object holding its first reference.
template <class Object, class... Args>
ComPtr<Object> MakeComObject(Args&&... args) {
  return ComPtr<Object>(new Object(std::forward<Args>(args)...));
}

// Hands an interface out through a void** out-parameter with a new reference.
template <class Interface>
HRESULT ReturnInterface(Interface* p, REFIID riid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (p == nullptr) return E_NOINTERFACE;
  return p->QueryInterface(riid, out);
}

}  // namespace xelo::com
