// Writes the seed corpora of the fuzz targets: real replies of the simulated readers to
// the engine's own requests, put in front of the engine states they answer, and the
// demo drivers as configuration files.
//
//   makecorpus <directory>   creates <directory>/<target>/<name> files
#include "fuzz/fuzzstates.h"
#include "readers/myfeigusb.h"
#include "readers/r321frames.h"
#include "readers/sim/demodrivers.h"
#include "readers/sim/readerfield.h"
#include "readers/sim/simfeig.h"
#include "readers/sim/simr321.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <cstdio>

using fuzzharness::kChipP;
using fuzzharness::kChipPwm;
using fuzzharness::kPauseFlag;
using fuzzharness::State;
using fuzzharness::variantByte;

namespace
{

const QByteArray kZeroPassword(8, '\0');
const QByteArray kFixedPassword = QByteArray::fromHex("7130458269154038");

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

// One fuzz input: the state byte, its variant, then the frames with their headers.
QByteArray input(State state, uint8_t variant, const QList<QByteArray>& frames, bool pause = false)
{
    QByteArray out;
    out.append(static_cast<char>(state));
    out.append(static_cast<char>(variant));
    for (const QByteArray& f : frames) {
        const int len = std::min(f.size(), 0x7F);
        out.append(static_cast<char>(len | (pause ? kPauseFlag : 0)));
        out.append(f.left(len));
    }
    return out;
}

// The simulated R321 answering from its own field, without the HID threads.
class R321Source
{
  public:
    R321Source() : m_reader(&m_field) { m_reader.open(SimR321::defaultInterface().path); }
    ReaderField& field() { return m_field; }

    QByteArray exchange(const QByteArray& frame)
    {
        QByteArray report(1, '\0');
        report += r321::fitted(frame, SimR321::ReportSize);
        m_reader.write(report);
        QByteArray reply;
        return m_reader.read(&reply, 200) > 0 ? reply : QByteArray();
    }

  private:
    ReaderField m_field;
    SimR321 m_reader;
};

// The simulated FEIG reader, called the way the worker calls it.
class FeigSource
{
  public:
    FeigSource() : m_reader(&m_field) { m_handle = m_reader.ScanAndOpen(1, nullptr); }
    ReaderField& field() { return m_field; }

    QByteArray exchange(QByteArray frame)
    {
        QByteArray rx(400, '\0');
        char iface[] = "OBID-RCI2";
        const int n = m_reader.Transceive(
            m_handle, iface, 0, reinterpret_cast<unsigned char*>(frame.data()), frame.size(),
            reinterpret_cast<unsigned char*>(rx.data()), rx.size());
        return n > 0 ? rx.left(n) : QByteArray();
    }

