#include "link/IoController.h"

CIoController::~CIoController()
{
    CIoController::Close();
}

BOOL CIoController::Open(const std::string& name)
{
    // The device is held exclusively, by this object too; the open link stays as it is.
    if (m_hDevice) {
        m_lastOpenError = platform::OpenError::InUse;
        return FALSE;
    }
    platform::OpenError error = platform::OpenError::None;
    std::unique_ptr<platform::ISerialDriver> device = platform::OpenSerialDriver(name, error);
    m_lastOpenError = error;
    if (!device) return FALSE;
    m_hDevice = std::move(device);
    m_strDevice = name;
    return TRUE;
}

BOOL CIoController::Close()
{
    if (!m_hDevice) return TRUE;
    m_hDevice.reset();
    m_strDevice.clear();
    return TRUE;
}

BOOL CIoController::IsOpen() const
{
    return m_hDevice != nullptr;
}
