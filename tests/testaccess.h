#pragma once
// The one way tests, fuzz targets and benchmarks reach inside the engine, its document and
// the window. TagEngine, TagDocument and Vantory declare this class a friend; state is set
// through named operations, never through references to fields.
//
// Every engine operation takes the engine itself or a window (whose engine it uses), so
// that engine tests need no window. The window's operations are templates: a program that
// never names the window does not need its header.

#include "engine/tagengine.h"
#include "model/tagdocument.h"

#include <QByteArray>
#include <QDateTime>
#include <QTimer>
#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>

class QLabel;
class QLayout;

class TestAccess
{
  public:
    using Uid = std::array<uint8_t, 8>;
    using ModelName = std::array<uint8_t, 32>;

    // ------------------------------------------------------------------ the engine
    static TagEngine& engine(TagEngine& e) { return e; }
    template <class W> static TagEngine& engine(W& w) { return *w.m_engine; }

    template <class H> static const CommandState& cmd(H& h) { return engine(h).m_cmd; }
    template <class H> static void setCmd(H& h, const CommandState& c) { engine(h).m_cmd = c; }
    /// Changes the command state in place, as a test or fuzz input sets a step up.
    template <class H> static void editCmd(H& h, const std::function<void(CommandState&)>& edit)
    {
        edit(engine(h).m_cmd);
    }
    template <class H> static QTimer* cmdTimer(H& h) { return engine(h).cmd_timer; }
    template <class H> static bool tickParked(H& h) { return engine(h).m_tick_parked; }
    template <class H> static void setTickParked(H& h, bool v) { engine(h).m_tick_parked = v; }
    template <class H> static myhid* hid(H& h) { return engine(h).m_myhid; }
    template <class H> static writeThreadFEIG1* feigThread(H& h) { return engine(h).m_feig_thread; }

    // The timers stop: a test (or fuzz input) then runs every tick itself.
    template <class H> static void stopTimers(H& h)
    {
        TagEngine& e = engine(h);
        e.cmd_timer->stop();
        e.m_tick_parked = false;
        e.m_auto_pass->stop();
    }

    // the document
    template <class H> static const TagImage& image(H& h) { return engine(h).m_doc->m_image; }
    /// Replaces the image as it is, without the panels following (a test's prepared state).
    template <class H> static void putImage(H& h, const TagImage& image)
    {
        engine(h).m_doc->m_image = image;
    }
    /// Changes the image in place, as a test prepares it (the panels do not follow).
    template <class H> static void editImage(H& h, const std::function<void(TagImage&)>& edit)
    {
        edit(engine(h).m_doc->m_image);
    }
    template <class H> static void updateBankBuff(H& h) { engine(h).m_doc->prepareBankBuffer(); }

    // identity and sequence state
    template <class H> static uint8_t chipCode(H& h) { return engine(h).chip_code; }
    /// The kind of the driver on the reader, and of the document's configuration as after
    /// that driver's read.
    template <class H> static void setChipCode(H& h, uint8_t v)
    {
        engine(h).setChipCode(v);
        engine(h).m_doc->m_chip_code = v;
    }
    template <class H> static ReaderType readerType(H& h) { return engine(h).reader_type; }
    template <class H> static void setReaderType(H& h, ReaderType v) { engine(h).reader_type = v; }
    template <class H> static Uid uid(H& h) { return engine(h).uid; }
    template <class H> static void setUid(H& h, const Uid& v) { engine(h).uid = v; }
    template <class H> static Uid uidReversed(H& h) { return engine(h).uid_reversed; }
    template <class H> static void setUidReversed(H& h, const Uid& v)
    {
        engine(h).uid_reversed = v;
    }
    template <class H> static bool uidEmpty(H& h) { return isZero(engine(h).uid); }
    template <class H> static QByteArray lastRx(H& h) { return engine(h).last_rx; }
    template <class H> static void setLastRx(H& h, const QByteArray& v) { engine(h).last_rx = v; }
    template <class H> static uint8_t manualRead(H& h) { return engine(h).manual_read; }
    template <class H> static void setManualRead(H& h, uint8_t v) { engine(h).manual_read = v; }
    template <class H> static QString deviceName(H& h) { return engine(h).m_device_name; }
    template <class H> static QString templateSource(H& h) { return engine(h).templateSource(); }

