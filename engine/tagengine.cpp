// The engine's frame: the reader choice and its link, the 1 ms tick, the three actions,
// and the services its operations use. The reply analysis is in tagengine_replies.cpp,
// the production record's outcome in tagengine_outcome.cpp.
#include "engine/tagengine.h"

#include "engine/enginelog.h"
#include "engine/enginetexts.h"
#include "engine/readoperation.h"
#include "engine/writeoperation.h"
#include "model/tagfields.h"

#include <QTimer>
#include <algorithm>

using replies::Kind;

namespace
{

// How often the chosen reader is looked at while it is gone.
constexpr int kLinkCheckMs = 1000;
constexpr int kNoticeMs = 3000;

QByteArray bytesOf(const std::array<uint8_t, 8>& id)
{
    return QByteArray(reinterpret_cast<const char*>(id.data()), static_cast<int>(id.size()));
}

} // namespace

TagEngine::TagEngine(HidBackend* hid, FeusbApi* feusb, QObject* parent)
    : QObject(parent), m_doc(new TagDocument(this)), m_factory(hid, feusb),
      m_beeper([this](uint8_t state) {
          if (!m_link)
              return false;
          m_link->beep(state != 0);
          return true;
      }),
      m_auto(*this)
{
    cmd_timer = new QTimer(this);
    cmd_timer->setTimerType(Qt::PreciseTimer);
    cmd_timer->setInterval(1);
    connect(cmd_timer, &QTimer::timeout, this, &TagEngine::TIMER0_HANDLE);
    cmd_timer->start();

    connect(&m_seq, &Sequencer::overdue, this, &TagEngine::onReplyOverdue);
    connect(&m_beeper, &Beeper::finished, this, [this] {
        emit beepFinished();
        if (autoScanning())
            m_auto.Open_Auto_Scan();
    });

    m_link_timer = new QTimer(this);
    m_link_timer->setInterval(kLinkCheckMs);
    connect(m_link_timer, &QTimer::timeout, this, [this] {
        if (m_link)
            m_link->watch();
    });
    m_link_timer->start();
}

TagEngine::~TagEngine()
{
    // The tick first, so that it never reaches a half-destroyed link; the link stops its
    // own threads, and tells nobody any more.
    cmd_timer->stop();
    m_auto.stopPasses();
    if (m_link)
        m_link->disconnect(this);
    m_seq.setLink(nullptr);
    m_link.reset();
}

configfile::LoadResult TagEngine::openConfiguration(const QByteArray& bytes, const QString& name)
{
    return m_doc->loadFile(bytes, name, m_kind_seen ? chip_code : 0);
}

QByteArray TagEngine::configurationToSave()
{
    m_doc->applyPanels();
    return m_doc->fileBytes();
}

// ------------------------------------------------------------------ the reader

void TagEngine::Set_Reader_Type(const ReaderChoice& choice)
{
    if (m_link && m_link->choice() == choice)
        return;
    // Another reader: whatever the one held was doing ends with it.
    endSequenceOnLinkLoss();
    if (m_link)
        m_link->disconnect(this);
    m_seq.setLink(nullptr);
    m_link = m_factory.make(choice);
    m_seq.setLink(m_link.get());
    m_seq.matcher().reset();
    m_four_block_link = false;
    if (!m_link)
        return;
    connect(m_link.get(), &ReaderLink::replied, this, &TagEngine::Analyse_Receive_Data);
    connect(m_link.get(), &ReaderLink::connected, this, &TagEngine::onLinkConnected);
    connect(m_link.get(), &ReaderLink::disconnected, this, &TagEngine::onLinkDisconnected);
    connect(m_link.get(), &ReaderLink::answerLost, this, &TagEngine::endSequenceOnLinkLoss);
    connect(m_link.get(), &ReaderLink::cleared, this, &TagEngine::linkCleared);
    connect(m_link.get(), &ReaderLink::openFailed, this, &TagEngine::readerOpenFailed);
    connect(m_link.get(), &ReaderLink::inUse, this, &TagEngine::readerInUse);
}

ReaderType TagEngine::readerType() const
{
    return m_link ? m_link->choice().type : ReaderType::None;
}

