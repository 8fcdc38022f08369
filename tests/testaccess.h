#pragma once
// What tests, fuzz targets and benchmarks reach that no public interface gives: the
// engine's tick (stopped to step by hand), the document's image as a test prepares it, and
// the window's own widgets and slots. TagEngine, TagDocument and Vantory declare this
// class a friend. The engine's links, operations, beeper and auto-write loop are tested
// through their public interfaces.
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
    // ------------------------------------------------------------------ the engine
    static TagEngine& engine(TagEngine& e) { return e; }
    template <class W> static TagEngine& engine(W& w) { return *w.m_engine; }

    // The tick: tests that step the engine by hand stop it, and see it park when idle.
    template <class H> static QTimer* cmdTimer(H& h) { return engine(h).cmd_timer; }
    template <class H> static bool tickParked(H& h) { return engine(h).m_tick_parked; }
    template <class H> static void setTickParked(H& h, bool v) { engine(h).m_tick_parked = v; }
    // The timers stop: a test (or fuzz input) then runs every tick and pass itself.
    template <class H> static void stopTimers(H& h)
    {
        TagEngine& e = engine(h);
        e.cmd_timer->stop();
        e.m_tick_parked = false;
        e.stopAutoWritePass();
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
    /// The tag kind of the document's configuration, as a test prepares it.
    template <class H> static void setDocumentKind(H& h, uint8_t kind)
    {
        engine(h).m_doc->m_chip_code = kind;
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
};