    // inventory and model check
    template <class H> static uint8_t tagCount(H& h) { return engine(h).tag_count; }
    template <class H> static void setTagCount(H& h, uint8_t v) { engine(h).tag_count = v; }
    template <class H> static uint8_t foundCount(H& h) { return engine(h).found_count; }
    template <class H> static void setFoundCount(H& h, uint8_t v) { engine(h).found_count = v; }
    template <class H> static uint8_t tagIndex(H& h) { return engine(h).tag_index; }
    template <class H> static void setTagIndex(H& h, uint8_t v) { engine(h).tag_index = v; }
    template <class H> static QByteArray inventoryReply(H& h) { return engine(h).inventory_reply; }
    template <class H> static void setInventoryReply(H& h, const QByteArray& v)
    {
        engine(h).inventory_reply = v;
    }
    template <class H> static uint8_t specialNum(H& h) { return engine(h).special_num; }
    template <class H> static void setSpecialNum(H& h, uint8_t v) { engine(h).special_num = v; }
    template <class H> static uint8_t modelReady(H& h) { return engine(h).model_ready; }
    template <class H> static void setModelReady(H& h, uint8_t v) { engine(h).model_ready = v; }
    template <class H> static Uid modelUid(H& h) { return engine(h).m_model_uid; }
    template <class H> static void setModelUid(H& h, const Uid& v) { engine(h).m_model_uid = v; }
    template <class H> static ModelName tagModel(H& h) { return engine(h).tag_model; }
    template <class H> static void setTagModel(H& h, const ModelName& v)
    {
        engine(h).tag_model = v;
    }
    template <class H> static ModelName modelSnapshot(H& h) { return engine(h).model_snapshot; }
    template <class H> static void setModelSnapshot(H& h, const ModelName& v)
    {
        engine(h).model_snapshot = v;
    }

    // passwords
    template <class H> static uint8_t pwdFirstFailed(H& h) { return engine(h).pwd_first_failed; }
    template <class H> static void setPwdFirstFailed(H& h, uint8_t v)
    {
        engine(h).pwd_first_failed = v;
    }
    template <class H> static uint8_t pwdWritePending(H& h) { return engine(h).pwd_write_pending; }
    template <class H> static void setPwdWritePending(H& h, uint8_t v)
    {
        engine(h).pwd_write_pending = v;
    }
    template <class H> static uint8_t configWritePending(H& h)
    {
        return engine(h).config_write_pending;
    }
    template <class H> static void setConfigWritePending(H& h, uint8_t v)
    {
        engine(h).config_write_pending = v;
    }

    // auto write
    template <class H> static uint8_t autoMode(H& h) { return engine(h).auto_mode; }
    template <class H> static void setAutoMode(H& h, uint8_t v) { engine(h).auto_mode = v; }
    template <class H> static uint8_t autoScan(H& h) { return engine(h).auto_scan; }
    template <class H> static void setAutoScan(H& h, uint8_t v) { engine(h).auto_scan = v; }
    template <class H> static uint8_t scanRequest(H& h) { return engine(h).scan_request; }
    template <class H> static void setScanRequest(H& h, uint8_t v) { engine(h).scan_request = v; }
    template <class H> static uint8_t suppressSuccessBeep(H& h)
    {
        return engine(h).suppress_success_beep;
    }
    template <class H> static void setSuppressSuccessBeep(H& h, uint8_t v)
    {
        engine(h).suppress_success_beep = v;
    }
    template <class H> static Uid lastUid(H& h) { return engine(h).last_uid; }
    template <class H> static void setLastUid(H& h, const Uid& v) { engine(h).last_uid = v; }
    template <class H> static bool lastUidEmpty(H& h) { return isZero(engine(h).last_uid); }
    template <class H> static uint8_t autoWriteIndex(H& h) { return engine(h).auto_write_index; }
    template <class H> static int handledTags(H& h) { return engine(h).m_handled_tags.size(); }
    template <class H> static QVector<QByteArray> scanUids(H& h) { return engine(h).m_scan_uids; }
    template <class H> static void setScanUids(H& h, const QVector<QByteArray>& v)
    {
        engine(h).m_scan_uids = v;
    }
    template <class H> static void setBatch(H& h, uint8_t found, uint8_t index, uint8_t writeIndex)
    {
        TagEngine& e = engine(h);
        e.found_count = found;
        e.tag_index = index;
        e.auto_write_index = writeIndex;
    }

    // beeper
    template <class H> static uint8_t beepPattern(H& h) { return engine(h).beep_pattern; }
    template <class H> static uint8_t beepStep(H& h) { return engine(h).beep_step; }
    template <class H> static uint8_t beepTwiceStep(H& h) { return engine(h).beep_twice_step; }
    template <class H> static uint8_t beepState(H& h) { return engine(h).beep_cmd[1]; }

