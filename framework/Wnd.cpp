#include "framework/Wnd.h"

#include <algorithm>
#include <cctype>

#include "framework/Dialog.h"

BOOL CWnd::EnableWindow(BOOL enable)
{
    const BOOL wasDisabled = !m_bEnabled;
    const BOOL enabled = enable ? TRUE : FALSE;
    if (m_bEnabled != enabled) {
        m_bEnabled = enabled;
        StateChanged();
    }
    return wasDisabled;
}

BOOL CWnd::ShowWindow(int command)
{
    const BOOL wasVisible = m_bVisible;
    const BOOL visible = command != SW_HIDE ? TRUE : FALSE;
    if (m_bVisible != visible) {
        m_bVisible = visible;
        StateChanged();
    }
    return wasVisible;
}

void CWnd::SetWindowText(const std::string& text)
{
    m_strText = text;
    StateChanged();
}

CControl::CControl(CDialog& owner, const ControlTemplate& tmpl)
    : m_owner(owner), m_pTemplate(&tmpl), m_nId(tmpl.id), m_kind(tmpl.kind), m_items(tmpl.items)
{
    m_strText = tmpl.text;
    m_bVisible = (tmpl.style & CS_HIDDEN) ? FALSE : TRUE;
    m_bEnabled = (tmpl.style & CS_DISABLED) ? FALSE : TRUE;
}

void CControl::StateChanged()
{
    m_owner.NotifyControlChanged(m_nId);
}

void CControl::SetCheck(int check)
{
    m_nCheck = check;
    StateChanged();
}

void CControl::SetCurSel(int index)
{
    if (index < 0 || index >= static_cast<int>(m_items.size())) {
        m_nCurSel = -1;
        m_strText.clear();
    } else {
        m_nCurSel = index;
        m_strText = m_items[static_cast<size_t>(index)];
    }
    StateChanged();
}

int CControl::AddString(const std::string& item)
{
    m_items.push_back(item);
    return static_cast<int>(m_items.size()) - 1;
}

void CControl::SetCurSelFromUser(int index)
{
    if (index < 0 || index >= static_cast<int>(m_items.size())) {
        m_nCurSel = -1;
        return;
    }
    m_nCurSel = index;
    m_strText = m_items[static_cast<size_t>(index)];
}

namespace {

bool StartsWithNoCase(const std::string& item, const std::string& prefix)
{
    if (prefix.size() > item.size()) return false;
    return std::equal(prefix.begin(), prefix.end(), item.begin(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
    });
}

} // namespace

int CControl::FindString(int start, const std::string& text) const
{
    // An empty text would match every item; the caller then keeps an empty field.
    if (text.empty()) return -1;
    const int count = static_cast<int>(m_items.size());
    if (start < -1 || start >= count) start = -1;
    // Like the list control: from the item after start to the end, then round to start.
    for (int n = 1; n <= count; ++n) {
        const int i = (start + n) % count;
        if (StartsWithNoCase(m_items[static_cast<size_t>(i)], text)) return i;
    }
    return -1;
}

void CControl::SetRange(uint16_t lower, uint16_t upper)
{
    m_nLower = lower;
    m_nUpper = upper;
    if (m_nPos < m_nLower) m_nPos = m_nLower;
    if (m_nPos > m_nUpper) m_nPos = m_nUpper;
    StateChanged();
}

void CControl::GetRange(int& lower, int& upper) const
{
    lower = m_nLower;
    upper = m_nUpper;
}

int CControl::SetPos(int position)
{
    const int previous = m_nPos;
    if (position < m_nLower) position = m_nLower;
    if (position > m_nUpper) position = m_nUpper;
    m_nPos = position;
    ++m_nPosChanges;
    StateChanged();
    return previous;
}

BOOL CMenu::AppendMenu(unsigned flags, unsigned id, const std::string& text)
{
    m_items.push_back({flags, id, (flags & MF_SEPARATOR) ? std::string() : text});
    return TRUE;
}
