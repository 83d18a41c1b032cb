#include "platform/SerialPorts.h"

#include <algorithm>
#include <iterator>
#include <memory>

#include <windows.h>

#include <devguid.h>
#include <setupapi.h>

#include "platform/win32/Win32Text.h"

namespace platform {

namespace {

using win32::Narrow;

struct KeyCloser
{
    void operator()(HKEY key) const { RegCloseKey(key); }
};
using CUniqueKey = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

struct DeviceListCloser
{
    void operator()(HDEVINFO list) const { SetupDiDestroyDeviceInfoList(list); }
};
using CUniqueDeviceList = std::unique_ptr<std::remove_pointer_t<HDEVINFO>, DeviceListCloser>;

// A REG_SZ value; empty when there is none.
std::wstring StringValue(HKEY key, const wchar_t* name)
{
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ)
        return {};
    std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
    size = static_cast<DWORD>(value.size() * sizeof(wchar_t));
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &size) !=
        ERROR_SUCCESS)
        return {};
    value.resize(wcsnlen(value.c_str(), value.size()));
    return value;
}

std::wstring DeviceProperty(HDEVINFO list, SP_DEVINFO_DATA& device, DWORD property)
{
    wchar_t buffer[1024] = {};
    DWORD type = 0;
    if (!SetupDiGetDeviceRegistryPropertyW(list, &device, property, &type, reinterpret_cast<BYTE*>(buffer),
                                           sizeof buffer - sizeof(wchar_t), nullptr))
        return {};
    return buffer; // a REG_MULTI_SZ gives its first string
}

std::optional<uint16_t> HexAfter(const std::wstring& text, const std::wstring& marker)
{
    const size_t at = text.find(marker);
    if (at == std::wstring::npos || at + marker.size() + 4 > text.size()) return std::nullopt;
    const std::wstring digits = text.substr(at + marker.size(), 4);
    if (digits.find_first_not_of(L"0123456789abcdefABCDEF") != std::wstring::npos) return std::nullopt;
    return static_cast<uint16_t>(std::wcstoul(digits.c_str(), nullptr, 16));
}

// The COM names in the system's serial-port map: what can be opened now.
std::vector<SerialPortInfo> DeviceMapPorts()
{
    std::vector<SerialPortInfo> ports;
    HKEY raw = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &raw) !=
        ERROR_SUCCESS)
        return ports;
    CUniqueKey key(raw);
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD nameLength = static_cast<DWORD>(std::size(name));
        wchar_t data[256] = {};
        DWORD dataSize = sizeof data - sizeof(wchar_t);
        DWORD type = 0;
        const LONG result = RegEnumValueW(key.get(), index, name, &nameLength, nullptr, &type,
                                          reinterpret_cast<BYTE*>(data), &dataSize);
        if (result == ERROR_NO_MORE_ITEMS) break;
        if (result != ERROR_SUCCESS || type != REG_SZ) continue;
        SerialPortInfo port;
        port.name = Narrow(data);
        port.source = Narrow(name);
        port.kind = "serial";
        ports.push_back(std::move(port));
    }
    return ports;
}

// What the Device Manager knows of each port, by its COM name.
void AddDeviceManagerDetails(std::vector<SerialPortInfo>& ports)
{
    CUniqueDeviceList list(SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT));
    if (list.get() == INVALID_HANDLE_VALUE) {
        list.release();
        return;
    }
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(list.get(), index, &device); ++index) {
        HKEY raw = SetupDiOpenDevRegKey(list.get(), &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (raw == INVALID_HANDLE_VALUE) continue;
        const CUniqueKey key(raw);
        const std::string comName = Narrow(StringValue(key.get(), L"PortName"));
        auto port = std::find_if(ports.begin(), ports.end(),
                                 [&](const SerialPortInfo& p) { return p.name == comName; });
        if (comName.empty() || port == ports.end()) continue;

        port->description = Narrow(DeviceProperty(list.get(), device, SPDRP_FRIENDLYNAME));
        port->manufacturer = Narrow(DeviceProperty(list.get(), device, SPDRP_MFG));
        port->driver = Narrow(DeviceProperty(list.get(), device, SPDRP_SERVICE));
        // FTDI's driver keeps the timer among the port's device parameters.
        DWORD latency = 0, type = 0, size = sizeof latency;
        if (RegQueryValueExW(key.get(), L"LatencyTimer", nullptr, &type, reinterpret_cast<BYTE*>(&latency),
                             &size) == ERROR_SUCCESS &&
            type == REG_DWORD && latency <= 255)
            port->latencyMs = latency;
        const std::wstring hardwareId = DeviceProperty(list.get(), device, SPDRP_HARDWAREID);
        port->vendorId = HexAfter(hardwareId, L"VID_");
        port->productId = HexAfter(hardwareId, L"PID_");
        if (port->vendorId) {
            port->kind = "usb";
            // A USB device's instance id ends in its serial number, unless Windows made one up
            // (then it holds '&').
            wchar_t instance[512] = {};
            if (SetupDiGetDeviceInstanceIdW(list.get(), &device, instance,
                                            static_cast<DWORD>(std::size(instance)), nullptr)) {
                const std::wstring id = instance;
                const std::wstring last = id.substr(id.find_last_of(L'\\') + 1);
                if (id.rfind(L"USB\\", 0) == 0 && last.find(L'&') == std::wstring::npos)
                    port->serialNumber = Narrow(last);
            }
        }
    }
}

} // namespace

std::vector<SerialPortInfo> ListSerialPorts()
{
    std::vector<SerialPortInfo> ports = DeviceMapPorts();
    AddDeviceManagerDetails(ports);
    std::sort(ports.begin(), ports.end(),
              [](const SerialPortInfo& a, const SerialPortInfo& b) { return PortNameLess(a.name, b.name); });
    return ports;
}

} // namespace platform
