#include "app/vantory.h"

#include <QTimer>

// The 300 ms clock of the window; it runs the auto-write loop while that is on. The
// engine keeps its own 1 ms tick.

void Vantory::SetTime()
{
    UpdateDateTime();
    if (m_engine->autoScanning())
        m_engine->AutoWriteProcess();
}

void Vantory::UpdateDateTime()
{
    current_time = QDateTime::currentDateTime();
    Init_SetLumen();
}
