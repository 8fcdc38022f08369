#pragma once
// A bare tag engine behind simulated readers, fed with arbitrary reader replies or
// configuration files through its own reply slots and its openConfiguration. No window
// and no GUI library: the fuzz targets and the corpus replay test share it, and every run
// reports the invariants it found broken.

#include "engine/commandstate.h"
#include "engine/resulttip.h"
#include "engine/tagengine.h"
#include "fuzz/fuzzstates.h"
#include "model/configfile.h"
#include "model/tagdocument.h"
#include "model/tagfields.h"
#include "model/tagimage.h"
#include "readers/sim/demodrivers.h"
#include "readers/sim/readerfield.h"
#include "readers/sim/simfeig.h"
#include "readers/sim/simr321.h"
#include "testaccess.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QLoggingCategory>
#include <QStringList>
#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>

namespace fuzzharness
{

enum class Reader : uint8_t { Feig = 1, R321 = 2 };

// Tip code of a successful read and of an auto write that starts writing.
constexpr uint8_t kTipReadOk = static_cast<uint8_t>(ResultTip::ReadSucceed);
constexpr uint8_t kTipOpenScan = static_cast<uint8_t>(ResultTip::OpenScan);
constexpr uint8_t kLastTipCode = static_cast<uint8_t>(ResultTip::VerifyFailed);

inline QByteArray bytesOf(const TagImage::Bytes& b, int from, int n)
{
    return QByteArray(reinterpret_cast<const char*>(b.data()) + from, n);
}

inline bool sameImage(const TagImage& a, const TagImage& b)
{
    return a.image_v2 == b.image_v2 && a.image_legacy == b.image_legacy &&
           a.bank_buffer == b.bank_buffer;
}

/// The engine and its simulated readers, made once per process.
class Harness
{
  public:
    /// The name a configuration-file input is opened under.
    static QString fileName() { return QStringLiteral("input.bin"); }

    /// The process-wide harness of a fuzz target; never destroyed, since libFuzzer ends
    /// the process from inside a run.
    static Harness& instance()
    {
        static Harness* h = new Harness;
        return *h;
    }

    /// A harness of its own (tests); makes the application object only if none exists.
    Harness()
    {
        if (!QCoreApplication::instance()) {
            static int argc = 1;
            static char name[] = "vantory-fuzz";
            static char* argv[] = {name, nullptr};
            m_app = std::make_unique<QCoreApplication>(argc, argv);
        }
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.warning=false"));
        // The FEIG reader is away for good and the R321 is never connected, so every
        // command the engine sends goes nowhere and only the fuzz input answers.
        m_field.setUnplugged(SimReaderKind::Feig, true);
        m_engine = std::make_unique<TagEngine>(&m_r321, &m_feig);
        TagEngine& e = *m_engine;
        // What a host would show: the last result tip (raw, so that a code out of range
        // shows), the warnings it would open as boxes, the loads of the document.
        QObject::connect(&e, &TagEngine::resultTip,
                         [this](ResultTip tip, bool) { m_last_tip = static_cast<uint8_t>(tip); });
        QObject::connect(&e, &TagEngine::warning,
                         [this](const QString&, const QString&) { ++m_warnings; });
        QObject::connect(&e.document(), &TagDocument::loaded,
                         [this](TagDocument::Source) { ++m_loads; });
        // Runs must not depend on the clock: no reply is ever overdue here.
        e.setReplyTimeout(24 * 3600 * 1000);
        TestAccess::stopTimers(e);

        // A complete driver in the document, as after a read.
        const QByteArray memory = demodrivers::memory(demodrivers::Kind::Dt8);
        TagImage image;
        std::copy_n(memory.constBegin(), TagImage::Size, image.image_v2.begin());
        std::copy_n(memory.constBegin(), TagImage::Size, image.image_legacy.begin());
        e.document().loadImage(image);
        m_baseline = e.document().image();
        m_memory = memory;
    }

    Harness(const Harness&) = delete;
    Harness& operator=(const Harness&) = delete;

