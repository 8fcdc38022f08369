#pragma once
// A bare tag engine connected to a simulated reader that answers nothing, fed with
// arbitrary reader replies through its link (as the reader would deliver them) or with
// configuration files through its openConfiguration. No window and no GUI library: the
// fuzz targets and the corpus replay test share it, and every run reports the invariants
// it found broken. Each run starts from a fresh engine, brought to its state through its
// public interface and the replies its own commands would get.

#include "engine/readoperation.h"
#include "engine/resulttip.h"
#include "engine/tagengine.h"
#include "engine/writeoperation.h"
#include "fuzz/fuzzstates.h"
#include "model/configfile.h"
#include "model/tagdocument.h"
#include "model/tagfields.h"
#include "model/tagimage.h"
#include "readers/feiglink.h"
#include "readers/myfeigusb.h"
#include "readers/r321link.h"
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

/// The engine and its simulated readers; a fresh engine for every run.
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
        // The readers take every command and answer none: only the fuzz input answers.
        m_field.armReplyFault(SimReplyFault::NoReply, -1);
        m_memory = demodrivers::memory(demodrivers::Kind::Dt8);
        // A complete driver in the document, as after a read.
        std::copy_n(m_memory.constBegin(), TagImage::Size, m_baseline.image_v2.begin());
        std::copy_n(m_memory.constBegin(), TagImage::Size, m_baseline.image_legacy.begin());
        fresh();
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
        int fed = readData(e).size();

        int pos = 2;
        while (pos < input.size()) {
            const uint8_t header = static_cast<uint8_t>(input.at(pos++));
            const int len = std::min<int>(header & 0x7F, input.size() - pos);
            const QByteArray frame = input.mid(pos, len);
            pos += len;
            fed += frame.size();

            const TagImage before = TestAccess::image(e);
            m_last_tip = 0;
            feed(frame);
            if (tamper)
                tamper(e);
            checkAfterReply(before, fed, &failures);

            // The ticks that follow a reply: the sequence goes on (its commands go to a
            // reader that never answers) and the beeper runs.
            const TagImage beforeTicks = TestAccess::image(e);
            const int ticks = (header & kPauseFlag) ? 310 : 3;
            for (int i = 0; i < ticks; ++i)
                e.TIMER0_HANDLE();
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
        fresh();
        TagEngine& e = engine();
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

    // A new engine on the same readers, its timers stopped: the run steps it itself.
    void fresh()
    {
        m_engine.reset();
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
        m_crc.reset();
    }

    // The document as after the read of the baseline driver: image and panels.
    void restoreDocument(const QString& name = QString())
    {
        engine().document().loadImage(m_baseline, tagfields::ChipP, name);
    }

    // One reply as the reader delivers it: through the link, or (no reader chosen)
    // straight to the analysis.
    void feed(const QByteArray& frame)
    {
        TagEngine& e = engine();
        if (auto* r321 = qobject_cast<R321Link*>(e.link()))
            r321->in_hidDevReceive_usbDebug(frame);
        else if (auto* feig = qobject_cast<FeigLink*>(e.link()))
            feig->in_FeigDevReceive_Debug(frame);
        else if (!frame.isEmpty())
            e.Analyse_Receive_Data(m_reader == Reader::R321 ? replies::fromR321(frame, &m_crc)
                                                            : replies::fromFeig(frame));
    }

    // Ticks until the running sequence has a command out (a step may send nothing).
    void stepUntilSent()
    {
        for (int i = 0; i < 4 && !engine().sequencer().matcher().inFlight(); ++i)
            engine().TIMER0_HANDLE();
    }

    // One pass of the engine's auto-write loop, as its 300 ms timer runs it.
    void autoWritePass()
    {
        if (engine().autoScanning())
            engine().autoWrite().AutoWriteProcess();
    }

    // The UID of a tag of `chip` as the reader reports it, the `index`th of a batch.
    QByteArray uid(uint8_t chip, int index = 0) const
    {
        QByteArray id = QByteArray::fromHex("1122334455") + char(chip) + char(0x02) + char(0xE0);
        id[0] = static_cast<char>(0x11 + index);
        if (m_reader == Reader::Feig)
            std::reverse(id.begin(), id.end());
        return id;
    }

    // The replies the engine's own commands get from a tag holding m_memory.
    QByteArray inventoryReply(uint8_t chip, int tags = 1) const
    {
        if (m_reader == Reader::Feig)
            return SimFeig::buildReply(0xB0, 0x00, QByteArray::fromHex("010300") + uid(chip));
        QByteArray records;
        for (int t = 0; t < tags; ++t)
            records += uid(chip, t) + char(0); // UID, DSFID
        return SimR321::buildReply(0x11, 0x00, records);
    }
    QByteArray readReply(int first, int count) const
    {
        const QByteArray blocks = m_memory.mid(4 * first, 4 * count);
        if (m_reader == Reader::R321)
            return SimR321::buildReply(0x22, 0x00, blocks);
        QByteArray data;
        data.append(static_cast<char>(count));
        data.append(char(0x04));
        for (int b = 0; b < count; ++b) {
            QByteArray block = blocks.mid(4 * b, 4);
            std::reverse(block.begin(), block.end());
            data.append(char(0x00)); // block security status
            data.append(block);
        }
        return SimFeig::buildReply(0xB0, 0x00, data);
    }
    QByteArray writeReply() const
    {
        return m_reader == Reader::R321 ? SimR321::buildReply(0x23, 0x00, {})
                                        : replies::feigWriteSuccessFrame();
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

    // The read commands of a Read after its inventory, as first block and count.
    static QVector<std::pair<int, int>> readPieces(uint8_t chip)
    {
        QVector<std::pair<int, int>> pieces;
        for (int bank : {0, 32, 64, 96}) {
            if (chip == tagfields::ChipPwm && bank == 64) {
                pieces.append({248, 1});
                break;
            }
            for (const auto& [offset, count] : {std::pair{0, 12}, {12, 12}, {24, 8}})
                pieces.append({bank + offset, count});
        }
        return pieces;
    }

    // A Read in flight with `done` of its block reads answered.
    void readUpTo(uint8_t chip, int done)
    {
        TagEngine& e = engine();
        e.startRead();
        stepUntilSent();
        feed(inventoryReply(chip));
        const QVector<std::pair<int, int>> pieces = readPieces(chip);
        for (int i = 0; i < done && i < pieces.size(); ++i) {
            stepUntilSent();
            feed(readReply(pieces.at(i).first, pieces.at(i).second));
        }
        stepUntilSent();
    }

    void prepare(Reader reader, uint8_t selector, uint8_t variant)
    {
        m_reader = reader;
        fresh();
        TagEngine& e = engine();
        restoreDocument();
        e.setChinese((selector & 0x10) != 0);
        const auto state = static_cast<State>((selector & 0x0F) % static_cast<int>(State::Count));
        const uint8_t chip = chipOf(variant);
        const uint8_t rest = variant >> 2;
        // A few inputs arrive with no reader chosen, as after the dialog was cancelled:
        // nothing the engine sends goes out, so nothing waits for a reply.
        if ((selector & 0xE0) == 0xE0)
            return;
        e.connectReader(ReaderType(static_cast<uint8_t>(reader)));
        // The tag on the reader, known from an inventory.
        e.Control_RW(SeqCode::Read, 7);
        stepUntilSent();
        feed(inventoryReply(chip));
        e.Control_RW(0, 0);

        const int pieces = readPieces(chip).size();
        switch (state) {
        case State::Idle:
            break;
        case State::ReadInventoryOut:
            e.startRead();
            stepUntilSent();
            break;
        case State::ReadMid:
            readUpTo(chip, std::min((rest & 3) * 3 + (rest >> 2) % 3, pieces - 2));
            break;
        case State::ReadLastOut:
            readUpTo(chip, pieces - 1);
            break;
        case State::ModelReadOut:
            e.toggleAutoWrite();
            autoWritePass(); // no tag known yet: the loop's inventory
            feed(inventoryReply(chip));
            autoWritePass(); // a new tag: its model-name read
            stepUntilSent();
            break;
        case State::WriteMid:
        case State::WriteLastOut: {
            const bool autoWrite = rest & 0x10;
            const bool pwm = chip == tagfields::ChipPwm;
            e.Control_RW(autoWrite ? SeqCode::WriteAll : SeqCode::WriteDrive, 0);
            e.Select_Auto_Write(autoWrite ? (pwm ? 2 : 1) : (pwm ? 4 : 1));
            const int commands = pwm && !autoWrite ? 9 : 8;
            const int done =
                state == State::WriteMid ? (rest & 1) * 4 + ((rest >> 1) & 3) : commands - 1;
            for (int i = 0; i < done; ++i) {
                stepUntilSent();
                feed(writeReply());
            }
            stepUntilSent();
            break;
        }
        case State::AutoScanPolling:
            e.toggleAutoWrite();
            autoWritePass();
            break;
        case State::AutoScanBatch:
            e.toggleAutoWrite();
            autoWritePass();
            feed(inventoryReply(chip, 3));
            if (rest & 1) {
                autoWritePass(); // the first tag's model-name read
                stepUntilSent();
            }
            break;
        case State::Password:
            if (rest & 1) {
                e.Control_RW(SeqCode::WriteDrive, 0);
                e.Select_Auto_Write(3); // Set_Current: password 1, then block 66
            } else {
                e.Control_RW(SeqCode::WriteWithPasswords, 0);
                if (WriteOperation* w = dynamic_cast<WriteOperation*>(e.operation())) {
                    w->send_cnt = 4;
                    w->set_current_block = 64;
                }
            }
            stepUntilSent();
            break;
        case State::Beeping:
            if (rest & 2)
                e.toggleAutoWrite();
            e.Start_Beep(static_cast<uint8_t>(1 + (rest & 1)));
            for (int i = 0; i < (rest >> 2) * 25; ++i)
                e.TIMER0_HANDLE();
            break;
        case State::ReadDriveInfo:
            e.Control_RW(SeqCode::ReadDrive, 3);
            stepUntilSent();
            break;
        case State::Count:
            break;
        }
    }

    // The data the running read (or a write's read-back) has collected.
    static QByteArray readData(const TagEngine& e)
    {
        if (const auto* read = dynamic_cast<const ReadOperation*>(e.operation()))
            return read->read_data;
        if (const auto* write = dynamic_cast<const WriteOperation*>(e.operation()))
            return write->read_data;
        return {};
    }

    void checkAfterReply(const TagImage& before, int fed, QStringList* failures)
    {
        TagEngine& e = engine();
        const TagImage& after = TestAccess::image(e);
        const auto* read = dynamic_cast<const ReadOperation*>(e.operation());
        if (!sameImage(before, after)) {
            if (m_last_tip != kTipReadOk) {
                *failures << QStringLiteral("the image changed without a completed read");
            } else if (read && (read->readcnt == 7 || read->readcnt == 12) &&
                       bytesOf(after.image_legacy, 0, 256) != read->read_data.left(256)) {
                *failures << QStringLiteral("the image does not hold the data read");
            }
        }
        if (readData(e).size() > fed)
            *failures << QStringLiteral("more read data than reply bytes");
    }

    void checkCounters(QStringList* failures)
    {
        TagEngine& e = engine();
        if (const auto* r = dynamic_cast<const ReadOperation*>(e.operation())) {
            if (r->read_bank_step > 5 || r->block_step > 7)
                *failures << QStringLiteral("step counter out of range: read %1/%2")
                                 .arg(r->read_bank_step)
                                 .arg(r->block_step);
        }
        if (const auto* w = dynamic_cast<const WriteOperation*>(e.operation())) {
            if (w->write_bank_step > 5 || w->write_part_step > 4 || w->passwords.block_step > 7 ||
                w->passwords.config_step_saved > 7)
                *failures << QStringLiteral(
                                 "step counter out of range: write %1/%2 password %3 saved %4")
                                 .arg(w->write_bank_step)
                                 .arg(w->write_part_step)
                                 .arg(w->passwords.block_step)
                                 .arg(w->passwords.config_step_saved);
        }
        if (m_last_tip > kLastTipCode)
            *failures << QStringLiteral("tip code out of range");
        const Beeper& beeper = e.beeper();
        if (beeper.beep_pattern > 2 || beeper.beep_step > 2 || beeper.beep_twice_step > 2)
            *failures << QStringLiteral("beeper state out of range");
    }

    std::unique_ptr<QCoreApplication> m_app;
    ReaderField m_field;
    SimR321 m_r321{&m_field};
    SimFeig m_feig{&m_field};
    std::unique_ptr<TagEngine> m_engine;
    Reader m_reader = Reader::R321;
    replies::R321CrcCheck m_crc; // the one a link would keep, for inputs without one
    TagImage m_baseline;
    QByteArray m_memory;
    uint8_t m_last_tip = 0;
    int m_warnings = 0;
    int m_loads = 0;
};

} // namespace fuzzharness
