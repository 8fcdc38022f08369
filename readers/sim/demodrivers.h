#pragma once

#include "readers/sim/virtualtag.h"

#include <QByteArray>
#include <QString>
#include <QVector>
#include <memory>

/// Ready-made LED drivers for the simulator: each is a virtual tag whose memory holds a
/// plausible configuration, so that the program has something real to read and write.
namespace demodrivers
{

/// The demo drivers, in menu order.
enum class Kind {
    Dt8,        ///< layout 2, tunable white (DT8), CLO curve and colour temperatures
    Dt6,        ///< layout 2, single colour (DT6) with a CLO curve
    Legacy3Ch,  ///< legacy layout (code 3), three channels with their own ranges
    Pwm,        ///< ST25DV-PWM tag ('8'): product area plus the PWM block 248
    OtherModel, ///< layout 2 DT8 of another model, for model-mismatch checks
};

/// Name and purpose of a demo driver as the simulator window lists it.
struct Info {
    Kind kind;
    QString name;  ///< short menu text
    QString model; ///< model name stored in the tag
};

/// Every demo driver, in menu order.
QVector<Info> all();
/// The entry of one demo driver.
Info info(Kind kind);

/// The memory of the demo driver: 512 bytes, or 256 for the PWM tag.
QByteArray memory(Kind kind);
/// The PWM control block 248 in the tag's own order (period, pulse, low bytes first);
/// empty for drivers that have none.
QByteArray pwmBlock(Kind kind);
/// The demo driver's configuration file as the program saves it after reading the driver:
/// its memory; for the PWM tag its product area with the PWM block in the form a read
/// leaves in the image (period, pulse, high bytes first) and an empty drive area.
QByteArray configurationFile(Kind kind);
/// A fresh virtual tag holding the demo driver; `serial` gives the low UID bytes.
std::shared_ptr<VirtualTag> makeTag(Kind kind, quint64 serial);

/// Size a configuration file must have to be laid as a driver.
constexpr int FileSize = 512;
/// A 512-byte tag holding the first 512 bytes of `bytes`; null (and `error` set) when
/// fewer than 512 bytes are given.
std::shared_ptr<VirtualTag> tagFromImage(const QByteArray& bytes, quint64 serial,
                                         QString* error = nullptr);

} // namespace demodrivers
