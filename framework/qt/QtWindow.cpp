#include "framework/qt/QtWindow.h"
#include "framework/WinApp.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QEventLoop>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QWindow>
#include <vector>

#include "framework/Dialog.h"
#include "framework/qt/QtHost.h"

namespace {

const char* const kIdProperty = "torvaneControlId";

// A static text shows "&x" as an underlined x and "&&" as "&" unless it says otherwise.
QString LabelText(const std::string& text, unsigned style)
{
    if (style & CS_NOPREFIX) return QString::fromStdString(text);
    std::string shown;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&' && i + 1 < text.size())
            ++i;
        else if (text[i] == '&')
            continue;
        shown += text[i];
    }
    return QString::fromStdString(shown);
}

bool IsCombo(ControlKind kind)
{
    return kind == ControlKind::ComboDropDown || kind == ControlKind::ComboDropList;
}

} // namespace

CQtWindow::CQtWindow(CDialog& dialog, QWidget* owner) : QDialog(nullptr), m_pModel(&dialog)
{
    const DialogTemplate& tmpl = dialog.Template();
    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if (tmpl.style & DS_SYSMENU) flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (tmpl.style & DS_MINIMIZEBOX) flags |= Qt::WindowMinimizeButtonHint;
    setWindowFlags(flags);
    setSizeGripEnabled(false);
    setWindowTitle(QString::fromStdString(dialog.GetWindowText()));
    if (!QApplication::windowIcon().isNull()) setWindowIcon(QApplication::windowIcon());

    const QSize base = DialogBaseUnits(font());
    setFixedSize(DialogUnitsToPixels(base, 0, 0, tmpl.cx, tmpl.cy).size());

    QButtonGroup* radioGroup = nullptr;
    for (const ControlTemplate& line : tmpl.controls) {
        if (line.style & CS_GROUP) radioGroup = nullptr;
        BuildControl(line, base, radioGroup);
    }
    // Texts behind the controls, group frames behind everything.
    for (QLabel* label : findChildren<QLabel*>(Qt::FindDirectChildrenOnly))
        label->lower();
    for (QGroupBox* box : findChildren<QGroupBox*>(Qt::FindDirectChildrenOnly))
        box->lower();
    // Tab order is template order.
    QWidget* previous = nullptr;
    for (QObject* child : children()) {
        auto* widget = qobject_cast<QWidget*>(child);
        if (!widget || widget->focusPolicy() != Qt::StrongFocus) continue;
        if (previous) QWidget::setTabOrder(previous, widget);
        previous = widget;
    }

    for (const auto& [id, widget] : m_controls)
        ControlChanged(id);
    setEnabled(dialog.IsWindowEnabled());

    // Centred over the owner, or on the screen for a centred template or a window without owner.
    QRect area = screen() ? screen()->availableGeometry() : QRect(0, 0, 1024, 768);
    if (owner && !(tmpl.style & DS_CENTER)) area = owner->window()->frameGeometry();
    move(area.center() - rect().center());
    if (owner && owner->window()->windowHandle()) {
        winId();
        windowHandle()->setTransientParent(owner->window()->windowHandle());
    }
}

CQtWindow::~CQtWindow() = default;

