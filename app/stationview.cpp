#include "app/stationview.h"

#include "app/apptexts.h"
#include "engine/tagengine.h"
#include "readers/hidbackend.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace
{

enum Column { ColReader, ColWritten, ColRefused, ColFailed, ColLastUid, ColResult, ColumnCount };

const QColor kGood(0x1E, 0x8E, 0x3E);
const QColor kBad(0xD9, 0x30, 0x25);

} // namespace

/// One reader of the station: its transport (R321) and its engine, and the batch counts.
struct StationView::Session {
    ReaderChoice choice;
    std::shared_ptr<HidBackend> hid; // declared before the engine: it outlives it
    std::unique_ptr<TagEngine> engine;
    int row = 0;
    int written = 0;
    int refused = 0;
    int failed = 0;
    QString lastUid;
    bool lastGood = true;
    bool connected = false;
    bool refusedToOpen = false; // held by another program, or not there
};

StationView::StationView(HidMaker makeHid, FeusbApi* feusb, QWidget* parent)
    : QWidget(parent, Qt::Window), m_makeHid(std::move(makeHid)), m_feusb(feusb)
{
    setObjectName(QStringLiteral("stationView"));
    auto* layout = new QVBoxLayout(this);
    m_title = new QLabel(this);
    m_title->setObjectName(QStringLiteral("label_StationTitle"));
    QFont bold = m_title->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.3);
    m_title->setFont(bold);
    m_templateLabel = new QLabel(this);
    m_templateLabel->setObjectName(QStringLiteral("label_StationTemplate"));
    m_table = new QTableWidget(0, ColumnCount, this);
    m_table->setObjectName(QStringLiteral("tableWidget_Station"));
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionMode(QAbstractItemView::NoSelection);
    m_table->setFocusPolicy(Qt::NoFocus);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_start = new QPushButton(this);
    m_start->setObjectName(QStringLiteral("pushButton_StationStart"));
    m_stop = new QPushButton(this);
    m_stop->setObjectName(QStringLiteral("pushButton_StationStop"));
    m_stop->setEnabled(false);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_start);
    buttons->addWidget(m_stop);
    layout->addWidget(m_title);
    layout->addWidget(m_templateLabel);
    layout->addWidget(m_table);
    layout->addLayout(buttons);
    connect(m_start, &QPushButton::clicked, this, &StationView::startRequested);
    connect(m_stop, &QPushButton::clicked, this, &StationView::stop);
    resize(760, 320);
    showTexts();
}

StationView::~StationView()
{
    for (auto& s : m_sessions)
        if (s->engine)
            s->engine->interruptOperation(QStringLiteral("program ended"));
    m_sessions.clear();
}

void StationView::setChinese(bool chinese)
{
    m_chinese = chinese;
    showTexts();
    for (const auto& s : m_sessions) {
        s->engine->setChinese(chinese);
        showRow(*s);
    }
}

void StationView::setTemplate(const QByteArray& configuration, const QString& name)
{
    m_template = configuration;
    m_templateName = name;
    showTexts();
}

void StationView::showTexts()
{
    setWindowTitle(apptext::StationTitle.pick(m_chinese));
    m_title->setText(apptext::StationTitle.pick(m_chinese));
    m_templateLabel->setText(
        m_template.isEmpty() ? apptext::StationNoTemplate.pick(m_chinese)
                             : apptext::StationTemplate.pick(m_chinese).arg(m_templateName));
    m_table->setHorizontalHeaderLabels(
        {apptext::StationReader.pick(m_chinese), apptext::StationWritten.pick(m_chinese),
         apptext::StationRefused.pick(m_chinese), apptext::StationFailed.pick(m_chinese),
         apptext::StationLastUid.pick(m_chinese), apptext::StationResult.pick(m_chinese)});
    m_start->setText(apptext::StationStart.pick(m_chinese));
    m_stop->setText(apptext::StationStop.pick(m_chinese));
}

