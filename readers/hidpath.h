#pragma once

#include <QString>

namespace hidpath
{

/// Interface number of a Windows-style HID device path: the hexadecimal number right
/// after "&mi_" (case-insensitive), or −1 when there is no "&mi_" or no digit after it.
int interfaceNumber(const QString& path);

/// Where a HID device sits: on Linux, for a hidraw node, its USB bus and port chain
/// ("usb 1-2.3"), which stays the same while the device stays in the same socket (the
/// node's number does not); elsewhere the path itself.
QString location(const QString& path);

} // namespace hidpath
