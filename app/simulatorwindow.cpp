#include "app/simulatorwindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QLoggingCategory>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

Q_LOGGING_CATEGORY(lcSimUi, "vantory.sim")

namespace
{

// Model name of a tag as the program would show it: bytes 195..226 up to the first zero.
QString modelOf(const VirtualTag& tag)
{
    const QByteArray field = tag.memory().mid(195, 32);
    const int end = field.indexOf('\0');
    return QString::fromLatin1(end < 0 ? field : field.left(end));
}

QString describe(const VirtualTag& tag)
{
    const QString kind = tag.kind() == VirtualTag::Kind::Pwm ? QStringLiteral("'8' PWM tag")
                                                             : QStringLiteral("'P' 512-byte tag");
    QString model = modelOf(tag);
    if (model.isEmpty())
        model = QStringLiteral("(no model name)");
    return QStringLiteral("%1  |  %2  |  UID %3")
        .arg(model, kind, QString::fromLatin1(tag.uidMsbFirst().toHex(' ').toUpper()));
}

} // namespace

SimulatorWindow::SimulatorWindow(QWidget* parent)
    : QWidget(parent, Qt::Window), m_r321(&m_field), m_feig(&m_field)
{
    setWindowTitle(QStringLiteral("Vantory simulator"));
    // The main window decides when the program ends, not this panel.
    setAttribute(Qt::WA_QuitOnClose, false);

    auto* layout = new QVBoxLayout(this);

    auto* fieldBox = new QGroupBox(QStringLiteral("Drivers on the reader"), this);
    auto* fieldLayout = new QVBoxLayout(fieldBox);
    m_list = new QListWidget(fieldBox);
    m_list->setObjectName(QStringLiteral("listTags"));
    m_list->setMinimumSize(640, 110);
    fieldLayout->addWidget(m_list);
    auto* removeRowLayout = new QHBoxLayout();
    m_removeButton = new QPushButton(QStringLiteral("Remove"), fieldBox);
    m_removeButton->setObjectName(QStringLiteral("buttonRemove"));
    auto* clearButton = new QPushButton(QStringLiteral("Remove all"), fieldBox);
    clearButton->setObjectName(QStringLiteral("buttonClear"));
    removeRowLayout->addWidget(m_removeButton);
    removeRowLayout->addWidget(clearButton);
    removeRowLayout->addStretch();
    fieldLayout->addLayout(removeRowLayout);
    layout->addWidget(fieldBox);

    auto* layBox = new QGroupBox(QStringLiteral("Lay a driver"), this);
    auto* layLayout = new QHBoxLayout(layBox);
    m_demoCombo = new QComboBox(layBox);
    m_demoCombo->setObjectName(QStringLiteral("comboDemo"));
    for (const demodrivers::Info& d : demodrivers::all())
        m_demoCombo->addItem(d.name, int(d.kind));
    auto* layButton = new QPushButton(QStringLiteral("Lay"), layBox);
    layButton->setObjectName(QStringLiteral("buttonLay"));
    auto* fileButton = new QPushButton(QStringLiteral("Lay .bin file…"), layBox);
    fileButton->setObjectName(QStringLiteral("buttonLayFile"));
    layLayout->addWidget(m_demoCombo, 1);
    layLayout->addWidget(layButton);
    layLayout->addWidget(fileButton);
    layout->addWidget(layBox);

    auto* readerBox = new QGroupBox(QStringLiteral("Readers"), this);
    auto* readerLayout = new QHBoxLayout(readerBox);
    m_r321Plugged = new QCheckBox(QStringLiteral("R321 plugged in"), readerBox);
    m_r321Plugged->setObjectName(QStringLiteral("checkR321"));
    m_feigPlugged = new QCheckBox(QStringLiteral("FEIG plugged in"), readerBox);
    m_feigPlugged->setObjectName(QStringLiteral("checkFeig"));
    m_latency = new QCheckBox(QStringLiteral("Air-time latency"), readerBox);
    m_latency->setObjectName(QStringLiteral("checkLatency"));
    m_r321Plugged->setChecked(!m_field.isUnplugged(SimReaderKind::R321));
    m_feigPlugged->setChecked(!m_field.isUnplugged(SimReaderKind::Feig));
    m_latency->setChecked(m_field.latencyEnabled());
    // The tag refuses writes of more than four blocks, as the ST25DV datasheet has it.
    m_strict = new QCheckBox(QStringLiteral("Strict ST25DV"), readerBox);
    m_strict->setObjectName(QStringLiteral("checkStrictSt25dv"));
    m_strict->setChecked(m_field.strictSt25dv());
    readerLayout->addWidget(m_r321Plugged);
    readerLayout->addWidget(m_feigPlugged);
    readerLayout->addWidget(m_latency);
    readerLayout->addWidget(m_strict);
    readerLayout->addStretch();
    layout->addWidget(readerBox);

    m_message = new QLabel(this);
    m_message->setObjectName(QStringLiteral("labelMessage"));
    m_message->setWordWrap(true);
    layout->addWidget(m_message);

    connect(layButton, &QPushButton::clicked, this, &SimulatorWindow::onLayDemo);
    connect(fileButton, &QPushButton::clicked, this, &SimulatorWindow::onLayFile);
    connect(m_removeButton, &QPushButton::clicked, this, &SimulatorWindow::onRemove);
    connect(clearButton, &QPushButton::clicked, this, &SimulatorWindow::onClear);
    connect(m_list, &QListWidget::currentRowChanged, this,
            [this](int row) { m_removeButton->setEnabled(row >= 0); });
    connect(m_r321Plugged, &QCheckBox::toggled, this,
            [this](bool on) { m_field.setUnplugged(SimReaderKind::R321, !on); });
    connect(m_feigPlugged, &QCheckBox::toggled, this,
            [this](bool on) { m_field.setUnplugged(SimReaderKind::Feig, !on); });
    connect(m_latency, &QCheckBox::toggled, this,
            [this](bool on) { m_field.setLatencyEnabled(on); });
    connect(m_strict, &QCheckBox::toggled, this, [this](bool on) { m_field.setStrictSt25dv(on); });
    // The field may change on a reader thread (a tag taken away mid-sequence).
    connect(&m_field, &ReaderField::tagsChanged, this, &SimulatorWindow::refreshList,
            Qt::QueuedConnection);

    layDemo(demodrivers::Kind::Dt8);
    refreshList();
}

