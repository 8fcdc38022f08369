#include "readers/hidpath.h"

#include <QFileInfo>
#include <QRegularExpression>

namespace hidpath
{

namespace
{

int hexValue(QChar c)
{
    const ushort u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

} // namespace

int interfaceNumber(const QString& path)
{
    const int at = path.indexOf(QLatin1String("&mi_"), 0, Qt::CaseInsensitive);
    if (at < 0)
        return -1;
    int value = 0;
    int digits = 0;
    // Seven digits at most keep the value inside an int.
    for (int i = at + 4; i < path.size() && digits < 7; ++i, ++digits) {
        const int v = hexValue(path.at(i));
        if (v < 0)
            break;
        value = value * 16 + v;
    }
    return digits == 0 ? -1 : value;
}

QString location(const QString& path)
{
#if defined(Q_OS_LINUX)
    if (path.startsWith(QLatin1String("/dev/hidraw"))) {
        // /sys/class/hidraw/hidrawN/device leads through usbB/B-P.P/B-P.P:C.I/...
        const QString node = path.mid(5);
        const QString device =
            QFileInfo(QStringLiteral("/sys/class/%1/device").arg(node)).canonicalFilePath();
        static const QRegularExpression port(QStringLiteral("^\\d+-[\\d.]+$"));
        QString chain;
        for (const QString& part : device.split(QLatin1Char('/')))
            if (port.match(part).hasMatch())
                chain = part;
        if (!chain.isEmpty())
            return QStringLiteral("usb ") + chain;
    }
#endif
    return path;
}

} // namespace hidpath