bool TagEngine::connectReader(const ReaderChoice& reader)
{
    Set_Reader_Type(reader);
    if (!m_link)
        return false;
    const int before = m_connections;
    const bool connected = m_link->open();
    // A link that was open already is not opened again, but the dialog has just painted
    // the label red.
    if (connected && m_connections == before)
        emit linkTip(m_link->connectedTip(), m_chinese);
    return connected;
}

TagEngine::LinkTip TagEngine::connectedLinkTip() const
{
    return m_link ? m_link->connectedTip() : LinkTip::SelectDevice;
}

void TagEngine::onLinkConnected()
{
    ++m_connections;
    // A sequence still waiting waits for a reply of the old connection: it is over.
    endSequenceOnLinkLoss();
    m_seq.matcher().reset();
    m_four_block_link = false; // a new reader: whole commands again
    emit linkTip(m_link->connectedTip(), m_chinese);
    soundOwedFailureBeep();
}

void TagEngine::onLinkDisconnected()
{
    emit linkTip(LinkTip::SelectDevice, m_chinese);
}

bool TagEngine::Detection_Usb_Statue(uint8_t status)
{
    const bool connected = m_link && m_link->isConnected();
    if (!connected && status != 0) {
        emit warning(enginetext::ReaderWarningCaption.pick(m_chinese),
                     enginetext::ReaderNotConnected.pick(m_chinese));
        emit linkTip(LinkTip::SelectDevice, m_chinese);
    }
    return connected;
}

void TagEngine::setReplyTimeout(int ms)
{
    m_seq.setReplyTimeout(ms);
    m_beeper.setEndTimeout(m_seq.replyTimeout());
}

QByteArray TagEngine::tagUid() const
{
    return bytesOf(uid);
}

QByteArray TagEngine::uidMsbFirst() const
{
    return m_link ? m_link->uidMsbFirst(bytesOf(uid)) : bytesOf(uid);
}

void TagEngine::setChipCode(uint8_t code)
{
    chip_code = code;
    m_kind_seen = true;
}

void TagEngine::storeInventory(const replies::Reply& reply)
{
    setChipCode(reply.chipCode);
    const QByteArray first = reply.uids.value(0);
    if (first.size() < static_cast<int>(uid.size()))
        return;
    std::copy_n(first.constBegin(), uid.size(), uid.begin());
    m_auto.noteChip(chip_code);
}

void TagEngine::selectTag(const QByteArray& id)
{
    if (id.size() != static_cast<int>(uid.size())) {
        uid.fill(0);
        return;
    }
    std::copy_n(id.constBegin(), uid.size(), uid.begin());
    // The product byte is the third in most-significant-first order.
    setChipCode(static_cast<uint8_t>((m_link ? m_link->uidMsbFirst(id) : id).at(2)));
}

// ------------------------------------------------------------------ the tick and sequences

