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
#include "image/IdFile.h"
#include "image/MotFile.h"
#include "loader/Road.h"
#include "platform/Clock.h"
#include "platform/Paths.h"
#include "platform/SmallFile.h"
#include "res/Resource.h"
#include "shell/image/RefusalBox.h"
#include "upgrade/UpgradeFile.h"

namespace {

constexpr int kIdBytes = static_cast<int>(loader::kIdLength);
constexpr char kUpgradeFilter[] =
    "Motlora Hex File (*.s;*.mot)|*.s;*.mot|Boot Program (*.btp)|*.btp|All Files (*.*)|*.*|";

// Beside the settings file: its presence makes the windows check every upgrade's signature.
constexpr char kTrustedKeysFolder[] = "trusted-keys";

std::string DefaultIdText(int index)
{
    char text[4];
    std::snprintf(text, sizeof text, "%02X", loader::kDefaultId[static_cast<size_t>(index)]);
    return text;
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

BOOL CIDCheckDlg::LoadUpgradeFile(const std::string& path, upgrade::UpgradeSource* read)
{
    ICommandContext& app = CommandContext();
    CMotFile& image = app.CommandImage();
    app.CommandLoadedFile() = {path, std::nullopt, {}};
    // Read once, so that a record's digest is of the very bytes loaded.
    upgrade::UpgradeSource own;
    upgrade::UpgradeSource& source = read ? *read : own;
    source = upgrade::ReadUpgrade(path);
    upgrade::LoadPolicy policy;
    // A station that trusts keys loads only what they signed. An empty folder trusts no one.
    const platform::CPath folder = platform::SettingsFilePath().Parent() / kTrustedKeysFolder;
    policy.requireSignature = platform::IsDirectory(folder);
    if (policy.requireSignature) {
        for (const platform::CPath& file : platform::FilesIn(folder))
            policy.trustedKeyFiles.push_back(file.Utf8());
    } else if (!source.read) {
        // A file that cannot be read whole takes the reader's own way (and its file error).
        return image.LoadFile(path) ? TRUE : FALSE;
    }
    const upgrade::UpgradeVerdict verdict = upgrade::LoadUpgrade(source, policy, image);
    if (source.read) {
        app.CommandLoadedFile().size = static_cast<int64_t>(source.bytes.size());
        app.CommandLoadedFile().sha256 = source.sha256;
    }
    if (verdict.refusal && verdict.refusal->kind != upgrade::RefusalKind::Content)
        image.RefuseLoad({0, "not signed by a trusted key"});
    return verdict.Ok() ? TRUE : FALSE;
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

    upgrade::UpgradeSource source;
    if (!m_strFileName.empty()) {
        SetChipStyle(0);
        if (!LoadUpgradeFile(m_strFileName, &source)) ShowRefusalBox();
        // An image that reaches the last page of the 24-bit space is an M16C/80 one.
        uint8_t scratch[kPageSize];
        if (CommandContext().CommandImage().GetPage(scratch, 0xFFFF)) {
            SetChipStyle(1);
            UpdateData(FALSE);
        }
    }

    if (IdFileName(m_strFileName).empty()) {
        AfxMessageBox(IDS_CAN_NOT_ACCEPT_FILE, MB_ICONSTOP, this);
        ClearIdTexts();
        UpdateData(FALSE);
        return;
    }
    // The ID file as it was read with the upgrade, once; none at all is no error.
    if (source.idStatus != platform::SmallFileStatus::Ok) {
        ClearIdTexts();
        UpdateData(FALSE);
        return;
    }
    if (IdFileMarksStyle1(source.idBytes)) SetChipStyle(1);
    ShowIdTexts(source.idBytes);
    UpdateData(FALSE);
}

void CIDCheckDlg::ShowIdTexts(const std::string& idText)
{
    const unsigned firstKey = s_nChipStyle == 1 ? IDS_ID_KEY_STYLE1 : IDS_ID_KEY_STYLE0;
    IdFileKeys keys;
    for (size_t i = 0; i < kIdFileEntries; ++i)
        keys[i] = AfxLoadString(firstKey + static_cast<unsigned>(i));
    const IdFileTexts texts = ReadIdTexts(idText, keys);
    // A key the file does not hold keeps the text shown before.
    for (int i = 0; i < kIdBytes; ++i)
        if (!texts[static_cast<size_t>(i)].empty()) *IdText(i) = texts[static_cast<size_t>(i)];
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
