// The class registrations of this computer: what the registry's class keys
// hold on Windows (ProgID <-> CLSID, user type name, implemented categories,
// the "OPC" marker subkey of OPC servers) together with the factory that
// creates the class in process.
//
// Servers register themselves, usually from a static registrar when their
// library is linked. Thread-safe.
#pragma once

#include "xelo/com/ClassFactory.h"
#include "xelo/com/Guid.h"

#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace xelo::com {

struct ClassRegistration {
  CLSID clsid = CLSID_NULL;
  std::string progId;
  std::string userTypeName;
  std::vector<CATID> categories;  // "Implemented Categories"
  bool hasOpcKey = false;         // the ProgID key has an "OPC" subkey
  ComPtr<IClassFactory> factory;  // null: registered, but cannot be created
};

class ClassRegistry {
 public:
  static ClassRegistry& Instance();

  // Adds a class, or replaces the registration with the same CLSID.
  // E_INVALIDARG for a null CLSID or a ProgID that is empty, contains
  // characters a registry key name cannot have, or already names another
  // class (ProgIDs compare case-insensitively, like registry keys).
  HRESULT Register(ClassRegistration registration);
  bool Unregister(REFCLSID clsid);

  std::optional<ClassRegistration> Find(REFCLSID clsid) const;
  std::optional<ClassRegistration> FindByProgId(std::string_view progId) const;

  // All registrations in the order the registry enumerates its top-level
  // keys: by ProgID, compared case-insensitively.
  std::vector<ClassRegistration> All() const;
  // The registrations that implement `category`, in the same order.
  std::vector<ClassRegistration> WithCategory(REFGUID category) const;

  // On Windows' own COM, COM creates a class of this registry only while its
  // class object is registered with COM: OfferClassObjects registers every
  // class that has a factory (and each class registered later) with the
  // calling thread's apartment, until WithdrawClassObjects, which must run
  // on the same thread before it leaves COM. ComApartment does both. The
  // portable runtime creates from this registry directly; there both do
  // nothing. OfferClassObjects answers false when the classes were offered
  // already.
  bool OfferClassObjects();
  void WithdrawClassObjects();

 private:
  ClassRegistry() = default;
  void Offer(const ClassRegistration& registration);  // caller holds the lock
  void Withdraw(REFCLSID clsid);                       // caller holds the lock

  mutable std::mutex mutex_;
  std::vector<ClassRegistration> classes_;
  bool offering_ = false;
  std::vector<std::pair<CLSID, DWORD>> offered_;  // COM's cookie per class
};

// The calling thread as a single-threaded COM apartment for the lifetime of
// the object, with the classes of this process's registry offered to COM
// there (the application object and test programs hold one on the main
// thread). Nests like CoInitializeEx.
class ComApartment {
 public:
  ComApartment();
  ~ComApartment();
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  // CoInitializeEx's answer: S_OK, S_FALSE when the thread was in COM
  // already, or the failure (RPC_E_CHANGED_MODE: the thread is in the
  // multithreaded apartment; it then stays there and nothing is offered).
  HRESULT Result() const { return result_; }

 private:
  HRESULT result_;
  bool offers_ = false;
};

// Registers on construction and removes the registration on destruction.
class ScopedClassRegistration {
 public:
  explicit ScopedClassRegistration(ClassRegistration registration);
  ~ScopedClassRegistration();
  ScopedClassRegistration(const ScopedClassRegistration&) = delete;
  ScopedClassRegistration& operator=(const ScopedClassRegistration&) = delete;
  HRESULT Result() const { return result_; }

 private:
  CLSID clsid_;
  HRESULT result_;
};

}  // namespace xelo::com

namespace xelo::com {
// ProgID -> CLSID as this process sees its classes: those of the class
// registry first (on Windows' COM they are offered in process, whether or
// not the system's registry knows them), then the system's registrations
// (CLSIDFromProgID). CO_E_CLASSSTRING when neither knows the ProgID.
HRESULT ClassIdFromProgId(LPCOLESTR progId, CLSID* clsid);
}  // namespace xelo::com

#if !XELO_COM_NATIVE  // Windows' own look in its registry
// ProgID -> CLSID; CO_E_CLASSSTRING for an unknown ProgID.
HRESULT CLSIDFromProgID(LPCOLESTR progId, LPCLSID clsid);
// CLSID -> ProgID from the task allocator; REGDB_E_CLASSNOTREG when unknown.
HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* progId);
#endif
