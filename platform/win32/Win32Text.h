#pragma once
// UTF-8 inside the program, UTF-16 at the Win32 API: the one place that converts,
// and the one place that turns an error code into words.
#include <string>

#include <windows.h>

namespace platform::win32 {

std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& utf16);
// The system's text for a GetLastError() code, on one line, with the code.
std::string ErrorText(DWORD code);
// One argument quoted as the C runtime's command-line parser reads it back.
std::wstring QuoteArgument(const std::wstring& arg);

// Owns one kernel handle (file, mutex, event); the invalid value is a template
// parameter because CreateFileW and CreateMutexW fail with different ones.
template <HANDLE (*Invalid)()> class CUniqueHandle
{
public:
    CUniqueHandle() = default;
    explicit CUniqueHandle(HANDLE handle) : m_handle(handle) {}
    ~CUniqueHandle() { Reset(); }
    CUniqueHandle(CUniqueHandle&& other) noexcept : m_handle(other.Release()) {}
    CUniqueHandle& operator=(CUniqueHandle&& other) noexcept
    {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    CUniqueHandle(const CUniqueHandle&) = delete;
    CUniqueHandle& operator=(const CUniqueHandle&) = delete;

    HANDLE Get() const { return m_handle; }
    bool Valid() const { return m_handle != Invalid(); }
    HANDLE Release()
    {
        HANDLE handle = m_handle;
        m_handle = Invalid();
        return handle;
    }
    void Reset(HANDLE handle = Invalid())
    {
        if (Valid()) CloseHandle(m_handle);
        m_handle = handle;
    }

private:
    HANDLE m_handle = Invalid();
};

inline HANDLE InvalidFileHandle()
{
    return INVALID_HANDLE_VALUE;
}
inline HANDLE NullHandle()
{
    return nullptr;
}
using CFileHandle = CUniqueHandle<InvalidFileHandle>; // CreateFileW
using CKernelHandle = CUniqueHandle<NullHandle>;      // CreateMutexW, CreateEventW

} // namespace platform::win32
