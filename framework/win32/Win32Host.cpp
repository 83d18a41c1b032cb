#include "framework/win32/Win32Host.h"

#include <algorithm>

#include "framework/Dialog.h"
#include "framework/WinApp.h"
#include "framework/win32/DialogBuilder.h"
#include "framework/win32/Win32.h"
#include "platform/win32/Win32Text.h"

using platform::win32::Narrow;
using platform::win32::Widen;

namespace {

struct IconDeleter
{
    void operator()(HICON icon) const
    {
        if (icon) DestroyIcon(icon);
    }
};
using UniqueIcon = std::unique_ptr<std::remove_pointer_t<HICON>, IconDeleter>;

std::wstring WindowText(HWND window)
{
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

void SetTextIfChanged(HWND window, const std::wstring& text)
{
    if (WindowText(window) != text) SetWindowTextW(window, text.c_str());
}

constexpr UINT kCheckFocus = WM_APP + 1;

bool IsPushButton(ControlKind kind)
{
    return kind == ControlKind::PushButton || kind == ControlKind::DefPushButton;
}

bool IsCombo(ControlKind kind)
{
    return kind == ControlKind::ComboDropDown || kind == ControlKind::ComboDropList;
}

} // namespace

// One dialog on screen and the peer of its model.
class CWin32Window final : public IWindowPeer
{
public:
    CWin32Window(CWin32Host& host, CDialog& dialog, HWND owner)
        : m_host(host), m_pModel(&dialog), m_owner(owner), m_blob(dialog.Template())
    {
    }
    ~CWin32Window() override
    {
        // A modeless window still on screen goes with its object.
        if (m_hwnd && !m_bModal && IsWindow(m_hwnd)) {
            SetWindowLongPtrW(m_hwnd, DWLP_USER, 0);
            ::DestroyWindow(m_hwnd);
        }
    }
    CWin32Window(const CWin32Window&) = delete;
    CWin32Window& operator=(const CWin32Window&) = delete;

    void WindowChanged() override;
    void ControlChanged(int id) override;

    static INT_PTR CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    CWin32Host& m_host;
    CDialog* m_pModel;
    HWND m_owner;
    HWND m_hwnd = nullptr;
    bool m_bModal = false;
    int m_inProc = 0; // handler calls on the stack: the object may not go yet
    CDialogTemplateBlob m_blob;

private:
    INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);
    void InitDialog();
    void Place();
    void Command(int id, int code, HWND control);
    void KeepFocusUsable();
    void FitOneLineTexts();

    bool m_bUpdating = false; // the window is being set from the model: no echo back
    UniqueIcon m_bigIcon, m_smallIcon;
};

void CWin32Window::WindowChanged()
{
    if (!m_hwnd || !m_pModel) return;
    m_bUpdating = true;
    SetTextIfChanged(m_hwnd, Widen(m_pModel->GetWindowText()));
    EnableWindow(m_hwnd, m_pModel->IsWindowEnabled());
    const bool visible = m_pModel->IsWindowVisible();
    if (visible != (IsWindowVisible(m_hwnd) != FALSE)) ShowWindow(m_hwnd, visible ? SW_SHOW : SW_HIDE);
    m_bUpdating = false;
}

