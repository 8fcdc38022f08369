#include "app/vantory.h"
#include "ui_vantory.h"

#include "app/aboutusdialog.h"
#include "app/apptexts.h"
#include "app/branding.h"
#include "app/connectionconfig.h"
#include "app/stationview.h"
#include "app/wheelguard.h"
#include "engine/enginetexts.h"
#include "model/displayscale.h"
#include "readers/feusblibrary.h"
#include "readers/hidapibackend.h"
#include "readers/readeraccess.h"
#include "widgets/boundedspinbox.h"
#include "widgets/customitemdelegrate.h"
#include "widgets/mychart.h"
#include "widgets/noticewidget.h"
#include "widgets/rangeslider.h"

#include <QBrush>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QPalette>
#include <QRegExp>
#include <QSettings>
#include <QTimer>
#include <QWindow>
#include <mutex>

Q_LOGGING_CATEGORY(lcUi, "vantory.ui")

// Qt wants this at global scope, outside any namespace.
static void initVantoryResources()
{
    Q_INIT_RESOURCE(vantory);
}

namespace
{

// How often the window looks after the chosen reader's link; a reader plugged back in is
// connected again within about two of these.

// The resources live in a static library, so they must be registered by hand once.
void registerResources()
{
    static std::once_flag once;
    std::call_once(once, initVantoryResources);
}

// Whole numbers 0 to 100 (times) and 1 to 100 (levels) for the lumen table editors.
const QRegExp& timePattern()
{
    static const QRegExp pattern(QStringLiteral("^([0-9]|[1-9]\\d|[1][0][0])$"));
    return pattern;
}

const QRegExp& levelPattern()
{
    static const QRegExp pattern(QStringLiteral("^([1-9]|[1-9]\\d|[1][0][0])$"));
    return pattern;
}

} // namespace

Vantory::Vantory(QWidget* parent) : Vantory(ReaderBackends{}, parent) {}

Vantory::Vantory(const ReaderBackends& backends, QWidget* parent)
    : QMainWindow(parent), ui(new Ui::Vantory)
{
    registerResources();

    m_simulated = backends.simulated;
    m_hid_backend = backends.hid;
    if (!m_hid_backend) {
        m_own_hid_backend = std::make_unique<HidapiBackend>();
        m_hid_backend = m_own_hid_backend.get();
    }
    m_feusb_backend = backends.feusb;
    if (!m_feusb_backend) {
        m_own_feusb_backend = std::make_unique<FeusbLibrary>();
        m_feusb_backend = m_own_feusb_backend.get();
    }

    ui->setupUi(this);

    setWindowTitle(branding::windowTitle(false));
    ui->Productlabel->setText(branding::productText());
    ui->actionAboutus->setIcon(QIcon(branding::aboutIcon()));

    m_connection_dialog = new ConnectionConfig(this);
    connect(m_connection_dialog, &ConnectionConfig::readerChosen, this, &Vantory::onReaderChosen);
    connect(m_connection_dialog, &ConnectionConfig::verifyChosen, this,
            &Vantory::setVerifyAfterWrite);
    connect(m_connection_dialog, &ConnectionConfig::fastBatchChosen, this, &Vantory::setFastBatch);
    m_about_dialog = new AboutUsDialog(nullptr);
    m_notice = new NoticeWidget(nullptr);
    m_chart = new MyChart();
    // The engine creates the reader links (R321 frames and HID link, FEIG frames and worker).
    m_engine = new TagEngine(m_hid_backend, m_feusb_backend);

    Init_Panel_Style();
    Init_Connections();
    // A .bin file dropped on the window opens as Read File does.
    setAcceptDrops(true);
    connect(m_engine, &TagEngine::operationFinished, this, &Vantory::recordOperation);
    connect(m_engine, &TagEngine::actionStarted, this, &Vantory::hideBatchCounts);
    // Scrolling the settings pane must never edit a value on the way.
    WheelGuard::install(ui->scrollAreaWidgetContents);
}

Vantory::~Vantory()
{
    // The clock first, so that no pass of auto write reaches a half-destroyed engine.
    clock_timer->stop();

    // A driver still being programmed is recorded before the record writer (a child,
    // drained when it goes) and the engine are gone.
    if (m_engine)
        m_engine->interruptOperation(QStringLiteral("program ended"));
    // The station's sessions (drivers under way recorded) before the transports they use.
    delete m_station;
    m_station = nullptr;
    // The engine stops its tick and its links' threads before their transports go away
    // with the backends (members, destroyed after this body).
    delete m_engine;
    m_engine = nullptr;
    delete m_chart;
    delete m_notice;
    delete m_about_dialog; // a top-level window of its own, not our child

    // The table is destroyed after this body; it must not keep our delegates.
    ui->LumentableWidget->setItemDelegateForRow(0, nullptr);
    ui->LumentableWidget->setItemDelegateForRow(1, nullptr);
    delete m_time_delegate;
    delete m_level_delegate;
    delete chart_layout_cct;
    delete ui;
}

