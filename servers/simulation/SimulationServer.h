// The classes of the simulation server: fixed class identifiers and ProgIDs.
//
// Linking Xelo::simulation registers all of them with the COM class
// registry before main() runs, so a client creates them like any other
// server: CoCreateInstance(CLSID_XeloSim, ...) or by ProgID through
// CLSIDFromProgID(OLESTR("Xelo.Sim.1"), ...).
//
//   Xelo.Sim.1       OPC DA 2.0 and 1.0, hierarchical address space;
//                    categories DA 1.0 and DA 2.0
//   Xelo.Sim.DA1.1   OPC DA 1.0 only: no connection points on server or
//                    groups, no IOPCAsyncIO2; category DA 1.0
//   Xelo.Sim.Flat.1  OPC DA 2.0 (and 1.0) with a flat address space;
//                    category DA 2.0
//   Xelo.Sim.AE.1    registered under the Alarms & Events category only;
//                    its object answers IOPCCommon but no IOPCServer
//   OPC.ServerList.1 CLSID_OPCServerList: IOPCServerList and
//                    IOPCServerList2 over the class registry
//
// The address space and the knobs tests use are described in
// AddressSpace.h and SimulationControl.h.
#pragma once

#include "xelo/com/Guid.h"

namespace xelo::sim {

// {5C1A0001-7E10-4B8A-9C35-58454C4F5349} and following; the last group
// spells "XELOSI".
inline constexpr CLSID CLSID_XeloSim{0x5C1A0001, 0x7E10, 0x4B8A, {0x9C, 0x35, 0x58, 0x45, 0x4C, 0x4F, 0x53, 0x49}};
inline constexpr CLSID CLSID_XeloSimDA1{0x5C1A0002, 0x7E10, 0x4B8A, {0x9C, 0x35, 0x58, 0x45, 0x4C, 0x4F, 0x53, 0x49}};
inline constexpr CLSID CLSID_XeloSimFlat{0x5C1A0003, 0x7E10, 0x4B8A, {0x9C, 0x35, 0x58, 0x45, 0x4C, 0x4F, 0x53, 0x49}};
inline constexpr CLSID CLSID_XeloSimAE{0x5C1A0004, 0x7E10, 0x4B8A, {0x9C, 0x35, 0x58, 0x45, 0x4C, 0x4F, 0x53, 0x49}};

inline constexpr char kProgIdSim[] = "Xelo.Sim.1";
inline constexpr char kProgIdSimDA1[] = "Xelo.Sim.DA1.1";
inline constexpr char kProgIdSimFlat[] = "Xelo.Sim.Flat.1";
inline constexpr char kProgIdSimAE[] = "Xelo.Sim.AE.1";

inline constexpr char kUserTypeSim[] = "Xelo OPC DA Simulation Server";
inline constexpr char kUserTypeSimDA1[] = "Xelo OPC DA 1.0 Simulation Server";
inline constexpr char kUserTypeSimFlat[] = "Xelo OPC DA Simulation Server (flat)";
inline constexpr char kUserTypeSimAE[] = "Xelo OPC Alarms and Events Simulation Server";
inline constexpr char kUserTypeServerList[] = "OPC Server List";

// What distinguishes the DA server classes.
enum class ServerFlavour {
  Standard,  // Xelo.Sim.1
  DA1Only,   // Xelo.Sim.DA1.1
  Flat,      // Xelo.Sim.Flat.1
};

}  // namespace xelo::sim