void CWin32Window::ControlChanged(int id)
{
    if (!m_hwnd || !m_pModel) return;
    const CControl* control = m_pModel->GetDlgItem(id);
    HWND window = GetDlgItem(m_hwnd, id);
    if (!control || !window) return;
    m_bUpdating = true;
    const bool visible = control->IsWindowVisible();
    if (visible != (IsWindowVisible(window) != FALSE)) ShowWindow(window, visible ? SW_SHOWNA : SW_HIDE);
    EnableWindow(window, control->IsWindowEnabled());
    const std::wstring text = Widen(control->GetWindowText());
    switch (control->Kind()) {
    case ControlKind::PushButton:
    case ControlKind::DefPushButton:
    case ControlKind::Edit:
    case ControlKind::Static:
    case ControlKind::GroupBox:
        SetTextIfChanged(window, text);
        break;
    case ControlKind::RadioButton:
        SetTextIfChanged(window, text);
        for (int member : m_pModel->RadioGroup(id))
            if (HWND button = GetDlgItem(m_hwnd, member))
                SendMessageW(button, BM_SETCHECK,
                             m_pModel->GetDlgItem(member)->GetCheck() ? BST_CHECKED : BST_UNCHECKED, 0);
        break;
    case ControlKind::ComboDropDown:
    case ControlKind::ComboDropList:
        SendMessageW(window, CB_SETCURSEL, static_cast<WPARAM>(control->GetCurSel()), 0);
        if (control->Kind() == ControlKind::ComboDropDown) SetTextIfChanged(window, text);
        break;
    case ControlKind::ProgressBar: {
        int lower = 0, upper = 0;
        control->GetRange(lower, upper);
        SendMessageW(window, PBM_SETRANGE32, static_cast<WPARAM>(lower), upper);
        // A shown bar paints at once on a new position, and that paint would sit between a
        // page's frame and its pause; posted, it is drawn at the pump inside the pause.
        if (IsWindowVisible(window))
            PostMessageW(window, PBM_SETPOS, static_cast<WPARAM>(control->GetPos()), 0);
        else
            SendMessageW(window, PBM_SETPOS, static_cast<WPARAM>(control->GetPos()), 0);
        break;
    }
    case ControlKind::Icon:
    case ControlKind::EtchedHorz:
        break;
    }
    m_bUpdating = false;
    KeepFocusUsable();
}

void CWin32Window::KeepFocusUsable()
{
    // A control disabled or hidden while it had the focus would leave the keyboard dead,
    // and so would an active dialog whose focus went nowhere.
    if (!m_hwnd || ::GetActiveWindow() != m_hwnd) return;
    HWND focus = GetFocus();
    if (focus && GetParent(focus) != m_hwnd && IsChild(m_hwnd, focus)) focus = GetParent(focus); // combo edit
    const bool usable = focus && IsChild(m_hwnd, focus) && IsWindowEnabled(focus) && IsWindowVisible(focus);
    if (!usable) PostMessageW(m_hwnd, WM_NEXTDLGCTL, 0, FALSE);
}

