// A server that dies on schedule, for trying a whole program against a
// lost connection: XELO_SIM_OUTAGE=AFTER[:DOWN] in the environment (seconds,
// decimals allowed) kills every server object AFTER seconds after the first
// one was created, as SimulationControl::KillServers does, and refuses every
// creation for DOWN seconds after that; without DOWN the server never comes
// back. Programs that cannot reach the control API (the `xelo` tool run by a
// test or a user) get their outage this way; tests inside one process use
// the control API.
//
// Happens once per process, on the apartment scheduler's timers (main
// thread). A value that does not parse is reported on stderr and ignored.
#pragma once

#include <optional>
#include <string_view>

namespace xelo::sim {

struct OutagePlan {
  double after = 0.0;             // seconds from the first creation to the kill
  std::optional<double> down;     // seconds of refused creations; none: for good
};

// "2", "0.5:1.5"; none for anything else (negative, empty, trailing text).
std::optional<OutagePlan> ParseOutagePlan(std::string_view text);

// Called for each server object created: the first call starts the plan
// of XELO_SIM_OUTAGE, when there is one.
void ArmPlannedOutage();

}  // namespace xelo::sim
