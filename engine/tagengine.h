#pragma once

#include "engine/autowrite.h"
#include "engine/beeper.h"
#include "engine/operation.h"
#include "engine/resulttip.h"
#include "engine/sequencer.h"
#include "model/devicereport.h"
#include "model/productionrecord.h"
#include "model/tagdocument.h"
#include "readers/linkfactory.h"
#include "readers/readerlink.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <array>
#include <cstdint>
#include <memory>

class FeusbApi;
class HidBackend;
class QTimer;

/// The tag session of one reader: its link (made when the reader is chosen), the
/// sequencer that runs one operation at a time over it, the beeper, the auto-write loop,
/// the tag on the reader and the document the operations load and write. It reports
/// through signals and knows nothing of widgets.
class TagEngine : public QObject, private EngineHost, private AutoWriteHost
{
    Q_OBJECT
    friend class TestAccess;

  public:
    using LinkTip = ::LinkTip;

    /// The transports must outlive the engine.
    TagEngine(HidBackend* hid, FeusbApi* feusb, QObject* parent = nullptr);
    ~TagEngine() override;

    // ------------------------------------------------------------------ for the host
    /// The tag session's data; the engine loads reads into it and writes from it.
    TagDocument& document() override { return *m_doc; }
    const TagDocument& document() const { return *m_doc; }
    /// The language of the texts the engine hands out (tips, warnings, notices).
    void setChinese(bool chinese) { m_chinese = chinese; }
    /// Chooses the reader: the link for it is made now (the one held is kept when it is
    /// for the same reader), not yet opened.
    void Set_Reader_Type(ReaderType value) { Set_Reader_Type(ReaderChoice{value, QString()}); }
    /// Chooses one reader by its kind and identity (an empty identity: the first of its
    /// kind that no one else holds).
    void Set_Reader_Type(const ReaderChoice& choice);
    /// The reader chosen (None before any).
    ReaderType readerType() const;
    /// Chooses `reader` and opens it; true when it is connected afterwards (and its
    /// connected tip shown). An R321 that is found but cannot be opened says so through
    /// readerOpenFailed.
    bool connectReader(ReaderType reader) { return connectReader(ReaderChoice{reader, QString()}); }
    bool connectReader(const ReaderChoice& reader);
    /// The identity of the reader connected (or connected last); empty before any.
    QString readerIdentity() const { return m_link ? m_link->identity() : QString(); }
    /// The readers present, with their identities (see LinkFactory::present).
    QVector<ReaderChoice> readersPresent() const { return m_factory.present(); }
    /// The reader present with `identity`, in any case; type None when none has it.
    ReaderChoice findReader(const QString& identity) const { return m_factory.find(identity); }
    /// What the link label says while the chosen reader is connected.
    LinkTip connectedLinkTip() const;
    /// How long a sequence command waits for its reply before the sequence is reported
    /// as failed (3000 ms unless changed; tests shorten it).
    void setReplyTimeout(int ms);
    /// The Read action: guard, then sequence 0xFE.
    void startRead();
    /// The Write action: guard, model check, then the write sequence for the tag kind.
    void startWrite();
    /// The Auto Write action: guard, then switches auto write on or off.
    void toggleAutoWrite();
    /// Switches auto write off, also while the reader is away (a batch ended by its owner).
    void stopAutoWrite();
    /// True while the auto-write loop runs; a pass then runs every 300 ms.
    bool autoScanning() const { return m_auto.auto_scan != 0; }
    bool autoWriteOn() const { return m_auto.auto_mode != 0; }
    /// The interval of the auto-write loop's pass (300 ms unless changed).
    void setAutoWritePass(int ms) { m_auto.setPassInterval(ms); }
    /// The pace of auto write (described unless changed): the 300 ms pass, or the reader's
    /// own pace with only the blocks that differ written.
    void setAutoWritePace(AutoWrite::Pace pace) { m_auto.setPace(pace); }
    AutoWrite::Pace autoWritePace() const { return m_auto.pace(); }
    /// No further auto-write pass runs: the program is leaving.
    void stopAutoWritePass() { m_auto.stopPasses(); }
    /// Product byte of the last tag's UID ('P' before any tag).
    uint8_t chipCode() const override { return chip_code; }
    /// UID of the last tag, most significant byte first (all zero before any tag).
    QByteArray uidMsbFirst() const;
    /// The template of later writes as the record names it: the configuration file
    /// opened, or the UID of the driver read, marked " (edited)" once changed since.
    QString templateSource() const;
    /// True while no sequence and no beep runs.
    bool idle() const { return !m_seq.commandsLeft() && m_beeper.idle(); }
    /// True while a Write or auto-write operation has not reported its outcome.
    bool operationPending() const { return m_record_pending; }
    /// The program is leaving: the operation under way, if any, is reported at once as
    /// interrupted by `cause` and its sequence is dropped. False when none was under way.
    bool interruptOperation(const QString& cause);
    /// True while a sequence runs (one reported as failed has ended) or waits for its last
    /// reply, or a Write or auto-write operation is under way: the image it works from
    /// must not change then, and no other operation may start.
    bool sequenceRunning() const
    {
        // A sequence reported as failed has ended, and with it the operation it belonged
        // to (the next one reports that outcome if nothing did).
        if (m_sequence_failed)
            return m_seq.matcher().inFlight();
        return m_seq.commandsLeft() || m_seq.matcher().inFlight() || m_record_pending;
    }
    /// True while a driver is being written (or its write read back).
    bool programming() const
    {
        return m_record_pending && !m_sequence_failed && !m_record.image.isEmpty();
    }
    /// Whether every write sequence that ends well is read back and compared (on unless
    /// switched off).
    void setVerifyAfterWrite(bool on) { m_verify_on = on; }
    bool verifyAfterWrite() const override { return m_verify_on; }
    /// The first block that differed in the last failed verification (-1 before any).
    int verifyFailedBlock() const { return m_verify_failed_block; }
    /// True once this connection's tag took a long write only in four-block pieces.
    bool fourBlockLink() const override { return m_four_block_link; }

