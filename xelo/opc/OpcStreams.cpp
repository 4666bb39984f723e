#include "xelo/opc/OpcStreams.h"

#include "xelo/com/ClipboardFormats.h"

#include <mutex>

// No initialiser of their own: they are zero before any code runs, so a
// registration that happens earlier (from another file's static
// initialiser) is never overwritten by a later dynamic initialisation.
CLIPFORMAT OPCSTMFORMATDATA;
CLIPFORMAT OPCSTMFORMATDATATIME;
CLIPFORMAT OPCSTMFORMATWRITECOMPLETE;

namespace {

CLIPFORMAT Register(const char* name) {
  // Registered numbers lie in 0xC000..0xFFFF and so always fit a
  // CLIPFORMAT; 0 (no number) stays 0.
  return static_cast<CLIPFORMAT>(RegisterClipboardFormatA(name));
}

}  // namespace

void OPCDARegisterClipboardFormats() {
  static std::once_flag once;
  std::call_once(once, [] {
    OPCSTMFORMATDATA = Register("OPCSTMFORMATDATA");
    OPCSTMFORMATDATATIME = Register("OPCSTMFORMATDATATIME");
    OPCSTMFORMATWRITECOMPLETE = Register("OPCSTMFORMATWRITECOMPLETE");
  });
}

namespace {

// Lives in this file on purpose: a program that refers to one of the
// variables links this object file and so also runs this registration
// before main(), without any call of its own.
[[maybe_unused]] const bool registeredAtLoad = (OPCDARegisterClipboardFormats(), true);

}  // namespace
