#pragma once
// The boot-loader model served in-process under a port name, on the virtual clock:
// CSerialComm::Open(name) reaches it through the registered serial driver.
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "sim/BootLoader.h"

namespace sim {

class CSimulatedPanel
{
public:
    // Registers the port name. Runs on the installed clock: the virtual one in tests,
    // the real one (paced in real time) for the built-in "SIM" port.
    explicit CSimulatedPanel(std::string portName = "SIMPANEL", BootLoaderConfig config = {});
    ~CSimulatedPanel(); // unregisters
    CSimulatedPanel(const CSimulatedPanel&) = delete;
    CSimulatedPanel& operator=(const CSimulatedPanel&) = delete;

    const std::string& PortName() const { return m_portName; }
    CBootLoader& Device();
    const std::vector<WireEvent>& Trace() const;
    void ClearTrace();
    std::vector<uint8_t> HostBytes() const;                              // every byte the host sent
    std::vector<std::pair<uint8_t, uint32_t>> HostBytesWithBaud() const; // (byte, host speed)
    std::vector<uint8_t> DeviceBytes() const;                            // every byte the device sent
    bool PortOpen() const;
    // The USB adapter pulled out (the name no longer opens, the open handle fails for
    // good) and plugged back in (the name opens a new handle).
    void Unplug();
    void PlugBack();
    uint32_t HostBaud() const;

    struct Shared;

private:
    std::string m_portName;
    std::shared_ptr<Shared> m_shared;
    mutable std::vector<WireEvent> m_traceCopy;
};

} // namespace sim