void CQtWindow::BuildControl(const ControlTemplate& line, const QSize& baseUnits, QButtonGroup*& radioGroup)
{
    const QRect area = DialogUnitsToPixels(baseUnits, line.x, line.y, line.cx, line.cy);
    const QString text = QString::fromStdString(line.text);
    const int id = line.id;
    QWidget* widget = nullptr;
    switch (line.kind) {
    case ControlKind::PushButton:
    case ControlKind::DefPushButton: {
        auto* button = new QPushButton(text, this);
        button->setAutoDefault(true);
        button->setDefault(line.kind == ControlKind::DefPushButton);
        connect(button, &QPushButton::clicked, this, [this, id] { Press(id); });
        widget = button;
        break;
    }
    case ControlKind::Edit: {
        auto* edit = new QLineEdit(this);
        edit->setReadOnly(line.style & CS_READONLY);
        connect(edit, &QLineEdit::textEdited, this, [this, id](const QString& typed) {
            if (CControl* control = m_pModel ? m_pModel->GetDlgItem(id) : nullptr)
                control->SetTextFromUser(typed.toStdString());
        });
        widget = edit;
        break;
    }
    case ControlKind::Static: {
        auto* label = new QLabel(LabelText(line.text, line.style), this);
        label->setTextFormat(Qt::PlainText);
        Qt::Alignment align = (line.style & CS_CENTER) ? Qt::AlignHCenter : Qt::AlignLeft;
        align |= (line.style & CS_CENTERIMAGE) ? Qt::AlignVCenter : Qt::AlignTop;
        label->setAlignment(align);
        label->setWordWrap(!(line.style & CS_CENTERIMAGE));
        widget = label;
        break;
    }
    case ControlKind::Icon: {
        auto* label = new QLabel(this);
        label->setPixmap(ApplicationIcon().pixmap(32, 32));
        widget = label;
        break;
    }
    case ControlKind::GroupBox:
        widget = new QGroupBox(text, this);
        widget->setFocusPolicy(Qt::NoFocus);
        break;
    case ControlKind::EtchedHorz: {
        auto* lineFrame = new QFrame(this);
        lineFrame->setFrameShape(QFrame::HLine);
        lineFrame->setFrameShadow(QFrame::Sunken);
        widget = lineFrame;
        break;
    }
    case ControlKind::ComboDropDown:
    case ControlKind::ComboDropList: {
        auto* combo = new QComboBox(this);
        combo->setEditable(line.kind == ControlKind::ComboDropDown);
        combo->setInsertPolicy(QComboBox::NoInsert);
        // The dialog may have added items to its template's (the ports present).
        const CControl* model = m_pModel->GetDlgItem(id);
        for (const std::string& item : model ? model->Items() : line.items)
            combo->addItem(QString::fromStdString(item));
        connect(combo, &QComboBox::activated, this, [this, id](int index) {
            if (CControl* control = m_pModel ? m_pModel->GetDlgItem(id) : nullptr)
                control->SetCurSelFromUser(index);
        });
        if (QLineEdit* edit = combo->lineEdit()) {
            edit->installEventFilter(this);
            connect(edit, &QLineEdit::textEdited, this, [this, id](const QString& typed) {
                if (CControl* control = m_pModel ? m_pModel->GetDlgItem(id) : nullptr) {
                    control->SetCurSelFromUser(-1);
                    control->SetTextFromUser(typed.toStdString());
                }
            });
        }
        widget = combo;
        break;
    }
    case ControlKind::RadioButton: {
        auto* radio = new QRadioButton(text, this);
        if (!radioGroup) radioGroup = new QButtonGroup(this);
        radioGroup->addButton(radio);
        if (id != IDC_STATIC) m_radioGroups[id] = radioGroup;
        QButtonGroup* group = radioGroup;
        connect(radio, &QRadioButton::clicked, this, [this, group] {
            if (!m_pModel) return;
            for (QAbstractButton* member : group->buttons())
                if (CControl* control = m_pModel->GetDlgItem(member->property(kIdProperty).toInt()))
                    control->SetCheckFromUser(member->isChecked() ? 1 : 0);
        });
        widget = radio;
        break;
    }
    case ControlKind::ProgressBar: {
        auto* bar = new QProgressBar(this);
        bar->setTextVisible(false);
        widget = bar;
        break;
    }
    }

    if (line.kind == ControlKind::Icon) {
        // An icon control takes the icon's own size, whatever the template says.
        widget->setGeometry(area.x(), area.y(), 32, 32);
    } else if (line.kind == ControlKind::EtchedHorz) {
        widget->setGeometry(area.x(), area.y(), area.width(), 2);
    } else if (IsCombo(line.kind)) {
        // The template's height includes the dropped-down list.
        widget->setGeometry(area.x(), area.y(), area.width(), widget->sizeHint().height());
    } else if (line.kind == ControlKind::Static && area.height() < 2 * fontMetrics().height()) {
        // This font runs wider than the one the panels were laid out with: a one-line text
        // that no longer fits grows sideways (behind its neighbours) rather than wrapping
        // into a second line nobody can see.
        auto* label = static_cast<QLabel*>(widget);
        label->setWordWrap(false);
        QRect grown = area;
        const int needed = label->sizeHint().width();
        if (needed > area.width()) {
            const int extra = needed - area.width();
            if (line.style & CS_CENTER)
                grown.adjust(-extra / 2, 0, extra - extra / 2, 0);
            else
                grown.setWidth(needed);
        }
        widget->setGeometry(grown);
    } else {
        widget->setGeometry(area);
    }

    const bool focusable = line.kind != ControlKind::Static && line.kind != ControlKind::Icon &&
                           line.kind != ControlKind::GroupBox && line.kind != ControlKind::EtchedHorz &&
                           line.kind != ControlKind::ProgressBar;
    if (!focusable)
        widget->setFocusPolicy(Qt::NoFocus);
    else
        widget->setFocusPolicy((line.style & CS_TABSTOP) ? Qt::StrongFocus : Qt::ClickFocus);
    widget->installEventFilter(this);
    widget->setProperty(kIdProperty, id);
    widget->setHidden(line.style & CS_HIDDEN);
    widget->setEnabled(!(line.style & CS_DISABLED));
    if (id != IDC_STATIC) {
        widget->setObjectName(QStringLiteral("ctrl_%1").arg(id));
        m_controls.emplace(id, widget);
    }
}

