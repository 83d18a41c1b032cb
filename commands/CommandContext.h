#pragma once
// The application object as the commands and the windows' shells see it: the link, the
// image and the file loaded into it, the ID flag, the page pause, the progress window and
// the time-out recovery. The application implements it, so they reach it without
// depending on the layer above them.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/WinTypes.h"

class CSerialComm;
class CMotFile;
namespace loader {
struct StatusRegister;
}

// The upgrade file as it was read for the image: what a record names.
struct LoadedFile
{
    std::string name;
    std::optional<int64_t> size;
    std::string sha256; // of the very bytes loaded; empty when they were read line by line
};

// A progress window opened for one long command.
class IProgressWindow
{
public:
    virtual ~IProgressWindow() = default;
    virtual void SetPos(uint32_t position) = 0;
    // Pumps the waiting messages, then reads the window's cancel flag.
    virtual bool PumpAndCheckCancel() = 0;
    // Closes the window; nothing else may be called afterwards.
    virtual void Finish() = 0;
};

class ICommandContext
{
public:
    virtual ~ICommandContext() = default;
    virtual CSerialComm& CommandLink() = 0;
    virtual CMotFile& CommandImage() = 0;
    // What "Load Upgrade File" read into the image, and the flash ID flag it sets.
    virtual LoadedFile& CommandLoadedFile() = 0;
    virtual void SetIdPassed(BOOL passed) = 0;
    // The page pause of the programming loops, as "Set baudrate" holds it.
    virtual uint32_t CommandPagePause() = 0;
    virtual std::unique_ptr<IProgressWindow> StartProgress(const std::string& message,
                                                           const std::string& title, uint32_t upper) = 0;
    virtual uint32_t TimeoutRecovery() = 0;

    // The link services "Set baudrate" runs on: both ends moved to a rate, the link's
    // state flag, and the ID state the status register tells.
    virtual uint32_t ChangeBaudRate(CSerialComm& link, uint32_t newRate, uint8_t byteSize, uint8_t parity,
                                    uint8_t stopBits, unsigned messageId) = 0;
    // A recovery that met silence again while one was running was handed back to that one.
    virtual BOOL RecoveryHandedBack() const = 0;
    virtual void SetLinkOk(BOOL ok) = 0;
    virtual void LearnIdState(const loader::StatusRegister& status) = 0;
};

// The running application.
ICommandContext& CommandContext();
