#pragma once
// The real GUI: each dialog template becomes a QDialog laid out at its dialog-unit
// geometry, kept in step with the dialog's model both ways.
#include <QFont>
#include <QIcon>
#include <QRect>
#include <QSize>
#include <QString>
#include <map>
#include <memory>
#include <vector>

#include "framework/Host.h"

class CDialog;
class CWinApp;
class QDialog;
class QObject;
class QWidget;
class CQtWindow;

class CQtHost : public IHost
{
public:
    CQtHost();
    ~CQtHost() override;
    CQtHost(const CQtHost&) = delete;
    CQtHost& operator=(const CQtHost&) = delete;

    INT_PTR RunModal(CDialog& dialog) override;
    void EndModal(CDialog& dialog, int result) override;
    bool CreateModeless(CDialog& dialog, CWnd* parent) override;
    void DestroyWindow(CDialog& dialog) override;
    int MessageBox(CWnd* owner, const std::string& text, const std::string& caption, unsigned type) override;
    std::optional<std::string> OpenFileDialog(CWnd* owner, const std::string& filter,
                                              unsigned flags) override;
    void BeginWaitCursor() override;
    void EndWaitCursor() override;
    void BeginPumpRound() override;
    bool PeekMessage() override;
    bool PumpMessage() override;
    void PumpWhileBusy(bool dropInput) override;
    void PostQuitMessage(int exitCode) override;
    CWnd* GetActiveWindow() override;

    // The window that shows a dialog, and the widget of one of its controls (tests, tools).
    QDialog* Window(const CDialog& dialog) const;
    QWidget* ControlWidget(const CDialog& dialog, int id) const;
    QWidget* WidgetOf(CWnd* wnd) const;

private:
    CQtWindow* Build(CDialog& dialog, CWnd* parent);
    void Forget(CDialog& dialog);

    std::map<const CDialog*, CQtWindow*> m_windows;
    std::vector<CDialog*> m_order; // open windows, most recent last
    std::unique_ptr<QObject> m_quitWatch;
    bool m_roundPending = false;
    bool m_quitPending = false;
    int m_waitDepth = 0;
};

// Dialog base units of a font, as the Windows dialog manager computes them.
QSize DialogBaseUnits(const QFont& font);
// A rectangle in dialog units converted to pixels with those base units.
QRect DialogUnitsToPixels(const QSize& baseUnits, int x, int y, int cx, int cy);
// "Name (*.x;*.y)|*.x;*.y|..." in the form QFileDialog takes ("Name (*.x *.y);;...").
QString QtFileFilter(const std::string& filter);
// The application icon from the program's resources (null when it is missing).
QIcon ApplicationIcon();

// Creates the QApplication, installs a CQtHost and runs the application; the exit code.
int RunQtApplication(int argc, char** argv, CWinApp& app);
