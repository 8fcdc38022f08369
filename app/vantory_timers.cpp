#include "app/vantory.h"

#include <QTimer>

// The two window timers: the 1 ms engine tick and the 300 ms clock.

void Vantory::TIMER0_HANDLE()
{
    // One step of the running command sequence, then one of the beeper; both return at
    // once when idle, since this runs every millisecond.
    CheckCmdSequence();
    Beep_Process();
    // With no sequence and no beep every further tick would be empty: park the timer
    // until one starts, so that an idle window does not wake a thousand times a second.
    if (m_cmd.cmd_type == 0 && beep_pattern == 0 && cmd_timer->isActive()) {
        cmd_timer->stop();
        m_tick_parked = true;
    }
}

void Vantory::wakeTick()
{
    // Only a tick parked above is restarted; one stopped on purpose stays stopped.
    if (m_tick_parked) {
        m_tick_parked = false;
        cmd_timer->start();
    }
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