void Vantory::Select_Display_Scale(int taskbar, uint16_t width, uint16_t height)
{
    qCDebug(lcUi) << taskbar;
    const displayscale::DisplayScale scale =
        displayscale::computeDisplayScale(taskbar, width, height);
    if (scale.row < 0)
        return;
    Apply_Display_Scale(width, height, static_cast<uint8_t>(scale.row));
    qCDebug(lcUi).noquote() << scale.logLine;
}

void Vantory::Apply_Display_Scale(uint16_t width, uint16_t height, uint8_t row)
{
    if (row >= displayscale::RowCount)
        return;
    // The table is indexed by taskbar height; 40 px plus 10 px per row names the row.
    const displayscale::DisplayScale scale =
        displayscale::computeDisplayScale(40 + 10 * row, width, height);
    // Screens outside every band keep the form's sizes instead of getting zero limits.
    if (!scale.hasSizes())
        return;
    m_scale = scale;

    setMinimumSize(scale.windowMinimum);
    if (scale.asMinimum) {
        ui->CurrentBoxwidget->setMinimumWidth(scale.currentWidth);
        ui->CurrentBoxwidget->setMinimumHeight(scale.currentHeight);
        ui->CLOBoxwidget->setMinimumWidth(scale.cloWidth);
        ui->CLOBoxwidget->setMinimumHeight(scale.cloHeight);
    } else {
        ui->CurrentBoxwidget->setMaximumHeight(scale.currentHeight);
        ui->CLOBoxwidget->setMaximumHeight(scale.cloHeight);
    }
    ui->scrollArea_Data->setMaximumWidth(scale.dataMaxWidth);
}

void Vantory::placeOnScreen(const QRect& available, const QRect& full)
{
    Select_Display_Scale(full.height() - available.height(), static_cast<uint16_t>(full.width()),
                         static_cast<uint16_t>(full.height()));
    // The window manager's frame is known only once the window is on screen; until then
    // assume a usual title bar and border.
    const QMargins frame =
        windowHandle() && isVisible() ? windowHandle()->frameMargins() : QMargins(4, 32, 4, 4);
    // The table's minimum is the size it means the window to open at; a screen outside
    // every band keeps the form's own size.
    const QSize preferred = m_scale.hasSizes() ? minimumSize() : sizeHint();
    const displayscale::Placement place =
        displayscale::placeWindow(available, frame, minimumSize(), preferred);
    setMinimumSize(place.minimum);
    setGeometry(place.geometry);
}

void Vantory::Init_Panel_Style()
{
    status_link = new QLabel();
    status_result = new QLabel();
    ui->statusBar->addWidget(status_link, 2);
    ui->statusBar->addWidget(status_result, 1);
    status_batch = new QLabel();
    status_batch->setObjectName(QStringLiteral("status_batch"));
    status_batch->hide();
    ui->statusBar->addWidget(status_batch, 1);
    status_last = new QLabel();
    status_last->setObjectName(QStringLiteral("status_last"));
    status_last->hide();
    ui->statusBar->addWidget(status_last, 1);
    status_record = new QLabel();
    status_record->setObjectName(QStringLiteral("status_record"));
    status_record->hide();
    ui->statusBar->addWidget(status_record, 1);

    QPalette palette = ui->statusBar->palette();
    palette.setBrush(QPalette::All, QPalette::WindowText, QBrush(Qt::red));
    ui->statusBar->setPalette(palette);
    ui->statusBar->setAutoFillBackground(true);
    // Under the window's style sheet Qt does not pass palettes down to children, so the
    // labels get the red palette themselves until a tip gives them their own colour.
    status_link->setPalette(palette);
    status_result->setPalette(palette);
    status_record->setPalette(palette);

    Set_Panel_Spacer(false);

    ui->CurrentBoxwidget->setStyleSheet(
        QStringLiteral("#CurrentBoxwidget{border:1px solid rgb(0,0,0)}"));
    ui->CLOBoxwidget->setStyleSheet(QStringLiteral("#CLOBoxwidget{border:1px solid rgb(0,0,0)}"));
    ui->CctBoxwidget->setStyleSheet(QStringLiteral("#CctBoxwidget{border:1px solid rgb(0,0,0)}"));
    ui->Temperaturewidget->setStyleSheet(
        QStringLiteral("#Temperaturewidget{border:1px solid rgb(219,219,219)}"));
    ui->RGBwidget->setStyleSheet(QStringLiteral("#RGBwidget{border:1px solid rgb(219,219,219)}"));
    ui->DeviceDatawidget->setStyleSheet(
        QStringLiteral("#DeviceDatawidget{border:1px solid rgb(219,219,219)}"));
}

