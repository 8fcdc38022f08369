// Auto scan and auto write: the Auto Write toggle and the loop that the 300 ms clock runs
// while it is on. Every tag laid on the reader is model-checked once and, when its model
// is the one in the window, written once; it is tried again only after it has left.
//
// Several tags in one R321 inventory are handled one after another: when the beep of one
// tag ends, the next tag of the same inventory that has not been handled is taken and its
// model-name read is started on the next pass. Tags already handled that stay on the
// reader are skipped, also when the inventory changes around them.
#include "engine/tagengine.h"

#include "engine/enginelog.h"
#include "engine/replies.h"
#include "model/tagfields.h"
#include "readers/feigworker.h"
#include "readers/myfeigusb.h"
#include "readers/myreader.h"

#include <algorithm>

using replies::Kind;

namespace
{

constexpr uint8_t kModelBlock = 48;
constexpr uint8_t kModelBlocks = 9;
constexpr uint8_t kModelOffset = 3;
constexpr uint8_t kModelLength = 32;

} // namespace

void TagEngine::toggleAutoWrite()
{
    if (!Detection_Usb_Statue(1))
        return;
    if (auto_mode) {
        auto_mode = 0;
        forgetModelCheck();
        dropUnwrittenDriver();
        uid.fill(0);
        auto_scan = 0;
        scan_request = 0;
    } else {
        auto_mode = 1;
        forgetModelCheck();
        // The UID of an earlier Read may belong to a driver that has been taken away;
        // the first inventory finds whatever lies on the reader now.
        uid.fill(0);
        auto_scan = 1;
        scan_request = 1;
    }
    // The host shows the switch: the action's icon, Read and Write greyed out while on.
    emit autoWriteSwitched(auto_mode != 0);
}

void TagEngine::AutoWriteProcess()
{
    if (!Detection_UID_Value(uid.data())) {
        qCDebug(lcEngine) << "UID为空";
        last_uid.fill(0);
        Tip_No_Device(lang_cn());
    } else if (tag_index == found_count) {
        qCDebug(lcEngine) << "扫描到的标签全部写入";
        uid.fill(0);
        scan_request = 1;
        emit lastTipRepeated();
    } else if (My_Compare(uid.data(), last_uid.data(), static_cast<uint8_t>(uid.size()))) {
        if (scan_request) {
            special_addr = kModelBlock;
            special_num = kModelBlocks;
            model_len = kModelLength;
            model_offset = kModelOffset;
            Control_RW(SeqCode::ReadModel, 1);
            beginOperation(record::Operation::AutoWrite);
            suppress_success_beep = 1;
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
        const QByteArray wanted = tagfields::modelNameField(m_doc->image());
        const QByteArray found(reinterpret_cast<const char*>(tag_model.data()),
                               static_cast<int>(tag_model.size()));
        if (found != wanted) {
            endWith(ResultTip::DeviceDifferent, record::Result::OtherModel);
            Failed_State(QStringLiteral("<操作失败12：The model number is different!>\r\n"));
        } else if (refuseOtherKind()) {
            endWith(ResultTip::WriteFailed, record::Result::OtherKind);
            Failed_State(QStringLiteral("<操作失败：标签类型不一致>"));
        } else {
            Tip_OpenScan(lang_cn());
            Control_RW(SeqCode::WriteAll, 0);
            m_doc->clearAutoWriteWord();
            Select_Auto_Write(auto_write_index);
            // Only the model name was read: the template's layout is taken for the driver.
            noteWriteTemplate();
        }
        last_uid = uid;
    }

    if (scan_request) {
        if (reader_type == ReaderType::Feig)
            sendFeigFrame(m_feig->Feig_Inventory(), Kind::Other);
        else if (reader_type == ReaderType::R321)
            sendR321Frame(m_myreader->Cmd_Inventory(), Kind::Other);
    }
}

void TagEngine::forgetModelCheck()
{
    model_ready = 0;
    tag_model.fill(0);
    m_model_read_open = false;
    // The silence belongs to the abandoned read's success, which will not come.
    suppress_success_beep = 0;
}

void TagEngine::Open_Auto_Scan()
{
    // The tag whose beep has just ended is handled until it leaves the reader.
    if (Detection_UID_Value(uid.data()))
        m_handled_tags.add(uidBytes());
    if (tag_count > 0)
        --tag_count;
    ++tag_index;
    // Tags of this inventory handled earlier (they stayed on the reader) are passed over.
    const int next = m_handled_tags.nextPending(m_scan_uids, tag_index);
    const int skipped = std::min<int>(next - tag_index, tag_count);
    tag_count = static_cast<uint8_t>(tag_count - std::max(0, skipped));
    tag_index = static_cast<uint8_t>(tag_index + std::max(0, skipped));

    if (tag_count != 0 && tag_index < m_scan_uids.size()) {
        selectScanTag(m_scan_uids.at(tag_index));
        // Lets the next pass start this tag's model-name read; that pass sends no inventory.
        scan_request = 1;
    } else {
        tag_count = 0;
        scan_request = 1;
    }
}

bool TagEngine::Detection_UID_Value(uint8_t* uid)
{
    return autoscan::anyNonZero(uid, autoscan::kUidBytes);
}

bool TagEngine::My_Compare(uint8_t* now, uint8_t* last, uint8_t size)
{
    return autoscan::differ(now, last, size);
}

void TagEngine::takeAutoScanInventory()
{
    QVector<QByteArray> uids;
    if (reader_type == ReaderType::R321) {
        for (int i = 0; i < found_count; ++i) {
            const QByteArray id = replies::r321InventoryUid(inventory_reply, i);
            if (id.size() == autoscan::kUidBytes)
                uids << id;
        }
    } else {
        uids << uidBytes();
    }
    m_scan_uids = uids;
    const int first = m_handled_tags.takeInventory(uids);
    found_count = static_cast<uint8_t>(uids.size());
    tag_index = static_cast<uint8_t>(first);
    tag_count = static_cast<uint8_t>(uids.size() - first);
    if (first > 0 && first < uids.size())
        selectScanTag(uids.at(first));
}

void TagEngine::selectScanTag(const QByteArray& id)
{
    if (id.size() != autoscan::kUidBytes)
        return;
    std::copy_n(id.constBegin(), uid.size(), uid.begin());
    const QByteArray reversed = replies::feInverted(id);
    std::copy_n(reversed.constBegin(), uid_reversed.size(), uid_reversed.begin());
    // The product byte is the third in most-significant-first order.
    setChipCode(static_cast<uint8_t>(reader_type == ReaderType::Feig ? id.at(2) : id.at(5)));
    if (chip_code == tagfields::ChipP) {
        m_cmd.readcnt = 12;
        auto_write_index = 1;
    } else if (chip_code == tagfields::ChipPwm) {
        m_cmd.readcnt = 7;
        auto_write_index = 2;
    }
}
