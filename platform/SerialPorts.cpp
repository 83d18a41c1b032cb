#include "platform/SerialPorts.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "platform/Paths.h"

namespace platform {

namespace fs = std::filesystem;

namespace {

bool SameNameNoCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

bool IsDigit(char c)
{
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

} // namespace

std::string AdapterFamily(const SerialPortInfo& port)
{
    // The vendor first (a driver may serve other chips), the drivers of both systems after.
    struct Family
    {
        uint16_t vendor;
        const char* name;
        std::vector<const char*> drivers;
    };
    static const std::vector<Family> kFamilies = {
        {0x0403, "FTDI", {"ftdi_sio", "FTDIBUS", "FTSER2K"}},
        {0x10C4, "CP210x", {"cp210x", "silabser"}},
        {0x1A86, "CH34x", {"ch341", "CH341SER_A64", "CH341SER"}},
        {0x067B, "PL2303", {"pl2303", "Ser2pl", "Ser2pl64"}},
    };
    for (const Family& family : kFamilies)
        if (port.vendorId == family.vendor) return family.name;
    for (const Family& family : kFamilies)
        for (const char* driver : family.drivers)
            if (SameNameNoCase(port.driver, driver)) return family.name;
    if (port.kind == "acm" || SameNameNoCase(port.driver, "cdc_acm") || SameNameNoCase(port.driver, "usbser"))
        return "CDC-ACM";
    return {};
}

bool PortNameLess(const std::string& a, const std::string& b)
{
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            size_t endA = i, endB = j;
            while (endA < a.size() && IsDigit(a[endA]))
                ++endA;
            while (endB < b.size() && IsDigit(b[endB]))
                ++endB;
            const std::string numberA = a.substr(i, endA - i), numberB = b.substr(j, endB - j);
            const size_t skipA = std::min(numberA.find_first_not_of('0'), numberA.size());
            const size_t skipB = std::min(numberB.find_first_not_of('0'), numberB.size());
            const std::string digitsA = numberA.substr(skipA), digitsB = numberB.substr(skipB);
            if (digitsA.size() != digitsB.size()) return digitsA.size() < digitsB.size();
            if (digitsA != digitsB) return digitsA < digitsB;
            i = endA;
            j = endB;
            continue;
        }
        if (a[i] != b[j]) return a[i] < b[j];
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

std::vector<PortAlias> ListPortAliases()
{
    std::vector<PortAlias> aliases;
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator(PortsDir().Native(), ec)) {
        if (!entry.is_symlink(ec)) continue;
        PortAlias alias;
        alias.name = CPath(entry.path()).FileName();
        alias.target = CPath(fs::read_symlink(entry.path(), ec)).Utf8();
        alias.present = fs::exists(entry.path(), ec);
        aliases.push_back(std::move(alias));
    }
    std::sort(aliases.begin(), aliases.end(),
              [](const PortAlias& a, const PortAlias& b) { return PortNameLess(a.name, b.name); });
    return aliases;
}

std::vector<std::string> PortsToOffer(const std::vector<std::string>& listed,
                                      const std::vector<SerialPortInfo>& present,
                                      const std::vector<PortAlias>& aliases)
{
    std::vector<std::string> offer;
    auto known = [&](const std::string& name) {
        auto same = [&](const std::string& other) { return SameNameNoCase(name, other); };
        return std::any_of(listed.begin(), listed.end(), same) ||
               std::any_of(offer.begin(), offer.end(), same);
    };
    for (const SerialPortInfo& port : present) {
#ifndef _WIN32
        // A machine's own UARTs are reached as COM1.. already; adapters come and go.
        if (port.kind != "usb" && port.kind != "acm") continue;
#endif
        if (!port.name.empty() && !known(port.name)) offer.push_back(port.name);
    }
#ifndef _WIN32
    // Offered whether or not the adapter is in: the name opens it once it is, and says
    // "not found" meanwhile.
    for (const PortAlias& alias : aliases)
        if (!alias.name.empty() && !known(alias.name)) offer.push_back(alias.name);
#else
    (void)aliases; // Windows has no ports folder
#endif
    return offer;
}

} // namespace platform
