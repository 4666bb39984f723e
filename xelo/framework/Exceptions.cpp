#include "xelo/framework/Exceptions.h"

namespace xelo {

void OleError(HRESULT hr) { throw EOleSysError(com::SystemMessageText(hr), hr); }

void OleCheck(HRESULT hr) {
  if (FAILED(hr)) OleError(hr);
}

}  // namespace xelo