void Vantory::Init_Connections()
{
    status_link->setText(QStringLiteral("Please selcet usb device"));

    clock_timer = new QTimer(this);
    clock_timer->setInterval(300);
    connect(clock_timer, &QTimer::timeout, this, &Vantory::SetTime);
    clock_timer->start();

    // What the engine reports.
    connect(m_engine, &TagEngine::resultTip, this, &Vantory::showResultTip);
    connect(m_engine, &TagEngine::lastTipRepeated, this,
            [this] { LiveUpdate_StatusBar(last_tip); });
    connect(m_engine, &TagEngine::linkTip, this, &Vantory::onEngineLinkTip);
    connect(m_engine, &TagEngine::linkCleared, this, [this] { status_link->setText(QString()); });
    connect(m_engine, &TagEngine::warning, this, &Vantory::showModalWarning);
    connect(m_engine, &TagEngine::notice, this,
            [this](const QString& text, int ms) { m_notice->showNotice(this, text, ms); });
    connect(&doc(), &TagDocument::loaded, this, &Vantory::onDocumentLoaded);
    connect(&doc(), &TagDocument::originChanged, this, &Vantory::showConfigurationLine);
    connect(m_engine, &TagEngine::driverRead, this,
            [this](const devicereport::TagIdentity& tag) { showDriverUid(tag.uidMsbFirst); });
    connect(m_engine, &TagEngine::autoWriteSwitched, this, &Vantory::onAutoWriteSwitched);
    // The link's own messages, with what to do about a reader that cannot be opened.
    connect(m_engine, &TagEngine::readerOpenFailed, this, [this](const QString& text,
                                                                  const QString& path) {
        const QString hint =
            path.isEmpty()
                ? QString()
                : readeraccess::openFailureHint(path, lang_cn != 0, readeraccess::ruleInstalled());
        showModalWarning(enginetext::ReaderWarningCaption.pick(lang_cn != 0),
                         hint.isEmpty() ? text : text + QStringLiteral("\n\n") + hint);
    });

    // Told once each time it happens, not at every look the link takes while it waits.
    connect(m_engine, &TagEngine::readerInUse, this, [this](const QString& identity) {
        if (m_in_use_told)
            return;
        m_in_use_told = true;
        m_notice->showNotice(this, apptext::ReaderInUse.pick(lang_cn != 0).arg(identity), 3000);
    });
    connect(m_engine, &TagEngine::linkTip, this, [this] { m_in_use_told = false; });

    connect(ui->switchbuttonwidget, &switchbutton::statusChanged, this,
            &Vantory::switchButton_Status);
    connect(ui->Colorwidget, &ColorWidget::clickCopy, this, &Vantory::in_clickCopy);

    switchButton_Status(false);
    ui->switchbuttonwidget->setChecked(false);

    chart_layout_cct = new QGridLayout();

    ui->Currentwidget_ch1->setRange(QStringLiteral("CH1 Current(mA):"), 50, 400,
                                    QStringLiteral("mA"));
    ui->Currentwidget_ch2->setRange(QStringLiteral("CH2 Current(mA):"), 50, 400,
                                    QStringLiteral("mA"));
    ui->Currentwidget_ch3->setRange(QStringLiteral("CH3 Current(mA):"), 50, 400,
                                    QStringLiteral("mA"));
    ui->Currentwidget_ch1->setValue(157);
    ui->Currentwidget_ch2->setValue(157);
    ui->Currentwidget_ch3->setValue(157);
    ui->Currentwidget_ch1->setLabels(QStringLiteral("A_CH:"), QStringLiteral("CH1 Current(mA)"));
    ui->Currentwidget_ch2->setLabels(QStringLiteral("B_CH:"), QStringLiteral("CH2 Current(mA)"));
    ui->Currentwidget_ch3->setLabels(QStringLiteral("C_CH:"), QStringLiteral("CH3 Current(mA)"));

    Get_CCT_Data();

    QTableWidget* table = ui->LumentableWidget;
    table->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    m_time_delegate = new CustomItemDelegrate(timePattern(), nullptr);
    m_level_delegate = new CustomItemDelegrate(levelPattern(), nullptr);
    table->setItemDelegateForRow(0, m_time_delegate);
    table->setItemDelegateForRow(1, m_level_delegate);

    cct_slider = new RangeSlider(Qt::Horizontal, RangeSlider::BothHandles);
    m_slider_layout = new QHBoxLayout();
    m_slider_layout->addWidget(cct_slider);
    ui->Tempwidget->setLayout(m_slider_layout);
    cct_slider->setRange(1000, 12000);

    connect(ui->WormestspinBox, QOverload<int>::of(&QSpinBox::valueChanged), cct_slider,
            &RangeSlider::setLowerValue);
    connect(ui->CoolestspinBox, QOverload<int>::of(&QSpinBox::valueChanged), cct_slider,
            &RangeSlider::setUpperValue);
    connect(cct_slider, &RangeSlider::lowerValueChanged, ui->WormestspinBox, &QSpinBox::setValue);
    connect(cct_slider, &RangeSlider::upperValueChanged, ui->CoolestspinBox, &QSpinBox::setValue);

    connectEditsToDocument();
    showConfigurationLine();
}

