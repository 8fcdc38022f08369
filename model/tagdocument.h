#pragma once

#include "model/configfile.h"
#include "model/constlumen.h"
#include "model/currents.h"
#include "model/tagfields.h"
#include "model/tagimage.h"

#include <QByteArray>
#include <QObject>
#include <array>
#include <cstdint>
#include <functional>

/// The tag session's data: the tag image and what the panels edit of it (channel count,
/// PWM period, the three currents, the colour-temperature range, the constant-lumen
/// table), and what it is: the configuration Write and Auto Scan program, with its source
/// and tag kind. It is the only code that changes the image; whoever shows it listens to
/// its signals and passes every edit to it as it is made.
class TagDocument : public QObject
{
    Q_OBJECT
    friend class TestAccess;

  public:
    /// Where the image shown last came from.
    enum class Source : uint8_t { Read, DriveBankRead, File };
    Q_ENUM(Source)
    /// Where the configuration came from.
    enum class From : uint8_t { Nothing, Driver, File };
    /// How its tag kind is known: the driver read, the file's own bytes, or (the bytes
    /// telling neither) the last driver on the reader, or nothing at all.
    enum class KindFrom : uint8_t { Driver, FileContent, LastDriver, Assumed };
    struct Origin {
        From from = From::Nothing;
        QString name; ///< the file's name, or the driver's UID (hex, most significant first)
        KindFrom kindFrom = KindFrom::Assumed;
        bool edited = false; ///< changed in the panels since it was read, opened or saved
    };

    explicit TagDocument(QObject* parent = nullptr);

    const TagImage& image() const { return m_image; }
    const Origin& origin() const { return m_origin; }
    /// The tag kind the configuration is for ('P' or '8'); it decides how the currents are
    /// read from the image and which drivers it may be written to.
    uint8_t chipCode() const { return m_chip_code; }

    // ------------------------------------------------------------------ loading
    /// A completed read of `readcnt` replies from a tag of `chipCode` whose UID is
    /// `uidMsbFirst`: the image takes the data (reads 7, 12 and 3 only), the panels
    /// follow, the bank buffer is rebuilt; a whole read makes the driver the source.
    void loadRead(const QByteArray& data, uint8_t readcnt, uint8_t chipCode,
                  const QByteArray& uidMsbFirst = {});
    /// A configuration file's bytes, named `name`, decoded as the tag kind they tell, or
    /// as `lastDriverKind` (0: none seen) when they tell none; nothing changes when the
    /// file is refused.
    configfile::LoadResult loadFile(const QByteArray& bytes, const QString& name = QString(),
                                    uint8_t lastDriverKind = 0);
    /// A whole image taken as the configuration `name` for a tag of `kind`.
    void loadImage(const TagImage& image, uint8_t kind = tagfields::ChipP,
                   const QString& name = QString());
    /// The 512 bytes a configuration file of the image holds.
    QByteArray fileBytes() const { return configfile::saveBytes(m_image); }
    /// The configuration was saved as the file `name`, which is its source from now on.
    void savedAs(const QString& name);

    // ------------------------------------------------------------------ the panels
    /// The panels of a driver type (the image's own after a load): which option panels
    /// show, then the channels of its channel count.
    void showDriverType(uint8_t deviceType);
    /// The channel settings for `count` channels: ranges, currents, the PWM period.
    void showChannels(uint8_t count);
    /// Which panels the driver shown has, and its channel settings.
    const currents::PanelPlan& panelPlan() const { return m_plan; }
    const currents::ChannelDisplay& channelDisplay() const { return m_display; }
    uint8_t channelCount() const { return m_channel_count; }
    uint16_t pwmPeriod() const { return m_pwm_period; }

    /// The current setting of channel `index` (0..2), mA, clamped into its range when it
    /// has one, as the channel widget holds it. An edit.
    void setChannelCurrent(int index, uint16_t mA);
    std::array<uint16_t, 3> channelCurrents() const { return m_currents; }

    /// The colour-temperature setting (K): each within 1000..12000, the warmest not above
    /// the coolest. It reaches the image only when a write or a save applies the panels.
    /// An edit.
    void setColourTemperature(uint16_t warmest, uint16_t coolest);
    /// Whether the colour-temperature setting is offered (its panel shows); a driver type
    /// decides it on every load.
    void setColourTemperatureShown(bool shown) { m_cct_offered = shown; }
    bool colourTemperatureShown() const { return m_cct_offered; }

    /// The constant-lumen table and its switch go into the image at once. Edits, when they
    /// change a byte.
    void setLumenTable(const constlumen::Points& times, const constlumen::Points& levels);
    void setLumenTimes(const constlumen::Points& times);
    void setLumenEnabled(bool on);

    // ------------------------------------------------------------------ before a write
    /// The currents of the first `channels` channels into the image.
    void applyCurrents(uint8_t channels);
    /// The colour-temperature setting into the image, when the driver shown offers it.
    void applyColourTemperature();
    /// What a save or a drive-area write sends: the currents and the colour temperature.
    void applyPanels();
    /// Composes the PWM block of an '8' tag from the period and the channel-1 current;
    /// returns the maximum current it used.
    uint16_t composePwmBlock();
    /// Rebuilds the buffer writes are sent from (the last-current word first on layout 2).
    void prepareBankBuffer();
    /// Auto write clears the template's auto-write word before each driver.
    void clearAutoWriteWord();

  signals:
    /// The image was replaced by a read or a file; the panels show it anew.
    void loaded(TagDocument::Source source);
    /// Bytes of the image changed.
    void imageChanged();
    /// The origin changed: a load, the first edit after it, a save.
    void originChanged();

  private:
    // The panels of the image; a drive-bank read leaves the product area, and so the
    // channel count, as it was.
    void showPanels(bool fromProductArea);
    void storeColourTemperature(uint16_t warmest, uint16_t coolest);
    void setOrigin(From from, const QString& name, KindFrom kindFrom);
    // An edit of a loaded configuration: it is no longer what was read or opened.
    void markEdited();
    void changeImage(const std::function<void(TagImage&)>& change);

    TagImage m_image;
    Origin m_origin;
    uint8_t m_chip_code = tagfields::ChipP;
    currents::PanelPlan m_plan;
    currents::ChannelDisplay m_display;
    uint8_t m_channel_count = 0;
    uint16_t m_pwm_period = 0;
    std::array<uint16_t, 3> m_currents{};
    bool m_cct_offered = false;
    uint16_t m_cct_warmest = 0;
    uint16_t m_cct_coolest = 0;
};
