// The window's side of the production record and of the small comforts: the record
// writer, the batch counts in the status bar, remembered settings and dropped files.
#include "app/vantory.h"
#include "ui_vantory.h"

#include "app/aboutusdialog.h"
#include "app/apptexts.h"
#include "app/connectionconfig.h"
#include "engine/tagengine.h"

#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QLabel>
#include <QMimeData>
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

} // namespace

void Vantory::setRecordFolder(const QString& folder)
{
    delete m_record;
    m_record = nullptr;
    m_record_problem.clear();
    showRecordProblem();
    if (!folder.isEmpty()) {
        // Made now so that the about dialog's link opens an existing folder.
        QDir().mkpath(folder);
        m_record = new record::Writer(folder, this);
        connect(m_record, &record::Writer::failed, this, &Vantory::onRecordFailed);
    }
    m_about_dialog->setRecordFolder(folder);
}

void Vantory::recordOperation(const record::Outcome& outcome)
{
    if (m_record) {
        const QString program = QCoreApplication::applicationName() + QLatin1Char(' ') +
                                QStringLiteral(VANTORY_VERSION);
        m_record->append(record::entryFor(outcome, program));
    }
    if (outcome.operation != record::Operation::AutoWrite || !m_batch.shown)
        return;
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

void Vantory::showBatchCounts()
{
    status_batch->setText(apptext::BatchCounts.pick(lang_cn)
                              .arg(m_batch.written)
                              .arg(m_batch.failed)
                              .arg(m_batch.otherModel));
    m_batch.shown = true;
    status_batch->show();
}

void Vantory::hideBatchCounts()
{
    m_batch.shown = false;
    status_batch->hide();
}

void Vantory::showRecordProblem()
{
    status_record->setHidden(m_record_problem.isEmpty());
    status_record->setText(m_record_problem.isEmpty()
                               ? QString()
                               : apptext::RecordProblem.pick(lang_cn).arg(m_record_problem));
}

void Vantory::useSettings(std::unique_ptr<QSettings> settings)
{
    m_settings = std::move(settings);
    if (!m_settings)
        return;
    m_config_folder = m_settings->value(QStringLiteral("configFolder")).toString();
    const int reader = m_settings->value(QStringLiteral("reader"), 0).toInt();
    if (reader == 1 || reader == 2)
        m_connection_dialog->setReaderChoice(reader - 1);
    const bool verify = m_settings->value(QStringLiteral("verifyAfterWrite"), true).toBool();
    m_connection_dialog->setVerifyChoice(verify);
    m_engine->setVerifyAfterWrite(verify);
    const bool chinese =
        m_settings->value(QStringLiteral("language")).toString() == QLatin1String("zh");
    if (chinese != (lang_cn != 0))
        on_actionLanguage_triggered();
}

void Vantory::rememberSetting(const QString& key, const QVariant& value)
{
    if (m_settings)
        m_settings->setValue(key, value);
}

void Vantory::dragEnterEvent(QDragEnterEvent* event)
{
    if (!droppedConfigFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void Vantory::dropEvent(QDropEvent* event)
{
    const QString path = droppedConfigFile(event->mimeData());
    if (path.isEmpty())
        return;
    event->acceptProposedAction();
    m_config_folder = QFileInfo(path).absolutePath();
    rememberSetting(QStringLiteral("configFolder"), m_config_folder);
    openConfigFile(path);
}
