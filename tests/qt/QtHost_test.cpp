// The Qt host under the offscreen platform: templates on screen, keys, boxes, modeless windows.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QThread>
#include <QTimer>
#include <QWindow>
#include <functional>

#include "framework/Dialog.h"
#include "framework/WinApp.h"
#include "framework/qt/QtHost.h"
#include "link/SerialComm.h"
#include "link/SerialCommState.h"
#include "loader/Engine.h"
#include "res/Resource.h"
#include "sim/SimulatedPanel.h"

namespace {

class QtEnvironment : public testing::Environment
{
public:
    void SetUp() override
    {
        static int argc = 1;
        static char name[] = "test_qt";
        static char* argv[] = {name, nullptr};
        m_app = new QApplication(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
        QApplication::setWindowIcon(ApplicationIcon());
    }
    void TearDown() override { delete m_app; }

private:
    QApplication* m_app = nullptr;
};

testing::Environment* const g_qt = testing::AddGlobalTestEnvironment(new QtEnvironment);

constexpr int kForm = 920;
constexpr int kName = 30;
constexpr int kRadioA = 31;
constexpr int kRadioB = 32;
constexpr int kLoad = 33;
constexpr int kBar = 34;

ControlTemplate Line(int id, ControlKind kind, std::string text, int x, int y, int cx, int cy,
                     unsigned style = 0)
{
    ControlTemplate c;
    c.id = id;
    c.kind = kind;
    c.text = std::move(text);
    c.x = x;
    c.y = y;
    c.cx = cx;
    c.cy = cy;
    c.style = style;
    return c;
}

const DialogTemplate& FormTemplate()
{
    static const DialogTemplate tmpl = [] {
        DialogTemplate t;
        t.id = kForm;
        t.caption = "Form";
        t.cx = 160;
        t.cy = 80;
        t.controls = {Line(kName, ControlKind::Edit, "", 7, 7, 100, 12, CS_TABSTOP),
                      Line(kRadioA, ControlKind::RadioButton, "A", 7, 25, 40, 10, CS_GROUP | CS_TABSTOP),
                      Line(kRadioB, ControlKind::RadioButton, "B", 50, 25, 40, 10),
                      Line(kLoad, ControlKind::PushButton, "&Load", 7, 45, 50, 14, CS_GROUP | CS_TABSTOP),
                      Line(IDOK, ControlKind::PushButton, "OK", 60, 45, 50, 14, CS_TABSTOP),
                      Line(kBar, ControlKind::ProgressBar, "", 7, 63, 140, 10)};
        return t;
    }();
    return tmpl;
}

class CFormDlg : public CDialog
{
public:
    CFormDlg() : CDialog(FormTemplate())
    {
        OnCommandId(kLoad, [this] { ++loads; });
    }
    std::string m_strName;
    int m_nChoice = -1;
    int loads = 0;
    void DoDataExchange(CDataExchange* pDX) override
    {
        DDX_Text(pDX, kName, m_strName);
        DDX_Radio(pDX, kRadioA, m_nChoice);
    }
};

class CPortDlg : public CDialog
{
public:
    CPortDlg() : CDialog(IDD_S_PRG) {}
    std::string m_strPort = "COM1";
    void DoDataExchange(CDataExchange* pDX) override { DDX_CBString(pDX, IDC_PORT, m_strPort); }
};

// The progress window's closing path, on the real template.
class CBarDlg : public CDialog
{
public:
    CBarDlg() : CDialog(IDD_PROGRESS) {}
    CProgressCtrl m_progress;
    std::string m_strMessage;
    int m_nCancel = 0;
    CWnd* m_pParent = nullptr;
    BOOL m_bParentEnabled = FALSE;
    void DoDataExchange(CDataExchange* pDX) override
    {
        DDX_Control(pDX, IDC_PROGRESS_BAR, m_progress);
        DDX_Text(pDX, IDC_PROGRESS_MESSAGE, m_strMessage);
    }
    void Start(CWnd* parent)
    {
        ASSERT_TRUE(Create(IDD_PROGRESS, parent));
        m_pParent = parent;
        m_bParentEnabled = parent->EnableWindow(FALSE) ? FALSE : TRUE;
        ShowWindow(SW_SHOW);
    }
    void OnOK() override {}
    void OnCancel() override
    {
        m_nCancel = 1;
        if (m_pParent) m_pParent->EnableWindow(m_bParentEnabled);
        if (IsWindow()) DestroyWindow();
    }
};

void SendKey(QWidget* window, int key)
{
    QWidget* target = window->focusWidget() ? window->focusWidget() : window;
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &release);
}

void Type(QWidget* target, const QString& text)
{
    for (QChar ch : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(ch));
        QCoreApplication::sendEvent(target, &press);
    }
}

