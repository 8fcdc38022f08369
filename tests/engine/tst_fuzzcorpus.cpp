// Replays the committed fuzz corpora (seeds and the inputs of fixed crashes) through
// the fuzz harness: the bare engine fed with reader replies and configuration files,
// every invariant checked. Runs in every build, not only with clang.
#include "fuzz/fuzzharness.h"

#include <QDirIterator>
#include <QtTest>

namespace
{

const QString kCorpus = QStringLiteral(VANTORY_CORPUS_DIR);

void addCorpus(const QString& target)
{
    QTest::addColumn<QString>("path");
    QDir dir(kCorpus + QLatin1Char('/') + target);
    const QStringList files = dir.entryList(QDir::Files, QDir::Name);
    for (const QString& f : files)
        QTest::newRow(qPrintable(f)) << dir.filePath(f);
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TstFuzzCorpus : public QObject
{
    Q_OBJECT
  private slots:
    void initTestCase();
    void cleanupTestCase();
    void corporaArePresent();
    void r321Replies_keepInvariants_data() { addCorpus(QStringLiteral("fuzz_r321_reply")); }
    void r321Replies_keepInvariants();
    void feigReplies_keepInvariants_data() { addCorpus(QStringLiteral("fuzz_feig_reply")); }
    void feigReplies_keepInvariants();
    void configFiles_keepInvariants_data() { addCorpus(QStringLiteral("fuzz_config_open")); }
    void configFiles_keepInvariants();
    void wholeReadSeeds_completeTheRead_data();
    void wholeReadSeeds_completeTheRead();
    void autoScanSeeds_runTheAutoWritePass_data();
    void autoScanSeeds_runTheAutoWritePass();
    void configSeed_repairsTheLumenTimes();
    void harnessNoticesDamage();
    void harnessNoticesBadConfigurations();

  private:
    std::unique_ptr<fuzzharness::Harness> m_harness;
};

void TstFuzzCorpus::initTestCase()
{
    m_harness = std::make_unique<fuzzharness::Harness>();
}

void TstFuzzCorpus::cleanupTestCase()
{
    m_harness.reset();
}

void TstFuzzCorpus::corporaArePresent()
{
    for (const char* target : {"fuzz_r321_reply", "fuzz_feig_reply", "fuzz_config_open"}) {
        const QDir dir(kCorpus + QLatin1Char('/') + QLatin1String(target));
        QVERIFY2(dir.entryList(QDir::Files).size() >= 5, target);
    }
}

void TstFuzzCorpus::r321Replies_keepInvariants()
{
    QFETCH(QString, path);
    const QStringList failures = m_harness->runReplies(fuzzharness::Reader::R321, readAll(path));
    QVERIFY2(failures.isEmpty(), qPrintable(failures.join(QLatin1String("; "))));
}

void TstFuzzCorpus::feigReplies_keepInvariants()
{
    QFETCH(QString, path);
    const QStringList failures = m_harness->runReplies(fuzzharness::Reader::Feig, readAll(path));
    QVERIFY2(failures.isEmpty(), qPrintable(failures.join(QLatin1String("; "))));
}

void TstFuzzCorpus::configFiles_keepInvariants()
{
    QFETCH(QString, path);
    const QByteArray file = readAll(path);
    // The whole images among the seeds are saved configurations: none fails the checks.
    QCOMPARE(configfile::checkConfig(file).ok(), file.size() >= configfile::FileSize);
    const QStringList failures = m_harness->runConfigFile(file);
    QVERIFY2(failures.isEmpty(), qPrintable(failures.join(QLatin1String("; "))));
}

void TstFuzzCorpus::wholeReadSeeds_completeTheRead_data()
{
    QTest::addColumn<int>("reader");
    QTest::addColumn<QString>("target");
    QTest::newRow("R321") << int(fuzzharness::Reader::R321) << QStringLiteral("fuzz_r321_reply");
    QTest::newRow("FEIG") << int(fuzzharness::Reader::Feig) << QStringLiteral("fuzz_feig_reply");
}

void TstFuzzCorpus::wholeReadSeeds_completeTheRead()
{
    // The seeds are real exchanges: the whole-tag seed takes the engine through a Read to
    // its successful end, with the tag's memory in the image.
    QFETCH(int, reader);
    QFETCH(QString, target);
    const QByteArray seed =
        readAll(kCorpus + QLatin1Char('/') + target + QStringLiteral("/read_whole_p_tag"));
    QVERIFY(m_harness->runReplies(static_cast<fuzzharness::Reader>(reader), seed).isEmpty());
    QCOMPARE(int(m_harness->lastTip()), int(fuzzharness::kTipReadOk));
    const QByteArray memory = demodrivers::memory(demodrivers::Kind::Dt8);
    QCOMPARE(fuzzharness::bytesOf(TestAccess::image(m_harness->engine()).image_legacy, 0, 512),
             memory);
}

void TstFuzzCorpus::autoScanSeeds_runTheAutoWritePass_data()
{
    QTest::addColumn<int>("reader");
    QTest::addColumn<QString>("target");
    QTest::newRow("R321") << int(fuzzharness::Reader::R321) << QStringLiteral("fuzz_r321_reply");
    QTest::newRow("FEIG") << int(fuzzharness::Reader::Feig) << QStringLiteral("fuzz_feig_reply");
}

void TstFuzzCorpus::autoScanSeeds_runTheAutoWritePass()
{
    // The pause after a frame runs the engine's auto-write pass: after the inventory of
    // three tags it starts the model-name read of the first, which only that pass does.
    QFETCH(int, reader);
    QFETCH(QString, target);
    const QByteArray seed =
        readAll(kCorpus + QLatin1Char('/') + target + QStringLiteral("/autoscan_three_tags"));
    QVERIFY(m_harness->runReplies(static_cast<fuzzharness::Reader>(reader), seed).isEmpty());
    TagEngine& e = m_harness->engine();
    QVERIFY(e.autoScanning());
    QVERIFY(e.operation());
    QCOMPARE(int(e.operation()->cmd_type), int(SeqCode::ReadModel));
    QVERIFY(e.operationPending());
}

void TstFuzzCorpus::configSeed_repairsTheLumenTimes()
{
    // The repair seed reaches the repair: its point 0 is not at 0, and the document holds
    // the repaired times.
    const QByteArray file =
        readAll(kCorpus + QStringLiteral("/fuzz_config_open/clo_times_repaired"));
    QCOMPARE(file.size(), 512);
    QCOMPARE(int(uint8_t(file.at(tagoffset::CloTimes))), 5);
    QVERIFY(m_harness->runConfigFile(file).isEmpty());
    const TagImage& image = m_harness->engine().document().image();
    QCOMPARE(int(image.image_v2[tagoffset::CloTimes]), 0);
    QCOMPARE(int(image.image_legacy[tagoffset::CloTimes]), 0);
    QCOMPARE(m_harness->engine().templateSource(), fuzzharness::Harness::fileName());
}

void TstFuzzCorpus::harnessNoticesDamage()
{
    // The checks must be able to fail: an image changed by anything but a completed read,
    // a loaded file that does not reach the image, a step counter out of its range.
    const QByteArray reply = readAll(kCorpus + QStringLiteral("/fuzz_r321_reply/read_mid"));
    const QByteArray file =
        readAll(kCorpus + QStringLiteral("/fuzz_config_open/driver_dt8_tunable_white_layout_2_"));
    QVERIFY(!reply.isEmpty());
    QCOMPARE(file.size(), 512);
    QVERIFY(m_harness->runReplies(fuzzharness::Reader::R321, reply).isEmpty());
    QVERIFY(m_harness->runConfigFile(file).isEmpty());

    m_harness->tamper = [](TagEngine& e) {
        TestAccess::editImage(e, [](TagImage& image) { image.image_v2[10] ^= 0xFF; });
    };
    QStringList failures = m_harness->runReplies(fuzzharness::Reader::R321, reply);
    QVERIFY(failures.contains(QStringLiteral("the image changed without a completed read")));
    failures = m_harness->runConfigFile(file);
    QVERIFY(failures.contains(QStringLiteral("the product area is not the file's")));

    m_harness->tamper = [](TagEngine& e) {
        if (auto* read = dynamic_cast<ReadOperation*>(e.operation()))
            read->read_bank_step = 9;
    };
    failures = m_harness->runReplies(fuzzharness::Reader::Feig, reply);
    QVERIFY(!failures.isEmpty());
    QVERIFY(failures.first().startsWith(QStringLiteral("step counter out of range")));
    m_harness->tamper = nullptr;
}

void TstFuzzCorpus::harnessNoticesBadConfigurations()
{
    // The configuration checks must be able to fail too: times changed though nothing was
    // repaired, a saved table that needs a repair of its own, a refused file taken as the
    // template.
    const QByteArray file =
        readAll(kCorpus + QStringLiteral("/fuzz_config_open/driver_dt8_tunable_white_layout_2_"));
    const QByteArray shortFile =
        readAll(kCorpus + QStringLiteral("/fuzz_config_open/shorter_than_image"));
    QCOMPARE(file.size(), 512);
    QVERIFY(shortFile.size() < 512);
    QVERIFY(m_harness->runConfigFile(shortFile).isEmpty());

    m_harness->tamper = [](TagEngine& e) {
        TestAccess::editImage(e, [](TagImage& image) {
            image.image_v2[tagoffset::CloTimes + 3] ^= 0x01;
            image.image_legacy[tagoffset::CloTimes + 3] ^= 0x01;
        });
    };
    QStringList failures = m_harness->runConfigFile(file);
    QVERIFY2(failures.contains(QStringLiteral(
                 "the constant-lumen repair does not match what changed in the times")),
             qPrintable(failures.join(QLatin1String("; "))));

    m_harness->tamper = [](TagEngine& e) {
        TestAccess::editImage(e, [](TagImage& image) { image.image_v2[tagoffset::CloTimes] = 5; });
    };
    failures = m_harness->runConfigFile(file);
    QVERIFY2(failures.contains(QStringLiteral("the saved configuration needs another repair")),
             qPrintable(failures.join(QLatin1String("; "))));

    m_harness->tamper = [](TagEngine& e) { e.document().savedAs(QStringLiteral("short.bin")); };
    failures = m_harness->runConfigFile(shortFile);
    QCOMPARE(failures, QStringList{QStringLiteral("a refused file became the template")});
    m_harness->tamper = nullptr;
}

QTEST_GUILESS_MAIN(TstFuzzCorpus)
#include "tst_fuzzcorpus.moc"
