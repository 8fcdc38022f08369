#pragma once

#include "engine/autoscan.h"
#include "engine/commandstate.h"
#include "engine/replies.h"
#include "engine/resulttip.h"
#include "engine/stalereplyguard.h"
#include "engine/verifyplan.h"
#include "model/devicereport.h"
#include "model/productionrecord.h"
#include "model/tagdocument.h"
#include "readers/hidbackend.h"
#include "readers/readertype.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QVector>
#include <array>
#include <cstdint>

class FeusbApi;
class HidBackend;
class MyFeigUsb;
class QTimer;
class myhid;
class myreader;
class writeThreadFEIG1;

/// The tag command engine: the sequencer and its 1 ms tick, reply analysis, the read,
/// write, password, auto-write and beeper operations, the tag identity and sequence state,
/// and the two reader links. It owns the tag document its operations load and write, and
/// reports through signals; it knows nothing of widgets.
class TagEngine : public QObject
{
    Q_OBJECT
    friend class TestAccess;

  public:
    /// Link tips of the status bar's left label.
    enum class LinkTip : uint8_t { FeigConnected, R321Connected, SelectDevice };

    /// The transports must outlive the engine.
    TagEngine(HidBackend* hid, FeusbApi* feusb, QObject* parent = nullptr);
    ~TagEngine() override;

