#pragma once

#include "cli/options.h"
#include "model/devicereport.h"
#include "model/productionrecord.h"
#include "model/tagimage.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonValue>
#include <QMap>
#include <QTextStream>
#include <cstdint>
#include <optional>

// Configuration files, tag images and results as the commands read, save and print them.
namespace cli
{

struct Environment;
class Session;

// A configuration file: its bytes, its image and the tag kind its bytes tell (0: none).
struct ConfigFile {
    QByteArray bytes;
    TagImage image;
    uint8_t kind = 0;
};

/// A configuration file, checked and repaired as Read File does; null when it cannot be used
/// (the reason is on standard error).
std::optional<ConfigFile> loadFile(Environment& env, const QString& path);
/// --current CH=MA, checked against the channel ranges of the configuration.
bool parseCurrents(Environment& env, const QStringList& values, const TagImage& image,
                   QMap<int, uint16_t>* out);
/// The driver's data as text or JSON.
void printReport(QTextStream& to, const TagImage& image, const devicereport::TagIdentity& tag,
                 bool json);
/// Saves the bytes (an image, an export), all of them or nothing. An existing FIFO or device
/// is written in place: replacing it with a file would break whatever reads it.
bool saveAll(const QString& path, const QByteArray& bytes, QString* error);
/// An operation's result as JSON gives it.
QString resultKey(record::Result result);
/// The currents an operation wrote, as its record line has them.
QJsonArray currentsWritten(const record::Outcome& outcome);
/// The text, or null when it is empty.
QJsonValue textOrNull(const QString& text);

// The configuration file of write and auto-write, with the currents of the command line.
struct Configuration {
    QByteArray bytes;
    TagImage image;
    QMap<int, uint16_t> currents;
    QString fileName;
    bool verify = true;
    // Opened as the window opens a file: of the kind its bytes tell, else of the driver
    // read before (write) or 'P' (auto-write, no driver yet).
    void applyTo(Session& s) const;
    // The currents of the command line over what the configuration holds.
    void applyCurrents(Session& s) const;
};

/// The configuration file of `command` with the options that change it.
int loadConfiguration(Environment& env, Parsed& p, const QString& command, Configuration* out);

} // namespace cli
