// Registers the simulation server's classes (the four server flavours and
// the OPC server list) with the COM class registry. This happens once, by
// itself, while the program starts (see CMakeLists.txt for how the linker
// is made to keep it); calling Register() again re-registers everything,
// e.g. after a test unregistered a class.
#pragma once

namespace xelo::sim {

class SimulationRegistration {
 public:
  // S_OK, or the first failure of ClassRegistry::Register.
  static long Register();
};

}  // namespace xelo::sim