  private:
    ReaderField m_field;
    SimFeig m_reader;
    int m_handle = 0;
};

// Reply frames of one reader for every command the engine sends.
struct Replies {
    QByteArray inventory, inventoryNoTag, inventoryThree;
    QList<QByteArray> readP;   // the 12 reads of a 'P' tag
    QList<QByteArray> readPwm; // the 6 reads of a PWM tag's product area and block 248
    QByteArray readModel, readFailed;
    QByteArray write, writeFailed;
    QByteArray presentOk, presentRefused, writeConfig, writePassword;
    QByteArray beeperOn, beeperOff;
};

template <typename Source, typename Build> Replies collect(const Build& build)
{
    Replies r;
    Source src;
    auto p = demodrivers::makeTag(demodrivers::Kind::Dt8, 3);
    src.field().layTag(p);
    r.inventory = src.exchange(build.inventory());
    for (int bank : {0, 32, 64, 96})
        for (auto [off, n] : {std::pair{0, 12}, {12, 12}, {24, 8}})
            r.readP << src.exchange(build.read(p, bank + off, n));
    r.readModel = src.exchange(build.read(p, 48, 9));
    r.write = src.exchange(build.write(p, 64, 10));
    r.presentOk = src.exchange(build.present(p, 0, kZeroPassword));
    r.presentRefused = src.exchange(build.present(p, 0, kFixedPassword));
    r.writeConfig = src.exchange(build.writeConfig(p));
    r.writePassword = src.exchange(build.writePassword(p, 0));
    r.beeperOn = src.exchange(build.beeper(1));
    r.beeperOff = src.exchange(build.beeper(0));
    r.readFailed = src.exchange(build.read(p, 200, 4)); // no such block

    src.field().clear();
    auto pwm = demodrivers::makeTag(demodrivers::Kind::Pwm, 4);
    src.field().layTag(pwm);
    for (int bank : {0, 32})
        for (auto [off, n] : {std::pair{0, 12}, {12, 12}, {24, 8}})
            r.readPwm << src.exchange(build.read(pwm, bank + off, n));
    r.readPwm << src.exchange(build.read(pwm, 248, 1));

    src.field().clear();
    r.inventoryNoTag = src.exchange(build.inventory());
    r.writeFailed = src.exchange(build.write(p, 64, 10));
    for (quint64 serial : {5, 6, 7})
        src.field().layTag(demodrivers::makeTag(demodrivers::Kind::Dt6, serial));
    r.inventoryThree = src.exchange(build.inventory());
    return r;
}

struct R321Build {
    static QByteArray uid(const std::shared_ptr<VirtualTag>& t) { return t->uidLsbFirst(); }
    QByteArray inventory() const { return r321::Cmd_Inventory(); }
    QByteArray read(const std::shared_ptr<VirtualTag>& t, int block, int n) const
    {
        return r321::Cmd_ReadBlocks(uid(t), static_cast<uint8_t>(block), static_cast<uint8_t>(n));
    }
    QByteArray write(const std::shared_ptr<VirtualTag>& t, int block, int n) const
    {
        return r321::Cmd_WriteBlocks(uid(t), static_cast<uint8_t>(block),
                                     t->memory().mid(block * 4, n * 4), static_cast<uint8_t>(n));
    }
    QByteArray present(const std::shared_ptr<VirtualTag>& t, uint8_t number,
                       const QByteArray& pwd) const
    {
        const QByteArray params = char(number) + pwd;
        return r321::Cmd_Transparent(uid(t), 0xB3, params, params.size());
    }
    QByteArray writePassword(const std::shared_ptr<VirtualTag>& t, uint8_t number) const
    {
        const QByteArray params = char(number) + kFixedPassword;
        return r321::Cmd_Transparent(uid(t), 0xB1, params, params.size());
    }
    QByteArray writeConfig(const std::shared_ptr<VirtualTag>& t) const
    {
        return r321::Cmd_Transparent(uid(t), 0xA1, QByteArray::fromHex("0405"), 2);
    }
    QByteArray beeper(uint8_t on) const
    {
        QByteArray record(8, '\0');
        record[1] = static_cast<char>(on);
        return r321::Cmd_Raw(record, record.size());
    }
};

struct FeigBuild {
    MyFeigUsb feig;
    QByteArray inventory() const { return feig.Feig_Inventory(); }
    QByteArray read(const std::shared_ptr<VirtualTag>& t, int block, int n) const
    {
        return feig.Feig_ReadBlocks(t->uidMsbFirst(), static_cast<uint8_t>(block),
                                    static_cast<uint8_t>(n));
    }
    QByteArray write(const std::shared_ptr<VirtualTag>& t, int block, int n) const
    {
        QByteArray data = t->memory().mid(block * 4, n * 4);
        for (int i = 0; i + 4 <= data.size(); i += 4)
            std::reverse(data.begin() + i, data.begin() + i + 4);
        return feig.Feig_WriteBlocks(t->uidMsbFirst(), static_cast<uint8_t>(block),
                                     static_cast<uint8_t>(n), data, data.size());
    }
    QByteArray present(const std::shared_ptr<VirtualTag>& t, uint8_t number,
                       const QByteArray& pwd) const
    {
        return feig.Feig_PresentPassword(t->uidLsbFirst(), number, pwd);
    }
    QByteArray writePassword(const std::shared_ptr<VirtualTag>& t, uint8_t number) const
    {
        return feig.Feig_WritePassword(t->uidLsbFirst(), number, kFixedPassword);
    }
    QByteArray writeConfig(const std::shared_ptr<VirtualTag>& t) const
    {
        return feig.Feig_WriteConfig(t->uidLsbFirst(), 5);
    }
    QByteArray beeper(uint8_t on) const { return feig.Feig_SetOutput(on); }
};

// The reply corpus: each reply in front of the state that waits for it.
bool writeReplyCorpus(const QString& dir, const Replies& r)
{
    QDir().mkpath(dir);
    QList<std::pair<QString, QByteArray>> seeds;
    const uint8_t p = variantByte(kChipP, 0);
    const uint8_t pwm = variantByte(kChipPwm, 0);
    QList<QByteArray> fullRead{r.inventory};
    fullRead += r.readP;
    seeds << std::pair{QStringLiteral("read_whole_p_tag"),
                       input(State::ReadInventoryOut, p, fullRead)};
    QList<QByteArray> pwmRead{r.inventory};
    pwmRead += r.readPwm;
    seeds << std::pair{QStringLiteral("read_whole_pwm_tag"),
                       input(State::ReadInventoryOut, pwm, pwmRead)};
    seeds << std::pair{QStringLiteral("inventory"),
                       input(State::ReadInventoryOut, p, {r.inventory})};
    seeds << std::pair{QStringLiteral("inventory_no_tag"),
                       input(State::ReadInventoryOut, p, {r.inventoryNoTag}, true)};
    seeds << std::pair{QStringLiteral("inventory_three_tags"),
                       input(State::ReadInventoryOut, p, {r.inventoryThree})};
    seeds << std::pair{QStringLiteral("read_mid"), input(State::ReadMid, p, {r.readP.at(3)})};
    seeds << std::pair{QStringLiteral("read_failed"),
                       input(State::ReadMid, p, {r.readFailed}, true)};
    seeds << std::pair{QStringLiteral("read_last_p"),
                       input(State::ReadLastOut, p, {r.readP.last()})};
    seeds << std::pair{QStringLiteral("read_last_pwm"),
                       input(State::ReadLastOut, pwm, {r.readPwm.last()})};
    seeds << std::pair{QStringLiteral("read_model"),
                       input(State::ModelReadOut, p, {r.readModel}, true)};
    seeds << std::pair{
        QStringLiteral("read_drive_info"),
        input(State::ReadDriveInfo, p, {r.readP.at(6), r.readP.at(7), r.readP.at(8)})};
    seeds << std::pair{QStringLiteral("write_mid"), input(State::WriteMid, p, {r.write, r.write})};
    seeds << std::pair{QStringLiteral("write_last"),
                       input(State::WriteLastOut, p, {r.write}, true)};
    seeds << std::pair{QStringLiteral("write_failed"),
                       input(State::WriteMid, p, {r.writeFailed}, true)};
    seeds << std::pair{QStringLiteral("write_auto_pwm"),
                       input(State::WriteMid, variantByte(kChipPwm, 0x10), {r.write})};
    seeds << std::pair{QStringLiteral("autoscan_inventory"),
                       input(State::AutoScanPolling, p, {r.inventory, r.readModel}, true)};
    seeds << std::pair{QStringLiteral("autoscan_no_tag"),
                       input(State::AutoScanPolling, p, {r.inventoryNoTag}, true)};
    seeds << std::pair{QStringLiteral("autoscan_three_tags"),
                       input(State::AutoScanPolling, p, {r.inventoryThree}, true)};
    seeds << std::pair{
        QStringLiteral("autoscan_batch_beeper"),
        input(State::AutoScanBatch, variantByte(kChipP, 0x04), {r.beeperOff, r.beeperOff}, true)};
    seeds << std::pair{QStringLiteral("password_present_ok"),
                       input(State::Password, variantByte(kChipP, 1),
                             {r.presentOk, r.writeConfig, r.writePassword})};
    seeds << std::pair{QStringLiteral("password_present_refused"),
                       input(State::Password, variantByte(kChipP, 1), {r.presentRefused})};
    seeds << std::pair{
        QStringLiteral("password_write_pending"),
        input(State::Password, variantByte(kChipP, 0x08 | 0x10 | 4), {r.writePassword})};
    seeds << std::pair{QStringLiteral("beeper_single"),
                       input(State::Beeping, p, {r.beeperOn, r.beeperOff}, true)};
    seeds << std::pair{
        QStringLiteral("beeper_double_autoscan"),
        input(State::Beeping, variantByte(kChipP, 0x03), {r.beeperOn, r.beeperOff}, true)};
    seeds << std::pair{QStringLiteral("idle_reply"), input(State::Idle, p, {r.readP.first()})};
    bool ok = true;
    for (const auto& [name, bytes] : seeds)
        ok = writeFile(dir + QLatin1Char('/') + name, bytes) && ok;
    return ok;
}

bool writeConfigCorpus(const QString& dir)
{
    QDir().mkpath(dir);
    bool ok = true;
    for (const demodrivers::Info& info : demodrivers::all()) {
        const QString name =
            info.name.toLower().replace(QRegExp(QStringLiteral("[^a-z0-9]+")), QStringLiteral("_"));
        ok = writeFile(dir + QStringLiteral("/driver_") + name, demodrivers::memory(info.kind)) &&
             ok;
    }
    // A layout-2 DT8 file whose constant-lumen times need repair (point 0 not at 0, and
    // an enable byte that is neither 0xAA nor 0), one that is too long, and one that is
    // too short.
    QByteArray dt8 = demodrivers::memory(demodrivers::Kind::Dt8);
    QByteArray bent = dt8;
    bent[267] = char(5);
    bent[284] = char(5);
    ok = writeFile(dir + QStringLiteral("/clo_times_repaired"), bent) && ok;
    ok = writeFile(dir + QStringLiteral("/longer_than_image"), dt8 + QByteArray(100, '\x5A')) && ok;
    ok = writeFile(dir + QStringLiteral("/shorter_than_image"), dt8.left(300)) && ok;
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: makecorpus <directory>\n");
        return 2;
    }
    const QString root = QString::fromLocal8Bit(argv[1]);
    bool ok = writeReplyCorpus(root + QStringLiteral("/fuzz_r321_reply"),
                               collect<R321Source>(R321Build{}));
    const FeigBuild feig;
    ok = writeReplyCorpus(root + QStringLiteral("/fuzz_feig_reply"), collect<FeigSource>(feig)) &&
         ok;
    ok = writeConfigCorpus(root + QStringLiteral("/fuzz_config_open")) && ok;
    return ok ? 0 : 1;
}
