#pragma once
// Shared by the image tests: a host that records message boxes, and scratch files.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

#include <gtest/gtest.h>

#include "framework/Host.h"

class CRecordingHost : public IHost
{
public:
    struct Box
    {
        CWnd* owner;
        std::string text;
        std::string caption;
        unsigned type;
    };

    INT_PTR RunModal(CDialog&) override { return IDCANCEL; }
    void EndModal(CDialog&, int) override {}
    bool CreateModeless(CDialog&, CWnd*) override { return false; }
    void DestroyWindow(CDialog&) override {}
    int MessageBox(CWnd* owner, const std::string& text, const std::string& caption, unsigned type) override
    {
        boxes.push_back({owner, text, caption, type});
        return IDOK;
    }
    std::optional<std::string> OpenFileDialog(CWnd*, const std::string&, unsigned) override
    {
        return std::nullopt;
    }
    void BeginWaitCursor() override {}
    void EndWaitCursor() override {}
    bool PeekMessage() override { return false; }
    bool PumpMessage() override { return true; }
    void PostQuitMessage(int) override {}
    CWnd* GetActiveWindow() override { return activeWindow; }

    std::vector<Box> boxes;
    CWnd* activeWindow = nullptr;
};

// One S-record line with a correct count and checksum.
inline std::string Record(int type, uint32_t address, const std::vector<uint8_t>& bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    const int addressBytes = type == 0 || type == 1 || type == 5 || type == 9 ? 2
                             : type == 2 || type == 8                         ? 3
                                                                              : 4;
    std::vector<uint8_t> body;
    body.push_back(static_cast<uint8_t>(addressBytes + bytes.size() + 1));
    for (int i = addressBytes - 1; i >= 0; --i)
        body.push_back(static_cast<uint8_t>(address >> (8 * i)));
    body.insert(body.end(), bytes.begin(), bytes.end());
    uint8_t sum = 0;
    for (uint8_t b : body)
        sum = static_cast<uint8_t>(sum + b);
    body.push_back(static_cast<uint8_t>(~sum));
    std::string line = "S" + std::to_string(type);
    for (uint8_t b : body) {
        line += digits[b >> 4];
        line += digits[b & 15];
    }
    return line;
}

inline std::vector<uint8_t> Counting(size_t count, uint8_t first = 0)
{
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<uint8_t>(first + i);
    return bytes;
}

// Installs the recording host and gives each test its own scratch folder.
class ImageTest : public testing::Test
{
protected:
    void SetUp() override
    {
        m_previousHost = SetHost(&m_host);
        const auto* info = testing::UnitTest::GetInstance()->current_test_info();
        m_dir = std::filesystem::temp_directory_path() /
                (std::string("torvane-image-") + std::to_string(getpid()) + "-" + info->test_suite_name() +
                 "-" + info->name());
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
    }
    void TearDown() override
    {
        SetHost(m_previousHost);
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }

    std::string WriteFile(const std::string& name, const std::string& content)
    {
        const auto path = m_dir / name;
        std::ofstream(path, std::ios::binary) << content;
        return path.string();
    }

    CRecordingHost m_host;
    IHost* m_previousHost = nullptr;
    std::filesystem::path m_dir;
};
