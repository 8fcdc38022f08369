#include "app/vantory.h"

// The two window timers: the 1 ms engine tick and the 300 ms clock.

void Vantory::TIMER0_HANDLE()
{
    // The command sequencer and the beeper step run here once they exist; until then
    // there is nothing to do on a tick.
}

void Vantory::SetTime()
{
    UpdateDateTime();
}

void Vantory::UpdateDateTime()
{
    current_time = QDateTime::currentDateTime();
    Init_SetLumen();
}
