#include "sim/BuiltInPanel.h"

#include "sim/SimulatedPanel.h"

namespace sim {

void RegisterBuiltInPanel()
{
    // On the real clock the panel's driver sleeps out each byte's wire time and wakes
    // when the device's reply is due, so it costs no CPU while the program waits.
    static CSimulatedPanel panel(kBuiltInPanelPort);
}

} // namespace sim
