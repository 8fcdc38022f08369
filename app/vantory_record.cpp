// The window's side of the production record and of the small comforts: the record
// writer, the batch counts in the status bar, remembered settings and dropped files.
#include "app/vantory.h"
#include "ui_vantory.h"

#include "app/aboutusdialog.h"
#include "app/apptexts.h"
#include "app/connectionconfig.h"
#include "engine/tagengine.h"

#include <QBrush>
#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QLabel>
#include <QMimeData>
#include <QPalette>
#include <QSettings>
#include <QStatusBar>
#include <QUrl>

namespace
{

// The one local .bin file of a drop, or empty.
QString droppedConfigFile(const QMimeData* mime)
{
    if (!mime || !mime->hasUrls() || mime->urls().size() != 1)
        return QString();
    const QUrl url = mime->urls().constFirst();
    if (!url.isLocalFile() ||
        !url.toLocalFile().endsWith(QLatin1String(".bin"), Qt::CaseInsensitive))
        return QString();
    return url.toLocalFile();
}

// Enough of a UID to tell the drivers of a batch apart: its last four bytes.
QString shortUid(const QByteArray& uidMsbFirst)
{
    return QStringLiteral("…") + QString::fromLatin1(uidMsbFirst.right(4).toHex().toUpper());
}

const BiText& lastResultText(record::Result result)
{
    switch (result) {
    case record::Result::Written:
        return apptext::LastWritten;
    case record::Result::NoTagResponse:
        return apptext::LastNoTag;
    case record::Result::OtherModel:
        return apptext::LastOtherModel;
    case record::Result::ReaderLost:
        return apptext::LastReaderLost;
    case record::Result::VerifyFailed:
        return apptext::LastVerifyFailed;
    case record::Result::OtherKind:
        return apptext::LastOtherKind;
    case record::Result::WriteFailed:
    case record::Result::Interrupted:
    case record::Result::OtherLayout:
        break;
    }
    return apptext::LastWriteFailed;
}

} // namespace

void Vantory::setRecordFolder(const QString& folder)
{
    delete m_record;
    m_record = nullptr;
    m_record_problem.clear();
    m_record_held = false;
    showRecordProblem();
    if (!folder.isEmpty()) {
        // Made now so that the about dialog's link opens an existing folder.
        QDir().mkpath(folder);
        // The environment names the server and the station over the settings.
        const auto pick = [this](const char* variable, const QString& key) {
            const QString value = qEnvironmentVariable(variable);
            return !value.isEmpty() || !m_settings ? value : m_settings->value(key).toString();
        };
        m_record = new record::Journal(
            folder, pick("VANTORY_RECORD_DB", QStringLiteral("record/database")),
            pick("VANTORY_STATION", QStringLiteral("record/station")), this);
        connect(m_record, &record::Journal::failed, this, &Vantory::onRecordFailed);
        connect(m_record, &record::Journal::recovered, this, &Vantory::onRecordRecovered);
        connect(m_record, &record::Journal::journalFailed, this,
                [this](const QString& reason) { onRecordFailed(m_record->folder(), reason); });
        connect(m_record, &record::Journal::serverAway, this, &Vantory::onRecordServerAway);
        connect(m_record, &record::Journal::serverBack, this, &Vantory::onRecordServerBack);
        connect(m_engine, &TagEngine::resultTip, this, &Vantory::onResultTipForLastWrite,
                Qt::UniqueConnection);
    }
    m_about_dialog->setRecordFolder(folder);
}

void Vantory::closeForSignal(const QString& cause)
{
    m_close_cause = cause;
    close();
}

void Vantory::recordOperation(const record::Outcome& outcome)
{
    if (m_record) {
        const QString program = QCoreApplication::applicationName() + QLatin1Char(' ') +
                                QStringLiteral(VANTORY_VERSION);
        m_record->append(record::entryFor(outcome, program));
    }
    // A refused Write shows as a failure where the results are read.
    if (outcome.operation == record::Operation::Write &&
        outcome.result == record::Result::OtherModel)
        showResultTip(ResultTip::DeviceDifferent, lang_cn != 0);
    if (outcome.operation == record::Operation::Write &&
        outcome.result == record::Result::OtherKind)
        showResultTip(ResultTip::WriteFailed, lang_cn != 0);
    if (outcome.operation != record::Operation::AutoWrite || !m_batch.shown)
        return;
    m_last_driver = outcome;
    showLastDriver();
    if (outcome.result == record::Result::Written)
        ++m_batch.written;
    else if (outcome.result == record::Result::OtherModel)
        ++m_batch.otherModel;
    else
        ++m_batch.failed;
    showBatchCounts();
}

void Vantory::onRecordFailed(const QString& folder, const QString& reason)
{
    qCWarning(lcUi).noquote() << "production record not written in" << folder << reason;
    m_record_problem = QDir::toNativeSeparators(folder);
    showRecordProblem();
}

void Vantory::onRecordRecovered()
{
    m_record_problem.clear();
    showRecordProblem();
}

