// The strict ownership check of what the server lends a client for the
// duration of one callback (its [in] arguments): the client may read them,
// and copy what it keeps, but must neither change nor free them.
//
// Before the call, every lent array, struct, string and memory block is
// copied byte for byte; a VARIANT brings along the string or SAFEARRAY it
// refers to (descriptor, elements and, element by element, their strings
// and nested values). After the call, Verify() reports each one the client
// changed or freed to the OwnershipLedger. Whether a block was freed is
// asked of the task allocator's tracking (or the global memory table)
// before any byte of it is read again, so a client that frees what it was
// lent is caught without reading freed memory, and the owner learns from
// Freed() what it must not free a second time.
//
//   LoanCheck loan("IOPCDataCallback::OnDataChange");
//   loan.Lend("phClientItems", clients.data(), count);
//   loan.LendValues("pvValues", values.data(), count);
//   sink->OnDataChange(..., clients.data(), values.data(), ...);
//   loan.Verify();
//
// Outside strict mode a LoanCheck does nothing. Main thread only.
#pragma once

#include "xelo/com/GlobalMemory.h"
#include "xelo/com/Variant.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace xelo::sim {

class LoanCheck {
 public:
  explicit LoanCheck(std::string_view method);
  LoanCheck(const LoanCheck&) = delete;
  LoanCheck& operator=(const LoanCheck&) = delete;

  // `count` plain elements (handles, qualities, time stamps, errors),
  // reported as "argument[i]".
  template <class T>
  void Lend(std::string_view argument, const T* items, std::size_t count) {
    for (std::size_t i = 0; active_ && items != nullptr && i < count; ++i) {
      AddMemory(Element(argument, i), argument, i, &items[i], sizeof(T));
    }
  }
  // One struct passed by pointer, reported as "*argument".
  template <class T>
  void LendStruct(std::string_view argument, const T* item) {
    if (active_ && item != nullptr) AddMemory("*" + std::string(argument), argument, 0, item, sizeof(T));
  }
  // VARIANTs: the structs themselves and what they refer to.
  void LendValues(std::string_view argument, const VARIANT* values, std::size_t count);
  // A NUL-terminated text.
  void LendText(std::string_view argument, const OLECHAR* text);
  // The bytes of a global memory block.
  void LendGlobal(std::string_view argument, HGLOBAL block);

  // Reports every change to what was lent; call once, when the call has
  // returned.
  void Verify();
  // After Verify(): whether the client freed something lent as element
  // `index` of `argument` (a value's string or array, a memory block).
  bool Freed(std::string_view argument, std::size_t index = 0) const;

 private:
  struct Piece {
    std::string what;      // as reported: "pvValues[2]", "the string of pvValues[2]"
    std::string argument;  // the lent argument and element it belongs to
    std::size_t index = 0;
    const unsigned char* address = nullptr;  // memory: where it lies
    HGLOBAL global = nullptr;                // or a global memory block
    std::optional<std::uint64_t> serial{};   // of the task block that holds it, when tracked
    std::vector<unsigned char> bytes{};      // as lent
    bool freed = false;
  };

  static std::string Element(std::string_view argument, std::size_t index);
  // The piece's bytes now; empty once it was freed.
  static std::optional<std::vector<unsigned char>> Current(const Piece& piece);
  void AddMemory(std::string what, std::string_view argument, std::size_t index, const void* address,
                 std::size_t size);
  void AddContents(const std::string& of, std::string_view argument, std::size_t index, const VARIANT& value);
  void AddString(std::string what, std::string_view argument, std::size_t index, BSTR text);
  void AddArray(const std::string& of, std::string_view argument, std::size_t index, const SAFEARRAY* array,
                VARTYPE elementType);

  const bool active_;
  const std::string method_;
  std::vector<Piece> pieces_;
};

}  // namespace xelo::sim
