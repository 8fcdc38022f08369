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

// Reaches the window's private engine state; the window declares it a friend.
struct VantoryProbe {
    static CommandState& cmd(Vantory& w) { return w.m_engine->m_cmd; }
    static TagImage& image(Vantory& w) { return w.m_image; }
    static void stopTimers(Vantory& w)
    {
        w.m_engine->cmd_timer->stop();
        w.m_engine->m_tick_parked = false;
        w.clock_timer->stop();
    }
    static void tick(Vantory& w) { w.m_engine->TIMER0_HANDLE(); }
    static void clock(Vantory& w) { w.SetTime(); }
    static void r321Rx(Vantory& w, const QByteArray& rx) { w.m_engine->in_hidDevReceive_usbDebug(rx); }
    static void feigRx(Vantory& w, const QByteArray& rx) { w.m_engine->in_FeigDevReceive_Debug(rx); }
    static void openConfig(Vantory& w) { w.on_actionOpen_BIN_configure_triggered(); }
    static void saveConfig(Vantory& w) { w.on_actionSave_BIN_configure_triggered(); }
    static void controlRw(Vantory& w, uint8_t type, uint8_t readcnt)
    {
        w.m_engine->Control_RW(type, readcnt);
    }
    static void selectAutoWrite(Vantory& w, uint8_t index) { w.m_engine->Select_Auto_Write(index); }
    static void startBeep(Vantory& w, uint8_t n) { w.m_engine->Start_Beep(n); }
    static void refreshPanels(Vantory& w)
    {
        w.Update_Bank_Buff();
        w.Update_Product_Info();
        w.Update_Drive_Info();
    }
    static void commandSent(Vantory& w, replies::Kind kind) { w.m_engine->m_reply_guard.commandSent(kind); }
    static uint8_t& readerType(Vantory& w) { return w.m_engine->reader_type; }
    static uint8_t& langCn(Vantory& w) { return w.lang_cn; }
    static uint8_t& chipCode(Vantory& w) { return w.m_engine->chip_code; }
    static uint8_t& lastTip(Vantory& w) { return w.last_tip; }
    static uint8_t& autoMode(Vantory& w) { return w.m_engine->auto_mode; }
    static uint8_t& autoScan(Vantory& w) { return w.m_engine->auto_scan; }
    static uint8_t& scanRequest(Vantory& w) { return w.m_engine->scan_request; }
    static uint8_t& manualRead(Vantory& w) { return w.m_engine->manual_read; }
    static uint8_t& suppressSuccessBeep(Vantory& w) { return w.m_engine->suppress_success_beep; }
    static uint8_t& tagCount(Vantory& w) { return w.m_engine->tag_count; }
    static uint8_t& foundCount(Vantory& w) { return w.m_engine->found_count; }
    static uint8_t& tagIndex(Vantory& w) { return w.m_engine->tag_index; }
    static QByteArray& inventoryReply(Vantory& w) { return w.m_engine->inventory_reply; }
    static QVector<QByteArray>& scanUids(Vantory& w) { return w.m_engine->m_scan_uids; }
    static std::array<uint8_t, 8>& uid(Vantory& w) { return w.m_engine->uid; }
    static std::array<uint8_t, 8>& uidReversed(Vantory& w) { return w.m_engine->uid_reversed; }
    static std::array<uint8_t, 8>& lastUid(Vantory& w) { return w.m_engine->last_uid; }
    static uint8_t& pwdWritePending(Vantory& w) { return w.m_engine->pwd_write_pending; }
    static uint8_t& configWritePending(Vantory& w) { return w.m_engine->config_write_pending; }
    static uint8_t beepPattern(Vantory& w) { return w.m_engine->beep_pattern; }
    static uint8_t beepStep(Vantory& w) { return w.m_engine->beep_step; }
    static uint8_t beepTwiceStep(Vantory& w) { return w.m_engine->beep_twice_step; }

