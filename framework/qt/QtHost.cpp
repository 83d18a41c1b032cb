#include "framework/qt/QtHost.h"

#include <QApplication>
#include <QCursor>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>
#include <QWindow>

#include "framework/Dialog.h"
#include "framework/WinApp.h"
#include "framework/qt/QtWindow.h"

// The resources live in a static library: nothing pulls them in unless asked for.
static void InitTorvaneResources()
{
    Q_INIT_RESOURCE(torvane);
}

namespace {

// Notices a quit request from the session or the platform while our own loops run.
class CQuitWatch final : public QObject
{
public:
    explicit CQuitWatch(bool& flag) : m_flag(flag) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Quit) m_flag = true;
        return QObject::eventFilter(watched, event);
    }

private:
    bool& m_flag;
};

constexpr double kTitleFontScale = 1.25;
constexpr int kTitleBarButtonsWidth = 140;

QMessageBox::Icon BoxIcon(unsigned type)
{
    switch (type & MB_ICONMASK) {
    case MB_ICONSTOP:
        return QMessageBox::Critical;
    case MB_ICONEXCLAMATION:
        return QMessageBox::Warning;
    case MB_ICONINFORMATION:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

// The string table marks line breaks in messages with a carriage return.
QString BoxText(const std::string& text)
{
    QString shown = QString::fromStdString(text);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return shown;
}

} // namespace

QSize DialogBaseUnits(const QFont& font)
{
    const QFontMetrics metrics(font);
    const int width =
        metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return QSize((width / 26 + 1) / 2, metrics.height());
}

QRect DialogUnitsToPixels(const QSize& baseUnits, int x, int y, int cx, int cy)
{
    auto horizontal = [&](int units) { return (units * baseUnits.width() + 2) / 4; };
    auto vertical = [&](int units) { return (units * baseUnits.height() + 4) / 8; };
    return QRect(horizontal(x), vertical(y), horizontal(cx), vertical(cy));
}

QString QtFileFilter(const std::string& filter)
{
    const QStringList parts = QString::fromStdString(filter).split(QLatin1Char('|'));
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString name = parts[i].trimmed();
        if (name.isEmpty()) continue;
        const QString patterns =
            parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts).join(QLatin1Char(' '));
        // Qt reads the patterns from the parentheses of the name itself.
        const qsizetype open = name.lastIndexOf(QLatin1Char('('));
        if (open >= 0 && name.endsWith(QLatin1Char(')'))) name = name.left(open).trimmed();
        entries << QStringLiteral("%1 (%2)").arg(name, patterns);
    }
    return entries.join(QStringLiteral(";;"));
}

QIcon ApplicationIcon()
{
    InitTorvaneResources();
    QIcon icon;
    for (const char* path : {":/icon/torvane.png", ":/icon/torvane-256.png"})
        if (QFile::exists(QString::fromLatin1(path))) icon.addFile(QString::fromLatin1(path));
    return icon;
}

CQtHost::CQtHost() : m_quitWatch(std::make_unique<CQuitWatch>(m_quitPending))
{
    if (QCoreApplication* app = QCoreApplication::instance()) app->installEventFilter(m_quitWatch.get());
}

CQtHost::~CQtHost()
{
    for (auto& [dialog, window] : m_windows) {
        auto* model = const_cast<CDialog*>(dialog);
        model->AttachPeer(nullptr);
        model->SetWindowExists(FALSE);
        window->Detach();
        delete window;
    }
    m_windows.clear();
    while (m_waitDepth > 0)
        EndWaitCursor();
    if (&Host() == this) SetHost(nullptr);
}

CQtWindow* CQtHost::Build(CDialog& dialog, CWnd* parent)
{
    QWidget* owner = WidgetOf(parent);
    if (!owner && !m_order.empty()) owner = WidgetOf(m_order.back());
    auto* window = new CQtWindow(dialog, owner);
    m_windows[&dialog] = window;
    m_order.push_back(&dialog);
    dialog.AttachPeer(window);
    return window;
}

void CQtHost::Forget(CDialog& dialog)
{
    auto it = m_windows.find(&dialog);
    if (it == m_windows.end()) return;
    CQtWindow* window = it->second;
    m_windows.erase(it);
    std::erase(m_order, &dialog);
    dialog.AttachPeer(nullptr);
    dialog.HostWindowDestroyed();
    window->Detach();
    window->hide();
    // The window may be in the middle of one of its own handlers (its close box).
    window->deleteLater();
}

INT_PTR CQtHost::RunModal(CDialog& dialog)
{
    CQtWindow* window = Build(dialog, dialog.GetParent());
    window->setWindowModality(Qt::ApplicationModal);
    dialog.HostWindowCreated(TRUE, TRUE);
    const BOOL defaultFocus = dialog.OnInitDialog();
    if (!dialog.IsEnded() && m_windows.count(&dialog)) {
        window->show();
        window->RaiseWindow();
        window->activateWindow();
        if (defaultFocus) window->FocusFirstTabStop();
        QEventLoop loop;
        window->SetLoop(&loop);
        if (!dialog.IsEnded()) loop.exec(QEventLoop::DialogExec);
        window->SetLoop(nullptr);
    }
    // Left without EndDialog (the application quits): the framework's failure result.
    const INT_PTR result = dialog.IsEnded() ? dialog.GetModalResult() : -1;
    Forget(dialog);
    return result;
}

