#include "app/vantory.h"
#include "ui_vantory.h"

#include "model/tagfields.h"

// Showing the tag image in the window and preparing the bank buffer for writes.

void Vantory::Update_Bank_Buff()
{
    if (m_image.isLayout2()) {
        Judge_LastCurrent();
        m_image.bank_buffer = m_image.image_v2;
    } else {
        m_image.bank_buffer = m_image.image_legacy;
    }
}

void Vantory::Judge_LastCurrent()
{
    tagfields::judgeLastCurrent(m_image);
}

void Vantory::Update_Product_Info()
{
    const tagfields::ProductInfo info = tagfields::productInfo(m_image);
    ui->Productlabel->setText(info.model);
    ui->labelDeviceCode->setText(info.fixtureId);
    ChangeParamEnable(info.driverType);
    ui->labelHardware->setText(info.hardware);
    ui->labelSoftware->setText(info.software);
    ui->labelGTIN->setText(info.gtin);
}

void Vantory::Update_Drive_Info()
{
    const tagfields::DriveInfo drive = tagfields::driveInfo(m_image);

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
