#pragma once

#include "cli/recordcommands.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>
#include <QStringList>
#include <QVector>

// vantory-cli's commands and options: which command takes which option, and the help.
namespace cli
{

struct Environment;

// Options beyond --simulate and --help; each command accepts those in its mask. A new
// option: a bit here, its entry in Parsed::table(), and the bit in the commands that take it.
enum OptionBit : unsigned {
    OptReader = 1u << 0,
    OptOutput = 1u << 1,
    OptJson = 1u << 2,
    OptCurrent = 1u << 3,
    OptCount = 1u << 4,
    OptQuiet = 1u << 5,
    OptFault = 1u << 6,
    OptRecordDb = 1u << 7,
    OptRecordDir = 1u << 8,
    OptSince = 1u << 9,
    OptUntil = 1u << 10,
    OptStation = 1u << 11,
    OptNoVerify = 1u << 12,
    OptPace = 1u << 13,
};

struct Command {
    QString name;
    QString summary;
    QString usage;
    unsigned options;
};

/// Every command in the order the help lists them.
const QVector<Command>& commands();

// Faults --simulate-fault lays on the simulated readers, each as the real one shows.
enum class Fault { None, NoTag, WriteFails, ReaderLost, OtherModel, VerifyFails };

struct FaultKind {
    QString name;
    Fault fault;
};

/// The faults --simulate-fault knows.
const QVector<FaultKind>& faultKinds();

/// The readers --reader names.
extern const QStringList kReaderNames;

struct Parsed {
    QCommandLineParser parser;
    QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")},
                            QStringLiteral("Show this help.")};
    QCommandLineOption version{QStringLiteral("version"),
                               QStringLiteral("Show the program's version.")};
    QCommandLineOption simulate{QStringLiteral("simulate"),
                                QStringLiteral("Use the built-in simulated readers.")};
    QCommandLineOption verbose{QStringLiteral("verbose"),
                               QStringLiteral("Also print the program's traces.")};
    QCommandLineOption reader{QStringLiteral("reader"),
                              QStringLiteral("The reader: r321 or feig (default: the first "
                                             "that answers, R321 first)."),
                              QStringLiteral("r321|feig")};
    QCommandLineOption device{QStringLiteral("device"),
                              QStringLiteral("The reader with this identity, as readers lists it."),
                              QStringLiteral("ID")};
    QCommandLineOption output{{QStringLiteral("o"), QStringLiteral("output")},
                              QStringLiteral("Save the tag image to FILE (512 bytes)."),
                              QStringLiteral("FILE")};
    QCommandLineOption json{QStringLiteral("json"), QStringLiteral("Print JSON.")};
    QCommandLineOption current{QStringLiteral("current"),
                               QStringLiteral("Set channel CH (1 to 3) to MA milliamperes, "
                                              "within the channel's range."),
                               QStringLiteral("CH=MA")};
    QCommandLineOption count{QStringLiteral("count"),
                             QStringLiteral("Stop after N drivers (default: until Ctrl-C)."),
                             QStringLiteral("N")};
    QCommandLineOption noVerify{QStringLiteral("no-verify"),
                                QStringLiteral("Do not read each write back to verify it.")};
    QCommandLineOption pace{QStringLiteral("pace"),
                            QStringLiteral("fast: at the reader's pace, writing only what "
                                           "differs; described: a pass every 300 ms."),
                            QStringLiteral("fast|described")};
    QCommandLineOption quiet{QStringLiteral("quiet"), QStringLiteral("Print no report.")};
    QCommandLineOption fault{QStringLiteral("simulate-fault"),
                             QStringLiteral("With --simulate: rehearse a fault."),
                             QStringLiteral("KIND")};
    RecordArgs record;
    /// The reader asked for, in lower case; empty: the first that answers.
    QString readerName;
    /// The identity --device names; empty: the first reader of the kind that is free.
    QString deviceId;
    Fault simulatedFault = Fault::None;

    struct Entry {
        OptionBit bit;
        const QCommandLineOption* option;
        const char* help;
    };
    QVector<Entry> table() const
    {
        return {
            {OptReader, &reader,
             "  --reader R          r321 or feig, any case (default: the first "
             "that answers)"},
            {OptReader, &device,
             "  --device ID         the reader with this identity, as readers lists it"},
            {OptOutput, &output,
             "  -o, --output F      save the 512-byte tag image to F; - is "
             "standard output\n"
             "                      (the report then goes to standard error)"},
            {OptJson, &json, "  --json              print JSON"},
            {OptQuiet, &quiet, "  --quiet             print no report"},
            {OptCurrent, &current, "  --current CH=MA     set channel CH (1-3) to MA first"},
            {OptCount, &count, "  --count N           stop after N drivers (1 to 2147483647)"},
            {OptFault, &fault,
             "  --simulate-fault K  with --simulate: no-tag, write-fails, "
             "reader-lost, other-model\n"
             "                      or verify-fails"},
            {OptNoVerify, &noVerify,
             "  --no-verify         do not read each write back to verify it"},
            {OptPace, &pace,
             "  --pace P            fast: at the reader's pace, writing only the blocks\n"
             "                      that differ; described: a pass every 300 ms (default:\n"
             "                      the window's Fast batch setting, else described)"},
            {OptRecordDb, &record.recordDb,
             "  --record-db C       the record server: a postgresql:// URI, keyword=value\n"
             "                      pairs or a service name (also VANTORY_RECORD_DB)"},
            {OptRecordDir, &record.recordDir,
             "  --record-dir DIR    the record folder, also with --simulate\n"
             "                      (also VANTORY_RECORD_DIR)"},
            {OptSince, &record.since, "  --since DATE        from this day on (YYYY-MM-DD)"},
            {OptUntil, &record.until, "  --until DATE        up to and with this day"},
            {OptStation, &record.station, "  --station NAME      only this station's lines"},
        };
    }
};

/// The program's help: the commands and the exit codes.
QString mainHelp();
/// One command's help: its usage and the options it takes.
QString commandHelp(const Parsed& p, const Command& command);
/// Reports bad arguments on standard error; returns BadArguments.
int badArguments(Environment& env, const QString& message);

} // namespace cli
