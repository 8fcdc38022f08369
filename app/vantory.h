#pragma once

#include "app/readerbackends.h"
#include "app/uilog.h"
#include "engine/tagengine.h"
#include "model/constlumen.h"
#include "model/displayscale.h"
#include "model/productionrecord.h"
#include "model/recordstore.h"
#include "model/tagimage.h"
#include "readers/hidbackend.h"

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QString>
#include <QVariant>
#include <QVector>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>

QT_BEGIN_NAMESPACE
namespace Ui {
class Vantory;
}
class QGridLayout;
class StationView;
class QHBoxLayout;
class QCloseEvent;
class QDragEnterEvent;
class QDropEvent;
class QLabel;
class QSettings;
class QTimer;
QT_END_NAMESPACE

struct BiText;
class AboutUsDialog;
class ConnectionConfig;
class CustomItemDelegrate;
class MyChart;
class NoticeWidget;
class RangeSlider;

/// The program's single main window. It owns every long-lived object, the tag command
/// engine among them, and shows what the engine reports; the model slots live in
/// app/vantory_*.cpp.
class Vantory : public QMainWindow
{
    Q_OBJECT
    friend class TestAccess;

public:
    // ===================================================================== frame
    /// Uses the real reader transports (hidapi, the FEUSB library).
    explicit Vantory(QWidget* parent = nullptr);
    /// Uses the given transports; null members fall back to the real ones.
    explicit Vantory(const ReaderBackends& backends, QWidget* parent = nullptr);
    ~Vantory() override;

    /// Picks the scale row from the taskbar height and applies it.
    void Select_Display_Scale(int taskbar, uint16_t width, uint16_t height);
    /// Applies one row of the display-scale table for a width x height screen.
    void Apply_Display_Scale(uint16_t width, uint16_t height, uint8_t row);
    /// Applies the display scale of a screen (its whole area and the part free of
    /// taskbars) and places the window, frame and status bar included, inside the free
    /// part. Call before the window is shown.
    void placeOnScreen(const QRect& available, const QRect& full);

private:
    void Init_Panel_Style();
    void Init_Connections();
    void Show_Current_Range_Rows(uint8_t channels);
    void Set_Panel_Spacer(bool expand);
    void Hide_Option_Panels();

    Ui::Vantory* ui = nullptr;
    QString m_device_name; // text of the connected HID device

    // Reader transports: owned when the window created the real ones itself.
    std::unique_ptr<HidBackend> m_own_hid_backend;
    std::unique_ptr<FeusbApi> m_own_feusb_backend;
    HidBackend* m_hid_backend = nullptr;
    FeusbApi* m_feusb_backend = nullptr;
    bool m_simulated = false;

    // Long-lived objects without a Qt parent; the window deletes them (see ~Vantory).
    NoticeWidget* m_notice = nullptr;
    MyChart* m_chart = nullptr;
    // The tag command engine with the two reader links and the tag document it owns.
    TagEngine* m_engine = nullptr;
    TagDocument& doc() const { return m_engine->document(); }

    QTimer* clock_timer = nullptr;
    QGridLayout* chart_layout_cct = nullptr;
    RangeSlider* cct_slider = nullptr;
    QHBoxLayout* m_slider_layout = nullptr;
    CustomItemDelegrate* m_time_delegate = nullptr;
    CustomItemDelegrate* m_level_delegate = nullptr;

    // Sizes of the last display-scale band applied; zero before the first one.
    displayscale::DisplayScale m_scale;

private slots:
    void SetTime();
    void UpdateDateTime();

    // ===================================================================== tips and status bar
private:
    QLabel* status_link = nullptr;
    QLabel* status_result = nullptr;
    uint8_t last_tip = 0;      // code of the last tip shown in status_result
    // A refusal or note of the window's own shown in status_result instead of a tip, in
    // either language; empty when none.
    std::function<QString(bool chinese)> m_refusal;
    QDateTime current_time;    // local time at the last clock tick
    bool clo_chart_ready = false;

public:
    /// Writes the link label (left): blue when ok, red otherwise.
    void Show_Link_Status(bool ok, QString text);
    /// Writes the result label (right): blue when ok, red otherwise.
    void Show_Result_Status(bool ok, QString text);

private:
    void showResultTip(ResultTip tip, bool chinese);
    // An operation starts: the result of the one before must not pass for its result.
    void clearResultStatus();
    // An action refused by the window: the reason in red in status_result and, unless it
    // is only a note, as a notice.
    void showRefusal(const BiText& text);
    void showRefusal(std::function<QString(bool chinese)> text, bool notice = true);
    // Refuses the action named while a tag operation runs: nothing may cut it short.
    bool refusedWhileBusy(const BiText& action);
    // Refuses an action that would take the configuration while a number is still being
    // typed into a box: such a half-typed value is no edit yet.
    bool refusedWhileTyping();

private slots:
    void in_clickCopy();
    void LogDebug(QString loginfo);

