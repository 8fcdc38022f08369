#include "app/vantory.h"
#include "ui_vantory.h"

#include "model/tagfields.h"

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
