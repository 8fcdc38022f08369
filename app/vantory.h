#pragma once

#include "app/readerbackends.h"
#include "engine/autoscan.h"
#include "engine/commandstate.h"
#include "engine/stalereplyguard.h"
#include "model/constlumen.h"
#include "model/displayscale.h"
#include "model/productionrecord.h"
#include "model/tagimage.h"
#include "readers/hidbackend.h"

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QMainWindow>
#include <QString>
#include <QVariant>
#include <QVector>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>

Q_DECLARE_LOGGING_CATEGORY(lcUi)

QT_BEGIN_NAMESPACE
namespace Ui {
class Vantory;
}
class QGridLayout;
class QHBoxLayout;
class QDragEnterEvent;
class QDropEvent;
class QLabel;
class QSettings;
class QTimer;
QT_END_NAMESPACE

class AboutUsDialog;
class ConnectionConfig;
class CustomItemDelegrate;
class MyChart;
class MyFeigUsb;
class NoticeWidget;
class RangeSlider;
class myhid;
class myreader;
class writeThreadFEIG1;

/// The program's single main window. It owns every long-lived object; the engine and
/// model slots live in engine/vantory_*.cpp and model/vantory_*.cpp.
class Vantory : public QMainWindow
{
    Q_OBJECT
    friend struct VantoryProbe;

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
    myreader* m_myreader = nullptr;
    myhid* m_myhid = nullptr;
    NoticeWidget* m_notice = nullptr;
    MyFeigUsb* m_feig = nullptr;
    MyChart* m_chart = nullptr;
    writeThreadFEIG1* m_feig_thread = nullptr;

    QTimer* cmd_timer = nullptr;
    QTimer* clock_timer = nullptr;
    QGridLayout* chart_layout_cct = nullptr;
    RangeSlider* cct_slider = nullptr;
    QHBoxLayout* m_slider_layout = nullptr;
    CustomItemDelegrate* m_time_delegate = nullptr;
    CustomItemDelegrate* m_level_delegate = nullptr;

    // Sizes of the last display-scale band applied; zero before the first one.
    displayscale::DisplayScale m_scale;

    bool m_tick_parked = false; // cmd_timer stopped while nothing runs

    // Watching the chosen reader: the label turns red when it goes, and the same reader
    // is connected again when it comes back.
    QTimer* m_link_timer = nullptr;
    HidInterfaceInfo m_r321_wanted; // the R321 connected last (vendor ID 0: none yet)
    bool m_feig_wanted = false;     // a FEIG reader has been connected
    bool m_feig_lost_shown = false; // its loss is on the link label
    void checkReaderLink();
    void onR321LinkLost();
    // Restarts the parked tick; called whenever a sequence or a beep starts.
    void wakeTick();

signals:
    /// Every Write and auto-write operation, once, when its outcome is known.
    void operationFinished(const record::Outcome& outcome);

private slots:
    void TIMER0_HANDLE();
    void SetTime();
    void UpdateDateTime();

    // ===================================================================== tips and status bar
private:
    QLabel* status_link = nullptr;
    QLabel* status_result = nullptr;
    uint8_t last_tip = 0;      // code of the last tip shown in status_result
    QDateTime current_time;    // local time at the last clock tick
    bool clo_chart_ready = false;

public:
    /// Writes the link label (left): blue when ok, red otherwise.
    void Show_Link_Status(bool ok, QString text);
    /// Writes the result label (right): blue when ok, red otherwise.
    void Show_Result_Status(bool ok, QString text);

private:
    void showResultTip(uint8_t code, bool chinese);

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
    /// Language, last configuration folder and reader choice are read from and kept in
    /// `settings`; without it nothing is remembered.
    void useSettings(std::unique_ptr<QSettings> settings);
    /// Opens a configuration file as Read File does, with the same checks and messages.
    void openConfigFile(const QString& path);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    struct BatchCounts {
        int written = 0;
        int failed = 0;
        int otherModel = 0;
        bool shown = false; // from auto write on until the next Read or Write
    };
    record::Writer* m_record = nullptr;
    std::unique_ptr<QSettings> m_settings;
    QString m_config_folder;
    QLabel* status_batch = nullptr;  // batch counts of auto write
    QLabel* status_record = nullptr; // a record that cannot be written
    BatchCounts m_batch;
    QString m_record_problem; // folder that could not be written; empty when fine
    void showBatchCounts();
    void hideBatchCounts();
    void showRecordProblem();
    void rememberSetting(const QString& key, const QVariant& value);

private slots:
    void recordOperation(const record::Outcome& outcome);
    void onRecordFailed(const QString& folder, const QString& reason);

    // ===================================================================== dialogs and connect steps
public:
    // The connection dialog uses this, Show_Link_Status and the engine's two connect steps.
    /// Stores the chosen reader: 1 FEIG, 2 R321, any other value none.
    void Set_Reader_Type(uint8_t value);

private:
    uint8_t reader_type = 0; // 1 FEIG, 2 R321, anything else: no reader chosen
    ConnectionConfig* m_connection_dialog = nullptr;
    AboutUsDialog* m_about_dialog = nullptr;

private slots:
    void on_actionselect_triggered();
    void on_actionAboutus_triggered();

    // ===================================================================== language
private:
    uint8_t lang_cn = 0; // nonzero: Chinese texts

    // Sets every caption of the window in one language and shows the status texts again.
    void Switch_Language_Text(bool chinese);

private slots:
    void on_actionLanguage_triggered();

    // ===================================================================== engine: sequencer/replies/read/write/password/auto write/beeper
private:
    CommandState m_cmd;
    uint8_t chip_code = 0x50;
    uint8_t manual_read = 0;
    std::array<uint8_t, 32> model_snapshot{};

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