QWidget* CQtWindow::Control(int id) const
{
    auto it = m_controls.find(id);
    return it == m_controls.end() ? nullptr : it->second;
}

void CQtWindow::Detach()
{
    m_pModel = nullptr;
    if (m_pLoop) m_pLoop->exit(0);
}

void CQtWindow::FocusFirstTabStop()
{
    for (QObject* child : children()) {
        auto* widget = qobject_cast<QWidget*>(child);
        if (widget && widget->focusPolicy() == Qt::StrongFocus && widget->isEnabled() &&
            !widget->isHidden()) {
            widget->setFocus(Qt::TabFocusReason);
            return;
        }
    }
}

void CQtWindow::RaiseWindow()
{
    // The offscreen platform of the tests has no stacking order and says so on every call.
    if (QGuiApplication::platformName() != QLatin1String("offscreen")) raise();
}

void CQtWindow::WindowChanged()
{
    if (!m_pModel) return;
    setWindowTitle(QString::fromStdString(m_pModel->GetWindowText()));
    setEnabled(m_pModel->IsWindowEnabled());
    if (m_pModel->IsWindowVisible() && !isVisible()) {
        show();
        RaiseWindow();
    } else if (!m_pModel->IsWindowVisible() && isVisible()) {
        hide();
    }
}

void CQtWindow::ApplyRadioGroup(QButtonGroup* group)
{
    // An exclusive group refuses to uncheck its last button; the model may want none.
    group->setExclusive(false);
    for (QAbstractButton* member : group->buttons()) {
        const CControl* control = m_pModel->GetDlgItem(member->property(kIdProperty).toInt());
        QSignalBlocker block(member);
        member->setChecked(control && control->GetCheck());
    }
    group->setExclusive(true);
}

