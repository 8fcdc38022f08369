#include "engine/autowrite.h"

#include "engine/enginelog.h"
#include "model/tagfields.h"

#include <QDateTime>
#include <algorithm>

namespace
{

constexpr int kPassMs = 300;
// A loop inventory unanswered this long is taken as lost.
constexpr qint64 kScanLostMs = 1000;

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}
constexpr uint8_t kModelBlock = 48;
constexpr uint8_t kModelBlocks = 9;
constexpr uint8_t kModelOffset = 3;
constexpr uint8_t kModelLength = 32;

const uint8_t* bytes(const QByteArray& a)
{
    return reinterpret_cast<const uint8_t*>(a.constData());
}

} // namespace

AutoWrite::AutoWrite(AutoWriteHost& host, QObject* parent) : QObject(parent), m_host(host)
{
    // The loop's pass; it does nothing while auto scan is off.
    m_pass.setInterval(kPassMs);
    connect(&m_pass, &QTimer::timeout, this, [this] {
        if (!auto_scan)
            return;
        if (!fast()) {
            AutoWriteProcess();
            return;
        }
        // At the fast pace the clock only takes the loop up again when what it waited for
        // never came (an inventory without an answer, a command held back).
        const bool scanLost = m_scan_sent_ms >= 0 && nowMs() - m_scan_sent_ms > kScanLostMs;
        if (scanLost)
            m_scan_sent_ms = -1;
        if (!m_kick.isActive() && m_scan_sent_ms < 0)
            runFast();
    });
    m_pass.start();
    m_kick.setSingleShot(true);
    connect(&m_kick, &QTimer::timeout, this, &AutoWrite::runFast);
}

void AutoWrite::setPace(Pace pace)
{
    m_pace = pace;
    if (fast() && auto_scan)
        kick(0);
}

void AutoWrite::kick(int ms)
{
    if (!fast() || !auto_scan)
        return;
    if (m_kick.isActive() && m_kick.remainingTime() <= ms)
        return;
    m_kick.start(ms);
}

void AutoWrite::runFast()
{
    // One request at a time: whatever holds the reader kicks the loop when it ends.
    if (!auto_scan || m_scan_sent_ms >= 0 || m_host.readerBusy())
        return;
    AutoWriteProcess();
}

void AutoWrite::scanAnswered(bool pending)
{
    const qint64 sent = m_scan_sent_ms;
    m_scan_sent_ms = -1;
    if (!fast())
        return;
    if (pending) {
        m_no_device_shown = false;
        m_done_tip_shown = false;
        kick(0);
        return;
    }
    // Nothing new on the reader: the next inventory keeps its distance from this one.
    const qint64 since = sent >= 0 ? nowMs() - sent : 0;
    kick(static_cast<int>(std::clamp<qint64>(kIdlePollMs - since, 0, kIdlePollMs)));
}

bool AutoWrite::toggle()
{
    auto_mode = auto_mode ? 0 : 1;
    forgetModelCheck();
    // The UID of an earlier Read may belong to a driver that has been taken away; the
    // first inventory finds whatever lies on the reader now.
    m_host.selectTag({});
    auto_scan = auto_mode;
    scan_request = auto_mode;
    m_scan_sent_ms = -1;
    m_no_device_shown = false;
    m_done_tip_shown = false;
    m_kick.stop();
    kick(0);
    return auto_mode != 0;
}

void AutoWrite::AutoWriteProcess()
{
    const QByteArray uid = uidBytes();
    if (!Detection_UID_Value(bytes(uid))) {
        qCDebug(lcEngine) << "UID为空";
        last_uid.fill(0);
        // The fast pace polls far more often than the clock: the same tip once is enough.
        if (!fast() || !m_no_device_shown)
            m_host.Tip_No_Device();
        m_no_device_shown = true;
    } else if (tag_index == found_count) {
        qCDebug(lcEngine) << "扫描到的标签全部写入";
        m_host.selectTag({});
        scan_request = 1;
        if (!fast() || !m_done_tip_shown)
            m_host.repeatLastTip();
        m_done_tip_shown = true;
    } else if (My_Compare(bytes(uid), last_uid.data(), static_cast<uint8_t>(last_uid.size()))) {
        if (scan_request) {
            special_addr = kModelBlock;
            special_num = kModelBlocks;
            model_len = kModelLength;
            model_offset = kModelOffset;
            forgetModelCheck();
            m_model_uid = uid;
            m_host.startModelRead(special_addr, special_num, model_offset, model_len);
            scan_request = 0;
        }
        // No inventory goes out while the model-name read runs.
        if (!model_ready)
            return;
        if (m_model_uid != uid) {
            // The model of another tag: this one's is read on the next pass.
            forgetModelCheck();
            scan_request = 1;
            return;
        }
        model_ready = 0;
        const QByteArray found(reinterpret_cast<const char*>(tag_model.data()),
                               static_cast<int>(tag_model.size()));
        if (found != m_host.templateModel())
            m_host.refuseModel(found);
        else
            m_host.startAutoWrite(auto_write_index);
        std::copy_n(bytes(uid), last_uid.size(), last_uid.begin());
    }

    if (scan_request && m_host.sendScanInventory())
        m_scan_sent_ms = nowMs();
}