void CWin32Window::Place()
{
    RECT frame{};
    GetWindowRect(m_hwnd, &frame);
    // Inside the work area of the screen the owner is on (the technician's second
    // monitor, say), not the primary one's.
    HMONITOR monitor = nullptr;
    if (m_owner) monitor = MonitorFromWindow(m_owner, MONITOR_DEFAULTTONEAREST);
    if (!monitor) monitor = m_host.m_monitor;
    if (!monitor) monitor = MonitorFromWindow(m_hwnd, MONITOR_DEFAULTTONEAREST);
    MONITORINFO info{};
    info.cbSize = sizeof info;
    RECT work{};
    if (monitor && GetMonitorInfoW(monitor, &info)) {
        work = info.rcWork;
        m_host.m_monitor = monitor;
    } else {
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    }
    RECT area = work;
    if (m_owner && !(m_pModel->Template().style & tpl::kCenter) && IsWindowVisible(m_owner))
        GetWindowRect(m_owner, &area);
    const LONG width = frame.right - frame.left, height = frame.bottom - frame.top;
    LONG x = (area.left + area.right - width) / 2, y = (area.top + area.bottom - height) / 2;
    x = std::max(work.left, std::min(x, work.right - width));
    y = std::max(work.top, std::min(y, work.bottom - height));
    SetWindowPos(m_hwnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CWin32Window::InitDialog()
{
    m_bUpdating = true;
    for (const auto& [id, control] : m_pModel->Controls())
        if (IsCombo(control->Kind()))
            for (const std::string& item : control->Items())
                SendMessageW(GetDlgItem(m_hwnd, id), CB_ADDSTRING, 0,
                             reinterpret_cast<LPARAM>(Widen(item).c_str()));
    m_bUpdating = false;
    for (const auto& [id, control] : m_pModel->Controls())
        ControlChanged(id);
    if (const int defId = m_pModel->GetDefID())
        SendMessageW(m_hwnd, DM_SETDEFID, static_cast<WPARAM>(defId), 0);
    FitOneLineTexts();
    Place();
}

void CWin32Window::FitOneLineTexts()
{
    // The panels were laid out with a narrower face than some systems substitute for the
    // dialog font: a one-line text that no longer fits grows sideways (behind its
    // neighbours) rather than wrapping into a second line nobody can see.
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(m_hwnd, WM_GETFONT, 0, 0));
    HDC dc = GetDC(m_hwnd);
    HGDIOBJ previous = SelectObject(dc, font);
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    for (HWND child = GetWindow(m_hwnd, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t className[16] = {};
        GetClassNameW(child, className, 16);
        const auto style = static_cast<uint32_t>(GetWindowLongW(child, GWL_STYLE));
        const uint32_t type = style & SS_TYPEMASK;
        if (_wcsicmp(className, L"Static") != 0 || (type != SS_LEFT && type != SS_CENTER)) continue;
        RECT area{};
        GetWindowRect(child, &area);
        MapWindowPoints(nullptr, m_hwnd, reinterpret_cast<POINT*>(&area), 2);
        if (area.bottom - area.top >= 2 * metrics.tmHeight) continue;
        const std::wstring text = WindowText(child);
        RECT needed{};
        DrawTextW(dc, text.c_str(), -1, &needed,
                  DT_CALCRECT | DT_SINGLELINE | ((style & SS_NOPREFIX) ? DT_NOPREFIX : 0));
        const LONG extra = needed.right - (area.right - area.left);
        if (extra <= 0) continue;
        if (type == SS_CENTER) area.left -= extra / 2;
        SetWindowPos(child, nullptr, area.left, area.top, area.right - area.left + extra,
                     area.bottom - area.top, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    SelectObject(dc, previous);
    ReleaseDC(m_hwnd, dc);
}

INT_PTR CALLBACK CWin32Window::Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        reinterpret_cast<CWin32Window*>(lParam)->m_hwnd = hwnd;
    }
    auto* window = reinterpret_cast<CWin32Window*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    if (!window || !window->m_pModel) return FALSE;
    ++window->m_inProc;
    const INT_PTR result = window->Handle(message, wParam, lParam);
    --window->m_inProc;
    return result;
}

INT_PTR CWin32Window::Handle(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: {
        InitDialog();
        const BOOL defaultFocus = m_pModel->OnInitDialog();
        if (!m_pModel) return FALSE; // destroyed by its own initialisation
        if (const int iconId = m_pModel->GetIconId()) {
            auto load = [&](int metricX, int metricY) {
                return UniqueIcon(
                    static_cast<HICON>(LoadImageW(m_host.Instance(), MAKEINTRESOURCEW(iconId), IMAGE_ICON,
                                                  GetSystemMetrics(metricX), GetSystemMetrics(metricY), 0)));
            };
            m_bigIcon = load(SM_CXICON, SM_CYICON);
            m_smallIcon = load(SM_CXSMICON, SM_CYSMICON);
            SendMessageW(m_hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_bigIcon.get()));
            SendMessageW(m_hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_smallIcon.get()));
        }
        if (HMENU systemMenu = GetSystemMenu(m_hwnd, FALSE))
            for (const CMenu::Item& item : m_pModel->GetSystemMenu(FALSE)->Items())
                AppendMenuW(systemMenu, item.flags, item.id, Widen(item.text).c_str());
        if (m_pModel->IsEnded() && m_bModal)
            ::EndDialog(m_hwnd, static_cast<INT_PTR>(m_pModel->GetModalResult()));
        return defaultFocus;
    }
    case WM_COMMAND:
        if (!m_bUpdating) Command(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
        return TRUE;
    case WM_ACTIVATE:
        // The dialog manager gives the focus back to the control that had it, which may
        // have been disabled meanwhile (Erase, once the flash is erased): look once it has.
        if (LOWORD(wParam) != WA_INACTIVE) PostMessageW(m_hwnd, kCheckFocus, 0, 0);
        return FALSE;
    case kCheckFocus:
        KeepFocusUsable();
        return TRUE;
    case WM_QUERYENDSESSION:
        // A session ended mid-erase or mid-page leaves a panel that no longer starts.
        if (!m_host.ShutdownBlocked()) return FALSE;
        SetWindowLongPtrW(m_hwnd, DWLP_MSGRESULT, FALSE);
        return TRUE;
    case WM_CLOSE:
        // Only EndDialog or DestroyWindow closes the window; the close box is a cancel
        // command, and a disabled window (the panel under the progress window) takes none.
        if (m_pModel->IsWindowEnabled() && !WindowsBusy()) m_pModel->PressCloseBox();
        return TRUE;
    case WM_SYSCOMMAND: {
        const unsigned command = static_cast<unsigned>(wParam & 0xFFF0);
        for (const CMenu::Item& item : m_pModel->GetSystemMenu(FALSE)->Items())
            if (!(item.flags & MF_SEPARATOR) && item.id == command) {
                m_pModel->OnSysCommand(command, static_cast<long>(lParam));
                return TRUE;
            }
        return FALSE;
    }
    case WM_SETCURSOR:
        if (!m_host.WaitCursorShown()) return FALSE;
        SetCursor(LoadCursorW(nullptr, IDC_WAIT));
        SetWindowLongPtrW(m_hwnd, DWLP_MSGRESULT, TRUE);
        return TRUE;
    default:
        return FALSE;
    }
}