void CQtHost::EndModal(CDialog& dialog, int)
{
    auto it = m_windows.find(&dialog);
    if (it != m_windows.end() && it->second->Loop()) it->second->Loop()->exit(0);
}

bool CQtHost::CreateModeless(CDialog& dialog, CWnd* parent)
{
    CQtWindow* window = Build(dialog, parent);
    const bool visible = dialog.Template().style & DS_VISIBLE;
    dialog.HostWindowCreated(FALSE, visible ? TRUE : FALSE);
    dialog.OnInitDialog();
    if (visible && m_windows.count(&dialog)) {
        window->show();
        window->FocusFirstTabStop();
    }
    return true;
}

void CQtHost::DestroyWindow(CDialog& dialog)
{
    Forget(dialog);
}

int CQtHost::MessageBox(CWnd* owner, const std::string& text, const std::string& caption, unsigned type)
{
    QWidget* ownerWidget = WidgetOf(owner);
    QMessageBox box(BoxIcon(type), QString::fromStdString(caption), BoxText(text), QMessageBox::Ok,
                    ownerWidget);
    box.setTextFormat(Qt::PlainText);
    box.setWindowModality(Qt::ApplicationModal);
    // A box fits its text only; "Erase OK." would leave the window manager too little
    // room for the caption and it would show "Fir… ade". The title bar's font is bold and
    // larger in most themes, and its buttons take room of their own.
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
        QFont titleFont = box.font();
        titleFont.setBold(true);
        titleFont.setPointSizeF(titleFont.pointSizeF() * kTitleFontScale);
        const int width =
            QFontMetrics(titleFont).horizontalAdvance(box.windowTitle()) + kTitleBarButtonsWidth;
        grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(),
                      0, 1, grid->columnCount());
    }
    box.exec();
    return IDOK;
}

std::optional<std::string> CQtHost::OpenFileDialog(CWnd* owner, const std::string& filter, unsigned)
{
    const QString filters = QtFileFilter(filter);
    QString selected = filters.section(QStringLiteral(";;"), 0, 0);
    // getOpenFileName accepts only a file that exists.
    const QString path =
        QFileDialog::getOpenFileName(WidgetOf(owner), QString(), QString(), filters, &selected);
    if (path.isEmpty()) return std::nullopt;
    return path.toStdString();
}

void CQtHost::BeginWaitCursor()
{
    ++m_waitDepth;
    QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
}

void CQtHost::EndWaitCursor()
{
    if (m_waitDepth == 0) return;
    --m_waitDepth;
    QApplication::restoreOverrideCursor();
}

void CQtHost::BeginPumpRound()
{
    m_roundPending = true;
}

bool CQtHost::PeekMessage()
{
    return m_roundPending || m_quitPending;
}

bool CQtHost::PumpMessage()
{
    m_roundPending = false;
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    if (m_quitPending) {
        m_quitPending = false;
        return false;
    }
    return true;
}

namespace {

// Eats the user's input while the device is being waited for.
class CInputDropper final : public QObject
{
protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Wheel:
        case QEvent::Shortcut:
        case QEvent::ShortcutOverride:
            return true;
        default:
            return false;
        }
    }
};

} // namespace

void CQtHost::PumpWhileBusy(bool dropInput)
{
    if (!dropInput) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        return;
    }
    CInputDropper dropper;
    QCoreApplication::instance()->installEventFilter(&dropper);
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    QCoreApplication::instance()->removeEventFilter(&dropper);
}

void CQtHost::PostQuitMessage(int exitCode)
{
    // Everything runs inside the start-up hook: the quit is seen when it returns.
    QCoreApplication::exit(exitCode);
}

CWnd* CQtHost::GetActiveWindow()
{
    return m_order.empty() ? nullptr : m_order.back();
}

QDialog* CQtHost::Window(const CDialog& dialog) const
{
    auto it = m_windows.find(&dialog);
    return it == m_windows.end() ? nullptr : it->second;
}

QWidget* CQtHost::ControlWidget(const CDialog& dialog, int id) const
{
    auto it = m_windows.find(&dialog);
    return it == m_windows.end() ? nullptr : it->second->Control(id);
}

QWidget* CQtHost::WidgetOf(CWnd* wnd) const
{
    auto* dialog = dynamic_cast<CDialog*>(wnd);
    return dialog ? Window(*dialog) : nullptr;
}

int RunQtApplication(int argc, char** argv, CWinApp& app)
{
    QApplication qtApp(argc, argv);
    // Windows come and go between the steps of the start-up; that is no reason to quit.
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(ApplicationIcon());
    CQtHost host;
    return AfxWinMain(host, app);
}
