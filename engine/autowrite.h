#pragma once

#include "engine/autoscan.h"
#include "readers/replies.h"

#include <QByteArray>
#include <QObject>
#include <QTimer>
#include <QVector>
#include <array>
#include <cstdint>

/// What the auto-write loop asks of the engine that runs it.
class AutoWriteHost
{
  public:
    /// The UID of the tag on the reader, as the reader reports it; all zero for none.
    virtual QByteArray tagUid() const = 0;
    /// Takes `uid` as the tag on the reader (empty: none), with its product byte.
    virtual void selectTag(const QByteArray& uid) = 0;
    virtual uint8_t chipCode() const = 0;
    /// The model-name field of the configuration that would be written.
    virtual QByteArray templateModel() const = 0;
    virtual void Tip_No_Device() = 0;
    /// The last result tip is shown again (the batch on the reader is done).
    virtual void repeatLastTip() = 0;
    /// Starts the model-name read of the tag on the reader (blocks `addr` on, `num` of
    /// them, the name `len` bytes from `offset`); its success gives no beep.
    virtual void startModelRead(uint8_t addr, uint8_t num, uint8_t offset, uint8_t len) = 0;
    /// The tag's model (`found`) is not the configuration's: told once, double beep.
    virtual void refuseModel(const QByteArray& found) = 0;
    /// Writes the configuration to the tag on the reader, prepared as `index` says.
    virtual void startAutoWrite(uint8_t index) = 0;
    /// Sends the loop's inventory; false when it cannot go out now.
    virtual bool sendScanInventory() = 0;
    /// A success that is not to beep (the model-name read's) is not expected any more.
    virtual void forgetSilentSuccess() = 0;
    /// True while a command is out or a sequence or a beep runs: the reader is not idle.
    virtual bool readerBusy() const = 0;

  protected:
    ~AutoWriteHost() = default;
};

/// Auto scan and auto write: while switched on, a pass every 300 ms polls the reader for a
/// tag; every tag laid on the reader is model-checked once and, when its model is the one
/// in the configuration, written once; it is tried again only after it has left.
///
/// Several tags in one R321 inventory are handled one after another: when the beep of one
/// tag ends, the next tag of the same inventory that has not been handled is taken and its
/// model-name read is started on the next pass. Tags already handled that stay on the
/// reader are skipped, also when the inventory changes around them.
///
/// At the fast pace the loop runs at the reader's own pace instead of the 300 ms clock: the
/// next inventory goes out as soon as the reader is idle (the last beep has ended, or the
/// last inventory found nothing new), a driver found has its model read at once, and a
/// model that matches is written at once. Inventories that find nothing are spaced by
/// kIdlePollMs so that an idle reader costs next to no processor time. The clock then only
/// picks the loop up again if a reply it waited for never came.
class AutoWrite : public QObject
{
    Q_OBJECT
  public:
    enum class Pace : uint8_t { Described, Fast };
    /// The least time from one inventory that found nothing new to the next.
    static constexpr int kIdlePollMs = 50;

    explicit AutoWrite(AutoWriteHost& host, QObject* parent = nullptr);

    // The described state of the loop.
    uint8_t auto_mode = 0;
    uint8_t auto_scan = 0;
    uint8_t scan_request = 0;
    std::array<uint8_t, 8> last_uid{};
    uint8_t special_addr = 48;
    uint8_t special_num = 9;
    uint8_t model_offset = 3;
    uint8_t model_len = 32;
    uint8_t tag_count = 0;
    uint8_t found_count = 0;
    uint8_t tag_index = 0;
    QVector<QByteArray> inventory_reply; ///< the UIDs of the loop's last inventory, in order
    std::array<uint8_t, 32> tag_model{};
    uint8_t model_ready = 0;
    uint8_t auto_write_index = 1;

    /// Switches auto write on or off (the Auto Write action past its reader guard);
    /// returns the new state.
    bool toggle();
    void AutoWriteProcess();
    void Open_Auto_Scan();
    bool Detection_UID_Value(const uint8_t* uid) const;
    bool My_Compare(const uint8_t* now, const uint8_t* last, uint8_t size) const;

    /// The loop's inventory found `reply`'s tags (already taken as the tag on the reader).
    void takeAutoScanInventory(const replies::Reply& reply);
    /// An inventory found no tag: every tag has left the reader.
    void inventoryFailed();
    /// The model-name read gave the tag's model.
    void modelNameRead(const QByteArray& model);
    /// The product byte of a tag taken: which write preparation it gets.
    void noteChip(uint8_t chipCode);
    /// Drops the result of any model-name read (auto write switched, a read starting).
    void forgetModelCheck();

    /// The interval of the pass (300 ms unless changed; a simulated line may run faster).
    void setPassInterval(int ms) { m_pass.setInterval(ms); }
    /// The pace of the loop (described unless changed); taken at once, also while on.
    void setPace(Pace pace);
    Pace pace() const { return m_pace; }
    /// The loop's inventory has been answered; `pending`: it found a tag not handled yet.
    void scanAnswered(bool pending);
    /// No further pass runs: the program is leaving.
    void stopPasses() { m_pass.stop(); }
    /// Handled tags that stayed on the reader.
    int handledTags() const { return m_handled_tags.size(); }

  private:
    void selectScanTag(const QByteArray& id);
    bool fast() const { return m_pace == Pace::Fast; }
    // At the fast pace: runs the loop after `ms` (at once for 0), unless it runs sooner.
    void kick(int ms);
    void runFast();
    QByteArray uidBytes() const { return m_host.tagUid(); }

    AutoWriteHost& m_host;
    autoscan::HandledTags m_handled_tags;
    QByteArray m_model_uid; // the tag the model-name read was sent to
    QTimer m_pass;
    Pace m_pace = Pace::Described;
    QTimer m_kick;                 // the fast pace's next run of the loop
    qint64 m_scan_sent_ms = -1;    // when the loop's inventory in flight went out (-1: none)
    bool m_no_device_shown = false; // the fast pace shows the empty reader once
    bool m_done_tip_shown = false;  // ... and the batch's last tip once
};
