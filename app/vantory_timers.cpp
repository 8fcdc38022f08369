#include "app/vantory.h"

// The two window timers: the 1 ms engine tick and the 300 ms clock.

void Vantory::TIMER0_HANDLE()
{
    // One step of the running command sequence, then one of the beeper; both return at
    // once when idle, since this runs every millisecond.
    CheckCmdSequence();
    Beep_Process();
}

void Vantory::SetTime()
{
    UpdateDateTime();
    if (auto_scan)
        AutoWriteProcess();
}

void Vantory::UpdateDateTime()
{
    current_time = QDateTime::currentDateTime();
    Init_SetLumen();
}