    TagEngine& engine() { return *m_engine; }
    /// Code of the last result tip the engine gave (0: none since the last reply).
    uint8_t lastTip() const { return m_last_tip; }
    int warnings() const { return m_warnings; }

    /// Runs after each reply or file has been handed to the engine, before the checks;
    /// the harness's own test uses it to show that the checks can fail.
    std::function<void(TagEngine&)> tamper;

    /// Feeds one reply input (layout in fuzz/fuzzstates.h) to the engine.
    QStringList runReplies(Reader reader, const QByteArray& input)
    {
        QStringList failures;
        if (input.size() < 2)
            return failures;
        const uint8_t selector = static_cast<uint8_t>(input.at(0));
        const uint8_t variant = static_cast<uint8_t>(input.at(1));
        prepare(reader, selector, variant);
        TagEngine& e = engine();
        const int warningsBefore = m_warnings;
        int fed = TestAccess::cmd(e).read_data.size();

        int pos = 2;
        while (pos < input.size()) {
            const uint8_t header = static_cast<uint8_t>(input.at(pos++));
            const int len = std::min<int>(header & 0x7F, input.size() - pos);
            const QByteArray frame = input.mid(pos, len);
            pos += len;
            fed += frame.size();

            const TagImage before = TestAccess::image(e);
            m_last_tip = 0;
            if (reader == Reader::R321)
                TestAccess::r321Rx(e, frame);
            else
                TestAccess::feigRx(e, frame);
            if (tamper)
                tamper(e);
            checkAfterReply(before, fed, &failures);

            // The ticks that follow a reply: the sequence goes on (its commands go to a
            // link that never answers) and the beeper runs.
            const TagImage beforeTicks = TestAccess::image(e);
            const int ticks = (header & kPauseFlag) ? 310 : 3;
            for (int i = 0; i < ticks; ++i)
                TestAccess::tick(e);
            if (!sameImage(beforeTicks, TestAccess::image(e)))
                failures << QStringLiteral("the image changed on a tick");
            if (header & kPauseFlag) {
                const TagImage beforePass = TestAccess::image(e);
                m_last_tip = 0;
                autoWritePass();
                if (!sameImage(beforePass, TestAccess::image(e)) && m_last_tip != kTipOpenScan)
                    failures << QStringLiteral(
                        "the image changed on an auto-write pass without a write");
            }
            checkCounters(&failures);
            if (!failures.isEmpty())
                break;
        }
        // Replies never raise a warning box; only user actions do.
        if (m_warnings != warningsBefore)
            failures << QStringLiteral("a reply raised a warning");
        QCoreApplication::processEvents();
        return failures;
    }

