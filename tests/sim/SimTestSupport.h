#pragma once
// A host end on the in-process simulated panel: raw driver calls on the virtual clock.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "platform/Clock.h"
#include "platform/SerialDriver.h"
#include "sim/SimulatedPanel.h"

namespace simtest {

using Bytes = std::vector<uint8_t>;

inline Bytes IdFrame(uint8_t idByte = 0xB6)
{
    return {0xF5, 0xDF, 0xFF, 0x0F, 0x07, idByte, idByte, idByte, idByte, idByte, idByte, idByte};
}

inline Bytes PageFrame(uint32_t page, const Bytes& data)
{
    Bytes frame{0x41, static_cast<uint8_t>(page >> 8), static_cast<uint8_t>(page >> 16)};
    frame.insert(frame.end(), data.begin(), data.end());
    return frame;
}

inline Bytes PageReadFrame(uint32_t page)
{
    return {0xFF, static_cast<uint8_t>(page >> 8), static_cast<uint8_t>(page >> 16)};
}

inline Bytes Pattern(uint8_t seed)
{
    Bytes data(256);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(seed + i * 7);
    return data;
}

class PanelTest : public ::testing::Test
{
protected:
    explicit PanelTest(sim::BootLoaderConfig config = {}) : panel("SIMTEST", config)
    {
        platform::OpenError error = platform::OpenError::Other;
        port = platform::OpenSerialDriver("SIMTEST", error);
    }

    void SetUp() override { ASSERT_TRUE(port) << "the simulated port did not open"; }

    uint64_t Now() const { return clock.Now(); }

    void Send(const Bytes& bytes) { ASSERT_EQ(port->Write(bytes.data(), bytes.size()), int(bytes.size())); }

    // Waits up to timeoutMs for count bytes; returns what came (fewer on a time-out).
    Bytes Receive(size_t count, uint32_t timeoutMs = 5000)
    {
        const uint64_t deadline = clock.Now() + timeoutMs;
        for (;;) {
            uint32_t errors = 0, queued = 0;
            port->TakeErrors(errors, queued);
            if (queued >= count || clock.Now() >= deadline) {
                Bytes bytes(queued < count ? queued : count);
                port->Read(bytes.data(), bytes.size());
                return bytes;
            }
            port->WaitForInput(queued, static_cast<uint32_t>(count), static_cast<uint32_t>(deadline - clock.Now()));
        }
    }

    Bytes Status()
    {
        Send({0x70});
        return Receive(2);
    }

    void SetHostBaud(uint32_t baud) { ASSERT_TRUE(port->SetSettings({baud, 8, 0, 0})); }

    void PassId()
    {
        Send(IdFrame());
        clock.Advance(50);
        ASSERT_TRUE(panel.Device().IdVerified());
    }

    platform::CVirtualClock clock;
    platform::CScopedClock scopedClock{clock};
    sim::CSimulatedPanel panel;
    std::unique_ptr<platform::ISerialDriver> port;
};

} // namespace simtest
