#include "app/vantory.h"

#include "app/aboutusdialog.h"
#include "app/apptexts.h"
#include "app/connectionconfig.h"
#include "engine/tagengine.h"
#include "widgets/noticewidget.h"

void Vantory::Set_Reader_Type(ReaderType value)
{
    m_engine->Set_Reader_Type(value);
    rememberSetting(QStringLiteral("reader"), int(value));
}

void Vantory::onReaderChosen(ReaderType reader)
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
    m_connection_dialog->show();
}

void Vantory::on_actionAboutus_triggered()
{
    m_about_dialog->show();
}
