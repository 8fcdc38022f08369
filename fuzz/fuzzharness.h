#pragma once
// One real Vantory window behind simulated readers, fed with arbitrary reader replies or
// configuration files through the window's own slots. The fuzz targets and the corpus
// replay test share it; every run reports the invariants it found broken.

#include "app/readerbackends.h"
#include "app/vantory.h"
#include "engine/commandstate.h"
#include "fuzz/fuzzstates.h"
#include "model/tagfields.h"
#include "model/tagimage.h"
#include "readers/sim/demodrivers.h"
#include "readers/sim/readerfield.h"
#include "readers/sim/simfeig.h"
#include "readers/sim/simr321.h"
#include "widgets/colorwidget.h"
#include "testaccess.h"

#include <QApplication>
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLoggingCategory>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>


namespace fuzzharness
{

enum class Reader : uint8_t { Feig = 1, R321 = 2 };

// Tip code of a successful read and of an auto write that starts writing.
constexpr uint8_t kTipReadOk = 3;
constexpr uint8_t kTipOpenScan = 10;
constexpr uint8_t kLastTipCode = 11; // 11: verify failed

inline QByteArray bytesOf(const TagImage::Bytes& b, int from, int n)
{
    return QByteArray(reinterpret_cast<const char*>(b.data()) + from, n);
}

inline bool sameImage(const TagImage& a, const TagImage& b)
{
    return a.image_v2 == b.image_v2 && a.image_legacy == b.image_legacy &&
           a.bank_buffer == b.bank_buffer;
}

/// The window and its simulated readers, made once per process.
class Harness
{
  public:
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
            qputenv("QT_QPA_PLATFORM", "offscreen");
            static int argc = 1;
            static char name[] = "vantory-fuzz";
            static char* argv[] = {name, nullptr};
            m_app = std::make_unique<QApplication>(argc, argv);
        }
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.warning=false"));
        // The FEIG reader is away for good and the R321 is never connected, so every
        // command the engine sends goes nowhere and only the fuzz input answers.
        m_field.setUnplugged(SimReaderKind::Feig, true);
        m_window = std::make_unique<Vantory>(ReaderBackends{&m_r321, &m_feig, true});
        m_window->setModalHook([this](const QString&, const QString&) { ++m_boxes; });
        m_window->setFileDialogHook([this](Vantory::FileDialogMode, const QString&, const QString&,
                                           const QString&) { return m_dialogPath; });
        ColorWidget::setWarningHook([this](const QString&, const QString&) { ++m_boxes; });
        Vantory& w = *m_window;
        // Runs must not depend on the clock: no reply is ever overdue here.
        w.setReplyTimeout(24 * 3600 * 1000);
        TestAccess::stopTimers(w);
        TestAccess::clock(w); // the first clock pass puts the start lumen table in place

