#pragma once
// Windows and controls as plain models. A host (Qt, or the scripted host of the tests)
// shows them through a peer and feeds the user's edits back into them, so the logic
// always reads and writes the model and never a widget.
#include <functional>
#include <string>
#include <vector>

#include "framework/Afx.h"
#include "res/DialogTemplates.h"

class CWnd;

// A host's view of one window, told when the model changes.
class IWindowPeer
{
public:
    virtual ~IWindowPeer() = default;
    virtual void WindowChanged() = 0;        // caption, enabled or visible state
    virtual void ControlChanged(int id) = 0; // a control's text, state, list or position
};

class CWnd
{
public:
    CWnd() = default;
    virtual ~CWnd() = default;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    // Returns nonzero when the window was disabled before the call (as Win32 does).
    BOOL EnableWindow(BOOL enable = TRUE);
    BOOL IsWindowEnabled() const { return m_bEnabled; }
    // Returns nonzero when the window was visible before the call.
    BOOL ShowWindow(int command);
    BOOL IsWindowVisible() const { return m_bVisible; }
    void SetWindowText(const std::string& text);
    std::string GetWindowText() const { return m_strText; }

protected:
    virtual void StateChanged() {}

    std::string m_strText;
    BOOL m_bEnabled = TRUE;
    BOOL m_bVisible = TRUE;
};

class CDialog;

// One control of a dialog, created from its template line.
class CControl : public CWnd
{
public:
    CControl(CDialog& owner, const ControlTemplate& tmpl);

    int GetDlgCtrlID() const { return m_nId; }
    ControlKind Kind() const { return m_kind; }
    const ControlTemplate& Template() const { return *m_pTemplate; }

    // Radio buttons.
    int GetCheck() const { return m_nCheck; }
    void SetCheck(int check);

    // Combo boxes.
    const std::vector<std::string>& Items() const { return m_items; }
    // Appends an item; before the window is shown, as the hosts list the items when they build it.
    int AddString(const std::string& item);
    int GetCurSel() const { return m_nCurSel; }
    void SetCurSel(int index); // -1 clears the selection; the edit text follows the item
    // First item beginning with text, case-insensitively, from index start + 1; -1 if none.
    int FindString(int start, const std::string& text) const;

    // Progress bars: the range is two 16-bit values, the position is clamped to it.
    void SetRange(uint16_t lower, uint16_t upper);
    void GetRange(int& lower, int& upper) const;
    int SetPos(int position); // returns the previous position
    int GetPos() const { return m_nPos; }
    // Counts SetPos calls, so a peer can tell a moved bar from a changed range.
    int PosChanges() const { return m_nPosChanges; }

    // The host puts the user's input here without echoing it back to the widget.
    void SetTextFromUser(const std::string& text) { m_strText = text; }
    void SetCheckFromUser(int check) { m_nCheck = check; }
    void SetCurSelFromUser(int index);

protected:
    void StateChanged() override;

private:
    CDialog& m_owner;
    const ControlTemplate* m_pTemplate;
    int m_nId;
    ControlKind m_kind;
    int m_nCheck = 0;
    std::vector<std::string> m_items;
    int m_nCurSel = -1;
    int m_nLower = 0, m_nUpper = 100, m_nPos = 0;
    int m_nPosChanges = 0;
};

// The system menu's extra entries (offered from the window's context menu on Linux).
class CMenu
{
public:
    struct Item
    {
        unsigned flags;
        unsigned id;
        std::string text;
    };
    BOOL AppendMenu(unsigned flags, unsigned id = 0, const std::string& text = {});
    const std::vector<Item>& Items() const { return m_items; }

private:
    std::vector<Item> m_items;
};