void TagEngine::TIMER0_HANDLE()
{
    // One step of the running command sequence, then one of the beeper; both return at
    // once when idle, since this runs every millisecond.
    m_seq.CheckCmdSequence();
    m_beeper.Beep_Process();
    // With no sequence and no beep every further tick would be empty: park the timer
    // until one starts, so that an idle program does not wake a thousand times a second.
    if (idle() && cmd_timer->isActive()) {
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

void TagEngine::start(std::unique_ptr<Operation> op)
{
    m_sequence_failed = false;
    m_seq.Control_RW(std::move(op));
    wakeTick();
}

void TagEngine::restartSequence()
{
    m_sequence_failed = false;
    m_seq.restart();
    wakeTick();
}

void TagEngine::Control_RW(uint8_t type, uint8_t readcnt)
{
    switch (type) {
    case SeqCode::Read:
    case SeqCode::ReadDrive:
    case SeqCode::ReadModel:
        start(std::make_unique<ReadOperation>(host(), type, readcnt));
        return;
    case SeqCode::WriteDrive:
    case SeqCode::WriteAll:
    case SeqCode::WriteProduct:
    case SeqCode::SetCurrent:
    case SeqCode::WritePwmTag:
    case SeqCode::WriteWithPasswords:
        start(std::make_unique<WriteOperation>(host(), type));
        return;
    default:
        // A code no step slot belongs to: the sequence running is abandoned all the same.
        start(nullptr);
        return;
    }
}

void TagEngine::Select_Auto_Write(uint8_t index)
{
    // The document holds every edit as it was made: its settings are what goes out.
    if (auto* write = dynamic_cast<WriteOperation*>(m_seq.operation()))
        write->Select_Auto_Write(index);
    else
        m_doc->prepareBankBuffer();
}

void TagEngine::Start_Beep(uint8_t cnt)
{
    m_beeper.Start_Beep(cnt);
    wakeTick();
}

void TagEngine::Succeed_End_State(const QString& str)
{
    qCDebug(lcEngine).noquote() << str;
    if (suppress_success_beep) {
        suppress_success_beep = 0;
        return;
    }
    Start_Beep(1);
}

void TagEngine::Failed_State(const QString& str)
{
    qCDebug(lcEngine).noquote() << str;
    m_sequence_failed = true;
    if (Operation* op = m_seq.operation(); op && op->failed())
        m_verify_tip_shown = true;
    // The suppression belongs to the success of the sequence that failed; left set, it
    // would silence the next operation's success beep.
    suppress_success_beep = 0;
    Start_Beep(2);
}

void TagEngine::sendInventory()
{
    m_seq.send(Kind::Inventory, [](ReaderLink& link) { link.inventory(); });
}

void TagEngine::sendRead(uint8_t first, uint8_t count)
{
    const QByteArray id = tagUid();
    m_seq.send(Kind::ReadBlocks, [&](ReaderLink& link) { link.readBlocks(id, first, count); });
}

void TagEngine::sendWrite(const QByteArray& id, uint8_t first, const QByteArray& data,
                          uint8_t count)
{
    m_seq.send(Kind::WriteBlocks,
               [&](ReaderLink& link) { link.writeBlocks(id, first, data, count); });
}

void TagEngine::sendCustom(uint8_t isoCommand, const QByteArray& parameters)
{
    const QByteArray id = tagUid();
    m_seq.send(Kind::Transparent,
               [&](ReaderLink& link) { link.customCommand(id, isoCommand, parameters); });
}

void TagEngine::learnFourBlockLink()
{
    m_four_block_link = true;
    qCInfo(lcEngine) << "the tag takes at most" << verifyplan::kMaxPieceBlocks
                     << "blocks per write: every write of this connection is sent in "
                        "pieces of four from now on";
}

// ------------------------------------------------------------------ the actions

void TagEngine::startRead()
{
    // An operation under way is never cut short; the host says why nothing happens.
    if (sequenceRunning() || !Detection_Usb_Statue(1))
        return;
    emit actionStarted();
    start(std::make_unique<ReadOperation>(host(), SeqCode::Read, 7, true));
}

void TagEngine::readDone(const QByteArray& data, uint8_t readcnt, bool manual)
{
    // The document takes the data (and rebuilds the bank buffer), and names this driver
    // as the template of later writes, before the layout below is taken from it.
    m_doc->loadRead(data, readcnt, chip_code, uidMsbFirst());
    if (manual) {
        const QByteArray field = tagfields::modelNameField(m_doc->image());
        model_snapshot.fill(0);
        std::copy_n(field.constBegin(), std::min<int>(field.size(), model_snapshot.size()),
                    model_snapshot.begin());
        // Write keeps the driver's counters where this driver keeps them.
        m_read_layout =
            chip_code == tagfields::ChipP ? m_doc->image().image_v2[tagoffset::LayoutCode] : -1;
    }
    emit driverRead(devicereport::TagIdentity{uidMsbFirst(), chip_code});
}

void TagEngine::startWrite()
{
    // An operation under way is never cut short (a second click on Write included).
    if (sequenceRunning() || !Detection_Usb_Statue(1))
        return;
    emit actionStarted();
    // The configuration in the window must be for the model that was read last.
    const QByteArray model = tagfields::modelNameField(m_doc->image());
    const QByteArray snapshot(reinterpret_cast<const char*>(model_snapshot.data()),
                              static_cast<int>(model_snapshot.size()));
    if (model != snapshot) {
        emit notice(enginetext::ModelsInconsistent.pick(m_chinese), kNoticeMs);
        beginOperation(record::Operation::Write);
        m_record.foundModel = snapshot;
        finishOperation(record::Result::OtherModel);
        return;
    }
    if (refuseOtherKind()) {
        beginOperation(record::Operation::Write);
        finishOperation(record::Result::OtherKind);
        return;
    }
    // The counters are left out where the driver keeps them; a configuration of the other
    // layout would overwrite them with its own bytes.
    const int fileLayout = m_doc->image().image_v2[tagoffset::LayoutCode];
    if (chip_code == tagfields::ChipP && m_read_layout >= 0 &&
        (fileLayout == 2) != (m_read_layout == 2)) {
        const auto name = [this](int code) {
            return code == 2 ? enginetext::Layout2.pick(m_chinese)
                             : enginetext::LegacyLayout.pick(m_chinese).arg(code);
        };
        emit notice(
            enginetext::OtherLayout.pick(m_chinese).arg(name(fileLayout), name(m_read_layout)),
            kNoticeMs);
        beginOperation(record::Operation::Write);
        finishOperation(record::Result::OtherLayout);
        return;
    }
    const bool pTag = chip_code == tagfields::ChipP;
    auto op =
        std::make_unique<WriteOperation>(host(), SeqCode::WriteDrive, pTag ? m_read_layout : -1);
    WriteOperation& write = *op;
    start(std::move(op));
    // A tag of another kind is written as the bank buffer stands, with the count it has
    // before any preparation: it cannot end as written.
    if (chip_code == tagfields::ChipPwm || pTag)
        write.Select_Auto_Write(pTag ? 1 : 4);
    beginOperation(record::Operation::Write);
    noteWriteTemplate();
}

void TagEngine::toggleAutoWrite()
{
    if (!Detection_Usb_Statue(1))
        return;
    const bool on = m_auto.toggle();
    if (!on)
        dropUnwrittenDriver();
    // The host shows the switch: the action's icon, Read and Write greyed out while on.
    emit autoWriteSwitched(on);
}

bool TagEngine::readerBusy() const
{
    // A sequence reported as failed sends nothing more; only its reply may still be due.
    const bool sequence = m_sequence_failed
                              ? m_seq.matcher().inFlight()
                              : m_seq.commandsLeft() || m_seq.matcher().inFlight();
    return sequence || !m_beeper.idle();
}

void TagEngine::stopAutoWrite()
{
    if (!autoWriteOn())
        return;
    m_auto.toggle();
    dropUnwrittenDriver();
    emit autoWriteSwitched(false);
}

QByteArray TagEngine::templateModel() const
{
    return tagfields::modelNameField(m_doc->image());
}

void TagEngine::startModelRead(uint8_t addr, uint8_t num, uint8_t offset, uint8_t len)
{
    auto op = std::make_unique<ReadOperation>(host(), SeqCode::ReadModel, 1);
    op->special_addr = addr;
    op->special_num = num;
    op->model_offset = offset;
    op->model_len = len;
    start(std::move(op));
    beginOperation(record::Operation::AutoWrite);
    suppress_success_beep = 1;
}

void TagEngine::refuseModel(const QByteArray& found)
{
    m_record.foundModel = found;
    endWith(ResultTip::DeviceDifferent, record::Result::OtherModel);
    Failed_State(QStringLiteral("<操作失败12：The model number is different!>\r\n"));
}

bool TagEngine::refuseOtherKind()
{
    // Currents of one kind are kept where the other kind keeps something else (the drive
    // area, or the PWM block): decoded as the other kind they would be wrong values.
    const uint8_t kind = m_doc->chipCode();
    const auto known = [](uint8_t k) { return k == tagfields::ChipP || k == tagfields::ChipPwm; };
    if (kind == chip_code || !known(kind) || !known(chip_code))
        return false;
    const auto name = [this](uint8_t k) {
        return (k == tagfields::ChipPwm ? enginetext::KindPwm : enginetext::KindP).pick(m_chinese);
    };
    emit notice(enginetext::OtherKind.pick(m_chinese).arg(name(kind), name(chip_code)), kNoticeMs);
    return true;
}

void TagEngine::startAutoWrite(uint8_t index)
{
    if (refuseOtherKind()) {
        endWith(ResultTip::WriteFailed, record::Result::OtherKind);
        Failed_State(QStringLiteral("<操作失败：标签类型不一致>"));
        return;
    }
    showTip(ResultTip::OpenScan);
    auto op = std::make_unique<WriteOperation>(host(), SeqCode::WriteAll);
    WriteOperation& write = *op;
    start(std::move(op));
    m_doc->clearAutoWriteWord();
    write.Select_Auto_Write(index);
    if (m_auto.pace() == AutoWrite::Pace::Fast)
        write.writeChangedOnly();
    // Only the model name was read: the template's layout is taken for the driver.
    noteWriteTemplate();
}