    // Puts every piece of engine state back to its start-up value.
    static void resetEngine(Vantory& w)
    {
        w.m_engine->m_cmd = CommandState{};
        w.m_engine->chip_code = 0x50;
        w.m_engine->manual_read = 0;
        w.m_engine->model_snapshot.fill(0);
        w.m_engine->last_rx.clear();
        w.m_engine->uid.fill(0);
        w.m_engine->uid_reversed.fill(0);
        w.m_engine->tag_count = 0;
        w.m_engine->found_count = 0;
        w.m_engine->tag_index = 0;
        w.m_engine->inventory_reply.clear();
        w.m_engine->auto_write_index = 1;
        w.m_engine->tag_model.fill(0);
        w.m_engine->model_ready = 0;
        w.m_engine->pwd_first_failed = 0;
        w.m_engine->config_write_pending = 0;
        w.m_engine->pwd_write_pending = 0;
        w.m_engine->auto_mode = 0;
        w.m_engine->auto_scan = 0;
        w.m_engine->scan_request = 0;
        w.m_engine->last_uid.fill(0);
        w.m_engine->special_addr = 48;
        w.m_engine->special_num = 9;
        w.m_engine->model_offset = 3;
        w.m_engine->model_len = 32;
        w.m_engine->suppress_success_beep = 0;
        w.m_engine->beep_pattern = 0;
        w.m_engine->beep_ticks = 0;
        w.m_engine->beep_step = 0;
        w.m_engine->beep_twice_step = 0;
        w.m_engine->beep_cmd.fill(0);
        w.m_engine->m_reply_timer->stop();
        w.m_engine->m_feig_outstanding = 0;
        w.m_engine->m_r321_crc.reset(); // as on a fresh connection
        w.m_engine->m_handled_tags.clear();
        w.m_engine->m_scan_uids.clear();
        w.m_engine->m_reply_guard.reset();
        w.m_engine->m_last_send_ok = false;
        w.m_engine->m_beep_failure_reported = false;
        w.last_tip = 0;
    }
};

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
        VantoryProbe::stopTimers(w);
        VantoryProbe::clock(w); // the first clock pass puts the start lumen table in place

        // A complete driver in the window, as after a read.
        const QByteArray memory = demodrivers::memory(demodrivers::Kind::Dt8);
        TagImage& image = VantoryProbe::image(w);
        std::copy_n(memory.constBegin(), TagImage::Size, image.image_v2.begin());
        std::copy_n(memory.constBegin(), TagImage::Size, image.image_legacy.begin());
        VantoryProbe::refreshPanels(w);
        m_baseline = image;
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
        int fed = VantoryProbe::cmd(w).read_data.size();

        int pos = 2;
        while (pos < input.size()) {
            const uint8_t header = static_cast<uint8_t>(input.at(pos++));
            const int len = std::min<int>(header & 0x7F, input.size() - pos);
            const QByteArray frame = input.mid(pos, len);
            pos += len;
            fed += frame.size();

            const TagImage before = VantoryProbe::image(w);
            VantoryProbe::lastTip(w) = 0;
            if (reader == Reader::R321)
                VantoryProbe::r321Rx(w, frame);
            else
                VantoryProbe::feigRx(w, frame);
            if (tamper)
                tamper(w);
            checkAfterReply(before, fed, &failures);

            // The ticks that follow a reply: the sequence goes on (its commands go to a
            // link that never answers) and the beeper runs.
            const TagImage beforeTicks = VantoryProbe::image(w);
            const int ticks = (header & kPauseFlag) ? 310 : 3;
            for (int i = 0; i < ticks; ++i)
                VantoryProbe::tick(w);
            if (!sameImage(beforeTicks, VantoryProbe::image(w)))
                failures << QStringLiteral("the image changed on a tick");
            if (header & kPauseFlag) {
                const TagImage beforeClock = VantoryProbe::image(w);
                VantoryProbe::lastTip(w) = 0;
                VantoryProbe::clock(w);
                if (!sameImage(beforeClock, VantoryProbe::image(w)) &&
                    VantoryProbe::lastTip(w) != kTipOpenScan)
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
        VantoryProbe::resetEngine(w);
        VantoryProbe::image(w) = m_baseline;
        VantoryProbe::refreshPanels(w);
        const TagImage before = VantoryProbe::image(w);

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
        VantoryProbe::openConfig(w);
        if (tamper)
            tamper(w);
        const TagImage& after = VantoryProbe::image(w);

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
            VantoryProbe::saveConfig(w);
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
        if (VantoryProbe::readerType(w) == static_cast<uint8_t>(Reader::Feig))
            std::reverse(id.begin(), id.end());
        VantoryProbe::uid(w) = id;
        std::array<uint8_t, 8> rev = id;
        std::reverse(rev.begin(), rev.end());
        VantoryProbe::uidReversed(w) = rev;
        VantoryProbe::chipCode(w) = chip;
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
        VantoryProbe::resetEngine(w);
        VantoryProbe::image(w) = m_baseline;
        // A few inputs arrive with no reader chosen, as after the dialog was cancelled.
        VantoryProbe::readerType(w) = (selector & 0xE0) == 0xE0 ? 0 : static_cast<uint8_t>(reader);
        VantoryProbe::langCn(w) = (selector & 0x10) ? 1 : 0;
        CommandState& c = VantoryProbe::cmd(w);
        const auto state = static_cast<State>((selector & 0x0F) % static_cast<int>(State::Count));
        const uint8_t chip = chipOf(variant);
        const uint8_t rest = variant >> 2;
        setUid(chip);

        switch (state) {
        case State::Idle:
            break;
        case State::ReadInventoryOut:
            VantoryProbe::controlRw(w, SeqCode::Read, 7);
            VantoryProbe::manualRead(w) = 1;
            VantoryProbe::tick(w);
            break;
        case State::ReadMid: {
            VantoryProbe::controlRw(w, SeqCode::Read, chip == 0x38 ? 7 : 12);
            VantoryProbe::manualRead(w) = 1;
            c.read_bank_step = static_cast<uint8_t>(2 + (rest & 3));
            c.block_step = static_cast<uint8_t>(1 + (rest >> 2) % 3);
            const int done = (c.read_bank_step - 2) * 3 + (c.block_step - 1);
            c.reply_cnt = static_cast<uint8_t>(done);
            c.read_data = m_memory.left(done / 3 * 128 + (done % 3) * 48);
            c.send_enable = 0;
            VantoryProbe::commandSent(w, replies::Kind::ReadBlocks);
            break;
        }
        case State::ReadLastOut: {
            const uint8_t readcnt = chip == 0x38 ? 7 : 12;
            VantoryProbe::controlRw(w, SeqCode::Read, readcnt);
            VantoryProbe::manualRead(w) = 1;
            c.read_bank_step = chip == 0x38 ? 4 : 5;
            c.block_step = 3;
            c.reply_cnt = static_cast<uint8_t>(readcnt - 1);
            c.read_data = m_memory.left(chip == 0x38 ? 256 : 512 - 32);
            c.cmd_type = 0;
            c.send_enable = 0;
            VantoryProbe::commandSent(w, replies::Kind::ReadBlocks);
            break;
        }
        case State::ModelReadOut:
            VantoryProbe::autoMode(w) = 1;
            VantoryProbe::autoScan(w) = 1;
            VantoryProbe::tagCount(w) = 1;
            VantoryProbe::foundCount(w) = 1;
            VantoryProbe::controlRw(w, SeqCode::ReadModel, 1);
            VantoryProbe::suppressSuccessBeep(w) = 1;
            VantoryProbe::tick(w);
            break;
        case State::WriteMid:
        case State::WriteLastOut: {
            const bool autoWrite = rest & 0x10;
            VantoryProbe::controlRw(w, autoWrite ? SeqCode::WriteAll : SeqCode::WriteDrive, 0);
            if (autoWrite)
                VantoryProbe::selectAutoWrite(w, chip == 0x38 ? 2 : 1);
            else
                VantoryProbe::selectAutoWrite(w, chip == 0x38 ? 4 : 1);
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
            VantoryProbe::commandSent(w, replies::Kind::WriteBlocks);
            break;
        }
        case State::AutoScanPolling:
            VantoryProbe::autoMode(w) = 1;
            VantoryProbe::autoScan(w) = 1;
            VantoryProbe::scanRequest(w) = 1;
            VantoryProbe::uid(w).fill(0);
            VantoryProbe::clock(w);
            break;
        case State::AutoScanBatch: {
            VantoryProbe::autoMode(w) = 1;
            VantoryProbe::autoScan(w) = 1;
            VantoryProbe::scanRequest(w) = (rest & 1) ? 1 : 0;
            QByteArray records;
            QVector<QByteArray> uids;
            for (uint8_t t = 0; t < 3; ++t) {
                QByteArray id =
                    QByteArray::fromHex("0102030405") + char(chip) + char(0x02) + char(0xE0);
                id[0] = static_cast<char>(0x10 + t);
                uids << id;
                records += id + char(0); // UID, DSFID
            }
            VantoryProbe::inventoryReply(w) = SimR321::buildReply(0x11, 0, records);
            VantoryProbe::scanUids(w) = uids;
            const uint8_t index = (rest >> 2) & 3;
            VantoryProbe::tagCount(w) = static_cast<uint8_t>(3 - index);
            VantoryProbe::foundCount(w) = 3;
            VantoryProbe::tagIndex(w) = index;
            if (rest & 2)
                VantoryProbe::lastUid(w) = VantoryProbe::uid(w);
            break;
        }
        case State::Password:
            VantoryProbe::controlRw(w, SeqCode::SetCurrent, 0);
            VantoryProbe::selectAutoWrite(w, 3);
            c.block_step = static_cast<uint8_t>(rest & 7);
            c.config_step_saved = static_cast<uint8_t>(5 + ((rest >> 5) & 1));
            VantoryProbe::pwdWritePending(w) = (rest & 0x08) ? 1 : 0;
            VantoryProbe::configWritePending(w) = (rest & 0x10) ? 1 : 0;
            VantoryProbe::tick(w);
            break;
        case State::Beeping:
            VantoryProbe::autoScan(w) = (rest & 2) ? 1 : 0;
            VantoryProbe::tagCount(w) = 1;
            VantoryProbe::foundCount(w) = 1;
            VantoryProbe::startBeep(w, static_cast<uint8_t>(1 + (rest & 1)));
            for (int i = 0; i < (rest >> 2) * 25; ++i)
                VantoryProbe::tick(w);
            break;
        case State::ReadDriveInfo:
            VantoryProbe::controlRw(w, SeqCode::ReadDrive, 3);
            VantoryProbe::tick(w);
            break;
        case State::Count:
            break;
        }
    }

    void checkAfterReply(const TagImage& before, int fed, QStringList* failures)
    {
        Vantory& w = win();
        const TagImage& after = VantoryProbe::image(w);
        const CommandState& c = VantoryProbe::cmd(w);
        if (!sameImage(before, after)) {
            if (VantoryProbe::lastTip(w) != kTipReadOk) {
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
        const CommandState& c = VantoryProbe::cmd(w);
        if (c.read_bank_step > 5 || c.block_step > 7 || c.write_part_step > 4 ||
            c.write_bank_step > 5 || c.config_step_saved > 7)
            *failures << QStringLiteral(
                             "step counter out of range: read %1/%2 write %3/%4 saved %5")
                             .arg(c.read_bank_step)
                             .arg(c.block_step)
                             .arg(c.write_bank_step)
                             .arg(c.write_part_step)
                             .arg(c.config_step_saved);
        if (VantoryProbe::lastTip(w) > kLastTipCode)
            *failures << QStringLiteral("tip code out of range");
        if (VantoryProbe::beepPattern(w) > 2 || VantoryProbe::beepStep(w) > 2 ||
            VantoryProbe::beepTwiceStep(w) > 2)
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
