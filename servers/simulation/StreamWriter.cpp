#include "servers/simulation/StreamWriter.h"

#include "xelo/com/BStr.h"
#include "xelo/opc/OpcStreams.h"

#include <cstring>

namespace xelo::sim {
namespace {

constexpr DWORD kVariantSize32 = 16;

template <class T>
void Append(std::vector<BYTE>& out, const T& value) {
  const auto* bytes = reinterpret_cast<const BYTE*>(&value);
  out.insert(out.end(), bytes, bytes + sizeof(T));
}

template <class T>
void Put(std::vector<BYTE>& out, std::size_t offset, const T& value) {
  std::memcpy(out.data() + offset, &value, sizeof(T));
}

// The size of a fixed-size element type in 32-bit COM; 0 for types whose
// elements are written otherwise (BSTR, VARIANT) or not at all. Only the
// pointer-sized and composite types differ from this process's layout.
DWORD ScalarSize(VARTYPE vt) {
  switch (vt) {
    case VT_BSTR:
    case VT_UNKNOWN:
    case VT_DISPATCH:
    case VT_VARIANT:
      return 0;
    default:
      return xelo::com::VarTypeSize(vt);  // DECIMAL: 16, as in 32-bit COM
  }
}

void AppendText(std::vector<BYTE>& out, BSTR text) {
  const DWORD bytes = SysStringByteLen(text);
  Append(out, bytes);
  const auto* raw = reinterpret_cast<const BYTE*>(text);
  if (bytes > 0) out.insert(out.end(), raw, raw + bytes);
  out.push_back(0);
  out.push_back(0);
}

void AppendVariantHead(std::vector<BYTE>& out, VARTYPE vt, const void* value, DWORD size) {
  Append(out, vt);
  const WORD reserved[3] = {0, 0, 0};
  Append(out, reserved);
  BYTE bytes[8] = {};
  if (value != nullptr && size > 0) std::memcpy(bytes, value, size);
  Append(out, bytes);
}

}  // namespace

void StreamWriter::AppendValue(std::vector<BYTE>& out, const VARIANT& value) {
  const VARTYPE vt = value.vt;
  if ((vt & VT_ARRAY) != 0) {
    AppendVariantHead(out, vt, nullptr, 0);
    const VARTYPE element = vt & VT_TYPEMASK;
    SAFEARRAY* array = value.parray;
    const ULONG count = array != nullptr && array->cDims >= 1 ? array->rgsabound[0].cElements : 0;
    const LONG lower = array != nullptr && array->cDims >= 1 ? array->rgsabound[0].lLbound : 0;
    const WORD features = element == VT_BSTR ? FADF_BSTR : element == VT_VARIANT ? FADF_VARIANT : 0;
    const DWORD cb = element == VT_BSTR ? 4 : element == VT_VARIANT ? kVariantSize32 : ScalarSize(element);
    Append(out, WORD{1});
    Append(out, features);
    Append(out, cb);
    Append(out, DWORD{0});  // cLocks
    Append(out, DWORD{0});  // pvData
    Append(out, static_cast<DWORD>(count));
    Append(out, lower);
    if (count == 0) return;
    if (element == VT_BSTR) {
      auto* texts = static_cast<BSTR*>(array->pvData);
      for (ULONG i = 0; i < count; ++i) AppendText(out, texts[i]);
    } else if (element == VT_VARIANT) {
      auto* values = static_cast<VARIANT*>(array->pvData);
      for (ULONG i = 0; i < count; ++i) AppendValue(out, values[i]);
    } else {
      // Our SAFEARRAY elements of fixed-size types have their 32-bit size.
      const auto* raw = static_cast<const BYTE*>(array->pvData);
      out.insert(out.end(), raw, raw + static_cast<std::size_t>(count) * cb);
    }
    return;
  }
  if (vt == VT_BSTR) {
    AppendVariantHead(out, vt, nullptr, 0);
    AppendText(out, value.bstrVal);
    return;
  }
  if (vt == VT_DECIMAL) {
    // A DECIMAL fills the whole VARIANT; its first WORD is where vt lives.
    DECIMAL decimal = value.decVal;
    decimal.wReserved = VT_DECIMAL;
    Append(out, decimal);
    return;
  }
  AppendVariantHead(out, vt, &value.llVal, ScalarSize(vt));
}

std::vector<BYTE> StreamWriter::DataBytes(bool withTime, OPCHANDLE clientGroup, DWORD transactionId,
                                          const std::vector<Item>& items) {
  const std::size_t headerSize = withTime ? sizeof(OPCITEMHEADER1) : sizeof(OPCITEMHEADER2);
  std::vector<BYTE> out(sizeof(OPCGROUPHEADER) + items.size() * headerSize, 0);
  bool allGood = true;
  for (std::size_t i = 0; i < items.size(); ++i) {
    const Item& item = items[i];
    if ((item.quality & OPC_QUALITY_MASK) != OPC_QUALITY_GOOD) allGood = false;
    const auto valueOffset = static_cast<DWORD>(out.size());
    const std::size_t at = sizeof(OPCGROUPHEADER) + i * headerSize;
    if (withTime) {
      const OPCITEMHEADER1 header{item.clientHandle, valueOffset, item.quality, 0, item.timestamp};
      Put(out, at, header);
    } else {
      const OPCITEMHEADER2 header{item.clientHandle, valueOffset, item.quality, 0};
      Put(out, at, header);
    }
    AppendValue(out, *item.value);
  }
  const OPCGROUPHEADER group{static_cast<DWORD>(out.size()), static_cast<DWORD>(items.size()), clientGroup,
                             transactionId, allGood ? S_OK : S_FALSE};
  Put(out, 0, group);
  return out;
}

std::vector<BYTE> StreamWriter::WriteCompleteBytes(OPCHANDLE clientGroup, DWORD transactionId,
                                                   const std::vector<std::pair<OPCHANDLE, HRESULT>>& results) {
  std::vector<BYTE> out;
  bool allOk = true;
  for (const auto& [handle, error] : results) allOk = allOk && error == S_OK;
  Append(out, OPCGROUPHEADERWRITE{static_cast<DWORD>(results.size()), clientGroup, transactionId,
                                  allOk ? S_OK : S_FALSE});
  for (const auto& [handle, error] : results) Append(out, OPCITEMHEADERWRITE{handle, error});
  return out;
}

HGLOBAL StreamWriter::ToGlobal(const std::vector<BYTE>& bytes) {
  // Moveable: the handle of a fixed block is its address, which Windows
  // locks without looking, so a handle the client freed too early could not
  // be told from a live one.
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
  if (block == nullptr) return nullptr;
  void* data = GlobalLock(block);
  if (!bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
  GlobalUnlock(block);
  return block;
}

}  // namespace xelo::sim