// Runs the dialog modally; `during` acts on its window once it shows.
INT_PTR RunWith(CQtHost& host, CDialog& dialog, std::function<void(QDialog&)> during)
{
    QTimer::singleShot(0, [&host, &dialog, during] {
        QDialog* window = host.Window(dialog);
        ASSERT_NE(window, nullptr);
        during(*window);
    });
    return dialog.DoModal();
}

class QtHostTest : public testing::Test
{
protected:
    void SetUp() override { previous = SetHost(&host); }
    void TearDown() override
    {
        SetHost(previous);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    CQtHost host;
    IHost* previous = nullptr;
};

QString Shown(const std::string& text, unsigned style)
{
    if (style & CS_NOPREFIX) return QString::fromStdString(text);
    QString shown = QString::fromStdString(text);
    shown.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
    shown.remove(QLatin1Char('&'));
    shown.replace(QChar(1), QLatin1Char('&'));
    return shown;
}

TEST_F(QtHostTest, EveryTemplateRendersWithItsTextsStatesAndGeometry)
{
    const QSize base = DialogBaseUnits(QApplication::font());
    ASSERT_GE(AllDialogTemplates().size(), 14u);
    for (const DialogTemplate* tmpl : AllDialogTemplates()) {
        SCOPED_TRACE(tmpl->id);
        CDialog dialog(tmpl->id);
        ASSERT_TRUE(dialog.Create(tmpl->id));
        dialog.ShowWindow(SW_SHOW);
        QDialog* window = host.Window(dialog);
        ASSERT_NE(window, nullptr);
        EXPECT_TRUE(window->isVisible());
        EXPECT_EQ(window->windowTitle().toStdString(), tmpl->caption);
        EXPECT_EQ(window->size(), DialogUnitsToPixels(base, 0, 0, tmpl->cx, tmpl->cy).size());
        // The frame the template asks for: a fixed size, no maximise box, a minimise box
        // only where the template has one.
        EXPECT_EQ(window->minimumSize(), window->maximumSize());
        EXPECT_FALSE(window->windowFlags() & Qt::WindowMaximizeButtonHint);
        EXPECT_EQ(bool(window->windowFlags() & Qt::WindowMinimizeButtonHint),
                  bool(tmpl->style & DS_MINIMIZEBOX));
        const QList<QLabel*> labels = window->findChildren<QLabel*>();
        for (const ControlTemplate& line : tmpl->controls) {
            SCOPED_TRACE(line.text);
            if (line.id == IDC_STATIC) {
                if (line.kind == ControlKind::Static && !line.text.empty()) {
                    const QString expected = Shown(line.text, line.style);
                    EXPECT_TRUE(std::any_of(labels.begin(), labels.end(),
                                            [&](QLabel* label) { return label->text() == expected; }));
                }
                continue;
            }
            QWidget* widget = host.ControlWidget(dialog, line.id);
            ASSERT_NE(widget, nullptr) << line.id;
            if (widget->property("torvaneControlId").toInt() != line.id) continue;
            EXPECT_EQ(widget->isHidden(), (line.style & CS_HIDDEN) != 0) << line.id;
            EXPECT_EQ(widget->isEnabled(), (line.style & CS_DISABLED) == 0) << line.id;
            const QRect area = DialogUnitsToPixels(base, line.x, line.y, line.cx, line.cy);
            EXPECT_EQ(widget->pos(), area.topLeft()) << line.id;
            if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
                EXPECT_EQ(button->text().toStdString(), line.text);
                EXPECT_EQ(widget->size(), area.size());
            } else if (auto* label = qobject_cast<QLabel*>(widget)) {
                if (line.kind == ControlKind::Static) {
                    EXPECT_EQ(label->text(), Shown(line.text, line.style));
                }
            } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
                EXPECT_EQ(combo->count(), static_cast<int>(line.items.size()));
                EXPECT_EQ(combo->isEditable(), line.kind == ControlKind::ComboDropDown);
            } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
                EXPECT_EQ(edit->isReadOnly(), (line.style & CS_READONLY) != 0);
                EXPECT_EQ(widget->size(), area.size());
            }
        }
        EXPECT_TRUE(dialog.DestroyWindow());
        EXPECT_EQ(host.Window(dialog), nullptr);
    }
}