void Vantory::showLastDriver()
{
    if (!m_batch.shown || m_last_driver.uidMsbFirst.isEmpty()) {
        status_last->hide();
        return;
    }
    const bool written = m_last_driver.result == record::Result::Written;
    QPalette pal = status_last->palette();
    pal.setBrush(QPalette::All, QPalette::WindowText, QBrush(written ? Qt::darkGreen : Qt::red));
    status_last->setPalette(pal);
    status_last->setText(apptext::LastDriver.pick(lang_cn).arg(
        shortUid(m_last_driver.uidMsbFirst), lastResultText(m_last_driver.result).pick(lang_cn)));
    status_last->show();
}

void Vantory::onRecordServerAway(record::ServerProblem problem, const QString& detail)
{
    qCWarning(lcUi).noquote() << "record server away, lines held locally:" << detail;
    m_record_held = true;
    m_record_held_for = problem;
    m_record_held_detail = detail;
    showRecordProblem();
}

void Vantory::onRecordServerBack()
{
    m_record_held = false;
    showRecordProblem();
}

void Vantory::showBatchCounts()
{
    // The pace the batch runs at comes first.
    const bool fast = m_engine->autoWritePace() == AutoWrite::Pace::Fast;
    status_batch->setText((fast ? apptext::FastBatchCounts : apptext::BatchCounts)
                              .pick(lang_cn)
                              .arg(m_batch.written)
                              .arg(m_batch.failed)
                              .arg(m_batch.otherModel));
    status_batch->setToolTip(fast ? apptext::FastBatchTip.pick(lang_cn)
                                  : apptext::BatchPaceDescribed.pick(lang_cn));
    m_batch.shown = true;
    status_batch->show();
}

void Vantory::hideBatchCounts()
{
    m_batch.shown = false;
    status_batch->hide();
    status_last->hide();
}

void Vantory::showRecordProblem()
{
    // A record that cannot be written at all matters more than one that waits locally.
    status_record->setHidden(m_record_problem.isEmpty() && !m_record_held);
    status_record->setText(
        !m_record_problem.isEmpty() ? apptext::RecordProblem.pick(lang_cn).arg(m_record_problem)
        : m_record_held
            ? record::serverProblemText(m_record_held_for, lang_cn != 0).arg(m_record_held_detail)
            : QString());
}

void Vantory::useSettings(std::unique_ptr<QSettings> settings)
{
    m_settings = std::move(settings);
    if (!m_settings)
        return;
    m_config_folder = m_settings->value(QStringLiteral("configFolder")).toString();
    ReaderChoice chosen{ReaderType(m_settings->value(QStringLiteral("reader"), 0).toInt()),
                        m_settings->value(QStringLiteral("readerId")).toString()};
    // An earlier version remembered only the kind: the one reader of that kind present is
    // the one meant, and is remembered by its identity from now on. With several, ask.
    if (chosen.identity.isEmpty() && chosen.type != ReaderType::None) {
        QVector<ReaderChoice> ofKind;
        for (const ReaderChoice& r : m_engine->readersPresent())
            if (r.type == chosen.type && !r.identity.isEmpty())
                ofKind << r;
        if (ofKind.size() == 1) {
            chosen = ofKind.first();
            rememberSetting(QStringLiteral("readerId"), chosen.identity);
        }
    }
    m_connection_dialog->setReaderChoice(chosen);
    const bool verify = m_settings->value(QStringLiteral("verifyAfterWrite"), true).toBool();
    m_connection_dialog->setVerifyChoice(verify);
    m_engine->setVerifyAfterWrite(verify);
    const bool fast = m_settings->value(QStringLiteral("fastBatch"), false).toBool();
    m_connection_dialog->setFastBatchChoice(fast);
    m_engine->setAutoWritePace(fast ? AutoWrite::Pace::Fast : AutoWrite::Pace::Described);
    const bool chinese =
        m_settings->value(QStringLiteral("language")).toString() == QLatin1String("zh");
    if (chinese != (lang_cn != 0))
        on_actionLanguage_triggered();
    // The reader chosen last time, found by its identity, without the dialog; one that is
    // away is connected as soon as it is back.
    if (!chosen.identity.isEmpty() && chosen.type != ReaderType::None) {
        m_engine->Set_Reader_Type(chosen);
        m_engine->connectReader(chosen);
    }
}

void Vantory::rememberSetting(const QString& key, const QVariant& value)
{
    if (m_settings)
        m_settings->setValue(key, value);
}

void Vantory::dragEnterEvent(QDragEnterEvent* event)
{
    // A batch keeps its configuration until auto write is switched off.
    if (!m_engine->autoWriteOn() && !droppedConfigFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void Vantory::dropEvent(QDropEvent* event)
{
    const QString path = droppedConfigFile(event->mimeData());
    if (path.isEmpty() || m_engine->autoWriteOn())
        return;
    event->acceptProposedAction();
    m_config_folder = QFileInfo(path).absolutePath();
    rememberSetting(QStringLiteral("configFolder"), m_config_folder);
    openConfigFile(path);
}