    /// True while the chosen reader is connected (no message when it is not).
    bool readerConnected() { return Detection_Usb_Statue(0); }
    /// Opens a configuration file's bytes as the template of later writes, named `name`,
    /// of the tag kind its bytes tell (else of the last driver's kind); nothing changes
    /// when the file is refused.
    configfile::LoadResult openConfiguration(const QByteArray& bytes, const QString& name);
    /// The configuration file of what the panels hold: their settings go into the image
    /// first, as a write takes them.
    QByteArray configurationToSave();

    // ------------------------------------------------------------------ the session's parts
    /// The link of the chosen reader; null before a reader is chosen.
    ReaderLink* link() const { return m_link.get(); }
    /// The operation running (or run last); null before the first.
    Operation* operation() const { return m_seq.operation(); }
    Sequencer& sequencer() { return m_seq; }
    const Beeper& beeper() const { return m_beeper; }
    AutoWrite& autoWrite() { return m_auto; }
    const AutoWrite& autoWrite() const { return m_auto; }
    Beeper& beeper() { return m_beeper; }
    /// The reader guard: true while the chosen reader is connected; when it is not and
    /// `status` is nonzero, the warning box and the link tip.
    bool Detection_Usb_Statue(uint8_t status);
    /// Starts sequence `type` (a read planning `readcnt` replies, or a write): the
    /// operation for it is made, and the one running is abandoned.
    void Control_RW(uint8_t type, uint8_t readcnt);
    /// Prepares the write sequence started last as `index` says (its count, its code and
    /// the bank buffer).
    void Select_Auto_Write(uint8_t index);
    /// One tick: a step of the running sequence, then one of the beeper.
    void TIMER0_HANDLE();
    /// Starts a beep pattern (1 one beep, 2 two beeps) on the next tick.
    void Start_Beep(uint8_t cnt);
    /// The one reply analysis of both readers: every decoded reply of the link comes here.
    void Analyse_Receive_Data(const replies::Reply& reply);

  signals:
    /// A result tip in the given language; VerifyFailed names no block, verifyFailedBlock()
    /// does.
    void resultTip(ResultTip tip, bool chinese);
    /// The last result tip is to be shown again (a batch is done).
    void lastTipRepeated();
    void linkTip(TagEngine::LinkTip tip, bool chinese);
    /// The R321 reported an empty device text: the link label is emptied.
    void linkCleared();
    /// A modal warning box.
    void warning(const QString& caption, const QString& text);
    /// A reader was found but could not be opened (`path`: its device path).
    void readerOpenFailed(const QString& text, const QString& path);
    /// The reader chosen (or every reader of its kind) is held by another program.
    void readerInUse(const QString& identity);
    /// A transient notice over the window.
    void notice(const QString& text, int ms);
    /// A Read has loaded the driver into the document (which announces it as well).
    void driverRead(const devicereport::TagIdentity& tag);
    /// Auto write was switched on or off.
    void autoWriteSwitched(bool on);
    /// The reader has answered the last command of a beep: the beeper is off.
    void beepFinished();
    /// A Read or Write action has passed the reader guard and starts.
    void actionStarted();
    /// Every Write and auto-write operation, once, when its outcome is known.
    void operationFinished(const record::Outcome& outcome);

