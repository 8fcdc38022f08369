// Replays the committed fuzz corpora (seeds and the inputs of fixed crashes) through
// the fuzz harness: the real window fed with reader replies and configuration files,
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
    void harnessNoticesDamage();

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
    const QStringList failures = m_harness->runConfigFile(readAll(path));
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
    // The seeds are real exchanges: the whole-tag seed takes the window through a Read to
    // its successful end, with the tag's memory in the image.
    QFETCH(int, reader);
    QFETCH(QString, target);
    const QByteArray seed =
        readAll(kCorpus + QLatin1Char('/') + target + QStringLiteral("/read_whole_p_tag"));
    QVERIFY(m_harness->runReplies(static_cast<fuzzharness::Reader>(reader), seed).isEmpty());
    Vantory& w = m_harness->win();
    QCOMPARE(int(TestAccess::lastTip(w)), int(fuzzharness::kTipReadOk));
    const QByteArray memory = demodrivers::memory(demodrivers::Kind::Dt8);
    QCOMPARE(fuzzharness::bytesOf(TestAccess::image(w).image_legacy, 0, 512), memory);
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

    m_harness->tamper = [](Vantory& w) {
        TestAccess::editImage(w, [](TagImage& image) { image.image_v2[10] ^= 0xFF; });
    };
    QStringList failures = m_harness->runReplies(fuzzharness::Reader::R321, reply);
    QVERIFY(failures.contains(QStringLiteral("the image changed without a completed read")));
    failures = m_harness->runConfigFile(file);
    QVERIFY(failures.contains(QStringLiteral("the product area is not the file's")));

    m_harness->tamper = [](Vantory& w) {
        TestAccess::editCmd(w, [](CommandState& c) { c.write_part_step = 5; });
    };
    failures = m_harness->runReplies(fuzzharness::Reader::Feig, reply);
    QVERIFY(!failures.isEmpty());
    QVERIFY(failures.first().startsWith(QStringLiteral("step counter out of range")));
    m_harness->tamper = nullptr;
}

QTEST_MAIN(TstFuzzCorpus)
#include "tst_fuzzcorpus.moc"
