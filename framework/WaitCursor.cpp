#include "framework/WaitCursor.h"

#include "framework/Host.h"

CWaitCursor::CWaitCursor()
{
    Host().BeginWaitCursor();
}

CWaitCursor::~CWaitCursor()
{
    Restore();
}

void CWaitCursor::Restore()
{
    if (!m_bActive) return;
    m_bActive = false;
    Host().EndWaitCursor();
}
