#include "framework/Dialog.h"

#include <algorithm>

#include "framework/FileError.h"
#include "framework/Host.h"

namespace {

// A dialog whose template is unknown still gets a window: an empty one with its id.
const DialogTemplate* EmptyTemplate(int templateId)
{
    static std::map<int, std::unique_ptr<DialogTemplate>> empties;
    auto& slot = empties[templateId];
    if (!slot) {
        slot = std::make_unique<DialogTemplate>();
        slot->id = templateId;
    }
    return slot.get();
}

bool IsPushButton(const CControl& control)
{
    return control.Kind() == ControlKind::PushButton || control.Kind() == ControlKind::DefPushButton;
}

} // namespace

CDialog::CDialog(int templateId, CWnd* parent)
    : m_nTemplateId(templateId), m_pTemplate(nullptr), m_pParentWnd(parent)
{
    BindTemplate(templateId);
}

CDialog::CDialog(const DialogTemplate& tmpl, CWnd* parent)
    : m_nTemplateId(tmpl.id), m_pTemplate(&tmpl), m_pParentWnd(parent)
{
    m_strText = tmpl.caption;
    m_bVisible = FALSE;
    BuildControls();
}

CDialog::~CDialog()
{
    // A window must not outlive its object: the host would keep a dangling pointer.
    if (m_bWindowExists) Host().DestroyWindow(*this);
    m_bWindowExists = FALSE;
}

void CDialog::BindTemplate(int templateId)
{
    const DialogTemplate* tmpl = FindDialogTemplate(templateId);
    m_nTemplateId = templateId;
    m_pTemplate = tmpl ? tmpl : EmptyTemplate(templateId);
    m_strText = m_pTemplate->caption;
    m_bVisible = FALSE;
    BuildControls();
}

void CDialog::BuildControls()
{
    m_controls.clear();
    for (const ControlTemplate& line : m_pTemplate->controls) {
        if (line.id == IDC_STATIC || m_controls.count(line.id)) continue;
        m_controls.emplace(line.id, std::make_unique<CControl>(*this, line));
    }
}

INT_PTR CDialog::DoModal()
{
    return Host().RunModal(*this);
}

BOOL CDialog::Create(int templateId, CWnd* parent)
{
    if (m_bWindowExists) return FALSE;
    if (templateId != m_nTemplateId) BindTemplate(templateId);
    if (parent) m_pParentWnd = parent;
    return Host().CreateModeless(*this, parent) ? TRUE : FALSE;
}

BOOL CDialog::DestroyWindow()
{
    if (!m_bWindowExists) return FALSE;
    Host().DestroyWindow(*this);
    m_bWindowExists = FALSE;
    m_pPeer = nullptr;
    PostNcDestroy();
    return TRUE;
}

void CDialog::EndDialog(int result)
{
    m_nModalResult = result;
    m_bEnded = TRUE;
    if (m_bModal && m_bWindowExists) Host().EndModal(*this, result);
}

BOOL CDialog::UpdateData(BOOL saveAndValidate)
{
    CDataExchange dx(this, saveAndValidate);
    DoDataExchange(&dx);
    return TRUE;
}

BOOL CDialog::OnInitDialog()
{
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK()
{
    if (!UpdateData(TRUE)) return;
    EndDialog(IDOK);
}

void CDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}

void CDialog::OnCommand(int id)
{
    try {
        auto handler = m_handlers.find(id);
        if (handler != m_handlers.end()) {
            // A copy: the handler may replace itself or end the object's life.
            auto run = handler->second;
            run();
        } else if (id == IDOK) {
            OnOK();
        } else if (id == IDCANCEL) {
            OnCancel();
        }
    } catch (const CFileException& error) {
        AfxReportFileError(error, this);
    }
}

void CDialog::PressEnter(int focusedButtonId)
{
    if (focusedButtonId != 0) {
        const CControl* focused = GetDlgItem(focusedButtonId);
        if (focused && IsPushButton(*focused)) {
            if (focused->IsWindowEnabled() && focused->IsWindowVisible()) OnCommand(focusedButtonId);
            return;
        }
    }
    if (const int defId = GetDefID()) {
        // A disabled default button swallows Enter instead of letting IDOK through.
        const CControl* def = GetDlgItem(defId);
        if (def && def->IsWindowEnabled() && def->IsWindowVisible()) OnCommand(defId);
        return;
    }
    OnCommand(IDOK);
}

