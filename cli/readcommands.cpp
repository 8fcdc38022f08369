#include "cli/clirunner.h"
#include "cli/commands.h"
#include "cli/session.h"
#include "cli/tagfiles.h"
#include "readers/feusbapi.h"
#include "readers/feigworker.h"
#include "readers/hidbackend.h"
#include "readers/myhid.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>

// readers, info and read: the commands that look and write nothing to a driver.
namespace cli
{

int cmdReaders(Environment& env, Parsed& p)
{
    HidBackend* hid = env.hid;
    FeusbApi* feusb = env.feusb;
    // One line per reader: a reader with several interfaces shows once.
    QJsonArray r321;
    QStringList seen;
    for (const HidInterfaceInfo& info : hid->enumerate()) {
        const QString id = myhid::identityOf(info);
        if (info.vendorId != myhid::R321VendorId || seen.contains(id))
            continue;
        seen << id;
        r321.append(QJsonObject{{QStringLiteral("id"), id},
                                {QStringLiteral("path"), info.path},
                                {QStringLiteral("product"), info.product},
                                {QStringLiteral("serial"), info.serial}});
    }
    const bool loaded = feusb->available();
    const QStringList feigIds = writeThreadFEIG1::deviceIds(feusb);
    QJsonArray feigReaders;
    for (const QString& id : feigIds)
        feigReaders.append(QJsonObject{{QStringLiteral("id"), id}});
    bool answers = !feigIds.isEmpty();
    if (loaded && !answers) {
        // A library without a scan list: the first reader answers or none does.
        const int handle = feusb->ScanAndOpen(1, nullptr);
        if (handle > 0) {
            answers = true;
            feusb->CloseDevice(handle);
        }
    }
    if (p.parser.isSet(p.json)) {
        const QJsonObject feig{{QStringLiteral("library_loaded"), loaded},
                               {QStringLiteral("reader_answers"), answers},
                               {QStringLiteral("readers"), feigReaders}};
        *env.out << QJsonDocument(
                        QJsonObject{{QStringLiteral("r321"), r321}, {QStringLiteral("feig"), feig}})
                        .toJson(QJsonDocument::Indented);
    } else {
        *env.out << "R321 (USB HID, vendor ID 0505):\n";
        for (const QJsonValue& r : r321)
            *env.out << "  " << r[QLatin1String("id")].toString() << "  "
                     << r[QLatin1String("path")].toString() << "  "
                     << r[QLatin1String("product")].toString() << "\n";
        if (r321.isEmpty())
            *env.out << "  none\n";
        *env.out << "FEIG (FEIG's USB library):\n"
                 << (!loaded   ? "  library not loaded\n"
                     : answers ? "  library loaded, a reader answers\n"
                               : "  library loaded, no reader\n");
        for (const QString& id : feigIds)
            *env.out << "  " << id << "\n";
    }
    env.out->flush();
    return !r321.isEmpty() || answers ? Ok : NoReader;
}

int cmdInfo(Environment& env, Parsed& p)
{
    const QStringList files = p.parser.positionalArguments().mid(1);
    if (files.size() != 1)
        return badArguments(env, QStringLiteral("info wants one configuration file"));
    const std::optional<ConfigFile> config = loadFile(env, files.first());
    if (!config)
        return p.parser.isSet(p.json) ? printJsonFailure(env, QStringLiteral("bad_file"), BadFile)
                                      : BadFile;
    // Decoded as the kind its bytes tell, as the window shows it; 'P' when they tell none.
    const devicereport::TagIdentity tag{
        {}, config->kind ? config->kind : tagfields::ChipP, config->kind == 0};
    printReport(*env.out, config->image, tag, p.parser.isSet(p.json));
    return Ok;
}

int cmdRead(Environment& env, Parsed& p)
{
    if (p.parser.positionalArguments().size() != 1)
        return badArguments(env, QStringLiteral("read takes no file; use -o FILE.bin"));
    Session s(env);
    int rc = s.connect(p.readerName, p.deviceId);
    if (rc == Ok)
        rc = s.read();
    if (rc != Ok) {
        static const QMap<int, QString> results = {{NoReader, QStringLiteral("no_reader")},
                                                   {NoTag, QStringLiteral("no_tag")}};
        return p.parser.isSet(p.json)
                   ? printJsonFailure(env, results.value(rc, QStringLiteral("read_failed")), rc)
                   : rc;
    }
    const devicereport::TagIdentity tag{s.engine().uidMsbFirst(), s.engine().chipCode()};
    const QString path = p.parser.value(p.output);
    const bool toStdout = path == QLatin1String("-");
    // The image alone goes to standard output; the report makes way for it.
    if (!p.parser.isSet(p.quiet))
        printReport(toStdout ? *env.err : *env.out, s.image(), tag, p.parser.isSet(p.json));
    if (!p.parser.isSet(p.output))
        return Ok;
    // As Save File does: the panel values into the image, then the layout's copy.
    const QByteArray bytes = s.engine().configurationToSave();
    QString error;
    bool saved = false;
    if (toStdout) {
        QFile stdoutFile;
        QIODevice* sink = env.binaryOut;
        if (!sink) {
            stdoutFile.open(stdout, QIODevice::WriteOnly | QIODevice::Unbuffered);
            sink = &stdoutFile;
        }
        env.out->flush();
        saved = sink->write(bytes) == bytes.size();
        if (!saved)
            error = sink->errorString();
    } else {
        saved = saveAll(path, bytes, &error);
    }
    if (!saved) {
        *env.err << "vantory-cli: cannot save "
                 << (toStdout ? QStringLiteral("the image to standard output") : path) << ": "
                 << error << "\n";
        env.err->flush();
        return Failure;
    }
    return Ok;
}

} // namespace cli
