// The serial ports Linux knows of, read from a sysfs tree of our own making: adapters
// and real UARTs are listed with what the system says of them, the serial core's empty
// slots and the virtual terminals are not.
#include <gtest/gtest.h>

#include <fstream>
#include <unistd.h>

#include "platform/Paths.h"
#include "platform/SerialPorts.h"
#include "platform/posix/SysfsSerialPorts.h"

namespace fs = std::filesystem;

namespace {

class SysfsTree : public ::testing::Test
{
protected:
    SysfsTree() : m_root(fs::temp_directory_path() / ("torvane-sysfs-" + std::to_string(getpid())))
    {
        fs::remove_all(m_root);
    }
    ~SysfsTree() override { fs::remove_all(m_root); }

    fs::path Sys(const std::string& path) { return m_root / "sys" / path; }
    fs::path Dev(const std::string& path) { return m_root / "dev" / path; }

    void File(const fs::path& path, const std::string& text = {})
    {
        fs::create_directories(path.parent_path());
        std::ofstream(path) << text;
    }
    void Link(const fs::path& link, const fs::path& target)
    {
        fs::create_directories(link.parent_path());
        fs::create_directories(target);
        fs::create_symlink(target, link);
    }
    void Tty(const std::string& name, const fs::path& device, const std::string& subsystem,
             const std::string& driver)
    {
        Link(Sys("class/tty/" + name + "/device"), device);
        Link(device / "subsystem", Sys("bus/" + subsystem));
        if (!driver.empty()) Link(device / "driver", Sys("bus/" + subsystem + "/drivers/" + driver));
        File(Dev(name));
    }

    fs::path m_root;
};

TEST_F(SysfsTree, lists_adapters_and_real_uarts_with_their_usb_data_and_stable_names)
{
    const fs::path ftdi = Sys("devices/pci0000:00/0000:00:14.0/usb1/1-2");
    File(ftdi / "idVendor", "0403\n");
    File(ftdi / "idProduct", "6001\n");
    File(ftdi / "manufacturer", "FTDI\n");
    File(ftdi / "product", "FT232R USB UART\n");
    File(ftdi / "serial", "A50285BI\n");
    Tty("ttyUSB0", ftdi / "1-2:1.0/ttyUSB0", "usb-serial", "ftdi_sio");
    File(ftdi / "1-2:1.0/ttyUSB0/latency_timer", "16\n");
    fs::create_directories(Dev("serial/by-id"));
    fs::create_directories(Dev("serial/by-path"));
    fs::create_symlink("../../ttyUSB0", Dev("serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"));
    fs::create_symlink("../../ttyUSB0", Dev("serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0"));

    const fs::path uno = Sys("devices/pci0000:00/0000:00:14.0/usb1/1-3");
    File(uno / "idVendor", "2341\n");
    File(uno / "idProduct", "0043\n");
    File(uno / "1-3:1.0/interface", "CDC Abstract Control Model\n");
    Tty("ttyACM0", uno / "1-3:1.0", "usb", "cdc_acm");

    // A UART behind the serial core's port device (kernel 6.5 and later), and an empty slot.
    const fs::path pnp = Sys("devices/pnp0/00:04");
    Link(pnp / "driver", Sys("bus/pnp/drivers/serial"));
    Tty("ttyS0", pnp / "00:04:0/00:04:0.0", "serial-base", "port");
    Link(pnp / "00:04:0/subsystem", Sys("bus/serial-base"));
    File(Sys("class/tty/ttyS0/type"), "4\n");
    Tty("ttyS1", Sys("devices/platform/serial8250/serial8250:0/serial8250:0.1"), "serial-base", "port");
    File(Sys("class/tty/ttyS1/type"), "0\n");
    fs::create_directories(Sys("class/tty/tty0")); // a virtual terminal: no device
    File(Dev("tty0"));

    const std::vector<platform::SerialPortInfo> ports =
        platform::ScanSysfsSerialPorts(m_root / "sys", m_root / "dev");
    ASSERT_EQ(ports.size(), 3u);
    const platform::SerialPortInfo &acm = ports[0], &uart = ports[1], &usb = ports[2];

    EXPECT_EQ(usb.name, Dev("ttyUSB0").string());
    EXPECT_EQ(usb.kind, "usb");
    EXPECT_EQ(usb.vendorId, 0x0403);
    EXPECT_EQ(usb.productId, 0x6001);
    EXPECT_EQ(usb.manufacturer, "FTDI");
    EXPECT_EQ(usb.product, "FT232R USB UART");
    EXPECT_EQ(usb.description, "FT232R USB UART");
    EXPECT_EQ(usb.serialNumber, "A50285BI");
    EXPECT_EQ(usb.driver, "ftdi_sio");
    EXPECT_EQ(usb.latencyMs, 16u);
    EXPECT_EQ(platform::AdapterFamily(usb), "FTDI");
    EXPECT_EQ(usb.byId,
              (std::vector<std::string>{Dev("serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0")}));
    EXPECT_EQ(usb.byPath,
              (std::vector<std::string>{Dev("serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0")}));

    EXPECT_EQ(acm.name, Dev("ttyACM0").string());
    EXPECT_EQ(acm.kind, "acm");
    EXPECT_EQ(acm.vendorId, 0x2341);
    EXPECT_EQ(acm.description, "CDC Abstract Control Model");
    EXPECT_EQ(acm.driver, "cdc_acm");
    EXPECT_EQ(platform::AdapterFamily(acm), "CDC-ACM");
    EXPECT_FALSE(acm.latencyMs);
    EXPECT_TRUE(acm.byId.empty());

    EXPECT_EQ(uart.name, Dev("ttyS0").string());
    EXPECT_EQ(uart.kind, "serial");
    EXPECT_EQ(uart.driver, "serial");
    EXPECT_FALSE(uart.vendorId);
    EXPECT_EQ(platform::AdapterFamily(uart), "");

    // The port dialog adds the adapters after its own list, each once; the UART is COM1 already.
    const std::vector<std::string> listed{"COM1", "COM2", "COM10", Dev("TTYACM0").string()};
    EXPECT_EQ(platform::PortsToOffer(listed, ports), (std::vector<std::string>{usb.name}));
}

TEST(SerialPortsTest, names_sort_by_number_and_aliases_say_whether_their_device_is_there)
{
    EXPECT_TRUE(platform::PortNameLess("COM2", "COM10"));
    EXPECT_FALSE(platform::PortNameLess("COM10", "COM2"));
    EXPECT_TRUE(platform::PortNameLess("/dev/ttyUSB9", "/dev/ttyUSB10"));
    EXPECT_FALSE(platform::PortNameLess("COM3", "COM3"));

    fs::create_directories(platform::PortsDir());
    fs::create_symlink("/dev/null", platform::PortsDir() / "COM10");
    fs::create_symlink("/dev/torvane-no-such-adapter", platform::PortsDir() / "COM2");
    std::ofstream((platform::PortsDir() / "notes.txt").Native()) << "not an alias";
    const std::vector<platform::PortAlias> aliases = platform::ListPortAliases();
    fs::remove_all(platform::PortsDir());
    ASSERT_EQ(aliases.size(), 2u);
    EXPECT_EQ(aliases[0].name, "COM2");
    EXPECT_EQ(aliases[0].target, "/dev/torvane-no-such-adapter");
    EXPECT_FALSE(aliases[0].present);
    EXPECT_EQ(aliases[1].name, "COM10");
    EXPECT_TRUE(aliases[1].present);
}

} // namespace
