#include "xelo/com/DataTransfer.h"

#include "xelo/com/EnumeratorImpl.h"
#include "xelo/com/TaskMemory.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

namespace xelo::com {

HRESULT CopyFormatEtc(FORMATETC* dest, const FORMATETC* source) noexcept {
  if (dest == nullptr || source == nullptr) return E_POINTER;
  *dest = *source;
  dest->ptd = nullptr;
  if (source->ptd == nullptr) return S_OK;
  const std::size_t bytes = std::max<std::size_t>(source->ptd->tdSize, sizeof(DWORD));
  void* device = CoTaskMemAlloc(bytes);
  if (device == nullptr) return E_OUTOFMEMORY;
  std::memcpy(device, source->ptd, bytes);
  dest->ptd = static_cast<DVTARGETDEVICE*>(device);
  return S_OK;
}

// ---- DataAdviseHolder -------------------------------------------------------

namespace {

std::vector<FORMATETC> WithoutDevices(std::vector<FORMATETC> formats) {
  // We never keep a caller's device pointer: it would dangle.
  for (auto& format : formats) format.ptd = nullptr;
  return formats;
}

}  // namespace

DataAdviseHolder::DataAdviseHolder(std::vector<FORMATETC> offered) : offered_(WithoutDevices(std::move(offered))) {}

DataAdviseHolder::~DataAdviseHolder() { Clear(); }

void DataAdviseHolder::SetOfferedFormats(std::vector<FORMATETC> offered) {
  auto formats = WithoutDevices(std::move(offered));
  std::lock_guard lock(mutex_);
  offered_.swap(formats);
}

bool DataAdviseHolder::IsOffered(const FORMATETC& format) const {
  if (format.ptd != nullptr || format.dwAspect == 0) return false;
  return std::any_of(offered_.begin(), offered_.end(), [&format](const FORMATETC& offered) {
    return offered.cfFormat == format.cfFormat && (format.dwAspect & offered.dwAspect) == format.dwAspect &&
           (format.tymed & offered.tymed) != 0;
  });
}

HRESULT DataAdviseHolder::QueryGetData(const FORMATETC* format) const noexcept {
  if (format == nullptr) return E_INVALIDARG;
  std::lock_guard lock(mutex_);
  return IsOffered(*format) ? S_OK : DV_E_FORMATETC;
}

HRESULT DataAdviseHolder::DAdvise(const FORMATETC* format, DWORD advf, IAdviseSink* sink,
                                  DWORD* connection) noexcept {
  if (connection == nullptr) return E_POINTER;
  *connection = 0;
  if (format == nullptr || sink == nullptr) return E_INVALIDARG;
  // Declared before the lock so that, should the advise not be stored, the
  // sink is released after the lock is gone.
  Advise advise{*format, advf, ComPtr<IAdviseSink>(sink), 0};
  advise.format.ptd = nullptr;
  std::lock_guard lock(mutex_);
  if (!IsOffered(*format)) return DV_E_FORMATETC;
  if (lastConnection_ == 0xFFFFFFFFu) return OLE_E_ADVISENOTSUPPORTED;  // numbers are never reused
  advise.connection = lastConnection_ + 1;
  try {
    advises_.push_back(std::move(advise));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  *connection = ++lastConnection_;
  return S_OK;
}

HRESULT DataAdviseHolder::DUnadvise(DWORD connection) noexcept {
  ComPtr<IAdviseSink> gone;  // released after the lock
  std::lock_guard lock(mutex_);
  auto it = std::find_if(advises_.begin(), advises_.end(),
                         [connection](const Advise& a) { return a.connection == connection; });
  if (it == advises_.end()) return OLE_E_NOCONNECTION;
  gone = std::move(it->sink);
  advises_.erase(it);
  return S_OK;
}

HRESULT DataAdviseHolder::EnumDAdvise(IEnumSTATDATA** enumerator) const noexcept {
  if (enumerator == nullptr) return E_POINTER;
  *enumerator = nullptr;
  try {
    std::vector<StoredStatData> snapshot;
    {
      std::lock_guard lock(mutex_);
      snapshot.reserve(advises_.size());
      for (const Advise& a : advises_) {
        StoredStatData entry;
        entry.format = StoredFormatEtc(a.format);
        entry.advf = a.advf;
        entry.sink = a.sink;
        entry.connection = a.connection;
        snapshot.push_back(std::move(entry));
      }
    }
    *enumerator = MakeEnumerator<IEnumSTATDATA, StatDataCopyPolicy>(std::move(snapshot)).Detach();
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
}

HRESULT DataAdviseHolder::EnumFormatEtc(DWORD direction, IEnumFORMATETC** enumerator) const noexcept {
  if (enumerator == nullptr) return E_POINTER;
  *enumerator = nullptr;
  if (direction == DATADIR_SET) return E_NOTIMPL;
  if (direction != DATADIR_GET) return E_INVALIDARG;
  try {
    std::vector<FORMATETC> formats;
    {
      std::lock_guard lock(mutex_);
      formats = offered_;
    }
    *enumerator = MakeFormatEtcEnumerator(formats).Detach();
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
}

std::vector<DataAdviseHolder::Advise> DataAdviseHolder::Advises() const {
  std::lock_guard lock(mutex_);
  return advises_;
}

std::vector<DataAdviseHolder::Advise> DataAdviseHolder::AdvisesFor(CLIPFORMAT format) const {
  std::vector<Advise> result;
  std::lock_guard lock(mutex_);
  for (const Advise& a : advises_) {
    if (a.format.cfFormat == format) result.push_back(a);
  }
  return result;
}

std::size_t DataAdviseHolder::Count() const {
  std::lock_guard lock(mutex_);
  return advises_.size();
}

std::vector<ComPtr<IAdviseSink>> DataAdviseHolder::TakeSinks() {
  std::vector<ComPtr<IAdviseSink>> taken;
  std::lock_guard lock(mutex_);
  taken.reserve(advises_.size());
  for (Advise& advise : advises_) taken.push_back(std::move(advise.sink));
  advises_.clear();
  return taken;
}

void DataAdviseHolder::Clear() noexcept {
  std::vector<Advise> gone;  // released after the lock
  std::lock_guard lock(mutex_);
  gone.swap(advises_);
}

}  // namespace xelo::com