TEST_F(QtHostTest, DialogUnitsFollowTheDialogFont)
{
    // The dialog manager's rounding: 25,7 50x14 units at base 7x14.
    EXPECT_EQ(DialogUnitsToPixels(QSize(7, 14), 25, 7, 50, 14), QRect(44, 12, 88, 25));
    QFont big = QApplication::font();
    big.setPointSize(big.pointSize() * 2);
    const QSize normal = DialogBaseUnits(QApplication::font());
    const QSize larger = DialogBaseUnits(big);
    EXPECT_GT(larger.width(), normal.width());
    EXPECT_GT(larger.height(), normal.height());
    EXPECT_GT(normal.width(), 2);
}

TEST_F(QtHostTest, ComboDataExchangeBothWays)
{
    CPortDlg dlg;
    dlg.m_strPort = "com3";
    dlg.GetDlgItem(IDC_PORT)->AddString("/dev/ttyUSB9"); // a port present beside the template's
    const INT_PTR result = RunWith(host, dlg, [&](QDialog&) {
        auto* combo = qobject_cast<QComboBox*>(host.ControlWidget(dlg, IDC_PORT));
        ASSERT_NE(combo, nullptr);
        EXPECT_EQ(combo->count(), 11);
        EXPECT_EQ(combo->itemText(10), "/dev/ttyUSB9");
        EXPECT_EQ(combo->currentText(), "COM3");
        EXPECT_EQ(combo->currentIndex(), 2);
        combo->lineEdit()->selectAll();
        Type(combo->lineEdit(), "COM7");
        qobject_cast<QPushButton*>(host.ControlWidget(dlg, IDOK))->click();
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(dlg.m_strPort, "COM7");
}

TEST_F(QtHostTest, EditAndRadioDataExchangeBothWays)
{
    CFormDlg dlg;
    dlg.m_strName = "old.mot";
    dlg.m_nChoice = 1;
    const INT_PTR result = RunWith(host, dlg, [&](QDialog&) {
        auto* edit = qobject_cast<QLineEdit*>(host.ControlWidget(dlg, kName));
        auto* a = qobject_cast<QRadioButton*>(host.ControlWidget(dlg, kRadioA));
        auto* b = qobject_cast<QRadioButton*>(host.ControlWidget(dlg, kRadioB));
        EXPECT_EQ(edit->text(), "old.mot");
        EXPECT_FALSE(a->isChecked());
        EXPECT_TRUE(b->isChecked());
        edit->selectAll();
        Type(edit, "new.mot");
        a->click();
        EXPECT_FALSE(b->isChecked());
        qobject_cast<QPushButton*>(host.ControlWidget(dlg, IDOK))->click();
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(dlg.m_strName, "new.mot");
    EXPECT_EQ(dlg.m_nChoice, 0);
}

TEST_F(QtHostTest, ModelChangesShowInTheWidgets)
{
    CFormDlg dlg;
    dlg.m_nChoice = 0;
    ASSERT_TRUE(dlg.Create(kForm));
    dlg.UpdateData(FALSE);
    dlg.m_nChoice = -1; // no radio at all must be shown as such
    dlg.UpdateData(FALSE);
    EXPECT_FALSE(qobject_cast<QRadioButton*>(host.ControlWidget(dlg, kRadioA))->isChecked());
    dlg.GetDlgItem(kLoad)->EnableWindow(FALSE);
    dlg.GetDlgItem(IDOK)->ShowWindow(SW_HIDE);
    dlg.SetDlgItemText(kLoad, "Reload");
    dlg.SetWindowText("Renamed");
    EXPECT_FALSE(host.ControlWidget(dlg, kLoad)->isEnabled());
    EXPECT_TRUE(host.ControlWidget(dlg, IDOK)->isHidden());
    EXPECT_EQ(qobject_cast<QPushButton*>(host.ControlWidget(dlg, kLoad))->text(), "Reload");
    EXPECT_EQ(host.Window(dlg)->windowTitle(), "Renamed");
    dlg.DestroyWindow();
}

TEST_F(QtHostTest, EnterSendsOkAndEscapeAndCloseBoxCancel)
{
    CFormDlg dlg;
    EXPECT_EQ(RunWith(host, dlg,
                      [&](QDialog& window) {
                          host.ControlWidget(dlg, kName)->setFocus();
                          Type(host.ControlWidget(dlg, kName), "typed");
                          SendKey(&window, Qt::Key_Return);
                      }),
              IDOK);
    EXPECT_EQ(dlg.m_strName, "typed");
    EXPECT_EQ(RunWith(host, dlg, [](QDialog& window) { SendKey(&window, Qt::Key_Escape); }), IDCANCEL);
    EXPECT_EQ(RunWith(host, dlg, [](QDialog& window) { window.close(); }), IDCANCEL);
    // Qt's own accept/reject do not end a dialog: only its logic does.
    EXPECT_EQ(RunWith(host, dlg,
                      [](QDialog& window) {
                          window.reject();
                          window.accept();
                          EXPECT_TRUE(window.isVisible());
                          SendKey(&window, Qt::Key_Escape);
                      }),
              IDCANCEL);
}

TEST_F(QtHostTest, EnterPressesTheFocusedButtonOnlyWhileEnabled)
{
    CFormDlg dlg;
    EXPECT_EQ(RunWith(host, dlg,
                      [&](QDialog& window) {
                          host.ControlWidget(dlg, kLoad)->setFocus();
                          SendKey(&window, Qt::Key_Return);
                          EXPECT_EQ(dlg.loads, 1);
                          EXPECT_TRUE(window.isVisible());
                          dlg.GetDlgItem(kLoad)->EnableWindow(FALSE);
                          dlg.PressEnter(kLoad);
                          EXPECT_EQ(dlg.loads, 1);
                          SendKey(&window, Qt::Key_Escape);
                      }),
              IDCANCEL);
}

TEST_F(QtHostTest, MessageBoxShowsTextCaptionAndIconOverItsOwner)
{
    CFormDlg owner;
    ASSERT_TRUE(owner.Create(kForm));
    owner.ShowWindow(SW_SHOW);
    owner.EnableWindow(FALSE);
    QString text, caption;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    bool enabled = false;
    int width = 0;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        text = box->text();
        caption = box->windowTitle();
        icon = box->icon();
        enabled = box->isEnabled();
        width = box->width();
        box->button(QMessageBox::Ok)->click();
    });
    poll.start(10);
    EXPECT_EQ(AfxMessageBox(std::string("Find not blank at address\r0C0123"), MB_ICONSTOP, &owner), IDOK);
    EXPECT_EQ(text, "Find not blank at address\n0C0123");
    EXPECT_EQ(caption, "Firmaware Upgrade");
    EXPECT_EQ(icon, QMessageBox::Critical);
    EXPECT_TRUE(enabled); // even over a disabled owner the box can be answered

    text.clear();
    EXPECT_EQ(AfxMessageBox(IDS_ERASE_OK, MB_ICONINFORMATION), IDOK);
    EXPECT_EQ(text, "Erase OK.");
    EXPECT_EQ(icon, QMessageBox::Information);
    // Room for the whole caption in a title bar, even over a short text.
    EXPECT_GT(width, QFontMetrics(QApplication::font()).horizontalAdvance("Firmaware Upgrade") * 5 / 4 + 100);
    AfxMessageBox(IDS_NO_9600, MB_ICONEXCLAMATION);
    EXPECT_EQ(icon, QMessageBox::Warning);
    owner.DestroyWindow();
}

TEST_F(QtHostTest, ModelessWindowDisablesAndRestoresItsParent)
{
    CFormDlg panel;
    ASSERT_TRUE(panel.Create(kForm));
    panel.ShowWindow(SW_SHOW);
    CBarDlg bar;
    bar.Start(&panel);
    EXPECT_FALSE(host.Window(panel)->isEnabled());
    EXPECT_TRUE(host.Window(bar)->isVisible());
    EXPECT_TRUE(host.Window(bar)->isEnabled());
    EXPECT_EQ(AfxGetActiveWindow(), &bar);

    bar.m_progress.SetRange16(0, static_cast<uint16_t>(70000));
    bar.m_progress.SetPos(3000);
    auto* progress = qobject_cast<QProgressBar*>(host.ControlWidget(bar, IDC_PROGRESS_BAR));
    ASSERT_NE(progress, nullptr);
    EXPECT_EQ(progress->maximum(), 70000 - 65536);
    // A shown bar takes its value at the next pump, not inside the page's exchange.
    EXPECT_NE(progress->value(), 3000);
    QCoreApplication::processEvents();
    EXPECT_EQ(progress->value(), 3000);
    bar.m_progress.SetPos(4000);
    bar.m_progress.SetPos(5000);
    QCoreApplication::processEvents();
    EXPECT_EQ(progress->value(), 70000 - 65536);

    // Enter does nothing in the progress window; its close box cancels.
    SendKey(host.Window(bar), Qt::Key_Return);
    EXPECT_EQ(bar.m_nCancel, 0);
    QMetaObject::invokeMethod(host.Window(bar), "close", Qt::QueuedConnection);
    PumpWaitingMessages();
    EXPECT_EQ(bar.m_nCancel, 1);
    EXPECT_FALSE(bar.IsWindow());
    EXPECT_EQ(host.Window(bar), nullptr);
    EXPECT_TRUE(host.Window(panel)->isEnabled());

    // A parent that was disabled before stays disabled.
    panel.EnableWindow(FALSE);
    CBarDlg second;
    second.Start(&panel);
    SendKey(host.Window(second), Qt::Key_Escape);
    EXPECT_EQ(second.m_nCancel, 1);
    EXPECT_FALSE(host.Window(panel)->isEnabled());
    panel.DestroyWindow();
}

TEST_F(QtHostTest, PumpProcessesWhatIsWaitingOncePerRound)
{
    int ran = 0;
    QTimer::singleShot(0, [&] { ++ran; });
    host.BeginPumpRound();
    EXPECT_TRUE(host.PeekMessage());
    EXPECT_TRUE(host.PumpMessage());
    EXPECT_FALSE(host.PeekMessage());
    EXPECT_EQ(ran, 1);
}

TEST_F(QtHostTest, WindowsAnswerThroughALongWaitForThePanelButTakeNoInput)
{
    // A real-time erase of 1.5 s on the simulated panel, waited for as the program does.
    sim::BootLoaderConfig config;
    config.idVerifiedAtStart = true;
    config.eraseTimeMs = 1500;
    sim::CSimulatedPanel panel("QTWAIT", config);
    CSerialComm link;
    ASSERT_TRUE(link.Open("QTWAIT"));
    CSerialCommState state;
    state.m_dwBaudRate = 9600;
    state.m_byByteSize = 8;
    ASSERT_TRUE(link.SetState(state));
    link.SetTimeout(5000);
    link.SetWaitHook([] { KeepWindowsResponsive(); });

    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(20);
    QLineEdit field;
    field.show();
    QTimer::singleShot(300, [&] {
        QCoreApplication::postEvent(&field, new QKeyEvent(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, "x"));
    });

    QElapsedTimer clock;
    clock.start();
    loader::CEngine engine(link);
    EXPECT_EQ(engine.EraseAll().outcome, loader::Outcome::Done);
    EXPECT_GE(clock.elapsed(), 1500);
    // Loose bounds: the timer ran during the wait, not only after it.
    EXPECT_GE(ticks, 10);
    EXPECT_TRUE(field.text().isEmpty()) << "a key pressed during the erase was taken";
}

TEST_F(QtHostTest, SystemMenuEntriesAreOfferedFromTheContextMenu)
{
    class CMenuDlg : public CFormDlg
    {
    public:
        std::vector<unsigned> commands;
        BOOL OnInitDialog() override
        {
            CDialog::OnInitDialog();
            GetSystemMenu(FALSE)->AppendMenu(MF_SEPARATOR);
            GetSystemMenu(FALSE)->AppendMenu(MF_STRING, IDM_ABOUTBOX, "&About Torvane...");
            return TRUE;
        }
        void OnSysCommand(unsigned id, long) override { commands.push_back(id); }
    } dlg;
    QStringList shown;
    EXPECT_EQ(RunWith(host, dlg,
                      [&](QDialog& window) {
                          QTimer::singleShot(0, [&] {
                              auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
                              ASSERT_NE(menu, nullptr);
                              for (QAction* action : menu->actions())
                                  shown << action->text();
                              menu->setActiveAction(menu->actions().back());
                              QKeyEvent choose(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
                              QCoreApplication::sendEvent(menu, &choose);
                          });
                          QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5),
                                                  window.mapToGlobal(QPoint(5, 5)));
                          QCoreApplication::sendEvent(&window, &event);
                          SendKey(&window, Qt::Key_Escape);
                      }),
              IDCANCEL);
    EXPECT_EQ(shown, (QStringList{QString(), "&About Torvane..."}));
    EXPECT_EQ(dlg.commands, (std::vector<unsigned>{IDM_ABOUTBOX}));
}

TEST(QtFileFilterTest, ConvertsTheFrameworkFilterForm)
{
    EXPECT_EQ(QtFileFilter("Motlora Hex File (*.s;*.mot)|*.s;*.mot|All Files (*.*)|*.*|"),
              "Motlora Hex File (*.s *.mot);;All Files (*.*)");
    EXPECT_EQ(QtFileFilter("Boot|*.btp|"), "Boot (*.btp)");
}

#ifdef TORVANE_RENDER_DIALOGS
// Not a check but a tool, built only for scripts/render-dialogs: with TORVANE_RENDER_DIR
// set, every template is shown and saved as a PNG.
TEST_F(QtHostTest, RenderEveryTemplate)
{
    const QByteArray dir = qgetenv("TORVANE_RENDER_DIR");
    if (dir.isEmpty()) GTEST_SKIP() << "TORVANE_RENDER_DIR not set";
    for (const DialogTemplate* tmpl : AllDialogTemplates()) {
        CDialog dialog(tmpl->id);
        ASSERT_TRUE(dialog.Create(tmpl->id));
        dialog.ShowWindow(SW_SHOW);
        QDialog* window = host.Window(dialog);
        window->move(20, 20);
        for (int i = 0; i < 20; ++i)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        const QString file = QStringLiteral("%1/%2.png").arg(QString::fromLocal8Bit(dir)).arg(tmpl->id);
        const QString geometry = QStringLiteral("%1x%2+%3+%4")
                                     .arg(window->frameGeometry().width())
                                     .arg(window->frameGeometry().height())
                                     .arg(window->frameGeometry().x())
                                     .arg(window->frameGeometry().y());
        if (QProcess::execute(QStringLiteral("import"), {"-window", "root", "-crop", geometry, file}) != 0)
            window->grab().save(file);
        dialog.DestroyWindow();
        QCoreApplication::processEvents();
    }
}
#endif

} // namespace
