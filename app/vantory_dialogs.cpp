#include "app/vantory.h"

#include "app/aboutusdialog.h"
#include "app/connectionconfig.h"
#include "engine/tagengine.h"

void Vantory::Set_Reader_Type(uint8_t value)
{
    m_engine->Set_Reader_Type(value);
    rememberSetting(QStringLiteral("reader"), int(value));
}

void Vantory::setVerifyAfterWrite(bool on)
{
    m_engine->setVerifyAfterWrite(on);
    rememberSetting(QStringLiteral("verifyAfterWrite"), on);
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
