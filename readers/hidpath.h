#pragma once

#include <QString>

namespace hidpath
{

/// Interface number of a Windows-style HID device path: the hexadecimal number right
/// after "&mi_" (case-insensitive), or −1 when there is no "&mi_" or no digit after it.
int interfaceNumber(const QString& path);

} // namespace hidpath