        // A complete driver in the window, as after a read.
        const QByteArray memory = demodrivers::memory(demodrivers::Kind::Dt8);
        TestAccess::editImage(w, [&memory](TagImage& image) {
            std::copy_n(memory.constBegin(), TagImage::Size, image.image_v2.begin());
            std::copy_n(memory.constBegin(), TagImage::Size, image.image_legacy.begin());
        });
        TestAccess::refreshPanels(w);
        m_baseline = TestAccess::image(w);
        m_memory = memory;
    }
    ~Harness() { ColorWidget::setWarningHook(nullptr); }

    Harness(const Harness&) = delete;
    Harness& operator=(const Harness&) = delete;

    Vantory& win() { return *m_window; }
    int modalBoxes() const { return m_boxes; }

    /// Runs after each reply or file has been handed to the window, before the checks;
    /// the harness's own test uses it to show that the checks can fail.
    std::function<void(Vantory&)> tamper;

    /// Feeds one reply input (layout in fuzz/fuzzstates.h) to the window.
    QStringList runReplies(Reader reader, const QByteArray& input)
    {
        QStringList failures;
        if (input.size() < 2)
            return failures;
        const uint8_t selector = static_cast<uint8_t>(input.at(0));
        const uint8_t variant = static_cast<uint8_t>(input.at(1));
        prepare(reader, selector, variant);
        Vantory& w = win();
        const int boxesBefore = m_boxes;
        int fed = TestAccess::cmd(w).read_data.size();

        int pos = 2;
        while (pos < input.size()) {
            const uint8_t header = static_cast<uint8_t>(input.at(pos++));
            const int len = std::min<int>(header & 0x7F, input.size() - pos);
            const QByteArray frame = input.mid(pos, len);
            pos += len;
            fed += frame.size();

            const TagImage before = TestAccess::image(w);
            TestAccess::setLastTip(w, 0);
            if (reader == Reader::R321)
                TestAccess::r321Rx(w, frame);
            else
                TestAccess::feigRx(w, frame);
            if (tamper)
                tamper(w);
            checkAfterReply(before, fed, &failures);

            // The ticks that follow a reply: the sequence goes on (its commands go to a
            // link that never answers) and the beeper runs.
            const TagImage beforeTicks = TestAccess::image(w);
            const int ticks = (header & kPauseFlag) ? 310 : 3;
            for (int i = 0; i < ticks; ++i)
                TestAccess::tick(w);
            if (!sameImage(beforeTicks, TestAccess::image(w)))
                failures << QStringLiteral("the image changed on a tick");
            if (header & kPauseFlag) {
                const TagImage beforeClock = TestAccess::image(w);
                TestAccess::setLastTip(w, 0);
                TestAccess::clock(w);
                if (!sameImage(beforeClock, TestAccess::image(w)) &&
                    TestAccess::lastTip(w) != kTipOpenScan)
                    failures << QStringLiteral("the image changed on a clock pass without a write");
            }
            checkCounters(&failures);
            if (!failures.isEmpty())
                break;
        }
        // Replies never open a message box; only user actions do.
        if (m_boxes != boxesBefore)
            failures << QStringLiteral("a reply opened a message box");
        QCoreApplication::processEvents();
        return failures;
    }

    /// Opens `input` as a configuration file through the window's Open action, then
    /// saves the result through the Save action.
    QStringList runConfigFile(const QByteArray& input)
    {
        QStringList failures;
        Vantory& w = win();
        TestAccess::resetEngine(w);
        TestAccess::putImage(w, m_baseline);
        TestAccess::refreshPanels(w);
        const TagImage before = TestAccess::image(w);

        const QString openPath = m_dir.filePath(QStringLiteral("input.bin"));
        const QString savePath = m_dir.filePath(QStringLiteral("saved.bin"));
        {
            QFile f(openPath);
            if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
                f.write(input) != input.size())
                return {QStringLiteral("cannot write the temporary file")};
        }
        QFile::remove(savePath);
        m_dialogPath = openPath;
        const int boxesBefore = m_boxes;
        TestAccess::openConfig(w);
        if (tamper)
            tamper(w);
        const TagImage& after = TestAccess::image(w);

        if (input.size() < TagImage::Size) {
            if (!sameImage(before, after))
                failures << QStringLiteral("a short file changed the image");
            if (m_boxes != boxesBefore + 1)
                failures << QStringLiteral("a short file was not reported exactly once");
        } else {
            const QByteArray product = input.left(256);
            if (bytesOf(after.image_v2, 0, 256) != product ||
                bytesOf(after.image_legacy, 0, 256) != product)
                failures << QStringLiteral("the product area is not the file's");
            // Both copies are equal again after Open, but for the last-current word that
            // the bank-buffer refresh keeps in image_v2 alone.
            for (int i = 256; i < TagImage::Size; ++i) {
                if (i != 490 && i != 491 && after.image_v2[i] != after.image_legacy[i]) {
                    failures << QStringLiteral("the two copies differ at drive byte %1").arg(i);
                    break;
                }
            }
            // Only the constant-lumen table (bytes 267..299) and the last-current word
            // may differ from the file.
            for (int i = 256; i < TagImage::Size; ++i) {
                const bool repairable = (i >= 267 && i <= 299) || i == 490 || i == 491;
                if (!repairable && after.image_legacy[i] != static_cast<uint8_t>(input.at(i))) {
                    failures << QStringLiteral("drive byte %1 is not the file's").arg(i);
                    break;
                }
            }
            if (m_boxes != boxesBefore)
                failures << QStringLiteral("a complete file opened a message box");

            m_dialogPath = savePath;
            TestAccess::saveConfig(w);
            QFile saved(savePath);
            if (!saved.open(QIODevice::ReadOnly) || saved.size() != TagImage::Size)
                failures << QStringLiteral("the saved file does not hold 512 bytes");
        }
        m_dialogPath.clear();
        QCoreApplication::processEvents();
        return failures;
    }

  private:
    void setUid(uint8_t chip)
    {
        Vantory& w = win();
        // R321 order: least significant first, the product byte at index 5.
        std::array<uint8_t, 8> id{0x11, 0x22, 0x33, 0x44, 0x55, chip, 0x02, 0xE0};
        if (TestAccess::readerType(w) == ReaderType::Feig)
            std::reverse(id.begin(), id.end());
        TestAccess::setUid(w, id);
        std::array<uint8_t, 8> rev = id;
        std::reverse(rev.begin(), rev.end());
        TestAccess::setUidReversed(w, rev);
        TestAccess::setChipCode(w, chip);
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
        Vantory& w = win();
        TestAccess::resetEngine(w);
        TestAccess::putImage(w, m_baseline);
        // A few inputs arrive with no reader chosen, as after the dialog was cancelled.
        TestAccess::setReaderType(w, ReaderType((selector & 0xE0) == 0xE0 ? 0 : static_cast<uint8_t>(reader)));
        TestAccess::setLanguageFlag(w, ((selector & 0x10) ? 1 : 0) != 0);
        const auto state = static_cast<State>((selector & 0x0F) % static_cast<int>(State::Count));
        const uint8_t chip = chipOf(variant);
        const uint8_t rest = variant >> 2;
        setUid(chip);

        switch (state) {
        case State::Idle:
            break;
        case State::ReadInventoryOut:
            TestAccess::controlRw(w, SeqCode::Read, 7);
            TestAccess::setManualRead(w, 1);
            TestAccess::tick(w);
            break;
        case State::ReadMid: {
            TestAccess::controlRw(w, SeqCode::Read, chip == 0x38 ? 7 : 12);
            TestAccess::setManualRead(w, 1);
            TestAccess::editCmd(w, [&](CommandState& c) {
                c.read_bank_step = static_cast<uint8_t>(2 + (rest & 3));
                c.block_step = static_cast<uint8_t>(1 + (rest >> 2) % 3);
                const int done = (c.read_bank_step - 2) * 3 + (c.block_step - 1);
                c.reply_cnt = static_cast<uint8_t>(done);
                c.read_data = m_memory.left(done / 3 * 128 + (done % 3) * 48);
                c.send_enable = 0;
            });
            TestAccess::commandSent(w, replies::Kind::ReadBlocks);
            break;
        }
        case State::ReadLastOut: {
            const uint8_t readcnt = chip == 0x38 ? 7 : 12;
            TestAccess::controlRw(w, SeqCode::Read, readcnt);
            TestAccess::setManualRead(w, 1);
            TestAccess::editCmd(w, [&](CommandState& c) {
                c.read_bank_step = chip == 0x38 ? 4 : 5;
                c.block_step = 3;
                c.reply_cnt = static_cast<uint8_t>(readcnt - 1);
                c.read_data = m_memory.left(chip == 0x38 ? 256 : 512 - 32);
                c.cmd_type = 0;
                c.send_enable = 0;
            });
            TestAccess::commandSent(w, replies::Kind::ReadBlocks);
            break;
        }
        case State::ModelReadOut:
            TestAccess::setAutoMode(w, 1);
            TestAccess::setAutoScan(w, 1);
            TestAccess::setTagCount(w, 1);
            TestAccess::setFoundCount(w, 1);
            TestAccess::controlRw(w, SeqCode::ReadModel, 1);
            TestAccess::setSuppressSuccessBeep(w, 1);
            TestAccess::tick(w);
            break;
        case State::WriteMid:
        case State::WriteLastOut: {
            const bool autoWrite = rest & 0x10;
            TestAccess::controlRw(w, autoWrite ? SeqCode::WriteAll : SeqCode::WriteDrive, 0);
            if (autoWrite)
                TestAccess::selectAutoWrite(w, chip == 0x38 ? 2 : 1);
            else
                TestAccess::selectAutoWrite(w, chip == 0x38 ? 4 : 1);
            TestAccess::editCmd(w, [&](CommandState& c) {
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
            TestAccess::commandSent(w, replies::Kind::WriteBlocks);
            break;
        }
        case State::AutoScanPolling:
            TestAccess::setAutoMode(w, 1);
            TestAccess::setAutoScan(w, 1);
            TestAccess::setScanRequest(w, 1);
            TestAccess::setUid(w, {});
            TestAccess::clock(w);
            break;
        case State::AutoScanBatch: {
            TestAccess::setAutoMode(w, 1);
            TestAccess::setAutoScan(w, 1);
            TestAccess::setScanRequest(w, (rest & 1) ? 1 : 0);
            QByteArray records;
            QVector<QByteArray> uids;
            for (uint8_t t = 0; t < 3; ++t) {
                QByteArray id =
                    QByteArray::fromHex("0102030405") + char(chip) + char(0x02) + char(0xE0);
                id[0] = static_cast<char>(0x10 + t);
                uids << id;
                records += id + char(0); // UID, DSFID
            }
            TestAccess::setInventoryReply(w, SimR321::buildReply(0x11, 0, records));
            TestAccess::setScanUids(w, uids);
            const uint8_t index = (rest >> 2) & 3;
            TestAccess::setTagCount(w, static_cast<uint8_t>(3 - index));
            TestAccess::setFoundCount(w, 3);
            TestAccess::setTagIndex(w, index);
            if (rest & 2)
                TestAccess::setLastUid(w, TestAccess::uid(w));
            break;
        }
        case State::Password:
            TestAccess::controlRw(w, SeqCode::SetCurrent, 0);
            TestAccess::selectAutoWrite(w, 3);
            TestAccess::editCmd(w, [&](CommandState& c) {
                c.block_step = static_cast<uint8_t>(rest & 7);
                c.config_step_saved = static_cast<uint8_t>(5 + ((rest >> 5) & 1));
            });
            TestAccess::setPwdWritePending(w, (rest & 0x08) ? 1 : 0);
            TestAccess::setConfigWritePending(w, (rest & 0x10) ? 1 : 0);
            TestAccess::tick(w);
            break;
        case State::Beeping:
            TestAccess::setAutoScan(w, (rest & 2) ? 1 : 0);
            TestAccess::setTagCount(w, 1);
            TestAccess::setFoundCount(w, 1);
            TestAccess::startBeep(w, static_cast<uint8_t>(1 + (rest & 1)));
            for (int i = 0; i < (rest >> 2) * 25; ++i)
                TestAccess::tick(w);
            break;
        case State::ReadDriveInfo:
            TestAccess::controlRw(w, SeqCode::ReadDrive, 3);
            TestAccess::tick(w);
            break;
        case State::Count:
            break;
        }
    }

    void checkAfterReply(const TagImage& before, int fed, QStringList* failures)
    {
        Vantory& w = win();
        const TagImage& after = TestAccess::image(w);
        const CommandState& c = TestAccess::cmd(w);
        if (!sameImage(before, after)) {
            if (TestAccess::lastTip(w) != kTipReadOk) {
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
        Vantory& w = win();
        const CommandState& c = TestAccess::cmd(w);
        if (c.read_bank_step > 5 || c.block_step > 7 || c.write_part_step > 4 ||
            c.write_bank_step > 5 || c.config_step_saved > 7)
            *failures << QStringLiteral(
                             "step counter out of range: read %1/%2 write %3/%4 saved %5")
                             .arg(c.read_bank_step)
                             .arg(c.block_step)
                             .arg(c.write_bank_step)
                             .arg(c.write_part_step)
                             .arg(c.config_step_saved);
        if (TestAccess::lastTip(w) > kLastTipCode)
            *failures << QStringLiteral("tip code out of range");
        if (TestAccess::beepPattern(w) > 2 || TestAccess::beepStep(w) > 2 ||
            TestAccess::beepTwiceStep(w) > 2)
            *failures << QStringLiteral("beeper state out of range");
    }

    std::unique_ptr<QApplication> m_app;
    ReaderField m_field;
    SimR321 m_r321{&m_field};
    SimFeig m_feig{&m_field};
    std::unique_ptr<Vantory> m_window;
    TagImage m_baseline;
    QByteArray m_memory;
    QTemporaryDir m_dir;
    QString m_dialogPath;
    int m_boxes = 0;
};

} // namespace fuzzharness
