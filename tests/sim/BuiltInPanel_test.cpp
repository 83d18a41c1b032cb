// The "SIM" port every front end offers: the boot-loader model on the real clock,
// answering the way torvane-sim --realtime does. One short real-time exchange.
#include <gtest/gtest.h>

#include <chrono>

#include "platform/SerialDriver.h"
#include "sim/BuiltInPanel.h"

TEST(BuiltInPanelTest, sim_port_answers_a_status_request_in_wire_time_and_opens_once)
{
    sim::RegisterBuiltInPanel();
    sim::RegisterBuiltInPanel(); // a second call changes nothing
    platform::OpenError error;
    auto port = platform::OpenSerialDriver("sim", error);
    ASSERT_TRUE(port) << platform::DescribeOpenError(error);
    platform::OpenError second;
    EXPECT_FALSE(platform::OpenSerialDriver("SIM", second));
    EXPECT_EQ(second, platform::OpenError::InUse);

    const auto start = std::chrono::steady_clock::now();
    const uint8_t request = 0x70;
    ASSERT_EQ(port->Write(&request, 1), 1);
    // One byte out and two back at 9600 bit/s: about 3 ms of wire time, never instant.
    ASSERT_EQ(port->WaitForInput(0, 2, 1000), platform::WaitResult::Ready);
    uint32_t errors = 0;
    uint32_t queued = 0;
    while (port->TakeErrors(errors, queued) && queued < 2 &&
           port->WaitForInput(queued, 2, 1000) == platform::WaitResult::Ready) {
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;
    uint8_t reply[2] = {};
    ASSERT_EQ(port->Read(reply, 2), 2);
    EXPECT_GE(elapsed, std::chrono::microseconds(2000));
    EXPECT_LT(elapsed, std::chrono::milliseconds(500));
}
