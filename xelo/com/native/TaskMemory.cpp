// Counting and tracking the system's task allocator on Windows' own COM: a
// malloc spy sees every CoTaskMemAlloc, CoTaskMemRealloc and CoTaskMemFree
// of the process (and the BSTRs, which oleaut32 takes from the same
// allocator), so that tests prove that each buffer a server hands over is
// freed exactly once, as they do on the portable allocator.
#include "xelo/com/TaskMemory.h"

#include <mutex>

// Exported by oleaut32 but not declared by every SDK: stops the BSTR cache,
// which would otherwise keep freed strings and hide a double free or a leak.
extern "C" void WINAPI SetOaNoCache();

namespace xelo::com {
namespace {

// What the Pre* half of a call saw, for its Post* half on the same thread.
struct PendingCall {
  SIZE_T size = 0;
  void* before = nullptr;
  BOOL spied = FALSE;
};
thread_local PendingCall tPending;

class CountingSpy final : public IMallocSpy {
 public:
  STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IMallocSpy)) {
      *ppv = static_cast<IMallocSpy*>(this);
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  // Lives as long as the process: COM may call it until the very end.
  STDMETHOD_(ULONG, AddRef)() override { return 2; }
  STDMETHOD_(ULONG, Release)() override { return 1; }

  STDMETHOD_(SIZE_T, PreAlloc)(SIZE_T request) override {
    tPending.size = request;
    return request;
  }
  STDMETHOD_(void*, PostAlloc)(void* actual) override {
    if (actual != nullptr) {
      detail::CountTask(1);
      detail::TrackBlock(actual, tPending.size);
    }
    return actual;
  }

  STDMETHOD_(void*, PreFree)(void* request, BOOL spied) override {
    // A block from before the spy was never counted, so it is not uncounted.
    if (request != nullptr && spied) {
      detail::CountTask(-1);
      detail::ForgetBlock(request);
    }
    return request;
  }
  STDMETHOD_(void, PostFree)(BOOL) override {}

  STDMETHOD_(SIZE_T, PreRealloc)(void* request, SIZE_T size, void** newRequest, BOOL spied) override {
    tPending = PendingCall{size, request, spied};
    // A reallocation to size 0 frees the block: it is forgotten (and
    // poisoned) while it still exists.
    if (request != nullptr && size == 0 && spied) {
      detail::CountTask(-1);
      detail::ForgetBlock(request);
    }
    *newRequest = request;
    return size;
  }
  STDMETHOD_(void*, PostRealloc)(void* actual, BOOL) override {
    const PendingCall call = tPending;
    if (call.before == nullptr) {
      // A reallocation of nothing allocates.
      if (actual != nullptr) {
        detail::CountTask(1);
        detail::TrackBlock(actual, call.size);
      }
    } else if (call.size != 0 && actual != nullptr) {
      if (call.spied) {
        detail::RetrackBlock(call.before, actual, call.size);
      } else {
        // Allocated before the spy: counted from now on, so that its free
        // balances.
        detail::CountTask(1);
        detail::TrackBlock(actual, call.size);
      }
    }
    return actual;
  }

  STDMETHOD_(void*, PreGetSize)(void* request, BOOL) override { return request; }
  STDMETHOD_(SIZE_T, PostGetSize)(SIZE_T actual, BOOL) override { return actual; }
  STDMETHOD_(void*, PreDidAlloc)(void* request, BOOL) override { return request; }
  STDMETHOD_(int, PostDidAlloc)(void*, BOOL, int actual) override { return actual; }
  STDMETHOD_(void, PreHeapMinimize)() override {}
  STDMETHOD_(void, PostHeapMinimize)() override {}
};

}  // namespace

void detail::StartCounting() noexcept {
  static std::once_flag once;
  std::call_once(once, [] {
    static CountingSpy spy;
    SetOaNoCache();
    CoRegisterMallocSpy(&spy);
  });
}

}  // namespace xelo::com
