#include "app/vantory.h"

#include "app/apptexts.h"
#include "readers/feigworker.h"
#include "readers/myhid.h"

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

void Vantory::onR321LinkLost()
{
    if (reader_type == 2)
        Show_Link_Status(false, apptext::SelectDevice.pick(lang_cn != 0));
}

void Vantory::checkReaderLink()
{
    if (reader_type == 2) {
        // Only the R321 connected before; success arrives at in_usbConnect with its tip.
        if (!m_myhid->Is_Connected() && m_r321_wanted.vendorId != 0)
            m_myhid->Reconnect(m_r321_wanted);
    } else if (reader_type == 1 && m_feig_wanted) {
        if (m_feig_thread->Feig_IsConnected()) {
            m_feig_lost_shown = false;
            return;
        }
        if (!m_feig_lost_shown) {
            Show_Link_Status(false, apptext::SelectDevice.pick(lang_cn != 0));
            m_feig_lost_shown = true;
        }
        // Not while the library still holds a request: opening waits for it.
        if (m_feig_outstanding == 0 && connectFeig())
            m_feig_lost_shown = false;
    }
}
