#include "app/vantory.h"
#include "ui_vantory.h"

#include "app/apptexts.h"
#include "model/tagfields.h"

#include <QLabel>

// Showing the tag image in the window.

void Vantory::Update_Product_Info()
{
    const tagfields::ProductInfo info = tagfields::productInfo(doc().image());
    ui->Productlabel->setText(info.model);
    ui->labelDeviceCode->setText(info.fixtureId);
    ChangeParamEnable(info.driverType);
    ui->labelHardware->setText(info.hardware);
    ui->labelSoftware->setText(info.software);
    ui->labelGTIN->setText(info.gtin);
}

void Vantory::Update_Drive_Info()
{
    const tagfields::DriveInfo drive = tagfields::driveInfo(doc().image());

    // The switch follows the tag without announcing it, so byte 267 stays as read.
    ui->switchbuttonwidget->setChecked(drive.cloEnabled);
    ui->LumentableWidget->setEnabled(drive.cloEnabled);
    Set_ConstLumen_Enable(drive.cloEnabled);

    GetLumenLevel(drive.cloLevels);
    GetLumenTimer(drive.cloTimes);
    Update_CLO_Chart();

    showCctRange(drive.cctCoolest, drive.cctWarmest);

    ui->label_GearOperatingTime->setText(drive.gearTimeText);
    ui->label_LoadOperatingTime->setText(drive.loadTimeText);
}

void Vantory::showConfigurationLine()
{
    const bool chinese = lang_cn != 0;
    const TagDocument::Origin& origin = doc().origin();
    ui->label_ConfigCaption->setText(apptext::ConfigCaption.pick(chinese));
    ui->label_ConfigEdited->setText(apptext::ConfigEdited.pick(chinese));
    ui->label_ConfigEdited->setVisible(origin.edited);
    if (origin.from == TagDocument::From::Nothing) {
        ui->label_Configuration->setText(apptext::ConfigNothing.pick(chinese));
        return;
    }
    const QString source = (origin.from == TagDocument::From::Driver ? apptext::ConfigFromDriver
                                                                     : apptext::ConfigFromFile)
                               .pick(chinese)
                               .arg(origin.name);
    const QString model = tagfields::modelName(doc().image());
    // How the tag kind is known, when not from the driver or the file itself.
    const QString note = origin.kindFrom == TagDocument::KindFrom::LastDriver
                             ? apptext::ConfigKindLastDriver.pick(chinese)
                         : origin.kindFrom == TagDocument::KindFrom::Assumed
                             ? apptext::ConfigKindAssumed.pick(chinese)
                             : QString();
    QString kind;
    if (doc().chipCode() == tagfields::ChipPwm)
        kind = apptext::ConfigKindPwm.pick(chinese).arg(
            note.isEmpty() ? QString()
                           : (chinese ? QStringLiteral("，") : QStringLiteral(", ")) + note);
    else
        kind =
            apptext::ConfigKindP.pick(chinese).arg(note.isEmpty() ? QString()
                                                   : chinese ? QStringLiteral("（%1）").arg(note)
                                                             : QStringLiteral(" (%1)").arg(note));
    const QString layout =
        (doc().image().isLayout2() ? apptext::ConfigLayout2 : apptext::ConfigLegacyLayout)
            .pick(chinese);
    ui->label_Configuration->setText(QStringList{
        source, model.isEmpty() ? apptext::ConfigNoModel.pick(chinese) : model, kind, layout}
                                         .join(QStringLiteral(" · ")));
}

void Vantory::showDriverUid(const QByteArray& uidMsbFirst)
{
    m_driver_uid = uidMsbFirst;
    ui->labelUID->setText(QString::fromLatin1(uidMsbFirst.toHex().toUpper()));
}