  private:
    // EngineHost: what the operations use.
    Handshake& handshake() override { return m_seq.handshake(); }
    void sendInventory() override;
    void sendRead(uint8_t first, uint8_t count) override;
    void sendWrite(const QByteArray& id, uint8_t first, const QByteArray& data,
                   uint8_t count) override;
    void sendCustom(uint8_t isoCommand, const QByteArray& parameters) override;
    QByteArray tagUid() const override;
    void storeInventory(const replies::Reply& reply) override;
    bool chinese() const override { return m_chinese; }
    void Succeed_End_State(const QString& str) override;
    void Failed_State(const QString& str) override;
    bool showTip(ResultTip tip) override;
    void endWith(ResultTip tip, record::Result result) override;
    void reportFailure(const replies::Reply& reply) override;
    record::Outcome& outcome() override { return m_record; }
    void restartSequence() override;
    void readDone(const QByteArray& data, uint8_t readcnt, bool manual) override;
    void modelNameRead(const QByteArray& model) override { m_auto.modelNameRead(model); }
    void verifyFailedAt(int block) override { m_verify_failed_block = block; }
    void learnFourBlockLink() override;

    // AutoWriteHost: what the auto-write loop uses.
    void selectTag(const QByteArray& id) override;
    QByteArray templateModel() const override;
    void Tip_No_Device() override { showTip(ResultTip::NoDevice); }
    void repeatLastTip() override { emit lastTipRepeated(); }
    void startModelRead(uint8_t addr, uint8_t num, uint8_t offset, uint8_t len) override;
    void refuseModel(const QByteArray& found) override;
    void startAutoWrite(uint8_t index) override;
    bool sendScanInventory() override { return m_seq.sendScan(); }
    void forgetSilentSuccess() override { suppress_success_beep = 0; }
    bool readerBusy() const override;

    EngineHost& host() { return *this; }
    void start(std::unique_ptr<Operation> op);
    // The tag kind of the last inventory. The document keeps the kind of its own
    // configuration: a driver of the other kind is refused, never decoded as this one.
    void setChipCode(uint8_t code);
    // True when the configuration is for the other tag kind than the driver on the reader;
    // the notice names both.
    bool refuseOtherKind();
    void wakeTick();

    // The link: its connection, its loss, and its replies.
    void onLinkConnected();
    void onLinkDisconnected();
    void scanReply(const replies::Reply& reply);
    // A reply that never came: reported once as the failure of the command that waited.
    void onReplyOverdue(replies::Kind awaited);
    // The reader went away (or was connected anew) while a sequence ran: that operation
    // ends as failed at once. The failure beep waits until the reader is back, since a
    // gone reader cannot sound it.
    void endSequenceOnLinkLoss();
    void soundOwedFailureBeep();
    void dropUnreadableReply(const replies::Reply& reply);
    // The failure tip of the running operation: a failed read or a failed write.
    void showFailureTip(replies::Kind awaited);

    // The production record's outcome of the Write or auto-write operation under way.
    void beginOperation(record::Operation operation);
    // A driver of auto write whose model was still being checked is forgotten without an
    // outcome (auto write switched off, the program leaving); true when there was one.
    bool dropUnwrittenDriver();
    void noteWriteTemplate();
    void finishOperation(record::Result result, bool readerGone = false);
    QByteArray bankBytes() const;

    TagDocument* m_doc = nullptr; // owned (a child)
    bool m_chinese = false;
    LinkFactory m_factory;
    std::unique_ptr<ReaderLink> m_link;
    int m_connections = 0; // connections the link has announced
    Sequencer m_seq;
    Beeper m_beeper;
    AutoWrite m_auto;
    QTimer* cmd_timer = nullptr;
    bool m_tick_parked = false; // cmd_timer stopped while nothing runs
    QTimer* m_link_timer = nullptr;

    // The tag on the reader, and the driver read last.
    std::array<uint8_t, 8> uid{};
    uint8_t chip_code = 0x50;
    bool m_kind_seen = false; // a tag has been seen, so chip_code is a driver's
    QByteArray last_rx;
    std::array<uint8_t, 32> model_snapshot{};
    int m_read_layout = -1; // layout code of the 'P' driver read last (-1: none)

    uint8_t suppress_success_beep = 0;
    bool m_failure_beep_owed = false; // a link loss ended a sequence; beep when back
    bool m_sequence_failed = false;   // the running sequence was reported as failed
    bool m_verify_tip_shown = false;  // the failure tip that follows it is not shown
    bool m_four_block_link = false;
    bool m_verify_on = true;
    int m_verify_failed_block = -1;

    bool m_record_pending = false;
    record::Outcome m_record;
    QElapsedTimer m_record_clock;
};
