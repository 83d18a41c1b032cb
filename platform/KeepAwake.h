#pragma once
// While a panel is being flashed the computer must not go to sleep: a panel cut off
// half-way through its erase or program is a panel that does not start. Held by the
// thread that flashes, for as long as it flashes.
namespace platform {

class CKeepAwake
{
public:
    CKeepAwake();
    ~CKeepAwake();
    CKeepAwake(const CKeepAwake&) = delete;
    CKeepAwake& operator=(const CKeepAwake&) = delete;
};

} // namespace platform