    // Tips: state true shows the Chinese text. Codes 1..10 go to status_result and
    // set last_tip; the three link tips go to status_link.
    void Tip_No_Device(bool state);
    void Tip_Device_Different(bool state);
    void Tip_Read_Succeed(bool state);
    void Tip_Read_Failed(bool state);
    void Tip_Write_Succeed(bool state);
    void Tip_Write_Failed(bool state);
    void Tip_GetUID_Succeed(bool state);
    void Tip_No_ISO15693(bool state);
    void Tip_NoLabel(bool state);
    void Tip_OpenScan(bool state);
    void Tip_Feig_Connect_Succeed(bool state);
    void Tip_R321_Conncect_Succeed(bool state);
    void Tip_R321_Select_Device(bool state);
    void LiveUpdate_StatusBar(uint8_t state);

    // ===================================================================== record, batch, settings
public:
    /// Records every operation into day files in `folder`; empty stops recording.
    void setRecordFolder(const QString& folder);
    /// Closes the window for a signal (`cause`, e.g. "SIGTERM") as its close button does,
    /// without asking: the operation under way ends or is recorded as interrupted.
    void closeForSignal(const QString& cause);
    /// Language, last configuration folder and reader choice are read from and kept in
    /// `settings`; without it nothing is remembered.
    void useSettings(std::unique_ptr<QSettings> settings);
    /// Opens a configuration file as Read File does, with the same checks and messages.
    void openConfigFile(const QString& path);

protected:
    // Closing while a driver is programmed asks first; see vantory_engine.cpp.
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    struct BatchCounts {
        int written = 0;
        int failed = 0;
        int otherModel = 0;
        bool shown = false; // from auto write on until the next Read or Write
    };
    record::Journal* m_record = nullptr;
    std::unique_ptr<QSettings> m_settings;
    QString m_config_folder;
    QLabel* status_batch = nullptr;  // batch counts of auto write
    QLabel* status_last = nullptr;   // the last driver auto write handled, and its result
    record::Outcome m_last_driver;   // what status_last shows, while it is shown
    QLabel* status_record = nullptr; // a record that cannot be written
    BatchCounts m_batch;
    QString m_record_problem; // folder that could not be written; empty when fine
    bool m_record_held = false; // the record server is away: lines wait in the journal
    record::ServerProblem m_record_held_for = record::ServerProblem::None; // and why
    QString m_record_held_detail; // the server's reason, without any password
    QString m_close_cause; // set while the window closes for a signal
    // The driver's last recorded write in Device Data, after a Read; see vantory_history.cpp.
    QLabel* label_LastWrite = nullptr;
    QString m_last_write_uid; // the driver read last, whose write is looked up
    std::optional<record::StoredLine> m_last_write;
    void lookUpLastWrite();
    void showLastWrite();
    void showBatchCounts();
    void hideBatchCounts();
    void showRecordProblem();
    void showLastDriver();
    void rememberSetting(const QString& key, const QVariant& value);

private slots:
    void recordOperation(const record::Outcome& outcome);
    void onRecordFailed(const QString& folder, const QString& reason);
    void onRecordRecovered();
    void onRecordServerAway(record::ServerProblem problem, const QString& detail);
    void onRecordServerBack();
    void onResultTipForLastWrite(ResultTip tip);

    // ===================================================================== dialogs and connect steps
public:
    // The connection dialog uses this, Show_Link_Status and the engine's two connect steps.
    /// Stores the chosen reader.
    void Set_Reader_Type(ReaderType value) { Set_Reader_Type(ReaderChoice{value, QString()}); }
    void Set_Reader_Type(const ReaderChoice& choice);
    /// Switches read-back verification after every write on or off, and remembers it.
    void setVerifyAfterWrite(bool on);
    /// Auto write as a fast batch (remembered), or at the described pace.
    void setFastBatch(bool on);

private:
    ConnectionConfig* m_connection_dialog = nullptr;
    bool m_in_use_told = false; // the reader chosen is held by another program, and was said
    AboutUsDialog* m_about_dialog = nullptr;
    StationView* m_station = nullptr;
    ReaderChoice m_station_reader; // the window's reader before the station took them all

public:
    /// The station view; null before it was first opened.
    StationView* station() const { return m_station; }

private:

private slots:
    void on_actionselect_triggered();
    // The connection dialog's OK: connect the reader chosen and remember it.
    void onReaderChosen(const ReaderChoice& reader);
    void on_actionAboutus_triggered();
    // The station view: one batch per reader; the window's own reader is given up meanwhile.
    void on_actionStation_triggered();
    void startStation();
    void endStation();