SimulatorWindow::~SimulatorWindow() = default;

void SimulatorWindow::layDemo(demodrivers::Kind kind)
{
    m_field.layTag(demodrivers::makeTag(kind, nextSerial()));
    showMessage(QStringLiteral("Laid: %1").arg(demodrivers::info(kind).name), false);
    refreshList();
}

bool SimulatorWindow::layFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        showMessage(QStringLiteral("Cannot open %1: %2").arg(path, file.errorString()), true);
        return false;
    }
    // Read one byte more than needed, only to tell the user that the rest is ignored.
    const QByteArray bytes = file.read(demodrivers::FileSize + 1);
    QString error;
    auto tag = demodrivers::tagFromImage(bytes, nextSerial(), &error);
    if (!tag) {
        showMessage(QStringLiteral("%1 was not laid. %2").arg(QFileInfo(path).fileName(), error),
                    true);
        return false;
    }
    m_field.layTag(tag);
    QString text = QStringLiteral("Laid %1").arg(QFileInfo(path).fileName());
    if (bytes.size() > demodrivers::FileSize)
        text += QStringLiteral(" (only its first %1 bytes)").arg(demodrivers::FileSize);
    showMessage(text, false);
    refreshList();
    return true;
}

bool SimulatorWindow::removeRow(int row)
{
    const auto tags = m_field.tags();
    if (row < 0 || row >= tags.size())
        return false;
    m_field.removeTag(tags.at(row)->uidMsbFirst());
    showMessage(QStringLiteral("Removed a driver"), false);
    refreshList();
    return true;
}

QString SimulatorWindow::message() const
{
    return m_message->text();
}

void SimulatorWindow::showBeside(const QWidget* window)
{
    adjustSize();
    const QScreen* screen = window->screen();
    const QRect available = screen ? screen->availableGeometry() : QRect();
    const QRect frame = window->frameGeometry();
    QPoint at(frame.right() + 1, frame.top());
    if (available.isValid() && at.x() + width() > available.right())
        at.setX(qMax(available.left(), available.right() - width()));
    move(at);
    show();
}

void SimulatorWindow::refreshList()
{
    const int current = m_list->currentRow();
    m_list->clear();
    for (const auto& tag : m_field.tags())
        m_list->addItem(describe(*tag));
    if (m_list->count() > 0)
        m_list->setCurrentRow(qBound(0, current, m_list->count() - 1));
    m_removeButton->setEnabled(m_list->currentRow() >= 0);
}

void SimulatorWindow::onLayDemo()
{
    layDemo(static_cast<demodrivers::Kind>(m_demoCombo->currentData().toInt()));
}

void SimulatorWindow::onLayFile()
{
    const QString path =
        QFileDialog::getOpenFileName(this, QStringLiteral("Lay a driver image"), QString(),
                                     QStringLiteral("Config Files(*.bin)"));
    if (!path.isEmpty())
        layFile(path);
}

void SimulatorWindow::onRemove()
{
    removeRow(m_list->currentRow());
}

void SimulatorWindow::onClear()
{
    m_field.clear();
    showMessage(QStringLiteral("The reader is empty"), false);
    refreshList();
}

void SimulatorWindow::showMessage(const QString& text, bool error)
{
    m_message->setStyleSheet(error ? QStringLiteral("color: red;") : QString());
    m_message->setText(text);
    qCDebug(lcSimUi).noquote() << text;
}

quint64 SimulatorWindow::nextSerial()
{
    // Distinct UIDs, so that the same demo driver can lie on the reader twice.
    return 0x4A3B000000ULL + ++m_serial;
}
