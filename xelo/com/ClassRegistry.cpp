#include "xelo/com/ClassRegistry.h"

#include "xelo/com/Activation.h"
#include "xelo/com/TaskMemory.h"
#include "xelo/com/WideText.h"

#include <algorithm>

namespace xelo::com {
namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return LowerAscii(x) == LowerAscii(y); });
}

bool LessNoCase(std::string_view a, std::string_view b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](char x, char y) { return LowerAscii(x) < LowerAscii(y); });
}

// A registry key name cannot contain a backslash or control characters.
bool IsValidKeyName(std::string_view name) {
  if (name.empty() || name.size() > 255) return false;
  return std::none_of(name.begin(), name.end(),
                      [](char c) { return c == '\\' || static_cast<unsigned char>(c) < 0x20; });
}

}  // namespace

ClassRegistry& ClassRegistry::Instance() {
  static ClassRegistry registry;
  return registry;
}

HRESULT ClassRegistry::Register(ClassRegistration registration) {
  if (registration.clsid == CLSID_NULL || !IsValidKeyName(registration.progId)) return E_INVALIDARG;
  std::lock_guard lock(mutex_);
  for (const auto& existing : classes_) {
    if (existing.clsid != registration.clsid && EqualNoCase(existing.progId, registration.progId)) {
      return E_INVALIDARG;
    }
  }
  auto same = std::find_if(classes_.begin(), classes_.end(),
                                 [&](const auto& c) { return c.clsid == registration.clsid; });
  if (same != classes_.end()) {
    *same = std::move(registration);
  } else {
    same = classes_.insert(classes_.end(), std::move(registration));
  }
  if (offering_) Offer(*same);
  return S_OK;
}

bool ClassRegistry::Unregister(REFCLSID clsid) {
  ComPtr<IClassFactory> released;  // released outside the lock
  std::lock_guard lock(mutex_);
  const auto it = std::find_if(classes_.begin(), classes_.end(), [&](const auto& c) { return c.clsid == clsid; });
  if (it == classes_.end()) return false;
  Withdraw(clsid);
  released = std::move(it->factory);
  classes_.erase(it);
  return true;
}

std::optional<ClassRegistration> ClassRegistry::Find(REFCLSID clsid) const {
  std::lock_guard lock(mutex_);
  for (const auto& c : classes_) {
    if (c.clsid == clsid) return c;
  }
  return std::nullopt;
}

std::optional<ClassRegistration> ClassRegistry::FindByProgId(std::string_view progId) const {
  std::lock_guard lock(mutex_);
  for (const auto& c : classes_) {
    if (EqualNoCase(c.progId, progId)) return c;
  }
  return std::nullopt;
}

std::vector<ClassRegistration> ClassRegistry::All() const {
  std::vector<ClassRegistration> all;
  {
    std::lock_guard lock(mutex_);
    all = classes_;
  }
  std::stable_sort(all.begin(), all.end(), [](const auto& a, const auto& b) { return LessNoCase(a.progId, b.progId); });
  return all;
}

std::vector<ClassRegistration> ClassRegistry::WithCategory(REFGUID category) const {
  std::vector<ClassRegistration> result = All();
  std::erase_if(result, [&](const auto& c) {
    return std::find(c.categories.begin(), c.categories.end(), category) == c.categories.end();
  });
  return result;
}

bool ClassRegistry::OfferClassObjects() {
  std::lock_guard lock(mutex_);
  if (offering_) return false;
  offering_ = true;
  for (const auto& registration : classes_) Offer(registration);
  return true;
}

void ClassRegistry::WithdrawClassObjects() {
  std::lock_guard lock(mutex_);
  offering_ = false;
  while (!offered_.empty()) Withdraw(offered_.back().first);
}

void ClassRegistry::Offer(const ClassRegistration& registration) {
  Withdraw(registration.clsid);  // a replaced registration's factory goes
#if XELO_COM_NATIVE
  if (!registration.factory) return;
  DWORD cookie = 0;
  if (SUCCEEDED(CoRegisterClassObject(registration.clsid, registration.factory.Get(), CLSCTX_INPROC_SERVER,
                                      REGCLS_MULTIPLEUSE, &cookie))) {
    offered_.emplace_back(registration.clsid, cookie);
  }
#endif
}

void ClassRegistry::Withdraw(REFCLSID clsid) {
  const auto it = std::find_if(offered_.begin(), offered_.end(), [&](const auto& o) { return o.first == clsid; });
  if (it == offered_.end()) return;
#if XELO_COM_NATIVE
  CoRevokeClassObject(it->second);
#endif
  offered_.erase(it);
}

ComApartment::ComApartment() : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {
  // The outermost apartment object offers the classes, and withdraws them.
  offers_ = SUCCEEDED(result_) && ClassRegistry::Instance().OfferClassObjects();
}

ComApartment::~ComApartment() {
  if (offers_) ClassRegistry::Instance().WithdrawClassObjects();
  if (SUCCEEDED(result_)) CoUninitialize();
}

HRESULT ClassIdFromProgId(LPCOLESTR progId, CLSID* clsid) {
  if (progId == nullptr || clsid == nullptr) return E_INVALIDARG;
  if (const auto registration = ClassRegistry::Instance().FindByProgId(ToUtf8(progId))) {
    *clsid = registration->clsid;
    return S_OK;
  }
  return CLSIDFromProgID(progId, clsid);
}

ScopedClassRegistration::ScopedClassRegistration(ClassRegistration registration)
    : clsid_(registration.clsid), result_(ClassRegistry::Instance().Register(std::move(registration))) {}

ScopedClassRegistration::~ScopedClassRegistration() {
  if (SUCCEEDED(result_)) ClassRegistry::Instance().Unregister(clsid_);
}

}  // namespace xelo::com
