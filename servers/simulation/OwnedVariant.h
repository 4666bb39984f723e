// A VARIANT that owns what it holds: the server's item values, cached and
// last-sent values. Copying is deep (VariantCopy); copies that run out of
// memory throw std::bad_alloc, so callers run inside Guarded().
// Main thread only, like everything in the server.
#pragma once

#include "xelo/com/Variant.h"

#include <optional>
#include <string_view>
#include <vector>

namespace xelo::sim {

class OwnedVariant {
 public:
  OwnedVariant() { VariantInit(&v_); }
  explicit OwnedVariant(const VARIANT& value);
  OwnedVariant(const OwnedVariant& other);
  OwnedVariant(OwnedVariant&& other) noexcept;
  OwnedVariant& operator=(const OwnedVariant& other);
  OwnedVariant& operator=(OwnedVariant&& other) noexcept;
  ~OwnedVariant() { VariantClear(&v_); }

  static OwnedVariant I2(SHORT value);
  static OwnedVariant I4(LONG value);
  static OwnedVariant UI4(ULONG value);
  static OwnedVariant R4(FLOAT value);
  static OwnedVariant R8(DOUBLE value);
  static OwnedVariant Bool(bool value);
  static OwnedVariant Date(DATE value);
  static OwnedVariant Text(com::OleStringView value);
  static OwnedVariant R8Array(const std::vector<double>& values);

  const VARIANT& Get() const { return v_; }
  // Lets go of the value without freeing what it holds, because a client
  // freed that already (a violation the strict ownership mode reported).
  void Forget() { VariantInit(&v_); }
  VARTYPE Type() const { return v_.vt; }

  // A deep copy into an uninitialised VARIANT owned by the caller.
  HRESULT CopyTo(VARIANT* out) const noexcept;
  // The value converted to `vt` (VT_EMPTY: unchanged), arrays element by
  // element; the VariantChangeType code on failure.
  HRESULT ConvertTo(VARTYPE vt, OwnedVariant& out) const;
  // Same type and same value (texts and array elements compared).
  bool Equals(const OwnedVariant& other) const;
  // The value as a number, for dead band checks; empty when it is not one.
  std::optional<double> AsDouble() const;

 private:
  // A value of scalar type `vt`; `store` writes the value field.
  template <class Store>
  static OwnedVariant Scalar(VARTYPE vt, Store store);

  VARIANT v_;
};

}  // namespace xelo::sim
