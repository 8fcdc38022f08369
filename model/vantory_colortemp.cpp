#include "app/vantory.h"
#include "ui_vantory.h"

#include "model/colortemp.h"

// The colour-temperature range: spin boxes into the image.

void Vantory::Get_CCT_Data()
{
    colortemp::storeCct(m_image, static_cast<uint16_t>(ui->WormestspinBox->value()),
                        static_cast<uint16_t>(ui->CoolestspinBox->value()));
}
