#pragma once

#include <QStringList>
#include <QTextStream>
#include <atomic>

class FeusbApi;
class QIODevice;
class HidBackend;
class ReaderField;

// vantory-cli: reads and programs drivers from a terminal with the same engine as the
// window. English only.
namespace cli
{

/// Exit codes, documented in --help and the README.
enum Exit : int {
    Ok = 0,
    Failure = 1,      ///< anything else (an output file that cannot be written, ...)
    BadArguments = 2, ///< unknown command or option, a current outside the channel's range
    NoReader = 3,     ///< the reader cannot be found or opened
    NoTag = 4,        ///< no tag answered
    TagError = 5,     ///< the tag or the reader refused, or a reply was missing or damaged
    OtherModel = 6,   ///< the driver is of another model than the configuration
    BadFile = 7,      ///< the configuration file cannot be read or is too short
};

/// Where the commands get their readers and print to.
struct Environment {
    /// The transports; null means the real ones (hidapi, FEIG's library), or the
    /// built-in simulated readers with --simulate.
    HidBackend* hid = nullptr;
    FeusbApi* feusb = nullptr;
    /// The simulated field behind the transports, when they are simulated: auto write then
    /// takes each programmed driver away and lays the next one.
    ReaderField* field = nullptr;
    QTextStream* out = nullptr;
    QTextStream* err = nullptr;
    /// Where `read -o -` puts the image; null means the process's standard output.
    QIODevice* binaryOut = nullptr;
    /// Set by Ctrl-C, SIGTERM or SIGHUP: auto write stops after the write in progress.
    const std::atomic<bool>* interrupted = nullptr;
    /// Set to the signal's number by a second such signal: the operation under way is
    /// recorded as interrupted, and the program leaves at once with 128 + that number.
    const std::atomic<int>* leaveNow = nullptr;
    /// Folder of the production record; empty: no record. With --simulate the record is
    /// kept only in the folder VANTORY_RECORD_DIR names.
    QString recordDir;
    /// The record server's connection setting; empty: the local journal only.
    QString recordServer;
    /// This station's name in the record; empty: the host name.
    QString station;
    /// Set when a record line reached neither the day file nor the journal, or only one of
    /// them, by the end of the command: the command then does not exit 0.
    bool recordIncomplete = false;
};

/// Runs one command line (without the program name); returns the exit code.
int run(const QStringList& args, Environment& env);

} // namespace cli