    // the step slots and the reply entry points
    template <class H> static void tick(H& h) { engine(h).TIMER0_HANDLE(); }
    template <class H> static void controlRw(H& h, uint8_t type, uint8_t readcnt)
    {
        engine(h).Control_RW(type, readcnt);
    }
    template <class H> static void startBeep(H& h, uint8_t n) { engine(h).Start_Beep(n); }
    template <class H> static void beepProcess(H& h) { engine(h).Beep_Process(); }
    template <class H> static void failed(H& h, const QString& why) { engine(h).Failed_State(why); }
    template <class H> static void succeeded(H& h, const QString& why)
    {
        engine(h).Succeed_End_State(why);
    }
    template <class H> static void r321Rx(H& h, const QByteArray& rx)
    {
        engine(h).in_hidDevReceive_usbDebug(rx);
    }
    template <class H> static void feigRx(H& h, const QByteArray& rx)
    {
        engine(h).in_FeigDevReceive_Debug(rx);
    }
    template <class H> static bool readerGuard(H& h, uint8_t status)
    {
        return engine(h).Detection_Usb_Statue(status);
    }
    template <class H> static void usbConnect(H& h, const QString& info)
    {
        engine(h).in_usbConnect(info);
    }
    template <class H> static void continueReadOneBank(H& h, uint8_t bank, uint8_t mode)
    {
        engine(h).Continue_Read_OneBank(bank, mode);
    }
    template <class H> static QByteArray feInverted(H& h, const QByteArray& d)
    {
        return engine(h).FEInverted(d);
    }
    template <class H> static void verifyReadBack(H& h) { engine(h).Verify_Read_Back(); }
    template <class H> static void selectAutoWrite(H& h, uint8_t index)
    {
        engine(h).Select_Auto_Write(index);
    }
    // The configure-then-write sequence has no sequence code: a test runs its step slot
    // itself, one call per tick, as CheckCmdSequence would.
    template <class H> static void writeOnceBankPswd1(H& h) { engine(h).Write_Once_BANK_Pswd1(); }
    template <class H> static void autoWriteProcess(H& h) { engine(h).AutoWriteProcess(); }
    template <class H> static bool uidValue(H& h, uint8_t* id)
    {
        return engine(h).Detection_UID_Value(id);
    }
    template <class H> static bool compare(H& h, uint8_t* a, uint8_t* b, uint8_t n)
    {
        return engine(h).My_Compare(a, b, n);
    }
    // The engine's own buffers, as the pointer-taking step slots are given them.
    template <class H> static uint8_t* ownImageBytes(H& h) { return engine(h).imageBytes(); }
    template <class H> static uint8_t* ownUidBytes(H& h) { return engine(h).uid.data(); }
    template <class H>
    static void writeBlockNum(H& h, uint8_t* id, uint8_t block, uint8_t* data, uint8_t n)
    {
        engine(h).Write_BlOCK_NUM(id, block, data, n);
    }
    template <class H> static void commandSent(H& h, replies::Kind kind)
    {
        engine(h).m_reply_guard.commandSent(kind);
    }

    /// Puts every piece of engine state back to its start-up value.
    template <class H> static void resetEngine(H& h)
    {
        TagEngine& e = engine(h);
        e.m_cmd = CommandState{};
        e.setChipCode(0x50);
        e.m_kind_seen = false;
        e.manual_read = 0;
        e.model_snapshot.fill(0);
        e.last_rx.clear();
        e.uid.fill(0);
        e.uid_reversed.fill(0);
        e.tag_count = 0;
        e.found_count = 0;
        e.tag_index = 0;
        e.inventory_reply.clear();
        e.auto_write_index = 1;
        e.tag_model.fill(0);
        e.model_ready = 0;
        e.pwd_first_failed = 0;
        e.config_write_pending = 0;
        e.pwd_write_pending = 0;
        e.auto_mode = 0;
        e.auto_scan = 0;
        e.scan_request = 0;
        e.last_uid.fill(0);
        e.special_addr = 48;
        e.special_num = 9;
        e.model_offset = 3;
        e.model_len = 32;
        e.suppress_success_beep = 0;
        e.beep_pattern = 0;
        e.beep_ticks = 0;
        e.beep_step = 0;
        e.beep_twice_step = 0;
        e.beep_cmd.fill(0);
        e.m_reply_timer->stop();
        e.m_feig_outstanding = 0;
        e.m_r321_crc.reset(); // as on a fresh connection
        e.m_handled_tags.clear();
        e.m_scan_uids.clear();
        e.m_reply_guard.reset();
        e.m_last_send_ok = false;
        e.m_beep_failure_reported = false;
        e.m_sequence_failed = false;
    }

