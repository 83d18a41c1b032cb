#pragma once
// The application object: owns the one link and the one memory image, carries the two
// flags that gate every flash command, runs the whole program from its start-up hook,
// and provides the link services that keep both ends of the link at one speed.
#include <cstdint>
#include <string>

#include "commands/CommandContext.h"
#include "framework/WinApp.h"
#include "image/MotFile.h"
#include "link/SerialComm.h"
#include "loader/Result.h"
#include "platform/InstanceLock.h"
#include "platform/ProfileIni.h"

class CTorvaneApp : public CWinApp, public ICommandContext
{
public:
    CTorvaneApp();
    ~CTorvaneApp() override;

    BOOL InitInstance() override;

    // Link services.
    BOOL ApplyLinkState(CSerialComm& link, uint32_t baudRate, uint8_t byteSize, uint8_t parity,
                        uint8_t stopBits);
    uint32_t ChangeBaudRate(CSerialComm& link, uint32_t newRate, uint8_t byteSize, uint8_t parity,
                            uint8_t stopBits, unsigned messageId) override;
    void ReturnTo9600(CSerialComm& link);
    uint32_t TimeoutRecovery() override;
    // The ID flag as the status register's ID-check field tells it.
    void LearnIdState(const loader::StatusRegister& status) override;

    // What the commands reach through the application object.
    CSerialComm& CommandLink() override { return m_link; }
    CMotFile& CommandImage() override { return m_image; }
    LoadedFile& CommandLoadedFile() override { return m_loadedFile; }
    void SetIdPassed(BOOL passed) override { m_bIdPassed = passed; }
    uint32_t CommandPagePause() override;
    std::unique_ptr<IProgressWindow> StartProgress(const std::string& message, const std::string& title,
                                                   uint32_t upper) override;

    // The recovery chain runs as a loop, not as nested calls: a recovery requested while
    // one is already offering its baud-rate dialog is handed back to that one.
    BOOL RecoveryHandedBack() const override { return m_bRecoveryHandedBack; }
    void SetLinkOk(BOOL ok) override { m_bLinkOk = ok; }

    CSerialComm m_link;
    BOOL m_bIdPassed = FALSE;
    platform::CInstanceLock m_hMutex;
    // The command-line front end runs one process per panel at once: it leaves the lock alone.
    BOOL m_bSingleInstance = TRUE;
    BOOL m_bLinkOk = FALSE;
    // A time-out recovery cleared the ID flag (the panel was power-cycled): the main
    // panel then offers the ID check again instead of leaving only "Did not pass ID.".
    BOOL m_bIdLostInRecovery = FALSE;
    CMotFile m_image;
    LoadedFile m_loadedFile;
    const std::string& PortName() const { return m_strPortName; }

private:
    // After the technician has dealt with the time-out box the port is opened again, so a
    // replugged cable works (some drivers report a pulled adapter only as silence).
    void ReopenLink();

    std::string m_strPortName;
    int m_nRecoveryDepth = 0;
    BOOL m_bRecoveryHandedBack = FALSE;
    BOOL m_bReopenFailureShown = FALSE;
};

// The current application object as the program's own type.
CTorvaneApp& TheApp();
