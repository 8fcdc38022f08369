#include "cli/options.h"

#include "cli/clirunner.h"

#include <QTextStream>

namespace cli
{

namespace
{

const QString kExitCodes = QStringLiteral(
    "Exit codes: 0 success, 1 other failure, 2 bad arguments, 3 no reader, 4 no tag,\n"
    "5 tag error or write refused, 6 other model, 7 bad configuration file.\n"
    "auto-write exits 0 only when every driver it handled was written; otherwise with the\n"
    "worst outcome of the batch: 3 reader lost, 5 a write failed, 6 other model.");

} // namespace

const QVector<Command>& commands()
{
    static const QVector<Command> list = {
        {QStringLiteral("readers"), QStringLiteral("List the readers that can be seen."),
         QStringLiteral("readers [--json]"), OptJson},
        {QStringLiteral("read"),
         QStringLiteral("Read the driver on the reader, print its data, save its image."),
         QStringLiteral("read [--reader r321|feig] [--device ID] [-o FILE.bin|-] [--json] [--quiet]"),
         OptReader | OptOutput | OptJson | OptQuiet | OptFault},
        {QStringLiteral("info"), QStringLiteral("Print the data of a configuration file."),
         QStringLiteral("info FILE.bin [--json]"), OptJson},
        {QStringLiteral("write"),
         QStringLiteral("Write a configuration file to the driver on the reader."),
         QStringLiteral("write FILE.bin [--reader r321|feig] [--device ID] [--current CH=MA]... [--json] "
                        "[--no-verify] [--record-db C] [--record-dir DIR]"),
         OptReader | OptCurrent | OptJson | OptFault | OptNoVerify | OptRecordDb | OptRecordDir},
        {QStringLiteral("auto-write"),
         QStringLiteral("Program every driver laid on the reader with a configuration file."),
         QStringLiteral("auto-write FILE.bin [--reader r321|feig] [--device ID] "
                        "[--current CH=MA]... [--count N] [--json] [--no-verify] "
                        "[--pace fast|described] [--record-db C] [--record-dir DIR]"),
         OptReader | OptCurrent | OptCount | OptJson | OptFault | OptNoVerify | OptPace |
             OptRecordDb | OptRecordDir},
        {QStringLiteral("history"),
         QStringLiteral("List every recorded operation on one driver, newest first."),
         QStringLiteral("history UID [--json] [--record-db C] [--record-dir DIR]"),
         OptJson | OptRecordDb | OptRecordDir},
        {QStringLiteral("record-setup"),
         QStringLiteral("Create or upgrade the record tables on the server (administrator)."),
         QStringLiteral("record-setup --record-db C"), OptRecordDb},
        {QStringLiteral("records"),
         QStringLiteral("Export record lines as the day files hold them."),
         QStringLiteral("records [--since DATE] [--until DATE] [--station NAME] [-o FILE.csv] "
                        "[--record-db C] [--record-dir DIR]"),
         OptSince | OptUntil | OptStation | OptOutput | OptRecordDb | OptRecordDir},
    };
    return list;
}

const QVector<FaultKind>& faultKinds()
{
    static const QVector<FaultKind> list = {
        {QStringLiteral("no-tag"), Fault::NoTag},
        {QStringLiteral("write-fails"), Fault::WriteFails},
        {QStringLiteral("reader-lost"), Fault::ReaderLost},
        {QStringLiteral("other-model"), Fault::OtherModel},
        {QStringLiteral("verify-fails"), Fault::VerifyFails},
    };
    return list;
}

const QStringList kReaderNames = {QStringLiteral("r321"), QStringLiteral("feig")};

QString mainHelp()
{
    QString text = QStringLiteral(
        "Usage: vantory-cli [--simulate] COMMAND [options]\n\n"
        "Reads and programs DALI-2 LED drivers through their NFC tag.\n\nCommands:\n");
    for (const Command& c : commands())
        text += QStringLiteral("  %1%2\n").arg(c.name.leftJustified(14), c.summary);
    text += QStringLiteral("\nOptions for every command:\n"
                           "  --simulate    use the built-in simulated readers with a demo driver\n"
                           "  -h, --help    help on the command\n"
                           "  --version     the program's version\n"
                           "  --verbose     also print the program's traces\n\n");
    text += kExitCodes + QLatin1Char('\n');
    return text;
}

QString commandHelp(const Parsed& p, const Command& command)
{
    QString text = QStringLiteral("Usage: vantory-cli [--simulate] %1\n\n%2\n\nOptions:\n"
                                  "  --simulate          use the built-in simulated readers\n")
                       .arg(command.usage, command.summary);
    for (const Parsed::Entry& e : p.table())
        if (command.options & e.bit)
            text += QLatin1String(e.help) + QLatin1Char('\n');
    text += QStringLiteral("  -h, --help          this help\n\n") + kExitCodes + QLatin1Char('\n');
    return text;
}

int badArguments(Environment& env, const QString& message)
{
    *env.err << "vantory-cli: " << message << "\nTry 'vantory-cli --help'.\n";
    env.err->flush();
    return BadArguments;
}

} // namespace cli
