// The driver's last recorded write, shown in Device Data after a Read. The look-up runs on
// the record's sender thread (the server when there is one), never on the window's.
#include "app/vantory.h"
#include "ui_vantory.h"

#include "app/apptexts.h"

#include <QGridLayout>
#include <QLabel>
#include <cstdlib>

namespace
{

// The record's Verified column in the interface language; lines of older versions have none.
QString verifiedText(const QString& value, bool chinese)
{
    if (value == QLatin1String("yes"))
        return apptext::VerifiedYes.pick(chinese);
    if (value == QLatin1String("no"))
        return apptext::VerifiedNo.pick(chinese);
    if (value == QLatin1String("off"))
        return apptext::VerifiedOff.pick(chinese);
    return QStringLiteral("–");
}

} // namespace

void Vantory::onResultTipForLastWrite(ResultTip tip)
{
    if (tip != ResultTip::ReadSucceed || !m_engine || m_engine->autoWriteOn())
        return;
    m_last_write_uid = QString::fromLatin1(m_engine->uidMsbFirst().toHex().toUpper());
    m_last_write.reset();
    showLastWrite();
    lookUpLastWrite();
}

void Vantory::lookUpLastWrite()
{
    if (!m_record || m_last_write_uid.isEmpty())
        return;
    m_record->findLastWrite(m_last_write_uid, this,
                            [this](const QString& uid, std::optional<record::StoredLine> found) {
                                // An answer for a driver read earlier is of no use now.
                                if (uid != m_last_write_uid)
                                    return;
                                m_last_write = std::move(found);
                                showLastWrite();
                            });
}

void Vantory::showLastWrite()
{
    if (!label_LastWrite) {
        if (!m_last_write)
            return;
        auto* grid = qobject_cast<QGridLayout*>(ui->DeviceDatawidget->layout());
        if (!grid)
            return;
        label_LastWrite = new QLabel(ui->DeviceDatawidget);
        label_LastWrite->setObjectName(QStringLiteral("label_LastWrite"));
        label_LastWrite->setWordWrap(true);
        label_LastWrite->setTextInteractionFlags(Qt::TextSelectableByMouse);
        grid->addWidget(label_LastWrite, grid->rowCount(), 0, 1, grid->columnCount());
    }
    label_LastWrite->setVisible(m_last_write.has_value());
    if (!m_last_write) {
        label_LastWrite->clear();
        return;
    }
    const record::Entry& e = m_last_write->entry;
    // The station's own time with its offset: another station may be in another zone.
    const QDateTime when = QDateTime::fromString(e.time, Qt::ISODate);
    const int offset = when.isValid() ? when.offsetFromUtc() : 0;
    const QString zone = QStringLiteral("UTC%1%2:%3")
                             .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
                             .arg(std::abs(offset) / 3600, 2, 10, QLatin1Char('0'))
                             .arg(std::abs(offset) % 3600 / 60, 2, 10, QLatin1Char('0'));
    label_LastWrite->setText(apptext::LastRecordedWrite.pick(lang_cn).arg(
        when.isValid() ? when.toString(QStringLiteral("yyyy-MM-dd HH:mm ")) + zone : e.time,
        m_last_write->station, e.source, e.result, verifiedText(e.verified, lang_cn != 0)));
}
