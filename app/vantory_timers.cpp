#include "app/vantory.h"

#include <QTimer>

// The 300 ms clock of the window: the time shown and the first pass of the lumen table. The
// engine runs the auto-write loop on a clock of its own.

void Vantory::SetTime()
{
    UpdateDateTime();
}

void Vantory::UpdateDateTime()
{
    current_time = QDateTime::currentDateTime();
    Init_SetLumen();
}