void CQtWindow::ControlChanged(int id)
{
    if (!m_pModel) return;
    const CControl* control = m_pModel->GetDlgItem(id);
    QWidget* widget = Control(id);
    if (!control || !widget) return;
    QSignalBlocker block(widget);
    widget->setHidden(!control->IsWindowVisible());
    widget->setEnabled(control->IsWindowEnabled());
    const QString text = QString::fromStdString(control->GetWindowText());
    switch (control->Kind()) {
    case ControlKind::PushButton:
    case ControlKind::DefPushButton:
        static_cast<QPushButton*>(widget)->setText(text);
        break;
    case ControlKind::Edit: {
        auto* edit = static_cast<QLineEdit*>(widget);
        if (edit->text() != text) edit->setText(text);
        break;
    }
    case ControlKind::Static:
        static_cast<QLabel*>(widget)->setText(LabelText(control->GetWindowText(), control->Template().style));
        break;
    case ControlKind::GroupBox:
        static_cast<QGroupBox*>(widget)->setTitle(text);
        break;
    case ControlKind::ComboDropDown:
    case ControlKind::ComboDropList: {
        auto* combo = static_cast<QComboBox*>(widget);
        const int selected = control->GetCurSel();
        combo->setCurrentIndex(selected < combo->count() ? selected : -1);
        if (combo->isEditable() && combo->currentText() != text) combo->setEditText(text);
        break;
    }
    case ControlKind::RadioButton: {
        static_cast<QRadioButton*>(widget)->setText(text);
        auto group = m_radioGroups.find(id);
        if (group != m_radioGroups.end()) ApplyRadioGroup(group->second);
        break;
    }
    case ControlKind::ProgressBar: {
        auto* bar = static_cast<QProgressBar*>(widget);
        int lower = 0, upper = 0;
        control->GetRange(lower, upper);
        bar->setRange(lower, upper);
        if (!bar->isVisible()) {
            bar->setValue(control->GetPos());
        } else if (m_pendingBars.insert(id).second) {
            // A shown bar repaints at once on a new value, and that paint would sit between
            // a page's frame and its pause. Queued, it happens at the pump inside the pause.
            QMetaObject::invokeMethod(this, [this, id] { ApplyBarValue(id); }, Qt::QueuedConnection);
        }
        break;
    }
    case ControlKind::Icon:
    case ControlKind::EtchedHorz:
        break;
    }
}

void CQtWindow::ApplyBarValue(int id)
{
    m_pendingBars.erase(id);
    const CControl* control = m_pModel ? m_pModel->GetDlgItem(id) : nullptr;
    auto* bar = qobject_cast<QProgressBar*>(Control(id));
    if (control && bar) bar->setValue(control->GetPos());
}

void CQtWindow::Press(int id)
{
    if (!m_pModel) return;
    const CControl* control = m_pModel->GetDlgItem(id);
    if (control && control->IsWindowEnabled() && control->IsWindowVisible()) m_pModel->OnCommand(id);
}

bool CQtWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress && HandleDialogKey(static_cast<QKeyEvent*>(event))) return true;
    return QDialog::eventFilter(watched, event);
}

bool CQtWindow::HandleDialogKey(QKeyEvent* event)
{
    if (!m_pModel) return false;
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (modifiers != Qt::NoModifier) return false;
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter: {
        int focused = 0;
        if (auto* button = qobject_cast<QPushButton*>(focusWidget()))
            focused = button->property(kIdProperty).toInt();
        m_pModel->PressEnter(focused);
        return true;
    }
    case Qt::Key_Escape:
        m_pModel->PressEscape();
        return true;
    default:
        return false;
    }
}

void CQtWindow::keyPressEvent(QKeyEvent* event)
{
    if (!HandleDialogKey(event)) QDialog::keyPressEvent(event);
}

void CQtWindow::closeEvent(QCloseEvent* event)
{
    // Only EndDialog or DestroyWindow closes the window; the close box is a cancel command,
    // and a disabled window (the panel under the progress window) takes no commands.
    event->ignore();
    if (m_pModel && m_pModel->IsWindowEnabled() && !WindowsBusy()) m_pModel->PressCloseBox();
}

void CQtWindow::contextMenuEvent(QContextMenuEvent* event)
{
    // Linux has no system menu to extend: its extra entries are offered here.
    if (!m_pModel) return;
    CMenu* systemMenu = m_pModel->GetSystemMenu(FALSE);
    if (!systemMenu || systemMenu->Items().empty()) return;
    QMenu menu(this);
    for (const CMenu::Item& item : systemMenu->Items()) {
        if (item.flags & MF_SEPARATOR)
            menu.addSeparator();
        else
            menu.addAction(QString::fromStdString(item.text))->setData(item.id);
    }
    QAction* chosen = menu.exec(event->globalPos());
    if (chosen && m_pModel) m_pModel->OnSysCommand(chosen->data().toUInt(), 0);
}