void CWin32Window::Command(int id, int code, HWND controlWindow)
{
    CControl* control = m_pModel->GetDlgItem(id);
    const ControlKind kind = control ? control->Kind() : ControlKind::Static;
    if (control && kind == ControlKind::Edit && code == EN_CHANGE) {
        control->SetTextFromUser(Narrow(WindowText(controlWindow)));
    } else if (control && IsCombo(kind) && code == CBN_SELCHANGE) {
        control->SetCurSelFromUser(static_cast<int>(SendMessageW(controlWindow, CB_GETCURSEL, 0, 0)));
    } else if (control && IsCombo(kind) && code == CBN_EDITCHANGE) {
        control->SetCurSelFromUser(-1);
        control->SetTextFromUser(Narrow(WindowText(controlWindow)));
    } else if (control && kind == ControlKind::RadioButton && code == BN_CLICKED) {
        for (int member : m_pModel->RadioGroup(id))
            if (HWND button = GetDlgItem(m_hwnd, member))
                m_pModel->GetDlgItem(member)->SetCheckFromUser(
                    SendMessageW(button, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0);
    } else if (code == BN_CLICKED) {
        const bool pressable = control && IsPushButton(kind) && control->IsWindowEnabled() &&
                               control->IsWindowVisible() && controlWindow;
        if (pressable)
            m_pModel->OnCommand(id); // a click, Space, or Enter on a live button
        else if (id == IDCANCEL)
            m_pModel->PressEscape(); // Escape with no live Cancel button
        else if (id == IDOK)
            m_pModel->PressEnter(0); // Enter with no live default button
    }
}

CWin32Host::CWin32Host(HINSTANCE__* instance) : m_instance(instance) {}

CWin32Host::~CWin32Host()
{
    for (auto& [dialog, window] : m_windows) {
        auto* model = const_cast<CDialog*>(dialog);
        model->AttachPeer(nullptr);
        model->SetWindowExists(FALSE);
        window->m_pModel = nullptr;
    }
    m_windows.clear();
    m_graveyard.clear();
    while (m_waitDepth > 0)
        EndWaitCursor();
    if (&Host() == this) SetHost(nullptr);
}

HWND CWin32Host::OwnerOf(CWnd* wnd) const
{
    auto* dialog = dynamic_cast<CDialog*>(wnd);
    return dialog ? Window(*dialog) : nullptr;
}

CWin32Window* CWin32Host::Track(CDialog& dialog, CWnd* parent)
{
    Bury();
    HWND owner = OwnerOf(parent);
    if (!owner && !m_order.empty()) owner = Window(*m_order.back());
    auto window = std::make_unique<CWin32Window>(*this, dialog, owner);
    CWin32Window* raw = window.get();
    m_windows[&dialog] = std::move(window);
    m_order.push_back(&dialog);
    dialog.AttachPeer(raw);
    return raw;
}

void CWin32Host::Forget(CDialog& dialog)
{
    auto it = m_windows.find(&dialog);
    if (it == m_windows.end()) return;
    std::unique_ptr<CWin32Window> window = std::move(it->second);
    m_windows.erase(it);
    std::erase(m_order, &dialog);
    dialog.AttachPeer(nullptr);
    dialog.HostWindowDestroyed();
    window->m_pModel = nullptr;
    if (window->m_hwnd && IsWindow(window->m_hwnd)) {
        if (window->m_bModal) {
            ::EndDialog(window->m_hwnd, -1);
        } else {
            SetWindowLongPtrW(window->m_hwnd, DWLP_USER, 0);
            ::DestroyWindow(window->m_hwnd);
            window->m_hwnd = nullptr;
        }
    }
    // The window may be inside one of its own handlers (its Stop button): it goes later.
    m_graveyard.push_back(std::move(window));
}

void CWin32Host::Bury()
{
    std::erase_if(m_graveyard, [](const std::unique_ptr<CWin32Window>& window) {
        return window->m_inProc == 0 && (!window->m_hwnd || !IsWindow(window->m_hwnd));
    });
}

INT_PTR CWin32Host::RunModal(CDialog& dialog)
{
    CWin32Window* window = Track(dialog, dialog.GetParent());
    window->m_bModal = true;
    dialog.HostWindowCreated(TRUE, TRUE);
    DialogBoxIndirectParamW(m_instance, static_cast<LPCDLGTEMPLATEW>(window->m_blob.Data()), window->m_owner,
                            &CWin32Window::Proc, reinterpret_cast<LPARAM>(window));
    window->m_hwnd = nullptr; // the dialog manager destroyed it on the way out
    // Left without EndDialog (the application quits): the framework's failure result.
    const INT_PTR result = dialog.IsEnded() ? dialog.GetModalResult() : -1;
    Forget(dialog);
    Bury();
    return result;
}

void CWin32Host::EndModal(CDialog& dialog, int result)
{
    if (HWND window = Window(dialog)) ::EndDialog(window, result);
}

bool CWin32Host::CreateModeless(CDialog& dialog, CWnd* parent)
{
    CWin32Window* window = Track(dialog, parent);
    const bool visible = dialog.Template().style & tpl::kVisible;
    dialog.HostWindowCreated(FALSE, visible ? TRUE : FALSE);
    HWND created =
        CreateDialogIndirectParamW(m_instance, static_cast<LPCDLGTEMPLATEW>(window->m_blob.Data()),
                                   window->m_owner, &CWin32Window::Proc, reinterpret_cast<LPARAM>(window));
    if (!created) {
        Forget(dialog);
        return false;
    }
    return true;
}

void CWin32Host::DestroyWindow(CDialog& dialog)
{
    Forget(dialog);
}

int CWin32Host::MessageBox(CWnd* owner, const std::string& text, const std::string& caption, unsigned type)
{
    HWND ownerWindow = OwnerOf(owner);
    if (!ownerWindow && !m_order.empty()) ownerWindow = Window(*m_order.back());
    MessageBoxW(ownerWindow, Win32BoxText(text).c_str(), Widen(caption).c_str(),
                MB_OK | (type & MB_ICONMASK) | (ownerWindow ? 0 : MB_TASKMODAL));
    return IDOK;
}

std::optional<std::string> CWin32Host::OpenFileDialog(CWnd* owner, const std::string& filter, unsigned flags)
{
    const std::wstring filters = Win32FileFilter(filter);
    std::wstring path(32768, L'\0');
    OPENFILENAMEW request{};
    request.lStructSize = sizeof request;
    request.hwndOwner = OwnerOf(owner);
    request.lpstrFilter = filters.c_str();
    request.nFilterIndex = 1;
    request.lpstrFile = path.data();
    request.nMaxFile = static_cast<DWORD>(path.size());
    // OFN_NOCHANGEDIR: a working folder left on a USB stick keeps it from being ejected.
    request.Flags = flags | OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST | OFN_NOCHANGEDIR;
    if (!GetOpenFileNameW(&request)) return std::nullopt;
    path.resize(wcslen(path.c_str()));
    return Narrow(path);
}

void CWin32Host::BeginWaitCursor()
{
    ++m_waitDepth;
    SetCursor(LoadCursorW(nullptr, IDC_WAIT));
}

void CWin32Host::EndWaitCursor()
{
    if (m_waitDepth == 0) return;
    if (--m_waitDepth == 0) SetCursor(LoadCursorW(nullptr, IDC_ARROW));
}

bool CWin32Host::PeekMessage()
{
    MSG message;
    return ::PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE) != FALSE;
}

