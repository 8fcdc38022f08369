#include "app/vantory.h"

#include "app/aboutusdialog.h"
#include "app/apptexts.h"
#include "app/connectionconfig.h"
#include "app/stationview.h"
#include "readers/hidapibackend.h"

#include <QCoreApplication>
#include "engine/tagengine.h"
#include "widgets/noticewidget.h"

void Vantory::Set_Reader_Type(const ReaderChoice& choice)
{
    m_engine->Set_Reader_Type(choice);
    rememberSetting(QStringLiteral("reader"), int(choice.type));
    // The reader itself, so that the next start finds this one again and not another of
    // its kind; the one found when only the kind was chosen.
    const QString identity =
        choice.identity.isEmpty() ? m_engine->readerIdentity() : choice.identity;
    rememberSetting(QStringLiteral("readerId"), identity);
}

void Vantory::onReaderChosen(const ReaderChoice& reader)
{
    // Connecting anew would cut short the driver being programmed, or the batch.
    if (m_engine->autoWriteOn()) {
        m_notice->showNotice(this, apptext::ReaderKeptDuringBatch.pick(lang_cn), 3000);
        return;
    }
    if (refusedWhileBusy(apptext::ActionReaderConfig))
        return;
    // Red until a connection reports success, in the dialog's language.
    Show_Link_Status(false, apptext::SelectDevice.pick(m_connection_dialog->chinese()));
    connectReader(reader);
    Set_Reader_Type(reader);
}

void Vantory::setVerifyAfterWrite(bool on)
{
    m_engine->setVerifyAfterWrite(on);
    rememberSetting(QStringLiteral("verifyAfterWrite"), on);
}

void Vantory::setFastBatch(bool on)
{
    m_engine->setAutoWritePace(on ? AutoWrite::Pace::Fast : AutoWrite::Pace::Described);
    rememberSetting(QStringLiteral("fastBatch"), on);
    if (m_batch.shown)
        showBatchCounts();
}

// Both dialogs are modeless so that the window stays usable while they are open.
void Vantory::on_actionselect_triggered()
{
    m_connection_dialog->setReadersPresent(m_engine->readersPresent());
    m_connection_dialog->show();
}

void Vantory::on_actionStation_triggered()
{
    if (!m_station) {
        // R321 sessions each need a transport of their own; a borrowed one (simulated
        // readers, tests) is lent to the first R321 session only.
        auto lent = std::make_shared<bool>(false);
        StationView::HidMaker makeHid = [this, lent]() -> std::shared_ptr<HidBackend> {
            if (m_own_hid_backend)
                return std::make_shared<HidapiBackend>();
            if (*lent)
                return nullptr;
            *lent = true;
            return std::shared_ptr<HidBackend>(m_hid_backend, [lent](HidBackend*) { *lent = false; });
        };
        m_station = new StationView(makeHid, m_feusb_backend, this);
        connect(m_station, &StationView::startRequested, this, &Vantory::startStation);
        connect(m_station, &StationView::stopped, this, &Vantory::endStation);
        connect(m_station, &StationView::operationFinished, this,
                [this](const record::Outcome& outcome) {
                    if (m_record)
                        m_record->append(record::entryFor(
                            outcome, QCoreApplication::applicationName() + QLatin1Char(' ') +
                                         QStringLiteral(VANTORY_VERSION)));
                });
    }
    m_station->setChinese(lang_cn != 0);
    m_station->setVerifyAfterWrite(m_engine->verifyAfterWrite());
    m_station->setTemplate(doc().origin().from == TagDocument::From::Nothing
                               ? QByteArray()
                               : m_engine->configurationToSave(),
                           m_engine->templateSource());
    m_station->show();
    m_station->raise();
}

void Vantory::startStation()
{
    // The window's own batch or operation would hold its reader.
    if (m_engine->autoWriteOn()) {
        m_notice->showNotice(m_station, apptext::ReaderKeptDuringBatch.pick(lang_cn), 3000);
        return;
    }
    if (refusedWhileBusy(apptext::ActionReaderConfig))
        return;
    m_station->setTemplate(doc().origin().from == TagDocument::From::Nothing
                               ? QByteArray()
                               : m_engine->configurationToSave(),
                           m_engine->templateSource());
    // Each reader's batch runs as the window's would: same verification, same pace.
    m_station->setVerifyAfterWrite(m_engine->verifyAfterWrite());
    m_station->setAutoWritePace(m_engine->autoWritePace());
    const QVector<ReaderChoice> present = m_engine->readersPresent();
    m_station_reader = ReaderChoice{m_engine->readerType(), m_engine->readerIdentity()};
    m_engine->Set_Reader_Type(ReaderType::None);
    Show_Link_Status(false, apptext::SelectDevice.pick(lang_cn != 0));
    m_station->start(present);
}

void Vantory::endStation()
{
    // The window takes back the reader it had before the station.
    if (m_station_reader.type == ReaderType::None)
        return;
    const ReaderChoice back = m_station_reader;
    m_station_reader = {};
    m_engine->Set_Reader_Type(back);
    m_engine->connectReader(back);
}

void Vantory::on_actionAboutus_triggered()
{
    m_about_dialog->show();
}
