// The portable back end's release of a storage medium.
#include "xelo/com/DataTransfer.h"

#include "xelo/com/TaskMemory.h"

void ReleaseStgMedium(STGMEDIUM* medium) {
  if (medium == nullptr) return;
  // Empty the caller's medium before releasing anything: a Release below is
  // foreign code and may come back here with the same medium.
  const STGMEDIUM held = *medium;
  *medium = STGMEDIUM{};

  if (held.pUnkForRelease != nullptr) {
    held.pUnkForRelease->Release();
    return;
  }
  switch (held.tymed) {
    case TYMED_HGLOBAL:
      GlobalFree(held.hGlobal);
      break;
    case TYMED_MFPICT:
      // The picture header lives in global memory; there are no metafiles
      // on this platform for it to refer to.
      GlobalFree(reinterpret_cast<HGLOBAL>(held.hMetaFilePict));
      break;
    case TYMED_FILE:
      // Only the name is ours to free; deleting the file behind a caller's
      // back is not something a release function should do here.
      CoTaskMemFree(held.lpszFileName);
      break;
    case TYMED_ISTREAM:
      // Every interface starts with IUnknown's slots, so the opaque stream
      // and storage are released through that view.
      if (held.pstm != nullptr) reinterpret_cast<IUnknown*>(held.pstm)->Release();
      break;
    case TYMED_ISTORAGE:
      if (held.pstg != nullptr) reinterpret_cast<IUnknown*>(held.pstg)->Release();
      break;
    default:
      // TYMED_NULL, and the graphics media, which nothing here creates.
      break;
  }
}