    // ===================================================================== language
private:
    uint8_t lang_cn = 0; // nonzero: Chinese texts

    // Sets every caption of the window in one language and shows the status texts again.
    void Switch_Language_Text(bool chinese);

private slots:
    void on_actionLanguage_triggered();

    // ===================================================================== engine
public:
    /// Receives every modal warning box of the window (caption, text) instead of a real
    /// QMessageBox; headless runs and tests install one.
    using ModalHook = std::function<void(const QString& caption, const QString& text)>;
    void setModalHook(ModalHook hook);
    /// The connect step of the connection dialog: chooses `reader` and opens it unless it
    /// is open; false (and no message) when it cannot be opened.
    bool connectReader(ReaderType reader) { return connectReader(ReaderChoice{reader, QString()}); }
    bool connectReader(const ReaderChoice& reader);
    /// How long a sequence command waits for its reply (3000 ms unless changed).
    void setReplyTimeout(int ms);

private:
    void showModalWarning(const QString& caption, const QString& text);
    ModalHook m_modal_hook;

    // Every edit of the panels goes to the document as it is made; the panels showing the
    // document set their widgets with this flag up, so that nothing goes back.
    bool m_showing_document = false;
    void connectEditsToDocument();
    void onHeldAtLimit(const BiText& box, int typed, int limit, int minimum, int maximum);
    // The name of a box that holds a number still being typed; empty when none.
    QString pendingEdit() const;

private slots:
    void showWarningText(QString text); // warning box with the caller's text
    void on_actionRead_triggered();
    void on_actionWrite_triggered();
    void on_actionAuto_Write_triggered();
    // What the engine reports.
    void onEngineLinkTip(TagEngine::LinkTip tip, bool chinese);
    void onDocumentLoaded(TagDocument::Source source);
    void onAutoWriteSwitched(bool on);

private:
    // While auto write is on, nothing that changes what is written can be edited.
    void lockBatchSettings(bool locked);

    // ===================================================================== model: image/currents/constant lumen/colour temperature/configuration file
private:

    void GetLumenTimer(const constlumen::Points& timer);
    void GetLumenLevel(const constlumen::Points& level);
    void showCloCorrectionNotice();
    // Shows a driver's colour-temperature range; the result does not depend on the
    // range shown before.
    void showCctRange(uint16_t coolest, uint16_t warmest);
    // The configuration line: source, model, tag kind, layout, edited; and the UID of the
    // driver read last in Device Data.
    void showConfigurationLine();
    void showDriverUid(const QByteArray& uidMsbFirst);
    QByteArray m_driver_uid;

public:
    enum class FileDialogMode : uint8_t { Open, Save };
    /// Chooses the configuration file to open or save (caption, proposed name, filter);
    /// an empty path means the user cancelled. Tests install one; the default is
    /// QFileDialog.
    using FileDialogHook = std::function<QString(FileDialogMode mode, const QString& caption,
                                                 const QString& proposedName,
                                                 const QString& filter)>;
    void setFileDialogHook(FileDialogHook hook);

private:
    FileDialogHook m_file_dialog_hook;
    QString chooseConfigFile(FileDialogMode mode, const QString& caption,
                             const QString& proposedName);

private slots:
    // image
    void Update_Product_Info();
    void Update_Drive_Info();

    // currents
    void ChangeParamEnable(uint8_t device_type);
    void Display_Current_Channel(uint8_t nums);
    void Tip_Current_CH1(bool state, uint16_t u16_min, uint16_t u16_max);
    void Tip_Current_CH2(bool state, uint16_t u16_min, uint16_t u16_max);
    void Tip_Current_CH3(bool state, uint16_t u16_min, uint16_t u16_max);
    void Open_Use_Function(uint8_t functions);

    // constant lumen
    void SetLumen();
    void Init_SetLumen();
    void Update_CLO_Chart();
    void Set_ConstLumen_Enable(bool state);
    bool switchButton_Status(bool state);
    void on_LumentableWidget_cellChanged(int row, int column);
    void Cal_ConstantLumenData(uint8_t max, uint8_t min, int item_value, int row, int column);
    uint8_t Jude_ConstantTime_Legal(uint8_t index, uint8_t value);
    void Increase_ConstantTime(uint8_t index, uint8_t value);
    bool Check_ConstantData();
    void Update_TableWidgetItem(int row, int column, int item_value);

    // colour temperature
    void Get_CCT_Data();
    void Update_CCT_Chart();
    bool deleteAllitemsOfLayout(QLayout* layout);

    // configuration file
    void on_actionOpen_BIN_configure_triggered();
    void on_actionSave_BIN_configure_triggered();
};
