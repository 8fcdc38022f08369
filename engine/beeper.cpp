#include "engine/beeper.h"

#include "engine/enginelog.h"

namespace
{

constexpr uint8_t kBeepTicks = 100;

} // namespace

Beeper::Beeper(Switch send, QObject* parent) : QObject(parent), m_send(std::move(send))
{
    m_end_timer.setSingleShot(true);
    connect(&m_end_timer, &QTimer::timeout, this, &Beeper::onEndOverdue);
}

void Beeper::Start_Beep(uint8_t cnt)
{
    beep_step = 1;
    beep_twice_step = 1;
    beep_ticks = 1;
    beep_pattern = cnt;
    m_failure_reported = false;
    m_end_pending = false; // only the last switch-off of the new pattern counts
}

void Beeper::Beep_Process()
{
    if (beep_pattern != 1 && beep_pattern != 2)
        return;
    --beep_ticks;
    if (beep_ticks != 0)
        return;
    if (beep_pattern == 1)
        Buzzer_Once(false);
    else
        Buzzer_TWICE();
}

void Beeper::Buzzer_TWICE()
{
    if (beep_twice_step == 1)
        Buzzer_Once(true);
    else if (beep_twice_step == 2)
        Buzzer_Once(false);
}

void Beeper::Buzzer_Once(bool mode)
{
    if (beep_step == 1) {
        beep_ticks = kBeepTicks;
        beep_step = 2;
        Buzzer_OnOff_Process(1);
    } else if (beep_step == 2) {
        if (mode) {
            beep_ticks = kBeepTicks;
            beep_twice_step = 2;
            beep_step = 1;
        } else {
            beep_pattern = 0;
        }
        Buzzer_OnOff_Process(0);
    }
}

void Beeper::Buzzer_OnOff_Process(uint8_t OnffState)
{
    beep_cmd[1] = OnffState;
    const bool sent = m_send && m_send(OnffState);
    // The end of a beep waits for the reply to its last switch-off, but not for ever: a
    // reader that never answers must not hold the batch.
    if (sent && OnffState == 0 && beep_pattern == 0) {
        m_end_pending = true;
        m_end_timer.start(m_end_timeout_ms);
    }
}

void Beeper::Beep_Recevie()
{
    // Once per pattern: a late or repeated reply must not move the batch on twice.
    if (beep_pattern != 0 || !m_end_pending)
        return;
    m_end_pending = false;
    m_end_timer.stop();
    qCDebug(lcEngine) << "Beep_Recevie：蜂鸣器结束";
    emit finished();
}

void Beeper::reply(const replies::Reply& reply)
{
    if (!reply.ok) {
        // Traced only: a failure beep would be refused as well. The pattern is over all
        // the same, and the batch must not wait for a reply that will not come.
        reportBeeperFailure();
        Beep_Recevie();
    } else if (beep_pattern == 0) {
        qCDebug(lcEngine) << "蜂鸣器响应";
        Beep_Recevie();
    }
}

void Beeper::reportBeeperFailure()
{
    // A reader that refuses the output command would refuse the commands of a failure
    // beep as well; reporting it with a beep would never end. So it is traced, once per
    // pattern, and no new pattern starts.
    if (m_failure_reported)
        return;
    m_failure_reported = true;
    qCWarning(lcEngine) << "<操作失败5：SET IO Failure>";
}

void Beeper::onEndOverdue()
{
    if (beep_pattern != 0 || !m_end_pending)
        return;
    qCWarning(lcEngine) << "<操作失败5：SET IO Failure> no reply to the beeper switch-off";
    Beep_Recevie();
}