int StationView::start(const QVector<ReaderChoice>& readers)
{
    endBatches();
    m_sessions.clear();
    m_table->setRowCount(0);
    if (m_template.isEmpty())
        return 0;
    int running = 0;
    for (const ReaderChoice& choice : readers) {
        auto s = std::make_unique<Session>();
        s->choice = choice;
        HidBackend* hid = nullptr;
        if (choice.type == ReaderType::R321) {
            s->hid = m_makeHid ? m_makeHid() : nullptr;
            hid = s->hid.get();
        }
        s->engine = std::make_unique<TagEngine>(hid, m_feusb);
        TagEngine& engine = *s->engine;
        engine.setChinese(m_chinese);
        engine.setVerifyAfterWrite(m_verify);
        engine.setAutoWritePace(m_pace);
        engine.setReplyTimeout(m_replyTimeoutMs);
        s->row = m_table->rowCount();
        m_table->insertRow(s->row);
        Session* session = s.get();
        connect(&engine, &TagEngine::operationFinished, this,
                [this, session](const record::Outcome& outcome) { onOutcome(*session, outcome); });
        connect(&engine, &TagEngine::linkTip, this, [this, session](TagEngine::LinkTip tip) {
            session->connected = tip != TagEngine::LinkTip::SelectDevice;
            showRow(*session);
        });
        const bool loaded = engine.openConfiguration(m_template, m_templateName).ok();
        if (hid || choice.type == ReaderType::Feig)
            s->connected = loaded && engine.connectReader(choice) && engine.readerConnected();
        s->refusedToOpen = !s->connected;
        if (s->connected) {
            engine.toggleAutoWrite();
            running += engine.autoWriteOn() ? 1 : 0;
        }
        showRow(*s);
        m_sessions.push_back(std::move(s));
    }
    m_start->setEnabled(running == 0);
    m_stop->setEnabled(running > 0);
    return running;
}

void StationView::stop()
{
    const bool had = !m_sessions.empty();
    endBatches();
    if (had)
        emit stopped();
}

void StationView::endBatches()
{
    for (const auto& s : m_sessions)
        s->engine->stopAutoWrite();
    // The readers go once their last driver is finished (3 s at most, a reply time-out);
    // the rows stay to be read.
    QElapsedTimer clock;
    clock.start();
    for (const auto& s : m_sessions) {
        while (!s->engine->idle() && clock.elapsed() < 3000) {
            QCoreApplication::processEvents();
            QThread::msleep(2);
        }
        s->engine->Set_Reader_Type(ReaderType::None);
        s->connected = false;
        showRow(*s);
    }
    m_start->setEnabled(true);
    m_stop->setEnabled(false);
}

bool StationView::running() const
{
    for (const auto& s : m_sessions)
        if (s->engine->autoWriteOn())
            return true;
    return false;
}

QVector<TagEngine*> StationView::engines() const
{
    QVector<TagEngine*> list;
    for (const auto& s : m_sessions)
        list << s->engine.get();
    return list;
}

void StationView::onOutcome(Session& s, const record::Outcome& outcome)
{
    switch (outcome.result) {
    case record::Result::Written:
        ++s.written;
        break;
    case record::Result::OtherModel:
    case record::Result::OtherKind:
    case record::Result::OtherLayout:
        ++s.refused;
        break;
    default:
        ++s.failed;
        break;
    }
    s.lastUid = QString::fromLatin1(outcome.uidMsbFirst.toHex().toUpper());
    s.lastGood = outcome.result == record::Result::Written;
    showRow(s);
    emit operationFinished(outcome);
}

void StationView::showRow(const Session& s)
{
    const auto cell = [this, &s](int column, const QString& text) {
        QTableWidgetItem* item = m_table->item(s.row, column);
        if (!item) {
            item = new QTableWidgetItem;
            m_table->setItem(s.row, column, item);
        }
        item->setText(text);
        return item;
    };
    const QString kind = s.choice.type == ReaderType::Feig ? QStringLiteral("FEIG")
                                                           : QStringLiteral("R321");
    cell(ColReader, kind + QStringLiteral("  ") + s.choice.identity);
    cell(ColWritten, QString::number(s.written));
    cell(ColRefused, QString::number(s.refused));
    cell(ColFailed, QString::number(s.failed));
    cell(ColLastUid, s.lastUid);
    QString result;
    QColor colour = s.lastGood ? kGood : kBad;
    if (s.refusedToOpen) {
        result = apptext::StationNotOpened.pick(m_chinese);
        colour = kBad;
    } else if (!s.connected && s.engine->autoWriteOn()) {
        result = apptext::StationReaderAway.pick(m_chinese);
        colour = kBad;
    } else if (!s.lastUid.isEmpty()) {
        result = s.lastGood ? apptext::StationLastWritten.pick(m_chinese)
                            : apptext::StationLastFailed.pick(m_chinese);
    } else {
        result = s.engine->autoWriteOn() ? apptext::StationWaiting.pick(m_chinese) : QString();
        colour = palette().color(QPalette::Text);
    }
    QTableWidgetItem* item = cell(ColResult, result);
    item->setForeground(colour);
    // The last driver's UID in its own result's colour, whatever the reader does now.
    if (!s.lastUid.isEmpty())
        m_table->item(s.row, ColLastUid)->setForeground(s.lastGood ? kGood : kBad);
}

void StationView::closeEvent(QCloseEvent* event)
{
    stop();
    event->accept();
}
