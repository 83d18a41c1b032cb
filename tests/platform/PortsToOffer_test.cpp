// What the port dialog adds after COM1..COM10: on Windows every COM name the system
// has, on Linux the adapters only (its own UARTs are COM1.. already).
#include <gtest/gtest.h>

#include "platform/SerialPorts.h"

namespace {

platform::SerialPortInfo Port(const std::string& name, const std::string& kind)
{
    platform::SerialPortInfo port;
    port.name = name;
    port.kind = kind;
    return port;
}

TEST(PortsToOfferTest, adds_the_ports_present_after_the_list_each_once)
{
    const std::vector<std::string> listed{"COM1", "COM2", "COM3", "COM4", "COM5",
                                          "COM6", "COM7", "COM8", "COM9", "COM10"};
    const std::vector<platform::SerialPortInfo> present{Port("com3", "usb"),         Port("COM12", "usb"),
                                                        Port("COM12", "usb"),        Port("COM15", "serial"),
                                                        Port("/dev/ttyACM0", "acm"), Port("", "usb")};
#ifdef _WIN32
    const std::vector<std::string> expected{"COM12", "COM15", "/dev/ttyACM0"};
#else
    const std::vector<std::string> expected{"COM12", "/dev/ttyACM0"};
#endif
    EXPECT_EQ(platform::PortsToOffer(listed, present), expected);
}

TEST(PortsToOfferTest, adds_the_ports_folders_aliases_last_on_linux)
{
    const std::vector<std::string> listed{"COM1", "COM2"};
    const std::vector<platform::PortAlias> aliases{
        {"COM2", "/dev/ttyUSB3", true}, {"FIX1", "/dev/ttyUSB0", true}, {"FIX2", "/dev/ttyUSB1", false}};
#ifdef _WIN32
    const std::vector<std::string> expected{"/dev/ttyACM0"};
#else
    const std::vector<std::string> expected{"/dev/ttyACM0", "FIX1", "FIX2"};
#endif
    EXPECT_EQ(platform::PortsToOffer(listed, {Port("/dev/ttyACM0", "acm")}, aliases), expected);
}

} // namespace
