// The engine's frame: its links, its 1 ms tick, and the reader choice. The operations
// live in engine/tagengine_*.cpp by subsystem.
#include "engine/tagengine.h"

#include "engine/enginelog.h"
#include "model/tagfields.h"
#include "readers/feigworker.h"
#include "readers/myfeigusb.h"
#include "readers/myhid.h"
#include "readers/myreader.h"

#include <QTimer>

namespace
{

// How often the chosen reader is looked at while it is gone.
constexpr int kLinkCheckMs = 1000;
constexpr int kAutoPassMs = 300;

} // namespace

TagEngine::TagEngine(HidBackend* hid, FeusbApi* feusb, QObject* parent)
    : QObject(parent), m_doc(new TagDocument(this))
{
    m_myreader = new myreader();
    m_myhid = new myhid(hid);
    m_myreader->setHid(m_myhid);
    m_feig = new MyFeigUsb();
    m_feig_thread = new writeThreadFEIG1(feusb);

    cmd_timer = new QTimer(this);
    cmd_timer->setTimerType(Qt::PreciseTimer);
    cmd_timer->setInterval(1);
    connect(cmd_timer, &QTimer::timeout, this, &TagEngine::TIMER0_HANDLE);
    cmd_timer->start();

    m_reply_timer = new QTimer(this);
    m_reply_timer->setSingleShot(true);
    connect(m_reply_timer, &QTimer::timeout, this, &TagEngine::onReplyOverdue);
    m_beep_end_timer = new QTimer(this);
    m_beep_end_timer->setSingleShot(true);
    connect(m_beep_end_timer, &QTimer::timeout, this, &TagEngine::onBeepEndOverdue);

    connect(m_myhid, &myhid::usbConnect, this, &TagEngine::in_usbConnect);
    connect(m_myhid, &myhid::linkLost, this, &TagEngine::onR321LinkLost);
    m_link_timer = new QTimer(this);
    m_link_timer->setInterval(kLinkCheckMs);
    connect(m_link_timer, &QTimer::timeout, this, &TagEngine::checkReaderLink);
    m_link_timer->start();

    // The auto-write loop's pass; it does nothing while auto scan is off.
    m_auto_pass = new QTimer(this);
    m_auto_pass->setInterval(kAutoPassMs);
    connect(m_auto_pass, &QTimer::timeout, this, [this] {
        if (autoScanning())
            AutoWriteProcess();
    });
    m_auto_pass->start();
}

configfile::LoadResult TagEngine::openConfiguration(const QByteArray& bytes,
                                                    const QString& name)
{
    return m_doc->loadFile(bytes, name, m_kind_seen ? chip_code : 0);
}

QByteArray TagEngine::configurationToSave()
{
    m_doc->applyPanels();
    return m_doc->fileBytes();
}

void TagEngine::stopAutoWritePass()
{
    m_auto_pass->stop();
}

void TagEngine::setAutoWritePass(int ms)
{
    m_auto_pass->setInterval(ms);
}

TagEngine::~TagEngine()
{
    // The tick first, so that it never reaches half-destroyed links; each link stops its
    // own threads.
    cmd_timer->stop();
    m_auto_pass->stop();
    delete m_feig_thread;
    delete m_myhid;
    delete m_myreader;
    delete m_feig;
}

void TagEngine::Set_Reader_Type(ReaderType value)
{
    reader_type = value;
}

void TagEngine::TIMER0_HANDLE()
{
    // One step of the running command sequence, then one of the beeper; both return at
    // once when idle, since this runs every millisecond.
    CheckCmdSequence();
    Beep_Process();
    // With no sequence and no beep every further tick would be empty: park the timer
    // until one starts, so that an idle program does not wake a thousand times a second.
    if (m_cmd.cmd_type == 0 && beep_pattern == 0 && cmd_timer->isActive()) {
        cmd_timer->stop();
        m_tick_parked = true;
    }
}

void TagEngine::wakeTick()
{
    // Only a tick parked above is restarted; one stopped on purpose stays stopped.
    if (m_tick_parked) {
        m_tick_parked = false;
        cmd_timer->start();
    }
}

QByteArray TagEngine::uidMsbFirst() const
{
    // The R321 reports the UID least significant byte first, the FEIG reader the other way.
    return reader_type == ReaderType::R321 ? uidReversedBytes() : uidBytes();
}

void TagEngine::Update_Bank_Buff()
{
    m_doc->prepareBankBuffer();
}

void TagEngine::onR321LinkLost()
{
    if (reader_type != ReaderType::R321)
        return;
    Tip_R321_Select_Device(lang_cn());
    endSequenceOnLinkLoss();
}

void TagEngine::checkReaderLink()
{
    if (reader_type == ReaderType::R321) {
        // Only the R321 connected before; success arrives at in_usbConnect with its tip.
        if (!m_myhid->Is_Connected() && m_r321_wanted.vendorId != 0)
            m_myhid->Reconnect(m_r321_wanted);
    } else if (reader_type == ReaderType::Feig && m_feig_wanted) {
        if (m_feig_thread->Feig_IsConnected()) {
            m_feig_lost_shown = false;
            return;
        }
        if (!m_feig_lost_shown) {
            Tip_R321_Select_Device(lang_cn());
            m_feig_lost_shown = true;
        }
        // Not while the library still holds a request: opening waits for it.
        if (m_feig_outstanding == 0 && connectFeig())
            m_feig_lost_shown = false;
    }
}