    // ------------------------------------------------------------------ the window
    template <class W> static QLabel* statusLink(W& w) { return w.status_link; }
    template <class W> static QLabel* statusResult(W& w) { return w.status_result; }
    template <class W> static QLabel* statusBatch(W& w) { return w.status_batch; }
    template <class W> static QLabel* statusRecord(W& w) { return w.status_record; }
    template <class W> static uint8_t lastTip(W& w) { return w.last_tip; }
    template <class W> static void setLastTip(W& w, uint8_t tip) { w.last_tip = tip; }
    template <class W> static uint8_t langCn(W& w) { return w.lang_cn; }
    /// The window's language flag and the engine's texts, without the captions changing.
    template <class W> static void setLanguageFlag(W& w, bool chinese)
    {
        w.lang_cn = chinese ? 1 : 0;
        w.m_engine->setChinese(chinese);
    }
    template <class W> static bool cloChartReady(W& w) { return w.clo_chart_ready; }
    template <class W> static auto* notice(W& w) { return w.m_notice; }
    template <class W> static auto* connectionDialog(W& w) { return w.m_connection_dialog; }
    template <class W> static auto* aboutDialog(W& w) { return w.m_about_dialog; }
    template <class W> static QString configFolder(W& w) { return w.m_config_folder; }
    template <class W> static auto* cctSlider(W& w) { return w.cct_slider; }
    template <class W> static auto* chartLayoutCct(W& w) { return w.chart_layout_cct; }
    template <class W> static QTimer* clockTimer(W& w) { return w.clock_timer; }
    template <class W> static QDateTime currentTime(W& w) { return w.current_time; }
    template <class W> static void setCurrentTime(W& w, const QDateTime& t) { w.current_time = t; }
    template <class W> static auto* recordWriter(W& w) { return w.m_record; }
    template <class W> static uint8_t channelCount(W& w) { return w.doc().channelCount(); }
    template <class W> static uint16_t pwmPeriod(W& w) { return w.doc().pwmPeriod(); }
    template <class W> static bool verifyAfterWrite(W& w) { return w.m_engine->verifyAfterWrite(); }

    template <class W> static void showRangeRows(W& w, uint8_t n) { w.Show_Current_Range_Rows(n); }
    template <class W> static void setPanelSpacer(W& w, bool expand) { w.Set_Panel_Spacer(expand); }
    template <class W> static void hideOptionPanels(W& w) { w.Hide_Option_Panels(); }
    template <class W> static void updateProductInfo(W& w) { w.Update_Product_Info(); }
    template <class W> static void updateDriveInfo(W& w) { w.Update_Drive_Info(); }
    /// The image as it stands is shown: bank buffer, product and drive info.
    template <class W> static void refreshPanels(W& w)
    {
        updateBankBuff(w);
        w.Update_Product_Info();
        w.Update_Drive_Info();
    }
    template <class W> static void getCctData(W& w) { w.Get_CCT_Data(); }
    template <class W> static void updateCctChart(W& w) { w.Update_CCT_Chart(); }
    template <class W> static bool deleteAllItems(W& w, QLayout* l)
    {
        return w.deleteAllitemsOfLayout(l);
    }
    template <class W> static void displayCurrentChannel(W& w, uint8_t n)
    {
        w.Display_Current_Channel(n);
    }
    template <class W> static void openUseFunction(W& w, uint8_t f) { w.Open_Use_Function(f); }
    template <class W> static bool checkConstantData(W& w) { return w.Check_ConstantData(); }
    template <class W> static void switchStatus(W& w, bool on) { w.switchButton_Status(on); }
    template <class W> static void liveUpdate(W& w, uint8_t state)
    {
        w.LiveUpdate_StatusBar(state);
    }
    template <class W> static void clickCopy(W& w) { w.in_clickCopy(); }
    template <class W> static void clock(W& w) { w.SetTime(); }
    template <class W> static void openConfig(W& w) { w.on_actionOpen_BIN_configure_triggered(); }
    template <class W> static void saveConfig(W& w) { w.on_actionSave_BIN_configure_triggered(); }
    template <class W> static void stopWindowClock(W& w) { w.clock_timer->stop(); }

  private:
    static bool isZero(const Uid& id)
    {
        return std::all_of(id.begin(), id.end(), [](uint8_t b) { return b == 0; });
    }
};
