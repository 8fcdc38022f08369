// The reader's beeper: one beep for success, two for failure, stepped by the 1 ms tick.
// Every switch on or off is one reader command.
#include "engine/tagengine.h"

#include "engine/enginelog.h"
#include "readers/feigworker.h"
#include "readers/myfeigusb.h"
#include "readers/myreader.h"

#include <QTimer>

using replies::Kind;

namespace
{

constexpr uint8_t kBeepTicks = 100;

} // namespace

void TagEngine::Start_Beep(uint8_t cnt)
{
    beep_step = 1;
    beep_twice_step = 1;
    beep_ticks = 1;
    beep_pattern = cnt;
    m_beep_failure_reported = false;
    m_beep_end_pending = false; // only the last switch-off of the new pattern counts
    wakeTick();
}

void TagEngine::Beep_Process()
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

void TagEngine::Buzzer_TWICE()
{
    if (beep_twice_step == 1)
        Buzzer_Once(true);
    else if (beep_twice_step == 2)
        Buzzer_Once(false);
}

void TagEngine::Buzzer_Once(bool mode)
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
        if (beep_pattern == 0 && (reader_type == ReaderType::Feig || reader_type == ReaderType::R321))
            armBeepEndTimer();
    }
}

void TagEngine::Buzzer_OnOff_Process(uint8_t OnffState)
{
    beep_cmd[1] = OnffState;
    if (reader_type == ReaderType::Feig) {
        sendFeigFrame(m_feig->Feig_SetOutput(OnffState), Kind::Beeper);
    } else if (reader_type == ReaderType::R321) {
        const QByteArray record(reinterpret_cast<const char*>(beep_cmd.data()),
                                static_cast<int>(beep_cmd.size()));
        sendR321Frame(m_myreader->Cmd_Raw(record, record.size()), Kind::Beeper);
    }
}

void TagEngine::Beep_Recevie()
{
    // Once per pattern: a late or repeated reply must not move the batch on twice.
    if (beep_pattern != 0 || !m_beep_end_pending)
        return;
    m_beep_end_pending = false;
    m_beep_end_timer->stop();
    qCDebug(lcEngine) << "Beep_Recevie：蜂鸣器结束";
    emit beepFinished();
    if (auto_scan)
        Open_Auto_Scan();
}

void TagEngine::reportBeeperFailure()
{
    // A reader that refuses the output command would refuse the commands of a failure
    // beep as well; reporting it with a beep would never end. So it is traced, once
    // per pattern, and no new pattern starts.
    if (m_beep_failure_reported)
        return;
    m_beep_failure_reported = true;
    qCWarning(lcEngine) << "<操作失败5：SET IO Failure>";
}

void TagEngine::armBeepEndTimer()
{
    m_beep_end_pending = true;
    m_beep_end_timer->start(m_reply_timeout_ms);
}

void TagEngine::onBeepEndOverdue()
{
    if (beep_pattern != 0 || !m_beep_end_pending)
        return;
    qCWarning(lcEngine) << "<操作失败5：SET IO Failure> no reply to the beeper switch-off";
    Beep_Recevie();
}
