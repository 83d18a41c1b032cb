#pragma once
// The simulated panel every front end offers under the port name "SIM": the same
// boot-loader model as torvane-sim, in-process, paced in real time (each byte takes
// its wire time at the port's speed, the device answers when a real one would).
// It lets a user try the whole road without a panel, and on Windows without a
// pseudo-terminal.

namespace sim {

inline constexpr const char* kBuiltInPanelPort = "SIM";

// Makes OpenSerialDriver("SIM") (any case) reach the built-in panel. Call once at
// program start; later calls do nothing. The panel keeps its flash until the program ends.
void RegisterBuiltInPanel();

} // namespace sim
