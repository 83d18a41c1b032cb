#pragma once
// Dialogs built from templates, with data exchange by control id, command handlers by
// control id, modal runs and one modeless window kind.
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "framework/Wnd.h"

class CDataExchange
{
public:
    CDataExchange(CDialog* dialog, BOOL saveAndValidate)
        : m_bSaveAndValidate(saveAndValidate), m_pDlgWnd(dialog)
    {
    }
    BOOL m_bSaveAndValidate; // TRUE: controls -> fields
    CDialog* m_pDlgWnd;
};

class CProgressCtrl;

class CDialog : public CWnd
{
public:
    explicit CDialog(int templateId, CWnd* parent = nullptr);
    // A dialog on a template that is not among the program's own (tests, tools).
    explicit CDialog(const DialogTemplate& tmpl, CWnd* parent = nullptr);
    ~CDialog() override;

    // Runs the dialog modally through the host; IDOK, IDCANCEL or what EndDialog gave.
    virtual INT_PTR DoModal();
    // Creates the dialog as a modeless window (shown only if its template says visible).
    BOOL Create(int templateId, CWnd* parent = nullptr);
    // Destroys the window (modal or modeless); then PostNcDestroy runs.
    BOOL DestroyWindow();
    // TRUE while the window exists (between creation and destruction).
    BOOL IsWindow() const { return m_bWindowExists; }
    void EndDialog(int result);

    BOOL UpdateData(BOOL saveAndValidate = TRUE);
    virtual void DoDataExchange(CDataExchange* pDX) {}
    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();
    virtual void PostNcDestroy() {}
    virtual void OnSysCommand(unsigned id, long lParam) {}

    // Dispatches a command (a button press) by control id: a registered handler, else
    // IDOK -> OnOK and IDCANCEL -> OnCancel. A file error escaping a handler is reported
    // by the framework and the dialog stays open.
    void OnCommand(int id);
    // Keyboard and frame: Enter presses the default button (or sends IDOK when there is
    // none); Escape and the close box send IDCANCEL. A disabled button is not pressed.
    void PressEnter(int focusedButtonId = 0);
    void PressEscape();
    void PressCloseBox();

    CControl* GetDlgItem(int id);
    const CControl* GetDlgItem(int id) const;
    std::string GetDlgItemText(int id) const;
    void SetDlgItemText(int id, const std::string& text);
    // Id of the template's default push button, or 0.
    int GetDefID() const;

    CMenu* GetSystemMenu(BOOL revert);
    void SetIcon(int iconId, BOOL big) { m_nIconId = iconId; }
    int GetIconId() const { return m_nIconId; }
    // Ids of the radio buttons in the group that holds id, in template order.
    std::vector<int> RadioGroup(int id) const;

    int GetTemplateId() const { return m_nTemplateId; }
    const DialogTemplate& Template() const { return *m_pTemplate; }
    CWnd* GetParent() const { return m_pParentWnd; }
    BOOL IsModal() const { return m_bModal; }
    INT_PTR GetModalResult() const { return m_nModalResult; }
    BOOL IsEnded() const { return m_bEnded; }

    // Host side.
    void AttachPeer(IWindowPeer* peer) { m_pPeer = peer; }
    IWindowPeer* Peer() const { return m_pPeer; }
    void NotifyControlChanged(int id)
    {
        if (m_pPeer) m_pPeer->ControlChanged(id);
    }
    void SetWindowExists(BOOL exists) { m_bWindowExists = exists; }
    void SetModal(BOOL modal) { m_bModal = modal; }
    void SetVisibleFromHost(BOOL visible) { m_bVisible = visible; }
    void ResetModalState()
    {
        m_bEnded = FALSE;
        m_nModalResult = -1;
    }
    // The bookkeeping every host does when it makes and destroys the window.
    void HostWindowCreated(BOOL modal, BOOL visible)
    {
        SetWindowExists(TRUE);
        SetModal(modal);
        ResetModalState();
        SetVisibleFromHost(visible);
    }
    void HostWindowDestroyed()
    {
        SetWindowExists(FALSE);
        SetVisibleFromHost(FALSE);
    }
    std::map<int, std::unique_ptr<CControl>>& Controls() { return m_controls; }

protected:
    // Message map: a handler for a button's command.
    void OnCommandId(int id, std::function<void()> handler) { m_handlers[id] = std::move(handler); }
    void StateChanged() override;

private:
    void BindTemplate(int templateId);
    void BuildControls();

    int m_nTemplateId;
    const DialogTemplate* m_pTemplate;
    CWnd* m_pParentWnd;
    IWindowPeer* m_pPeer = nullptr;
    std::map<int, std::unique_ptr<CControl>> m_controls;
    std::map<int, std::function<void()>> m_handlers;
    CMenu m_systemMenu;
    int m_nIconId = 0;
    BOOL m_bWindowExists = FALSE;
    BOOL m_bModal = FALSE;
    BOOL m_bEnded = FALSE;
    INT_PTR m_nModalResult = -1;
};

// Progress-bar control bound to a dialog's control by DDX_Control.
class CProgressCtrl
{
public:
    void SetRange(short lower, short upper)
    {
        SetRange16(static_cast<uint16_t>(lower), static_cast<uint16_t>(upper));
    }
    void SetRange16(uint16_t lower, uint16_t upper);
    int SetPos(int position);
    int GetPos() const;
    BOOL IsBound() const { return m_pControl != nullptr; }
    void Attach(CControl* control) { m_pControl = control; }
    CControl* Control() const { return m_pControl; }

private:
    CControl* m_pControl = nullptr;
};

// Data exchange between fields and controls.
void DDX_Text(CDataExchange* pDX, int id, std::string& value);
// Combo text. Into the control: selects the first item beginning with the text
// (case-insensitive), or puts the text into the edit field when none does.
void DDX_CBString(CDataExchange* pDX, int id, std::string& value);
// Radio group starting at firstId: index of the checked button, -1 if none.
void DDX_Radio(CDataExchange* pDX, int firstId, int& value);
void DDX_Control(CDataExchange* pDX, int id, CProgressCtrl& control);
