// Values written by users arrive as text and are converted to the item's
// type: every conversion from text must answer a result code, never crash
// or leak.
#include "xelo/com/BStr.h"
#include "xelo/com/TaskMemory.h"
#include "xelo/com/Variant.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto before = xelo::com::LiveAllocations();
  VARIANT text;
  VariantInit(&text);
  text.vt = VT_BSTR;
  text.bstrVal = xelo::com::AllocBstrUtf8(std::string_view(reinterpret_cast<const char*>(data), size));
  for (VARTYPE target : {VT_I1, VT_UI1, VT_I2, VT_UI2, VT_I4, VT_UI4, VT_I8, VT_UI8, VT_INT, VT_UINT, VT_R4, VT_R8,
                         VT_CY, VT_DATE, VT_BOOL, VT_DECIMAL, VT_ERROR, VT_BSTR}) {
    VARIANT out;
    VariantInit(&out);
    if (SUCCEEDED(VariantChangeType(&out, &text, 0, target))) {
      VARIANT back;
      VariantInit(&back);
      VariantChangeType(&back, &out, 0, VT_BSTR);
      VariantClear(&back);
    }
    VariantClear(&out);
  }
  VariantClear(&text);
  if (!(xelo::com::LiveAllocations() == before)) std::abort();
  return 0;
}