    /// Opens `input` as a configuration file through the engine, then takes the
    /// configuration a save would write and opens that again.
    QStringList runConfigFile(const QByteArray& input)
    {
        QStringList failures;
        TagEngine& e = engine();
        TestAccess::resetEngine(e);
        const QString previousSource = QStringLiteral("the template before");
        restoreDocument(previousSource);
        const TagImage before = TestAccess::image(e);
        const int warningsBefore = m_warnings;
        const int loadsBefore = m_loads;

        const configfile::LoadResult result = e.openConfiguration(input, fileName());
        if (tamper)
            tamper(e);
        const TagImage& after = TestAccess::image(e);

        // A file is refused exactly when it fails the checks (a short file among them), and
        // then nothing changes.
        const configfile::LoadResult checked = configfile::checkConfig(input);
        if (result.error != checked.error)
            failures << QStringLiteral("the file was not judged by its checks");
        if (!result.ok()) {
            if (!sameImage(before, after))
                failures << QStringLiteral("a refused file changed the image");
            if (input.size() < TagImage::Size && result.error != configfile::LoadError::TooShort)
                failures << QStringLiteral("a short file was not refused as short");
            if (m_loads != loadsBefore || e.templateSource() != previousSource)
                failures << QStringLiteral("a refused file became the template");
        } else {
            if (m_loads != loadsBefore + 1)
                failures << QStringLiteral("the document did not announce the file once");
            if (e.templateSource() != fileName())
                failures << QStringLiteral("the template is not named after the file");
            const QByteArray product = input.left(tagoffset::ProductAreaSize);
            if (bytesOf(after.image_v2, 0, tagoffset::ProductAreaSize) != product ||
                bytesOf(after.image_legacy, 0, tagoffset::ProductAreaSize) != product)
                failures << QStringLiteral("the product area is not the file's");
            // Both copies are equal again after Open, but for the last-current word that
            // the bank-buffer refresh keeps in image_v2 alone.
            for (int i = tagoffset::DriveArea; i < TagImage::Size; ++i) {
                if (!isLastCurrent(i) && after.image_v2[i] != after.image_legacy[i]) {
                    failures << QStringLiteral("the two copies differ at drive byte %1").arg(i);
                    break;
                }
            }
            // Only the constant-lumen times (when repaired) and the last-current word may
            // differ from the file.
            bool timesDiffer = false;
            for (int i = tagoffset::DriveArea; i < TagImage::Size; ++i) {
                if (after.image_legacy[i] == static_cast<uint8_t>(input.at(i)) || isLastCurrent(i))
                    continue;
                if (!isCloTime(i)) {
                    failures << QStringLiteral("drive byte %1 is not the file's").arg(i);
                    break;
                }
                timesDiffer = true;
            }
            if (timesDiffer != result.repaired)
                failures << QStringLiteral(
                    "the constant-lumen repair does not match what changed in the times");
            if (m_warnings != warningsBefore)
                failures << QStringLiteral("a complete file raised a warning");

            // Saving and opening again gives back the same 512 bytes with nothing left to
            // repair.
            const QByteArray saved = e.configurationToSave();
            if (saved.size() != configfile::FileSize) {
                failures << QStringLiteral("the saved configuration does not hold 512 bytes");
            } else {
                TagImage again;
                const configfile::LoadResult reopened = configfile::loadConfig(saved, again);
                if (!reopened.ok() || reopened.repaired)
                    failures << QStringLiteral("the saved configuration needs another repair");
                else if (configfile::saveBytes(again) != saved)
                    failures << QStringLiteral("the saved configuration does not open as saved");
            }
        }
        QCoreApplication::processEvents();
        return failures;
    }

  private:
    static bool isLastCurrent(int i)
    {
        return i == tagoffset::LastCurrent || i == tagoffset::LastCurrent + 1;
    }
    static bool isCloTime(int i)
    {
        return i >= tagoffset::CloTimes && i < tagoffset::CloTimes + tagoffset::CloPoints;
    }

    // The document as after the read of the baseline driver: image and panels.
    void restoreDocument(const QString& name = QString())
    {
        engine().document().loadImage(m_baseline, tagfields::ChipP, name);
    }

    // One pass of the engine's auto-write clock, as its 300 ms timer runs it.
    void autoWritePass()
    {
        if (engine().autoScanning())
            TestAccess::autoWriteProcess(engine());
    }

    void setUid(uint8_t chip)
    {
        TagEngine& e = engine();
        // R321 order: least significant first, the product byte at index 5.
        std::array<uint8_t, 8> id{0x11, 0x22, 0x33, 0x44, 0x55, chip, 0x02, 0xE0};
        if (TestAccess::readerType(e) == ReaderType::Feig)
            std::reverse(id.begin(), id.end());
        TestAccess::setUid(e, id);
        std::array<uint8_t, 8> rev = id;
        std::reverse(rev.begin(), rev.end());
        TestAccess::setUidReversed(e, rev);
        TestAccess::setChipCode(e, chip);
    }

    static uint8_t chipOf(uint8_t variant)
    {
        switch (variant & 0x03) {
        case kChipP:
            return 0x50;
        case kChipPwm:
            return 0x38;
        default:
            return 0x45;
        }
    }