bool CWin32Host::PumpMessage()
{
    MSG message;
    if (!::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) return true;
    if (message.message == WM_QUIT) return false;
    // The keyboard of whichever of our dialogs the message is for: Tab, Enter, Escape, Space.
    for (auto it = m_order.rbegin(); it != m_order.rend(); ++it) {
        HWND window = Window(**it);
        if (window && (message.hwnd == window || IsChild(window, message.hwnd)) &&
            IsDialogMessageW(window, &message))
            return true;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
    return true;
}

void CWin32Host::BlockShutdown(const std::string& reason)
{
    if (m_shutdownBlocks++ > 0) return;
    const std::wstring text = Widen(reason);
    // Windows shows the reason of a top-level window: every one open now carries it.
    for (CDialog* dialog : m_order)
        if (HWND hwnd = Window(*dialog); hwnd && ShutdownBlockReasonCreate(hwnd, text.c_str()))
            m_blockingWindows.push_back(hwnd);
}

void CWin32Host::UnblockShutdown()
{
    if (m_shutdownBlocks == 0 || --m_shutdownBlocks > 0) return;
    for (HWND hwnd : m_blockingWindows)
        if (IsWindow(hwnd)) ShutdownBlockReasonDestroy(hwnd);
    m_blockingWindows.clear();
}

void CWin32Host::PumpWhileBusy(bool dropInput)
{
    // Paint, timers and the system's own messages go through; keyboard and mouse are
    // dropped (a click must not start a command in the middle of an erase) or left queued
    // for the page loop's own pump, and a quit is posted again for the pump that follows.
    MSG message;
    bool quit = false;
    int exitCode = 0;
    const UINT which =
        dropInput ? PM_REMOVE : PM_REMOVE | PM_QS_PAINT | PM_QS_SENDMESSAGE | PM_QS_POSTMESSAGE;
    while (::PeekMessageW(&message, nullptr, 0, 0, which)) {
        if (message.message == WM_QUIT) {
            quit = true;
            exitCode = static_cast<int>(message.wParam);
            continue;
        }
        const UINT id = message.message;
        const bool input = (id >= WM_KEYFIRST && id <= WM_KEYLAST) ||
                           (id >= WM_MOUSEFIRST && id <= WM_MOUSELAST) ||
                           (id >= WM_NCMOUSEMOVE && id <= WM_NCXBUTTONDBLCLK) || id == WM_INPUT;
        if (input) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    if (quit) ::PostQuitMessage(exitCode);
}

void CWin32Host::PostQuitMessage(int exitCode)
{
    ::PostQuitMessage(exitCode);
}

CWnd* CWin32Host::GetActiveWindow()
{
    return m_order.empty() ? nullptr : m_order.back();
}

HWND CWin32Host::Window(const CDialog& dialog) const
{
    auto it = m_windows.find(&dialog);
    return it == m_windows.end() ? nullptr : it->second->m_hwnd;
}

std::wstring Win32FileFilter(const std::string& filter)
{
    std::wstring result = Widen(filter);
    while (!result.empty() && result.back() == L'|')
        result.pop_back();
    std::replace(result.begin(), result.end(), L'|', L'\0');
    result.append(2, L'\0');
    return result;
}

std::wstring Win32BoxText(const std::string& text)
{
    const std::wstring wide = Widen(text);
    std::wstring shown;
    for (size_t i = 0; i < wide.size(); ++i) {
        const wchar_t c = wide[i];
        if (c == L'\r' || c == L'\n') {
            shown += L"\r\n";
            if (c == L'\r' && i + 1 < wide.size() && wide[i + 1] == L'\n') ++i;
        } else {
            shown += c;
        }
    }
    return shown;
}

int RunWin32Application(HINSTANCE__* instance, CWinApp& app)
{
    INITCOMMONCONTROLSEX classes{sizeof classes,
                                 ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS | ICC_WIN95_CLASSES};
    InitCommonControlsEx(&classes);
    CWin32Host host(instance ? instance : GetModuleHandleW(nullptr));
    return AfxWinMain(host, app);
}