void Vantory::connectEditsToDocument()
{
    myslider* channels[3] = {ui->Currentwidget_ch1, ui->Currentwidget_ch2, ui->Currentwidget_ch3};
    for (int i = 0; i < 3; ++i) {
        connect(channels[i], &myslider::valueChanged, this, [this, i](int mA) {
            if (!m_showing_document)
                doc().setChannelCurrent(i, static_cast<uint16_t>(mA));
        });
        myslider* channel = channels[i];
        connect(channel, &myslider::heldAtLimit, this, [this, channel, i](int typed, int limit) {
            static constexpr BiText kTitles[3] = {{"设备电流一（mA）", "CH1 Current(mA)"},
                                                  {"设备电流二（mA）", "CH2 Current(mA)"},
                                                  {"设备电流三（mA）", "CH3 Current(mA)"}};
            onHeldAtLimit(kTitles[i], typed, limit, channel->spinBoxMinimum(),
                          channel->spinBoxMaximum());
        });
    }
    // Either box, or the slider that moves both, changes the range; the coupling keeps the
    // warmest at or below the coolest before the document takes the pair.
    for (BoundedSpinBox* box : {ui->WormestspinBox, ui->CoolestspinBox}) {
        connect(box, QOverload<int>::of(&QSpinBox::valueChanged), this, [this] {
            if (!m_showing_document)
                doc().setColourTemperature(static_cast<uint16_t>(ui->WormestspinBox->value()),
                                           static_cast<uint16_t>(ui->CoolestspinBox->value()));
        });
        connect(box, &BoundedSpinBox::heldAtLimit, this, [this, box](int typed, int limit) {
            onHeldAtLimit(box == ui->WormestspinBox ? apptext::WarmestBox : apptext::CoolestBox,
                          typed, limit, box->minimum(), box->maximum());
        });
    }
}

void Vantory::onHeldAtLimit(const BiText& box, int typed, int limit, int minimum, int maximum)
{
    showRefusal(
        [&box, typed, limit, minimum, maximum](bool chinese) {
            return apptext::HeldAtLimit.pick(chinese)
                .arg(box.pick(chinese))
                .arg(typed)
                .arg(minimum)
                .arg(maximum)
                .arg(limit);
        },
        false);
}

void Vantory::Show_Current_Range_Rows(uint8_t channels)
{
    const std::array<std::array<QWidget*, 3>, 3> rows = {{
        {ui->label_CH1_img, ui->label_ACurrentRange_Logo, ui->Currentlabel_Range_A},
        {ui->label_CH2_img, ui->label_BCurrentRange_Logo, ui->Currentlabel_Range_B},
        {ui->label_CH3_img, ui->label_CCurrentRange_Logo, ui->Currentlabel_Range_C},
    }};
    if (channels < 1 || channels > 3) {
        for (const auto& row : rows)
            for (QWidget* w : row)
                w->hide();
        return;
    }
    for (int i = 0; i < channels; ++i)
        for (QWidget* w : rows[i])
            w->show();
}

void Vantory::Set_Panel_Spacer(bool expand)
{
    if (expand)
        ui->verticalSpacer->changeSize(20, 20, QSizePolicy::Preferred, QSizePolicy::Expanding);
    else
        ui->verticalSpacer->changeSize(0, 0, QSizePolicy::Minimum, QSizePolicy::Minimum);
    ui->gridLayout_3->invalidate();
}

void Vantory::Hide_Option_Panels()
{
    Show_Current_Range_Rows(0);
    ui->Currentwidget_ch1->hide();
    ui->Currentwidget_ch2->hide();
    ui->Currentwidget_ch3->hide();
    ui->CLOBoxwidget->hide();
    ui->CctBoxwidget->hide();
    Set_Panel_Spacer(true);
}