    void prepare(Reader reader, uint8_t selector, uint8_t variant)
    {
        TagEngine& e = engine();
        TestAccess::resetEngine(e);
        restoreDocument();
        // A few inputs arrive with no reader chosen, as after the dialog was cancelled.
        TestAccess::setReaderType(
            e, ReaderType((selector & 0xE0) == 0xE0 ? 0 : static_cast<uint8_t>(reader)));
        e.setChinese((selector & 0x10) != 0);
        const auto state = static_cast<State>((selector & 0x0F) % static_cast<int>(State::Count));
        const uint8_t chip = chipOf(variant);
        const uint8_t rest = variant >> 2;
        setUid(chip);

        switch (state) {
        case State::Idle:
            break;
        case State::ReadInventoryOut:
            TestAccess::controlRw(e, SeqCode::Read, 7);
            TestAccess::setManualRead(e, 1);
            TestAccess::tick(e);
            break;
        case State::ReadMid: {
            TestAccess::controlRw(e, SeqCode::Read, chip == 0x38 ? 7 : 12);
            TestAccess::setManualRead(e, 1);
            TestAccess::editCmd(e, [&](CommandState& c) {
                c.read_bank_step = static_cast<uint8_t>(2 + (rest & 3));
                c.block_step = static_cast<uint8_t>(1 + (rest >> 2) % 3);
                const int done = (c.read_bank_step - 2) * 3 + (c.block_step - 1);
                c.reply_cnt = static_cast<uint8_t>(done);
                c.read_data = m_memory.left(done / 3 * 128 + (done % 3) * 48);
                c.send_enable = 0;
            });
            TestAccess::commandSent(e, replies::Kind::ReadBlocks);
            break;
        }
        case State::ReadLastOut: {
            const uint8_t readcnt = chip == 0x38 ? 7 : 12;
            TestAccess::controlRw(e, SeqCode::Read, readcnt);
            TestAccess::setManualRead(e, 1);
            TestAccess::editCmd(e, [&](CommandState& c) {
                c.read_bank_step = chip == 0x38 ? 4 : 5;
                c.block_step = 3;
                c.reply_cnt = static_cast<uint8_t>(readcnt - 1);
                c.read_data = m_memory.left(chip == 0x38 ? 256 : 512 - 32);
                c.cmd_type = 0;
                c.send_enable = 0;
            });
            TestAccess::commandSent(e, replies::Kind::ReadBlocks);
            break;
        }
        case State::ModelReadOut:
            TestAccess::setAutoMode(e, 1);
            TestAccess::setAutoScan(e, 1);
            TestAccess::setTagCount(e, 1);
            TestAccess::setFoundCount(e, 1);
            TestAccess::controlRw(e, SeqCode::ReadModel, 1);
            TestAccess::setSuppressSuccessBeep(e, 1);
            TestAccess::tick(e);
            break;
        case State::WriteMid:
        case State::WriteLastOut: {
            const bool autoWrite = rest & 0x10;
            TestAccess::controlRw(e, autoWrite ? SeqCode::WriteAll : SeqCode::WriteDrive, 0);
            if (autoWrite)
                TestAccess::selectAutoWrite(e, chip == 0x38 ? 2 : 1);
            else
                TestAccess::selectAutoWrite(e, chip == 0x38 ? 4 : 1);
            TestAccess::editCmd(e, [&](CommandState& c) {
                if (state == State::WriteMid) {
                    c.write_bank_step = static_cast<uint8_t>(1 + (rest & 1));
                    c.write_part_step = static_cast<uint8_t>(1 + ((rest >> 1) & 3));
                    c.reply_cnt =
                        static_cast<uint8_t>((c.write_bank_step - 1) * 4 + c.write_part_step - 1);
                } else {
                    c.reply_cnt = static_cast<uint8_t>(c.send_cnt - 1);
                    c.cmd_type = 0;
                }
                c.send_enable = 0;
            });
            TestAccess::commandSent(e, replies::Kind::WriteBlocks);
            break;
        }
        case State::AutoScanPolling:
            TestAccess::setAutoMode(e, 1);
            TestAccess::setAutoScan(e, 1);
            TestAccess::setScanRequest(e, 1);
            TestAccess::setUid(e, {});
            autoWritePass();
            break;
        case State::AutoScanBatch: {
            TestAccess::setAutoMode(e, 1);
            TestAccess::setAutoScan(e, 1);
            TestAccess::setScanRequest(e, (rest & 1) ? 1 : 0);
            QByteArray records;
            QVector<QByteArray> uids;
            for (uint8_t t = 0; t < 3; ++t) {
                QByteArray id =
                    QByteArray::fromHex("0102030405") + char(chip) + char(0x02) + char(0xE0);
                id[0] = static_cast<char>(0x10 + t);
                uids << id;
                records += id + char(0); // UID, DSFID
            }
            TestAccess::setInventoryReply(e, SimR321::buildReply(0x11, 0, records));
            TestAccess::setScanUids(e, uids);
            const uint8_t index = (rest >> 2) & 3;
            TestAccess::setTagCount(e, static_cast<uint8_t>(3 - index));
            TestAccess::setFoundCount(e, 3);
            TestAccess::setTagIndex(e, index);
            if (rest & 2)
                TestAccess::setLastUid(e, TestAccess::uid(e));
            break;
        }
        case State::Password:
            TestAccess::controlRw(e, SeqCode::SetCurrent, 0);
            TestAccess::selectAutoWrite(e, 3);
            TestAccess::editCmd(e, [&](CommandState& c) {
                c.block_step = static_cast<uint8_t>(rest & 7);
                c.config_step_saved = static_cast<uint8_t>(5 + ((rest >> 5) & 1));
            });
            TestAccess::setPwdWritePending(e, (rest & 0x08) ? 1 : 0);
            TestAccess::setConfigWritePending(e, (rest & 0x10) ? 1 : 0);
            TestAccess::tick(e);
            break;
        case State::Beeping:
            TestAccess::setAutoScan(e, (rest & 2) ? 1 : 0);
            TestAccess::setTagCount(e, 1);
            TestAccess::setFoundCount(e, 1);
            TestAccess::startBeep(e, static_cast<uint8_t>(1 + (rest & 1)));
            for (int i = 0; i < (rest >> 2) * 25; ++i)
                TestAccess::tick(e);
            break;
        case State::ReadDriveInfo:
            TestAccess::controlRw(e, SeqCode::ReadDrive, 3);
            TestAccess::tick(e);
            break;
        case State::Count:
            break;
        }
    }

