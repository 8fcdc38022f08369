#include "app/branding.h"

namespace branding
{

#ifdef VANTORY_NEUTRAL_BRANDING

QString windowTitle(bool chinese)
{
    return chinese ? QStringLiteral("LED驱动配置") : QStringLiteral("NFC Reader");
}
QString productText()
{
    return QStringLiteral("HXM-QB-T7-60-250");
}
QString aboutIcon()
{
    return QStringLiteral(":image/images/UI_img/关于我们_Property_1_gongban1@3x.png");
}
QString aboutImage()
{
    return QStringLiteral(":image/images/UI_img/aboutus_common_2x.png");
}
QString programName()
{
    return QStringLiteral("vantory-neutral");
}

#else

QString windowTitle(bool chinese)
{
    return chinese ? QStringLiteral("Orvella LED驱动配置") : QStringLiteral("Orvella NFC Reader");
}
QString productText()
{
    return QStringLiteral("PVN-18-900 DALI-2 ZK4");
}
QString aboutIcon()
{
    return QStringLiteral(":image/images/UI_img/关于我们_Property_1_Variant2@3x_72x72.png");
}
QString aboutImage()
{
    return QStringLiteral(":image/images/UI_img/Group@2x.png");
}
QString programName()
{
    return QStringLiteral("vantory");
}

#endif

} // namespace branding
