#pragma once
// One dialog on screen: a QDialog built from the dialog's template and its peer, so the
// widgets follow the model and the user's input goes back into it.
#include <QDialog>
#include <QPointer>
#include <map>
#include <set>

#include "framework/Wnd.h"

class CDialog;
class QButtonGroup;
class QEventLoop;

class CQtWindow final : public QDialog, public IWindowPeer
{
public:
    CQtWindow(CDialog& dialog, QWidget* owner);
    ~CQtWindow() override;

    void WindowChanged() override;
    void ControlChanged(int id) override;

    QWidget* Control(int id) const;
    CDialog* Model() const { return m_pModel; }
    // The model is about to go away (its window was destroyed): never touch it again.
    void Detach();
    // Focus on the first enabled tab stop, as the dialog manager does after initialisation.
    void FocusFirstTabStop();
    void RaiseWindow();
    void SetLoop(QEventLoop* loop) { m_pLoop = loop; }
    QEventLoop* Loop() const { return m_pLoop; }

    void accept() override {}
    void reject() override {}
    void done(int) override {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void BuildControl(const ControlTemplate& line, const QSize& baseUnits, QButtonGroup*& radioGroup);
    void Press(int id);
    // Enter and Escape reach the model whichever control has the focus.
    bool HandleDialogKey(QKeyEvent* event);
    void ApplyRadioGroup(QButtonGroup* group);
    void ApplyBarValue(int id);

    CDialog* m_pModel;
    std::map<int, QWidget*> m_controls;
    std::map<int, QButtonGroup*> m_radioGroups; // by control id
    QEventLoop* m_pLoop = nullptr;
    std::set<int> m_pendingBars; // values waiting for the next pump
};