    void checkAfterReply(const TagImage& before, int fed, QStringList* failures)
    {
        TagEngine& e = engine();
        const TagImage& after = TestAccess::image(e);
        const CommandState& c = TestAccess::cmd(e);
        if (!sameImage(before, after)) {
            if (m_last_tip != kTipReadOk) {
                *failures << QStringLiteral("the image changed without a completed read");
            } else if ((c.readcnt == 7 || c.readcnt == 12) &&
                       bytesOf(after.image_legacy, 0, 256) != c.read_data.left(256)) {
                *failures << QStringLiteral("the image does not hold the data read");
            }
        }
        if (c.read_data.size() > fed)
            *failures << QStringLiteral("more read data than reply bytes");
    }

    void checkCounters(QStringList* failures)
    {
        TagEngine& e = engine();
        const CommandState& c = TestAccess::cmd(e);
        if (c.read_bank_step > 5 || c.block_step > 7 || c.write_part_step > 4 ||
            c.write_bank_step > 5 || c.config_step_saved > 7)
            *failures << QStringLiteral(
                             "step counter out of range: read %1/%2 write %3/%4 saved %5")
                             .arg(c.read_bank_step)
                             .arg(c.block_step)
                             .arg(c.write_bank_step)
                             .arg(c.write_part_step)
                             .arg(c.config_step_saved);
        if (m_last_tip > kLastTipCode)
            *failures << QStringLiteral("tip code out of range");
        if (TestAccess::beepPattern(e) > 2 || TestAccess::beepStep(e) > 2 ||
            TestAccess::beepTwiceStep(e) > 2)
            *failures << QStringLiteral("beeper state out of range");
    }

    std::unique_ptr<QCoreApplication> m_app;
    ReaderField m_field;
    SimR321 m_r321{&m_field};
    SimFeig m_feig{&m_field};
    std::unique_ptr<TagEngine> m_engine;
    TagImage m_baseline;
    QByteArray m_memory;
    uint8_t m_last_tip = 0;
    int m_warnings = 0;
    int m_loads = 0;
};

} // namespace fuzzharness
