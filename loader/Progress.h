#pragma once
// What a front end hears while the engine works: pages done, a call at least every
// 100 ms through every long wait, the moment a reply fails to come, and its stop.
#include <cstdint>

namespace loader {

class IProgress
{
public:
    virtual ~IProgress() = default;

    // Before the first page of a range: how many pages it will send or read.
    virtual void OnStart(uint32_t totalPages) {}
    // After each page of a range: `done` of `total` pages; `address` is the page's.
    virtual void OnPage(uint32_t done, uint32_t total, uint32_t address) {}
    // Read between pages: true stops the range before its next page.
    virtual bool Cancelled() { return false; }
    // During every wait for the boot loader (a reply, a pause), at least every 100 ms.
    virtual void OnWait() {}
    // A reply did not come whole (silence, a line error, a lost port) in an exchange that
    // runs with a time-out of its own (the erase's status, a page's status, a page read),
    // called while that time-out is still in force, before the engine restores the usual one.
    virtual void OnNoReply() {}
};

} // namespace loader
