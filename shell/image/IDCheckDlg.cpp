#include "shell/image/IDCheckDlg.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <span>
#include <vector>

#include "commands/CommandContext.h"
#include "framework/FileDialog.h"
#include "framework/Host.h"
#include "framework/WaitCursor.h"
#include "image/IntelHexReader.h"
#include "image/MotFile.h"
#include "image/UpgradeFormat.h"
#include "loader/Road.h"
#include "platform/Clock.h"
#include "platform/Paths.h"
#include "platform/ReleaseSignature.h"
#include "platform/Sha256.h"
#include "platform/SmallFile.h"
#include "platform/TextFile.h"
#include "res/Resource.h"
#include "shell/image/RefusalBox.h"

namespace {

constexpr int kIdBytes = static_cast<int>(loader::kIdLength);
constexpr char kStyle1Mark[] = "FFFFDF";
constexpr char kUpgradeFilter[] =
    "Motlora Hex File (*.s;*.mot)|*.s;*.mot|Boot Program (*.btp)|*.btp|All Files (*.*)|*.*|";

// Beside the settings file: its presence makes the windows check every upgrade's signature.
constexpr char kTrustedKeysFolder[] = "trusted-keys";
// Far above any upgrade for the 16 MiB address space.
constexpr size_t kLargestUpgrade = 64 * 1024 * 1024;

bool ReadWhole(const std::string& path, std::string& bytes)
{
    try {
        uint64_t size = 0;
        const platform::UniqueFile file = platform::OpenRegularFile(platform::CPath::FromUtf8(path), size);
        if (!file) return false;
        char chunk[64 * 1024];
        for (;;) {
            const size_t got = std::fread(chunk, 1, sizeof chunk, file.get());
            if (bytes.size() + got > kLargestUpgrade) return false;
            bytes.append(chunk, got);
            if (got < sizeof chunk) return !std::ferror(file.get());
        }
    } catch (const CFileException&) {
        return false;
    }
}

std::string DefaultIdText(int index)
{
    char text[4];
    std::snprintf(text, sizeof text, "%02X", loader::kDefaultId[static_cast<size_t>(index)]);
    return text;
}

bool EndsWith(const std::string& text, const std::string& tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

} // namespace

int CIDCheckDlg::s_nChipStyle = 0;

CIDCheckDlg::CIDCheckDlg(CWnd* parent) : CDialog(IDD_IDCHECK, parent), m_nChipStyle(s_nChipStyle)
{
    OnCommandId(IDC_LOAD, [this] { OnLoad(); });
}

void CIDCheckDlg::DoDataExchange(CDataExchange* pDX)
{
    CDialog::DoDataExchange(pDX);
    DDX_Text(pDX, IDC_FILENAME, m_strFileName);
    for (int i = 0; i < kIdBytes; ++i)
        DDX_Text(pDX, IDC_ID1 + i, *IdText(i));
    DDX_Radio(pDX, IDC_CHIP_2062, m_nChipStyle);
}

std::string* CIDCheckDlg::IdText(int index)
{
    std::string* texts[kIdBytes] = {&m_strId1, &m_strId2, &m_strId3, &m_strId4,
                                    &m_strId5, &m_strId6, &m_strId7};
    return texts[index];
}

void CIDCheckDlg::SetChipStyle(int style)
{
    s_nChipStyle = style;
    m_nChipStyle = style;
}

void CIDCheckDlg::ClearIdTexts()
{
    for (int i = 0; i < kIdBytes; ++i)
        IdText(i)->clear();
}

BOOL CIDCheckDlg::LoadUpgradeFile(const std::string& path)
{
    ICommandContext& app = CommandContext();
    CMotFile& image = app.CommandImage();
    app.CommandLoadedFile() = {path, std::nullopt, {}};
    const platform::CPath folder = platform::SettingsFilePath().Parent() / kTrustedKeysFolder;
    if (!platform::IsDirectory(folder)) {
        // Read once, so that a record's digest is of the very bytes loaded; a file that
        // cannot be read whole takes the reader's own way (and its refusal).
        std::string bytes;
        if (!ReadWhole(path, bytes)) return image.LoadFile(path) ? TRUE : FALSE;
        return LoadReadBytes(bytes);
    }

    // A station that trusts keys loads only what they signed: the file is read once and
    // the signature checked over the very bytes that are loaded. An empty folder trusts
    // no one.
    std::vector<std::string> keyFiles;
    for (const platform::CPath& file : platform::FilesIn(folder))
        keyFiles.push_back(file.Utf8());
    std::vector<platform::TrustedKey> keys;
    std::string bytes;
    if (platform::ReadTrustedKeys(keyFiles, keys) || !ReadWhole(path, bytes) ||
        !platform::VerifyDetachedSignature({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()},
                                           path, keys)
             .Accepted()) {
        image.RefuseLoad({0, "not signed by a trusted key"});
        return FALSE;
    }
    return LoadReadBytes(bytes);
}

BOOL CIDCheckDlg::LoadReadBytes(const std::string& bytes)
{
    ICommandContext& app = CommandContext();
    CMotFile& image = app.CommandImage();
    LoadedFile& loaded = app.CommandLoadedFile();
    loaded.size = static_cast<int64_t>(bytes.size());
    loaded.sha256 = platform::Sha256Of(bytes);
    const std::span<const uint8_t> content(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    if (JudgeUpgradeFormat(content, std::nullopt) != UpgradeFormat::IntelHex)
        return image.LoadBytes(bytes) ? TRUE : FALSE;
    if (auto refusal = LoadIntelHex(content, image)) {
        image.RefuseLoad(*refusal);
        return FALSE;
    }
    return TRUE;
}

std::string CIDCheckDlg::IdFileName(const std::string& path)
{
    for (const char* extension : {".mot", ".s", ".btp"}) {
        if (EndsWith(path, extension))
            return path.substr(0, path.size() - std::string(extension).size()) + ".id";
    }
    return {};
}

void CIDCheckDlg::OnLoad()
{
    UpdateData(TRUE);
    s_nChipStyle = m_nChipStyle;

    CFileDialog fileDialog(TRUE, nullptr, nullptr, OFN_FILEMUSTEXIST | OFN_HIDEREADONLY, kUpgradeFilter,
                           this);
    if (fileDialog.DoModal() != IDOK) return;
    m_strFileName = fileDialog.GetPathName();
    UpdateData(FALSE);

    if (!m_strFileName.empty()) {
        SetChipStyle(0);
        if (!LoadUpgradeFile(m_strFileName)) ShowRefusalBox();
        // An image that reaches the last page of the 24-bit space is an M16C/80 one.
        uint8_t scratch[kPageSize];
        if (CommandContext().CommandImage().GetPage(scratch, 0xFFFF)) {
            SetChipStyle(1);
            UpdateData(FALSE);
        }
    }

    const std::string idFile = IdFileName(m_strFileName);
    if (idFile.empty()) {
        AfxMessageBox(IDS_CAN_NOT_ACCEPT_FILE, MB_ICONSTOP, this);
        ClearIdTexts();
        UpdateData(FALSE);
        return;
    }
    if (!MarkStyleFromIdFile(idFile)) {
        ClearIdTexts();
        UpdateData(FALSE);
        return;
    }
    if (!ReadIdTexts(idFile)) {
        AfxMessageBox(IDS_NO_ID_FILE, MB_ICONEXCLAMATION, this);
        return;
    }
    UpdateData(FALSE);
}

bool CIDCheckDlg::MarkStyleFromIdFile(const std::string& idFile)
{
    try {
        platform::CSmallTextFile file;
        file.Open(platform::CPath::FromUtf8(idFile));
        std::string line;
        while (file.ReadLine(line)) {
            if (line.compare(0, 6, kStyle1Mark) == 0) SetChipStyle(1);
        }
    } catch (const CFileException&) {
        return false;
    }
    return true;
}

bool CIDCheckDlg::ReadIdTexts(const std::string& idFile)
{
    try {
        platform::CSmallTextFile file;
        file.Open(platform::CPath::FromUtf8(idFile));
        const unsigned firstKey = s_nChipStyle == 1 ? IDS_ID_KEY_STYLE1 : IDS_ID_KEY_STYLE0;
        const size_t keyLength = s_nChipStyle == 1 ? 6 : 5;
        std::string keys[kIdBytes];
        for (int i = 0; i < kIdBytes; ++i)
            keys[i] = AfxLoadString(firstKey + static_cast<unsigned>(i));
        std::string line;
        while (file.ReadLine(line)) {
            if (line.size() < keyLength) continue;
            for (int i = 0; i < kIdBytes; ++i) {
                if (line.compare(0, keyLength, keys[i]) == 0) {
                    *IdText(i) = line.substr(line.size() - 2);
                    break;
                }
            }
        }
    } catch (const CFileException&) {
        return false;
    }
    return true;
}

void CIDCheckDlg::OnOK()
{
    CWaitCursor wait;
    UpdateData(TRUE);
    SetChipStyle(0);
    if (m_strFileName.empty()) {
        AfxMessageBox(IDS_NO_FILENAME, MB_ICONEXCLAMATION, this);
        return;
    }
    // Loaded once: what is programmed is what was loaded here, even if the file is replaced
    // while the ID is checked. A refused file keeps the dialog open with nothing sent.
    if (!LoadUpgradeFile(m_strFileName)) {
        ShowRefusalBox();
        return;
    }

    ICommandContext& app = CommandContext();
    loader::CEngine engine(app.CommandLink());
    loader::RunReport report;
    engine.DiscardStaleInput();
    loader::StatusRegister status;
    if (!loader::ReadStatus(engine, report, status).Ok()) {
        app.TimeoutRecovery();
        status = {};
    }

    if (status.IdVerified()) {
        app.SetIdPassed(TRUE);
        EndDialog(IDOK);
        return;
    }

    // The ID file's texts are shown, but the code sent is the fixed default.
    for (int i = 0; i < kIdBytes; ++i)
        *IdText(i) = DefaultIdText(i);
    loader::StatusRegister after;
    const loader::Result checked = loader::CheckId(engine, report, after);
    m_nIdVerdict = checked.Ok() ? 1 : checked.outcome == loader::Outcome::DeviceError ? 0 : -1;

    switch (CheckIdStatus()) {
    case 0:
        app.SetIdPassed(FALSE);
        AfxMessageBox(IDS_NOT_MATCH_ID, MB_ICONEXCLAMATION, this);
        return;
    case -1:
        // Nobody confirmed the ID: the flag stays as the recovery's baud-rate setting
        // found it in the status register, and the dialog stays open so that OK, once
        // the panel is back, checks the ID again.
        app.TimeoutRecovery();
        return;
    default:
        app.SetIdPassed(TRUE);
        break;
    }
    EndDialog(IDOK);
}

int CIDCheckDlg::CheckIdStatus()
{
    return m_nIdVerdict;
}

BOOL CIDCheckDlg::HexTextToByte(uint8_t& place, const std::string& text)
{
    if (text.size() < 2 || CMotFile::HexCharValue(text[0]) == 0xFF || CMotFile::HexCharValue(text[1]) == 0xFF)
        return FALSE;
    uint8_t value = 0;
    for (char c : text) {
        const uint8_t digit = CMotFile::HexCharValue(c);
        if (digit == 0xFF) break;
        value = static_cast<uint8_t>(value * 16 + digit);
    }
    place = value;
    return TRUE;
}
