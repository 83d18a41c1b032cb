// libFuzzer target: any bytes as the ID file beside an upgrade file, read through the
// real "Load Upgrade File" dialog (Load pressed, the file chosen, the dialog closed).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "commands/CommandContext.h"
#include "framework/ScriptedHost.h"
#include "framework/WinApp.h"
#include "image/MotFile.h"
#include "res/Resource.h"
#include "shell/image/IDCheckDlg.h"

namespace {

// The application as the dialog sees it: an image and its file. Loading talks to no
// panel, so every link service stops the run.
class LoadOnlyApp : public CWinApp, public ICommandContext
{
public:
    CSerialComm& CommandLink() override { std::abort(); }
    CMotFile& CommandImage() override { return m_image; }
    LoadedFile& CommandLoadedFile() override { return m_loadedFile; }
    void SetIdPassed(BOOL) override { std::abort(); }
    uint32_t CommandPagePause() override { std::abort(); }
    std::unique_ptr<IProgressWindow> StartProgress(const std::string&, const std::string&, uint32_t) override
    {
        std::abort();
    }
    uint32_t TimeoutRecovery() override { std::abort(); }
    uint32_t ChangeBaudRate(CSerialComm&, uint32_t, uint8_t, uint8_t, uint8_t, unsigned) override
    {
        std::abort();
    }
    BOOL RecoveryHandedBack() const override { std::abort(); }
    void SetLinkOk(BOOL) override { std::abort(); }
    void LearnIdState(const loader::StatusRegister&) override { std::abort(); }

private:
    CMotFile m_image;
    LoadedFile m_loadedFile;
};

struct Bench
{
    Bench()
    {
        char pattern[] = "/tmp/fuzz-idfile-XXXXXX";
        if (!mkdtemp(pattern)) std::abort();
        dir = pattern;
        // One image inside the usual area, one that reaches the top page (the other key set).
        WriteText(dir + "/low.mot", "S0030000FC\nS2080F000001020304DE\nS804000000FB\n");
        WriteText(dir + "/top.mot", "S0030000FC\nS208FFFF0001020304EF\nS804000000FB\n");
        previousHost = SetHost(&host);
        host.onFailure = [](const std::string&) { std::abort(); };
    }
    ~Bench()
    {
        SetHost(previousHost);
        for (const char* name : {"/low.mot", "/top.mot", "/low.id", "/top.id"})
            unlink((dir + name).c_str());
        rmdir(dir.c_str());
    }

    static void WriteText(const std::string& path, const std::string& text)
    {
        WriteBytes(path, reinterpret_cast<const uint8_t*>(text.data()), text.size());
    }
    static void WriteBytes(const std::string& path, const uint8_t* data, size_t size)
    {
        FILE* file = std::fopen(path.c_str(), "wb");
        if (!file) std::abort();
        if (size) std::fwrite(data, 1, size, file);
        std::fclose(file);
    }

    std::string dir;
    CScriptedHost host;
    IHost* previousHost = nullptr;
    LoadOnlyApp app;
};

bool ValidIdText(const std::string& text)
{
    return text.empty() || text.size() == 2;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Bench bench;
    // The first byte picks the image, so both key sets (five- and six-digit) are read.
    const std::string base = bench.dir + (size && (data[0] & 1) ? "/top" : "/low");
    Bench::WriteBytes(base + ".id", data, size);

    bench.host.ClearRecords();
    bench.host.AnswerFileDialog(base + ".mot");
    bench.host.Expect(IDD_IDCHECK, CDialogScript().Press(IDC_LOAD).Escape());
    CIDCheckDlg::s_nChipStyle = 0;
    CIDCheckDlg dialog;
    if (dialog.DoModal() != IDCANCEL) std::abort();
    // The file exists and is readable: no box may appear, and every ID text is a byte's two digits or empty.
    if (!bench.host.MessageBoxes().empty()) std::abort();
    for (const std::string* text : {&dialog.m_strId1, &dialog.m_strId2, &dialog.m_strId3, &dialog.m_strId4,
                                    &dialog.m_strId5, &dialog.m_strId6, &dialog.m_strId7}) {
        if (!ValidIdText(*text)) std::abort();
        uint8_t byte = 0xFF;
        CIDCheckDlg::HexTextToByte(byte, *text);
    }
    if (bench.host.PendingScripts() != 0) std::abort();
    unlink((base + ".id").c_str());
    return 0;
}