    // beeper
    uint8_t beep_pattern = 0;
    uint8_t beep_ticks = 0;
    uint8_t beep_step = 0;
    uint8_t beep_twice_step = 0;
    std::array<uint8_t, 8> beep_cmd{}; // R321 beeper record: byte 1 on (1) or off (0)

public:
    /// Receives every modal warning box of the window (caption, text) instead of a real
    /// QMessageBox; headless runs and tests install one.
    using ModalHook = std::function<void(const QString& caption, const QString& text)>;
    void setModalHook(ModalHook hook);
    /// R321 connect step: opens the HID link unless it is open; the outcome arrives
    /// through myhid::usbConnect at in_usbConnect.
    void connectR321();
    /// FEIG connect step: opens the reader and routes its replies to the window;
    /// false (and no message) when it cannot be opened.
    bool connectFeig();
    /// How long a sequence command waits for its reply before the sequence is reported
    /// as failed (3000 ms unless changed; tests shorten it).
    void setReplyTimeout(int ms);

private:
    // The handshake half of every step slot: re-arm on an accepted reply, else wait.
    void stepHandshake(uint8_t count);
    // Sends one command over the chosen link; `expected` is the kind of its reply.
    void sendR321Frame(const QByteArray& frame, replies::Kind expected);
    void sendFeigFrame(const QByteArray& frame, replies::Kind expected);
    QByteArray uidBytes() const;
    QByteArray uidReversedBytes() const;
    void showModalWarning(const QString& caption, const QString& text);
    void storeFeigInventory(const replies::FeigReply& reply);
    void storeR321Inventory(const QByteArray& rxArray, const replies::R321Reply& reply);
    void storeInventoryUid(const QByteArray& id);
    void takeReadData(const QByteArray& blocks);
    void endReadAsFailed(const QString& reason);
    void reportBeeperFailure();
    // Drops the result of any model-name read (auto write switched, a read starting).
    void forgetModelCheck();
    // The end of a beep pattern waits for the reply to its last switch-off, but not for
    // ever: a reader that never answers must not hold the batch.
    void armBeepEndTimer();
    void onBeepEndOverdue();
    // A reply that never came or could not be read: reported once as the failure of the
    // command that waited for it.
    void armReplyTimer();
    void onReplyOverdue();
    void dropUnreadableReply(replies::Kind decoded);
    void showFailureTipFor(replies::Kind awaited);

    // The Write or auto-write operation under way, reported once through operationFinished.
    bool m_op_pending = false;
    record::Outcome m_op;
    QElapsedTimer m_op_clock;
    QString m_template_source; // UID of the driver read last, or the file opened
    bool m_replaying_tip = false; // a tip shown again is no new outcome
    void beginOperation(record::Operation operation);
    void finishOperation(record::Result result);
    void noteResultTip(uint8_t code);

    ModalHook m_modal_hook;
    StaleReplyGuard m_reply_guard;
    bool m_last_send_ok = false;          // whether the last command was handed to the link
    bool m_beep_failure_reported = false; // a refused beeper command was traced in this pattern
    int m_reply_timeout_ms = 3000;        // see setReplyTimeout
    QTimer* m_reply_timer = nullptr;      // made on the first sequence command
    QTimer* m_beep_end_timer = nullptr;   // made on the first beep
    bool m_beep_end_pending = false;      // the last switch-off of a pattern is unanswered
    replies::R321CrcCheck m_r321_crc;      // whether this R321's reply CRC is enforced
    int m_feig_outstanding = 0;           // FEIG requests the library has not finished

    // write: the n bytes at p when they lie inside one of the window's own byte buffers
    // (image copies, bank buffer, UIDs), else empty; the pointer slots go through it.
    QByteArray ownBytes(const uint8_t* p, int n) const;
    void writeBlocks(const QByteArray& id, uint8_t block, const QByteArray& data, uint8_t count);

    // auto write: tags handled while they stay on the reader, and the UIDs of the last
    // inventory of the loop in reader order.
    autoscan::HandledTags m_handled_tags;
    QVector<QByteArray> m_scan_uids;
    void takeAutoScanInventory();
    void selectScanTag(const QByteArray& id);

private slots:
    // sequencer
    void Control_RW(uint8_t type, uint8_t readcnt);
    void CheckCmdSequence();
    void Succeed_Recevie_Ack(uint8_t send_cnt);
    void Succeed_End_State(QString str);
    void Failed_State(QString str);
    bool Detection_Usb_Statue(uint8_t status);
    void on_actionRead_triggered();
    void Select_Auto_Write(uint8_t index);
    void showWarningText(QString text); // warning box with the caller's text

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
    void on_actionWrite_triggered();
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

    // auto write
    void on_actionAuto_Write_triggered();
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

    // ===================================================================== model: image/currents/constant lumen/colour temperature/configuration file
private:
    TagImage m_image;
    uint8_t m_channel_count = 0; // last value passed to Display_Current_Channel
    uint16_t pwm_period = 0;

    void GetLumenTimer(const constlumen::Points& timer);
    void GetLumenLevel(const constlumen::Points& level);
    void showCloCorrectionNotice();
    // Shows a driver's colour-temperature range; the result does not depend on the
    // range shown before.
    void showCctRange(uint16_t coolest, uint16_t warmest);

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
    // Change_Current with the shown channel count, then Get_CCT_Data.
    void pullPanelsIntoImage();

private slots:
    // image
    void Update_Bank_Buff();
    void Judge_LastCurrent();
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