    // ------------------------------------------------------------------ for the host
    /// The tag session's data; the engine loads reads into it and writes from it.
    TagDocument& document() { return *m_doc; }
    const TagDocument& document() const { return *m_doc; }
    /// The language of the texts the engine hands out (tips, warnings, notices).
    void setChinese(bool chinese) { m_chinese = chinese; }
    /// Stores the chosen reader.
    void Set_Reader_Type(ReaderType value);
    ReaderType readerType() const { return reader_type; }
    /// R321 connect step: opens the HID link unless it is open; the outcome arrives
    /// through myhid::usbConnect.
    void connectR321();
    /// FEIG connect step: opens the reader and routes its replies to the engine; false
    /// (and no message) when it cannot be opened.
    bool connectFeig();
    /// How long a sequence command waits for its reply before the sequence is reported
    /// as failed (3000 ms unless changed; tests shorten it).
    void setReplyTimeout(int ms);
    /// The Read action: guard, then sequence 0xFE.
    void startRead();
    /// The Write action: guard, model check, then the write sequence for the tag kind.
    void startWrite();
    /// The Auto Write action: guard, then switches auto write on or off.
    void toggleAutoWrite();
    /// True while the auto-write loop runs; the engine's clock then passes through it
    /// every 300 ms.
    bool autoScanning() const { return auto_scan != 0; }
    bool autoWriteOn() const { return auto_mode != 0; }
    /// The interval of the auto-write loop's pass (300 ms unless changed; a simulated line
    /// may run faster).
    void setAutoWritePass(int ms);
    /// Product byte of the last tag's UID ('P' before any tag).
    uint8_t chipCode() const { return chip_code; }
    /// UID of the last tag, most significant byte first (all zero before any tag).
    QByteArray uidMsbFirst() const;
    /// The template of later writes as the record names it: the configuration file
    /// opened, or the UID of the driver read.
    QString templateSource() const { return m_doc->origin().name; }
    /// No further auto-write pass runs: the program is leaving.
    void stopAutoWritePass();
    /// True while no sequence and no beep runs.
    bool idle() const { return m_cmd.cmd_type == 0 && beep_pattern == 0; }
    /// True while a Write or auto-write operation has not reported its outcome.
    bool operationPending() const { return m_op_pending; }
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
            return m_reply_guard.inFlight();
        return m_cmd.cmd_type != 0 || m_reply_guard.inFlight() || m_op_pending;
    }
    /// True while a driver is being written (or its write read back).
    bool programming() const { return m_op_pending && !m_sequence_failed && !m_op.image.isEmpty(); }
    myhid* hidLink() const { return m_myhid; }
    /// Whether every write sequence that ends well is read back and compared (on unless
    /// switched off).
    void setVerifyAfterWrite(bool on) { m_verify_on = on; }
    bool verifyAfterWrite() const { return m_verify_on; }
    /// The first block that differed in the last failed verification (-1 before any).
    int verifyFailedBlock() const { return m_verify_failed_block; }
    /// True once this connection's tag took a long write only in four-block pieces.
    bool fourBlockLink() const { return m_four_block_link; }

    /// True while the chosen reader is connected (no message when it is not).
    bool readerConnected() { return Detection_Usb_Statue(0); }
    /// Opens a configuration file's bytes as the template of later writes, named `name`,
    /// of the tag kind its bytes tell (else of the last driver's kind); nothing changes
    /// when the file is refused.
    configfile::LoadResult openConfiguration(const QByteArray& bytes, const QString& name);
    /// The configuration file of what the panels hold: their settings go into the image
    /// first, as a write takes them.
    QByteArray configurationToSave();

  signals:
    /// A result tip in the given language; VerifyFailed names no block, verifyFailedBlock()
    /// does.
    void resultTip(ResultTip tip, bool chinese);
    /// The last result tip is to be shown again (a batch is done).
    void lastTipRepeated();
    void linkTip(TagEngine::LinkTip tip, bool chinese);
    /// The HID link reported an empty device text: the link label is emptied.
    void linkCleared();
    /// A modal warning box.
    void warning(const QString& caption, const QString& text);
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

  private slots:
    // The described step slots: the engine runs them on its tick and on replies.
    // sequencer
    void TIMER0_HANDLE();
    void Control_RW(uint8_t type, uint8_t readcnt);
    void CheckCmdSequence();
    void Succeed_Recevie_Ack(uint8_t send_cnt);
    void Succeed_End_State(QString str);
    void Failed_State(QString str);
    bool Detection_Usb_Statue(uint8_t status);
    void Select_Auto_Write(uint8_t index);

    // replies
    void in_usbConnect(QString curUSBInfo);
    void in_hidDevReceive_usbDebug(QByteArray rxArray);
    void in_FeigDevReceive_Debug(QByteArray rxArray);
    void Analyse_Receive_Data(QByteArray rxArray);
    void FE_Analyse_Receive_Data(QByteArray data);
    void Get_Recevie_UID(QByteArray rxArray);
    void Get_BLOCK_Data(QByteArray rxArray);
    void Display_Recevie(QByteArray rxArray);
    void Serianet_Recevie(QByteArray rxArray);
    QByteArray FEInverted(QByteArray data);

    // read
    void Read_Tag_UID();
    void Read_BlOCK_NUM(uint8_t block, uint8_t num);
    void Continue_Read_OneBank(uint8_t bank_addr, uint8_t mode);
    void Auto_Continue_Read();
    void Auto_Continue_Read_DriverInfo();
    void Special_Read_Data(uint8_t addr, uint8_t num);
    void Continue_Read();

    // write
    void Write_BlOCK_NUM(uint8_t* uid, uint8_t block_addr, uint8_t* data, uint8_t datalenth);
    void Write_Once_BANK(uint8_t banknum, uint8_t* bankdata, uint8_t offset, uint8_t mode);
    void Write_Product_Info();
    void Write_Drive_Info();
    void Auto_Write_Password_And_Bank();
    void Write_ST25DV02K_Info(uint8_t banknum, uint8_t* bankdata);
    void Set_Current(uint8_t banknum, uint8_t* bankdata);
    void Write_Once_BANK_Pswd1();
    void Change_Current(uint8_t channel);
    void Change_ST25DV02K_PWM1();

    // passwords
    void Open_PresentPassword(QString presenpassword, uint8_t password_number);
    void Change_Password(uint8_t password_number);
    void Change_RW_Config(uint8_t rfa1ss_value);
    void Configure_Tag_System();

    // read-back verification
    void Verify_Read_Back();

    // auto write
    void AutoWriteProcess();
    void Open_Auto_Scan();
    bool Detection_UID_Value(uint8_t* uid);
    bool My_Compare(uint8_t* now, uint8_t* last, uint8_t size);

    // beeper
    void Start_Beep(uint8_t cnt);
    void Beep_Process();
    void Buzzer_Once(bool mode);
    void Buzzer_TWICE();
    void Buzzer_OnOff_Process(uint8_t OnffState);
    void Beep_Recevie();

  private:
    // The tips the engine gives, handed to the host. A failure tip that a read-back
    // verification turns into its own is not shown (false).
    bool showTip(ResultTip tip, bool state)
    {
        if (verifyTipSwallowed(tip))
            return false;
        emit resultTip(tip, state);
        return true;
    }
    // A tip that ends the Write or auto-write operation under way, if any, with `result`.
    void endWith(ResultTip tip, record::Result result)
    {
        if (showTip(tip, lang_cn()))
            finishOperation(result);
    }
    void Tip_No_Device(bool state) { showTip(ResultTip::NoDevice, state); }
    void Tip_Read_Succeed(bool state) { showTip(ResultTip::ReadSucceed, state); }
    void Tip_GetUID_Succeed(bool state) { showTip(ResultTip::GetUidSucceed, state); }
    void Tip_OpenScan(bool state) { showTip(ResultTip::OpenScan, state); }
    void Tip_Feig_Connect_Succeed(bool state) { emit linkTip(LinkTip::FeigConnected, state); }
    void Tip_R321_Conncect_Succeed(bool state) { emit linkTip(LinkTip::R321Connected, state); }
    void Tip_R321_Select_Device(bool state) { emit linkTip(LinkTip::SelectDevice, state); }

    // The language flag: nonzero for Chinese texts.
    uint8_t lang_cn() const { return m_chinese ? 1 : 0; }
    // The tag image's bank buffer, refreshed before every write (Judge_LastCurrent first
    // on layout 2).
    void Update_Bank_Buff();
    // Restarts the parked tick; called whenever a sequence or a beep starts.
    void wakeTick();
    // The handshake half of every step slot: re-arm on an accepted reply, else wait.
    void stepHandshake(uint8_t count);
    // Sends one command over the chosen link; `expected` is the kind of its reply.
    void sendR321Frame(const QByteArray& frame, replies::Kind expected);
    void sendFeigFrame(const QByteArray& frame, replies::Kind expected);
    QByteArray uidBytes() const;
    QByteArray uidReversedBytes() const;
    void storeFeigInventory(const replies::FeigReply& reply);
    void storeR321Inventory(const QByteArray& rxArray, const replies::R321Reply& reply);
    void storeInventoryUid(const QByteArray& id);
    // The tag kind of the last inventory. The document keeps the kind of its own
    // configuration: a driver of the other kind is refused, never decoded as this one.
    void setChipCode(uint8_t code)
    {
        chip_code = code;
        m_kind_seen = true;
    }
    // True when the configuration is for the other tag kind than the driver on the reader;
    // the notice names both.
    bool refuseOtherKind();
    void takeReadData(const QByteArray& blocks);
    void endReadAsFailed(const QString& reason);
    void reportBeeperFailure();
    // Drops the result of any model-name read (auto write switched, a read starting).
    void forgetModelCheck();
    // The end of a beep pattern waits for the reply to its last switch-off, but not for
    // ever: a reader that never answers must not hold the batch.
    void armBeepEndTimer();
    void onBeepEndOverdue();
    // Watching the chosen reader: the link tip turns to "select" when it goes, and the
    // same reader is connected again when it comes back.
    void checkReaderLink();
    void onR321LinkLost();
    // A reply that never came or could not be read: reported once as the failure of the
    // command that waited for it.
    void armReplyTimer();
    void onReplyOverdue();
    // The reader went away (or was connected anew) while a sequence ran: that operation
    // ends as failed at once, whatever the reader watch does next. The failure beep waits
    // until the reader is back, since a gone reader cannot sound it.
    void endSequenceOnLinkLoss();
    void soundOwedFailureBeep();
    void dropUnreadableReply(replies::Kind decoded);
    void showFailureTipFor(replies::Kind awaited);
    // The document's bytes as the described step slots take them: plain pointers that
    // they only read from.
    uint8_t* bankBuffer() const
    {
        return const_cast<uint8_t*>(m_doc->image().bank_buffer.data());
    }
    uint8_t* imageBytes() const { return const_cast<uint8_t*>(m_doc->image().image_v2.data()); }
    QByteArray bankBytes() const
    {
        return QByteArray(reinterpret_cast<const char*>(m_doc->image().bank_buffer.data()),
                          static_cast<int>(m_doc->image().bank_buffer.size()));
    }
    // write: the n bytes at p when they lie inside one of the engine's own byte buffers
    // (image copies, bank buffer, UIDs), else empty; the pointer slots go through it.
    QByteArray ownBytes(const uint8_t* p, int n) const;
    void writeBlocks(const QByteArray& id, uint8_t block, const QByteArray& data, uint8_t count);
    void sendWriteCommand(const QByteArray& id, uint8_t block, const QByteArray& data,
                          uint8_t count);

    // Read-back verification (tagengine_verify.cpp). The blocks a write sequence sends are
    // noted; when its replies are all good they are read back like a Read reads them and
    // compared. A failure while reading back is a failed verification, never a success.
    void noteSequenceStart(uint8_t type);
    bool startVerification();
    void finishVerification();
    void verificationInterrupted();
    bool verifyTipSwallowed(ResultTip tip);
    record::Result verifiedResult(record::Result result);
    bool m_verify_on = true;
    bool m_verifying = false;
    bool m_verify_tip_shown = false; // the failure tip that follows it is not shown
    int m_verify_failed_block = -1;
    verifyplan::WrittenBlocks m_written;
    std::vector<verifyplan::ReadPiece> m_verify_reads;

    // Four-block pieces: a write of more than four blocks that fails is sent again once in
    // pieces of at most four; when that works, every later long write of the connection is
    // cut so from the start. Only the last piece's reply counts as the command's reply.
    struct WritePiece {
        QByteArray id;
        uint8_t block = 0;
        QByteArray data;
        uint8_t count = 0;
    };
    bool writeInPieces(const QByteArray& id, uint8_t block, const QByteArray& data, uint8_t count);
    void queuePieces(const WritePiece& write);
    bool retryWriteInPieces();
    bool sendNextWritePiece();
    void forgetFourBlockLink();
    WritePiece m_last_write;          // the whole write command sent last
    std::vector<WritePiece> m_pieces; // pieces still to send, in order
    bool m_pieces_are_retry = false;
    bool m_four_block_link = false;
    // The Write or auto-write operation under way, reported once through operationFinished.
    bool m_op_pending = false;
    record::Outcome m_op;
    QElapsedTimer m_op_clock;
    void beginOperation(record::Operation operation);
    // A driver of auto write whose model was still being checked is forgotten without an
    // outcome (auto write switched off, the program leaving); true when there was one.
    bool dropUnwrittenDriver();
    // The image and template a write starts from, for its record line.
    void noteWriteTemplate();
    void finishOperation(record::Result result);

    // auto write: the UIDs of the last inventory of the loop in reader order.
    void takeAutoScanInventory();
    void selectScanTag(const QByteArray& id);

    TagDocument* m_doc = nullptr; // owned (a child)
    bool m_chinese = false;

    // The two reader links, owned.
    myreader* m_myreader = nullptr;
    myhid* m_myhid = nullptr;
    MyFeigUsb* m_feig = nullptr;
    writeThreadFEIG1* m_feig_thread = nullptr;

    QTimer* cmd_timer = nullptr;
    QTimer* m_auto_pass = nullptr; // the auto-write loop's 300 ms pass
    bool m_tick_parked = false; // cmd_timer stopped while nothing runs

    QString m_device_name;   // text of the connected HID device
    ReaderType reader_type = ReaderType::None;

    CommandState m_cmd;
    uint8_t chip_code = 0x50;
    bool m_kind_seen = false; // a tag has been seen, so chip_code is a driver's
    uint8_t manual_read = 0;
    std::array<uint8_t, 32> model_snapshot{};
    // Layout code of the 'P' driver read last (-1: none), and the one the running write
    // keeps the driver's counters by (-1: the image's).
    int m_read_layout = -1;
    int m_write_layout = -1;

    // replies
    QByteArray last_rx;
    std::array<uint8_t, 8> uid{};
    std::array<uint8_t, 8> uid_reversed{};
    uint8_t tag_count = 0;
    uint8_t found_count = 0;
    uint8_t tag_index = 0;
    QByteArray inventory_reply;
    uint8_t auto_write_index = 1;
    std::array<uint8_t, 32> tag_model{};
    uint8_t model_ready = 0;
    // The model-name read whose reply may set model_ready, and the tag it was sent to.
    // A new sequence, a reply time-out and the auto-write switch abandon it.
    bool m_model_read_open = false;
    std::array<uint8_t, 8> m_model_uid{};
    uint8_t pwd_first_failed = 0;

    // passwords
    uint8_t config_write_pending = 0;
    uint8_t pwd_write_pending = 0;

    // auto write
    uint8_t auto_mode = 0;
    uint8_t auto_scan = 0;
    uint8_t scan_request = 0;
    std::array<uint8_t, 8> last_uid{};
    uint8_t special_addr = 48;
    uint8_t special_num = 9;
    uint8_t model_offset = 3;
    uint8_t model_len = 32;
    uint8_t suppress_success_beep = 0;
    autoscan::HandledTags m_handled_tags;
    QVector<QByteArray> m_scan_uids;

    // beeper
    uint8_t beep_pattern = 0;
    uint8_t beep_ticks = 0;
    uint8_t beep_step = 0;
    uint8_t beep_twice_step = 0;
    std::array<uint8_t, 8> beep_cmd{}; // R321 beeper record: byte 1 on (1) or off (0)

    StaleReplyGuard m_reply_guard;
    bool m_last_send_ok = false;          // whether the last command was handed to the link
    bool m_beep_failure_reported = false; // a refused beeper command was traced in this pattern
    int m_reply_timeout_ms = 3000;        // see setReplyTimeout
    QTimer* m_reply_timer = nullptr;      // the reply time-out of a sequence command
    QTimer* m_beep_end_timer = nullptr;   // the time-out of a beep's last switch-off
    bool m_beep_end_pending = false;      // the last switch-off of a pattern is unanswered
    bool m_failure_beep_owed = false;     // a link loss ended a sequence; beep when back
    bool m_sequence_failed = false;       // the running sequence was reported as failed
    replies::R321CrcCheck m_r321_crc;     // whether this R321's reply CRC is enforced
    QTimer* m_link_timer = nullptr;
    HidInterfaceInfo m_r321_wanted; // the R321 connected last (vendor ID 0: none yet)
    bool m_feig_wanted = false;     // a FEIG reader has been connected
    bool m_feig_lost_shown = false; // its loss is on the link label
    int m_feig_outstanding = 0;     // FEIG requests the library has not finished
};