void AutoWrite::forgetModelCheck()
{
    model_ready = 0;
    tag_model.fill(0);
    m_model_uid.clear();
    // The silence belongs to the abandoned read's success, which will not come.
    m_host.forgetSilentSuccess();
}

void AutoWrite::modelNameRead(const QByteArray& model)
{
    // Only the model-name read started for the tag on the reader counts.
    if (m_model_uid.isEmpty()) {
        qCDebug(lcEngine) << "model-name reply of an abandoned read dropped";
        return;
    }
    tag_model.fill(0);
    std::copy_n(model.constBegin(), std::min<int>(model.size(), int(tag_model.size())),
                tag_model.begin());
    model_ready = 1;
    kick(0);
}

void AutoWrite::Open_Auto_Scan()
{
    const QByteArray uid = uidBytes();
    // The tag whose beep has just ended is handled until it leaves the reader.
    if (Detection_UID_Value(bytes(uid)))
        m_handled_tags.add(uid);
    if (tag_count > 0)
        --tag_count;
    ++tag_index;
    // Tags of this inventory handled earlier (they stayed on the reader) are passed over.
    const int next = m_handled_tags.nextPending(inventory_reply, tag_index);
    const int skipped = std::min<int>(next - tag_index, tag_count);
    tag_count = static_cast<uint8_t>(tag_count - std::max(0, skipped));
    tag_index = static_cast<uint8_t>(tag_index + std::max(0, skipped));

    if (tag_count != 0 && tag_index < inventory_reply.size()) {
        selectScanTag(inventory_reply.at(tag_index));
        // Lets the next pass start this tag's model-name read; that pass sends no inventory.
        scan_request = 1;
    } else {
        tag_count = 0;
        scan_request = 1;
    }
    m_no_device_shown = false;
    m_done_tip_shown = false;
    kick(0);
}

bool AutoWrite::Detection_UID_Value(const uint8_t* uid) const
{
    return autoscan::anyNonZero(uid, autoscan::kUidBytes);
}

bool AutoWrite::My_Compare(const uint8_t* now, const uint8_t* last, uint8_t size) const
{
    return autoscan::differ(now, last, size);
}

void AutoWrite::takeAutoScanInventory(const replies::Reply& reply)
{
    qCDebug(lcEngine) << "<自动扫描获取UID成功>\r\n";
    QVector<QByteArray> uids;
    for (const QByteArray& id : reply.uids)
        if (id.size() == autoscan::kUidBytes)
            uids << id;
    inventory_reply = uids;
    const int first = m_handled_tags.takeInventory(uids);
    found_count = static_cast<uint8_t>(uids.size());
    tag_index = static_cast<uint8_t>(first);
    tag_count = static_cast<uint8_t>(uids.size() - first);
    if (first > 0 && first < uids.size())
        selectScanTag(uids.at(first));
}

void AutoWrite::inventoryFailed()
{
    m_host.selectTag({});
    tag_index = 0;
    m_handled_tags.clear(); // no tag on the reader any more
}

void AutoWrite::noteChip(uint8_t chipCode)
{
    if (chipCode == tagfields::ChipP)
        auto_write_index = 1;
    else if (chipCode == tagfields::ChipPwm)
        auto_write_index = 2;
}

void AutoWrite::selectScanTag(const QByteArray& id)
{
    if (id.size() != autoscan::kUidBytes)
        return;
    m_host.selectTag(id);
    noteChip(m_host.chipCode());
}