void CDialog::PressEscape()
{
    OnCommand(IDCANCEL);
}

void CDialog::PressCloseBox()
{
    OnCommand(IDCANCEL);
}

CControl* CDialog::GetDlgItem(int id)
{
    auto it = m_controls.find(id);
    return it == m_controls.end() ? nullptr : it->second.get();
}

const CControl* CDialog::GetDlgItem(int id) const
{
    auto it = m_controls.find(id);
    return it == m_controls.end() ? nullptr : it->second.get();
}

std::string CDialog::GetDlgItemText(int id) const
{
    const CControl* control = GetDlgItem(id);
    return control ? control->GetWindowText() : std::string();
}

void CDialog::SetDlgItemText(int id, const std::string& text)
{
    if (CControl* control = GetDlgItem(id)) control->SetWindowText(text);
}

int CDialog::GetDefID() const
{
    for (const ControlTemplate& line : m_pTemplate->controls)
        if (line.kind == ControlKind::DefPushButton && line.id != IDC_STATIC) return line.id;
    return 0;
}

CMenu* CDialog::GetSystemMenu(BOOL revert)
{
    if (revert) {
        m_systemMenu = CMenu();
        return nullptr;
    }
    return &m_systemMenu;
}

std::vector<int> CDialog::RadioGroup(int id) const
{
    const auto& lines = m_pTemplate->controls;
    size_t at = lines.size();
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i].id == id && id != IDC_STATIC) {
            at = i;
            break;
        }
    if (at == lines.size() || lines[at].kind != ControlKind::RadioButton) return {};
    size_t first = at;
    while (first > 0 && !(lines[first].style & CS_GROUP))
        --first;
    std::vector<int> group;
    for (size_t i = first; i < lines.size(); ++i) {
        if (i > first && (lines[i].style & CS_GROUP)) break;
        if (lines[i].kind == ControlKind::RadioButton && lines[i].id != IDC_STATIC)
            group.push_back(lines[i].id);
    }
    return group;
}

void CDialog::StateChanged()
{
    if (m_pPeer) m_pPeer->WindowChanged();
}

void CProgressCtrl::SetRange16(uint16_t lower, uint16_t upper)
{
    if (m_pControl) m_pControl->SetRange(lower, upper);
}

int CProgressCtrl::SetPos(int position)
{
    return m_pControl ? m_pControl->SetPos(position) : 0;
}

int CProgressCtrl::GetPos() const
{
    return m_pControl ? m_pControl->GetPos() : 0;
}

void DDX_Text(CDataExchange* pDX, int id, std::string& value)
{
    CControl* control = pDX->m_pDlgWnd->GetDlgItem(id);
    if (!control) return;
    if (pDX->m_bSaveAndValidate)
        value = control->GetWindowText();
    else
        control->SetWindowText(value);
}

void DDX_CBString(CDataExchange* pDX, int id, std::string& value)
{
    CControl* control = pDX->m_pDlgWnd->GetDlgItem(id);
    if (!control) return;
    if (pDX->m_bSaveAndValidate) {
        value = control->GetWindowText();
        return;
    }
    const int index = control->FindString(-1, value);
    if (index >= 0) {
        control->SetCurSel(index);
    } else if (control->Kind() != ControlKind::ComboDropList) {
        // A list-only combo cannot show a text that is not in its list.
        control->SetCurSel(-1);
        control->SetWindowText(value);
    }
}

void DDX_Radio(CDataExchange* pDX, int firstId, int& value)
{
    CDialog* dialog = pDX->m_pDlgWnd;
    // The group runs from firstId to the next group start, as in the template.
    std::vector<int> group = dialog->RadioGroup(firstId);
    auto self = std::find(group.begin(), group.end(), firstId);
    group.erase(group.begin(), self);
    if (pDX->m_bSaveAndValidate) {
        value = -1;
        for (size_t i = 0; i < group.size(); ++i)
            if (dialog->GetDlgItem(group[i])->GetCheck()) {
                value = static_cast<int>(i);
                break;
            }
        return;
    }
    for (size_t i = 0; i < group.size(); ++i)
        dialog->GetDlgItem(group[i])->SetCheck(static_cast<int>(i) == value ? 1 : 0);
}

void DDX_Control(CDataExchange* pDX, int id, CProgressCtrl& control)
{
    control.Attach(pDX->m_pDlgWnd->GetDlgItem(id));
}
