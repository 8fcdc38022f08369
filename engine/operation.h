#pragma once

#include "engine/resulttip.h"
#include "model/productionrecord.h"
#include "readers/replies.h"

#include <QByteArray>
#include <QString>
#include <cstdint>

class TagDocument;

/// Sequence codes: what an operation runs (its `cmd_type` while commands remain).
namespace SeqCode
{
constexpr uint8_t Read = 0xFE;
constexpr uint8_t WriteDrive = 0xFD;
constexpr uint8_t WriteAll = 0xFC;
constexpr uint8_t WriteProduct = 0xFB;
constexpr uint8_t SetCurrent = 0xFA;
constexpr uint8_t ReadDrive = 0xF9;
constexpr uint8_t WritePwmTag = 0xF8;
constexpr uint8_t ReadModel = 0xF7;
constexpr uint8_t VerifyRead = 0xF6; ///< the read-back after a write sequence
/// The configure-then-write sequence of Write_Once_BANK_Pswd1; no action starts it.
constexpr uint8_t WriteWithPasswords = 0xF5;
/// A write that reads the blocks it would write first and sends only those that differ.
constexpr uint8_t WriteChanged = 0xF4;
} // namespace SeqCode

/// The tick handshake between the step slots and the reply analysis: a command goes
/// out, the same tick drops `send_enable`, an accepted reply sets `ack`, the next tick
/// turns `ack` into `send_enable`, and the tick after that sends the next command.
struct Handshake {
    uint8_t send_enable = 0;
    uint8_t ack = 0;

    /// Re-arms sending; `send_cnt` is the running sequence's planned count.
    void Succeed_Recevie_Ack(uint8_t send_cnt)
    {
        static_cast<void>(send_cnt);
        send_enable = 1;
        ack = 0;
    }
    /// The handshake half of every step slot: re-arm on an accepted reply, else wait.
    void step(uint8_t count)
    {
        if (ack == 1)
            Succeed_Recevie_Ack(count);
        else
            send_enable = 0;
    }
};

/// What an operation may use of the engine that runs it: the tag on the reader, the
/// commands (which the engine matches replies to), the document, and the endings (beeps,
/// tips, the production record).
class EngineHost
{
  public:
    virtual Handshake& handshake() = 0;

    // The tag commands, addressed to the tag on the reader; the reply timer runs for each.
    virtual void sendInventory() = 0;
    virtual void sendRead(uint8_t first, uint8_t count) = 0;
    virtual void sendWrite(const QByteArray& uid, uint8_t first, const QByteArray& data,
                           uint8_t count) = 0;
    virtual void sendCustom(uint8_t isoCommand, const QByteArray& parameters) = 0;

    /// The UID of the tag on the reader as the reader reports it (8 bytes).
    virtual QByteArray tagUid() const = 0;
    virtual uint8_t chipCode() const = 0;
    /// Keeps what an inventory reply says of the tags on the reader (`uid`, `chip_code`).
    virtual void storeInventory(const replies::Reply& reply) = 0;
    virtual TagDocument& document() = 0;
    virtual bool chinese() const = 0;

    /// The success ending: the single beep (unless a success is to stay silent).
    virtual void Succeed_End_State(const QString& str) = 0;
    /// The failure ending: the double beep.
    virtual void Failed_State(const QString& str) = 0;
    /// A result tip; false when it is not shown (a read-back's failure says more).
    virtual bool showTip(ResultTip tip) = 0;
    /// A tip that ends the Write or auto-write operation under way with `result`.
    virtual void endWith(ResultTip tip, record::Result result) = 0;
    /// A failed reply, reported as the reader words it: trace text, tip, record result.
    virtual void reportFailure(const replies::Reply& reply) = 0;
    /// The record line of the Write or auto-write operation under way.
    virtual record::Outcome& outcome() = 0;
    /// Starts the running operation's sequence over (its read-back).
    virtual void restartSequence() = 0;
    /// A read has finished with all its data (`readcnt` read replies).
    virtual void readDone(const QByteArray& data, uint8_t readcnt, bool manual) = 0;
    /// The model-name read has its 32 bytes.
    virtual void modelNameRead(const QByteArray& model) = 0;
    /// The blocks the running write sent were found wrong (or unproven) at `block`.
    virtual void verifyFailedAt(int block) = 0;
    /// Whether a tag of this connection took long writes only in pieces of four, and
    /// learning that it does.
    virtual bool fourBlockLink() const = 0;
    virtual void learnFourBlockLink() = 0;
    /// Whether writes are read back.
    virtual bool verifyAfterWrite() const = 0;

  protected:
    ~EngineHost() = default;
};

/// One operation of the engine (a read, a write, ...): it owns its step counters and
/// replies, and the engine runs one at a time over its link. Its step slot runs on every
/// tick while commands remain; each reply to one of its commands comes back to it.
class Operation
{
  public:
    Operation(EngineHost& host, uint8_t type) : cmd_type(type), m_host(host) {}
    virtual ~Operation() = default;
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;

    /// The sequence code while commands remain; 0 once the last one is out.
    uint8_t cmd_type;

    /// True while the operation has commands to send (its step slot runs on the tick).
    virtual bool running() const { return cmd_type != 0; }
    /// The step slot of the running sequence, once per tick.
    virtual void step() = 0;
    /// A reply the engine matched to this operation's command in flight.
    virtual void reply(const replies::Reply& reply) = 0;
    /// The command in flight got no reply in time. True when the operation goes on by
    /// itself (a long write sent again in pieces); otherwise the engine ends it as failed.
    virtual bool overdue(replies::Kind awaited)
    {
        static_cast<void>(awaited);
        return false;
    }
    /// The operation has ended as failed (Failed_State). True when it has told the user
    /// itself (a read-back that did not finish), so that the failure tip that follows is
    /// not shown.
    virtual bool failed() { return false; }
    /// What the record says of `result` ending this operation; `readerGone` when the reader
    /// went away.
    virtual record::Result recordResult(record::Result result, bool readerGone)
    {
        static_cast<void>(readerGone);
        return result;
    }
    /// True for the read sequences: a failure is a failed read.
    virtual bool reads() const = 0;
    /// Replies counted so far.
    virtual uint8_t replyCount() const = 0;
    /// Replies the sequence plans (`readcnt` or `send_cnt`).
    virtual uint8_t plannedCount() const = 0;

  protected:
    EngineHost& host() { return m_host; }
    Handshake& hs() { return m_host.handshake(); }

  private:
    EngineHost& m_host;
};
