// What the window shows of the write side, and what it does there itself, on the
// simulated readers: the status bar's texts and colours, the notice, the refusals the
// window makes, the connection dialog, closing the window during a write, the production
// record the window keeps and the driver's last recorded write on Device Data. What the
// engine sends and the tag holds is tested without a window in tst_engine_write.
#include "app/windowbench.h"
#include "engine/writebench.h"

#include "model/recordstore.h"
#include "model/tagfields.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDropEvent>
#include <QMessageBox>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

using namespace enginetest;

namespace
{

QString resultText(WindowBench& b)
{
    return TestAccess::statusResult(b.win())->text();
}

} // namespace

class TstWindowWrite : public QObject
{
    Q_OBJECT
  private slots:
    void verifyFailed_statusNamesBlock_data() { addReadersAndKinds(); }
    void verifyFailed_statusNamesBlock();
    void writeModelDiffers_noticeAndFailureStatus_data();
    void writeModelDiffers_noticeAndFailureStatus();
    void openOrDropDuringWrite_refused_writeSendsWhatItStartedWith_data();
    void openOrDropDuringWrite_refused_writeSendsWhatItStartedWith();
    void writeWithoutRead_saysReadFirst_recordsNothing();
    void connectR321Again_linkStaysBlue();
    void closeDuringWrite_asksThenRecordsOnce_data();
    void closeDuringWrite_asksThenRecordsOnce();
    void lastRecordedWrite_shownAfterRead_data();
    void lastRecordedWrite_shownAfterRead();
    void recordServerAway_statusSaysHeldLocally();
};

// The status bar names the block a failed verification stopped at, in either language.
void TstWindowWrite::verifyFailed_statusNamesBlock()
{
    QFETCH(int, reader);
    QFETCH(bool, pwm);
    WindowBench b;
    const auto tag =
        demodrivers::makeTag(pwm ? demodrivers::Kind::Pwm : demodrivers::Kind::Dt8, 13);
    QVERIFY(b.connect(reader));
    QVERIFY(readTag(b, tag));
    const int dropped = changeBlockToDrop(b, pwm);
    tag->dropNextWriteOf(dropped);
    b.write();
    QTRY_COMPARE(int(b.lastTip()), kTipVerifyFailed);
    QCOMPARE(resultText(b), QStringLiteral("Verify failed at block %1").arg(dropped));
    QCOMPARE(TestAccess::statusResult(b.win())->palette().color(QPalette::WindowText),
             QColor(Qt::red));
    // The other language names the block as well.
    b.trigger("actionLanguage");
    QCOMPARE(resultText(b), QStringLiteral("写入校验失败：块 %1").arg(dropped));
}

void TstWindowWrite::writeModelDiffers_noticeAndFailureStatus_data()
{
    QTest::addColumn<int>("chinese");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("status");
    QTest::newRow("en") << 0 << QStringLiteral("The models are inconsistent. Write failed")
                        << QStringLiteral("The model number is different");
    QTest::newRow("cn") << 1 << QStringLiteral("机型不一致，写入失败")
                        << QStringLiteral("机型号不一致");
}

// A Write refused for another model: the notice runs for three seconds and the status bar
// shows the refusal as a failure; a Write that goes out empties it until its result.
void TstWindowWrite::writeModelDiffers_noticeAndFailureStatus()
{
    QFETCH(int, chinese);
    QFETCH(QString, text);
    QFETCH(QString, status);
    WindowBench b;
    b.verify(false); // the described command sequence, nothing read back
    const auto tag = demodrivers::makeTag(demodrivers::Kind::Dt8, 13);
    QVERIFY(b.connect(R321));
    QVERIFY(readTag(b, tag));
    // A configuration of another model was loaded since the read (its last name byte).
    TestAccess::editImage(b.win(), [](TagImage& image) { image.image_v2[226] = 'X'; });
    TestAccess::setLanguageFlag(b.win(), chinese != 0);
    const char model = tag->memory().at(226);

    b.write();
    NoticeWidget* notice = TestAccess::notice(b.win());
    QCOMPARE(notice->text(), text);
    QVERIFY(notice->isTicking());
    QCOMPARE(notice->ticks(), NoticeWidget::ticksFor(3000));
    // The status bar no longer says "Read successfully" but that the write failed.
    QCOMPARE(resultText(b), status);
    QCOMPARE(TestAccess::statusResult(b.win())->palette().color(QPalette::WindowText),
             QColor(Qt::red));

    // The same model again: the write goes out, and until its result the status is empty.
    TestAccess::editImage(b.win(),
                          [model](TagImage& image) { image.image_v2[226] = uint8_t(model); });
    b.write();
    QCOMPARE(resultText(b), QString());
    QTRY_COMPARE(int(b.lastTip()), kTipWriteOk);
}

namespace
{

// Records the production-record result and template of each operation.
struct Records {
    QStringList results;
    QStringList sources;
    QStringList models;
    explicit Records(WindowBench& b)
    {
        QObject::connect(&b.engine(), &TagEngine::operationFinished,
                         [this](const record::Outcome& o) {
                             results << record::resultText(o.result);
                             sources << o.templateSource;
                             models << record::entryFor(o, QString()).model;
                         });
    }
};

// A configuration file of the image with `patch` applied, opened through Read File.
QString writeConfig(QTemporaryDir& dir, const QString& name, QByteArray bytes)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return QString();
    return path;
}

void dropFile(Vantory& w, const QString& path)
{
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(path)});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&w, &enter);
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&w, &drop);
}

} // namespace

void TstWindowWrite::openOrDropDuringWrite_refused_writeSendsWhatItStartedWith_data()
{
    QTest::addColumn<int>("reader");
    QTest::addColumn<bool>("drop");
    QTest::addColumn<int>("chinese");
    for (int reader : {R321, Feig})
        for (bool drop : {false, true})
            QTest::addRow("%s %s", readerName(reader), drop ? "drop" : "Read File")
                << reader << drop << 0;
    QTest::newRow("R321 drop cn") << int(R321) << true << 1;
}

void TstWindowWrite::openOrDropDuringWrite_refused_writeSendsWhatItStartedWith()
{
    QFETCH(int, reader);
    QFETCH(bool, drop);
    QFETCH(int, chinese);
    WindowBench b;
    QTemporaryDir dir;
    QVERIFY(b.connect(reader));
    const auto driver = demodrivers::makeTag(demodrivers::Kind::Dt8, 33);
    QVERIFY(readTag(b, driver));
    const QByteArray started = bytes(TestAccess::image(b.win()).bank_buffer, 0, 512);
    // Another model with other drive settings.
    const QString path =
        writeConfig(dir, QStringLiteral("other.bin"),
                    demodrivers::makeTag(demodrivers::Kind::OtherModel, 34)->memory());
    b.w->setFileDialogHook([&](Vantory::FileDialogMode, const QString&, const QString&,
                               const QString&) { return path; });
    TestAccess::setLanguageFlag(b.win(), chinese != 0);
    Records records(b);
    driver->setMemory(driver->memory().left(256) + QByteArray(256, '\0'));
    b.field.setLatencyEnabled(true);

    b.write();
    QTest::qWait(60);
    QVERIFY(b.cmd().cmd_type != 0);
    if (drop)
        dropFile(b.win(), path);
    else
        b.trigger("actionOpen_BIN_configure");
    QCOMPARE(TestAccess::notice(b.win())->text(),
             chinese ? QStringLiteral("正在读写标签，配置文件未打开。请在操作结束后再打开。")
                     : QStringLiteral("A tag operation is running: the configuration file was "
                                      "not opened. Open it when the operation has ended."));
    QCOMPARE(bytes(TestAccess::image(b.win()).bank_buffer, 0, 512), started);
    QTRY_COMPARE_WITH_TIMEOUT(int(b.lastTip()), kTipWriteOk, 10000);
    QCOMPARE(driver->memory().mid(256, 76), started.mid(256, 76));
    const QString uid = QString::fromLatin1(driver->uidMsbFirst().toHex().toUpper());
    QCOMPARE(records.results, QStringList{QStringLiteral("Written")});
    QCOMPARE(records.sources, QStringList{uid});
    QCOMPARE(records.models.first(), tagfields::productInfo(TestAccess::image(b.win())).model);

    // Once the write is over, the file opens.
    QTRY_VERIFY_WITH_TIMEOUT(b.engine().idle(), 5000);
    if (drop)
        dropFile(b.win(), path);
    else
        b.trigger("actionOpen_BIN_configure");
    QVERIFY(bytes(TestAccess::image(b.win()).bank_buffer, 0, 512) != started);
}

// Write with a driver on the reader but none read: the window says to read it first, sends
// nothing and records nothing.
void TstWindowWrite::writeWithoutRead_saysReadFirst_recordsNothing()
{
    WindowBench b;
    QVERIFY(b.connect(R321));
    const auto tag = demodrivers::makeTag(demodrivers::Kind::Dt8, 15);
    b.field.layTag(tag);
    const QByteArray before = tag->memory();
    int outcomes = 0;
    QObject::connect(&b.engine(), &TagEngine::operationFinished, [&outcomes] { ++outcomes; });
    b.write();
    const QString text = QStringLiteral("Read the driver first, then write");
    QCOMPARE(resultText(b), text);
    QCOMPARE(TestAccess::notice(b.win())->text(), text);
    QTest::qWait(300);
    QVERIFY(b.field.commandLog().isEmpty());
    QCOMPARE(outcomes, 0);
    QCOMPARE(tag->memory(), before);
    QVERIFY(b.boxes.isEmpty());
    TestAccess::setLanguageFlag(b.win(), true);
    b.write();
    QCOMPARE(resultText(b), QStringLiteral("请先读取驱动，再写入"));
    TestAccess::setLanguageFlag(b.win(), false);

    // Read, then Write: written.
    QVERIFY(readTag(b, nullptr));
    b.write();
    QTRY_COMPARE(int(b.lastTip()), kTipWriteOk);
    QCOMPARE(outcomes, 1);
}

void TstWindowWrite::connectR321Again_linkStaysBlue()
{
    WindowBench b;
    QVERIFY(b.connect(R321));
    // OK pressed again while connected: the dialog paints the label red first.
    auto* dialog = b.w->findChild<QDialog*>(QStringLiteral("ConnectionConfig"));
    dialog->findChild<QComboBox*>(QStringLiteral("comboBox_Reader"))->setCurrentIndex(1);
    dialog->findChild<QPushButton*>(QStringLiteral("pushButton_Connect"))->click();
    QVERIFY(TestAccess::readerGuard(b.win(), 0));
    QCOMPARE(TestAccess::statusLink(b.win())->text(), QStringLiteral("Connected: R321"));
    QCOMPARE(TestAccess::statusLink(b.win())->palette().color(QPalette::WindowText),
             QColor(Qt::blue));
    QCOMPARE(b.r321.openCount(), 1);
    TestAccess::setLanguageFlag(b.win(), true);
    b.win().connectR321();
    QCOMPARE(TestAccess::statusLink(b.win())->text(), QStringLiteral("连接成功: R321 阅读器"));
    QCOMPARE(b.r321.openCount(), 1);
}

void TstWindowWrite::closeDuringWrite_asksThenRecordsOnce_data()
{
    QTest::addColumn<int>("reader");
    QTest::addColumn<bool>("quit");
    QTest::addColumn<bool>("hung");
    QTest::addColumn<QString>("result");
    QTest::newRow("R321, stay: the write ends") << int(R321) << false << false << "Written";
    QTest::newRow("R321, quit: the write ends first") << int(R321) << true << false << "Written";
    QTest::newRow("R321, quit, no replies")
        << int(R321) << true << true << "Interrupted (window closed)";
    QTest::newRow("FEIG, quit, no replies")
        << int(Feig) << true << true << "Interrupted (window closed)";
}

// Closing the window while a driver is programmed asks first; whatever the answer, the
// write ends within about a second and has exactly one line in the record.
void TstWindowWrite::closeDuringWrite_asksThenRecordsOnce()
{
    QFETCH(int, reader);
    QFETCH(bool, quit);
    QFETCH(bool, hung);
    QFETCH(QString, result);
    WindowBench b;
    QTemporaryDir dir;
    b.win().setRecordFolder(dir.path());
    const auto tag = demodrivers::makeTag(demodrivers::Kind::Dt8, 31);
    QVERIFY(b.connect(reader));
    QVERIFY(readTag(b, tag));
    b.field.setLatencyEnabled(true);
    b.write();
    QTRY_VERIFY(b.field.commandLog().size() > 2);
    // The reader takes every command and answers none (a reader that hangs outright is
    // reported lost by its own watchdog before the second is up).
    if (hung)
        b.field.armReplyFault(SimReplyFault::NoReply, 1000);
    QString asked;
    QTimer::singleShot(50, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        asked = box->objectName();
        box->button(quit ? QMessageBox::Yes : QMessageBox::No)->click();
    });
    QElapsedTimer clock;
    clock.start();
    QCloseEvent close;
    QApplication::sendEvent(&b.win(), &close);
    QCOMPARE(asked, QStringLiteral("quitDuringOperation"));
    QCOMPARE(close.isAccepted(), quit);
    if (quit)
        QVERIFY2(clock.elapsed() < 1500, qPrintable(QString::number(clock.elapsed())));
    else
        QTRY_VERIFY(!b.engine().operationPending());
    b.field.clearFaults();
    b.w.reset(); // the program leaves: nothing more may be added to the record
    QFile file(QDir(dir.path()).filePath(record::fileName(QDate::currentDate())));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().trimmed().split('\n');
    QCOMPARE(lines.size(), 2);
    QCOMPARE(QString::fromUtf8(lines.at(1)).trimmed().split(',').at(14), result);
}

void TstWindowWrite::lastRecordedWrite_shownAfterRead_data()
{
    QTest::addColumn<bool>("chinese");
    QTest::addColumn<QString>("expected");
    QTest::newRow("English") << false
                             << "Last recorded write: %1, station line-7, template %2, "
                                "result Written, verified yes";
    QTest::newRow("Chinese") << true
                             << "上次记录的写入：%1，工位 line-7，模板 %2，结果 Written，校验 通过";
}

// After a Read, Device Data shows the driver's last recorded write; a driver the record
// does not know shows nothing.
void TstWindowWrite::lastRecordedWrite_shownAfterRead()
{
    QFETCH(bool, chinese);
    QFETCH(QString, expected);
    qputenv("VANTORY_STATION", "line-7");
    WindowBench b;
    QTemporaryDir dir;
    b.win().setRecordFolder(dir.path());
    qunsetenv("VANTORY_STATION");
    if (chinese)
        b.trigger("actionLanguage");
    const auto first = demodrivers::makeTag(demodrivers::Kind::Dt8, 41);
    QVERIFY(b.connect(R321));
    QVERIFY(readTag(b, first));
    const auto label = [&] {
        return b.win().findChild<QLabel*>(QStringLiteral("label_LastWrite"));
    };
    QTest::qWait(100);
    QVERIFY(!label() || label()->isHidden());
    b.write();
    QTRY_COMPARE(int(b.lastTip()), kTipWriteOk);
    QVERIFY(waitBeeps(b, 2));
    // A later refused line of the driver is no write: the label keeps the write.
    record::Store journal;
    QVERIFY(journal.openLocal(record::localDatabasePath(dir.path()), false));
    record::Entry refused = journal.lines({})->constFirst().entry;
    refused.time =
        QDateTime::currentDateTime().addSecs(60).toOffsetFromUtc(3600).toString(Qt::ISODate);
    refused.result = record::resultText(record::Result::OtherModel);
    QVERIFY(journal.add(record::newLine(refused, QStringLiteral("line-8"))));

    QVERIFY(readTag(b, nullptr));
    QTRY_VERIFY(label() && !label()->isHidden());
    const QString uid = QString::fromLatin1(first->uidMsbFirst().toHex().toUpper());
    const QStringList around = expected.arg(QStringLiteral("@"), uid).split(QLatin1Char('@'));
    QVERIFY2(
        label()->text().startsWith(around.first() + QDate::currentDate().toString(Qt::ISODate)),
        qPrintable(label()->text()));
    QVERIFY2(label()->text().contains(QRegularExpression(QStringLiteral(" UTC[+-]\\d\\d:\\d\\d"))),
             qPrintable(label()->text())); // the time with its zone
    QVERIFY2(label()->text().endsWith(around.last()), qPrintable(label()->text()));
    const QString shots = qEnvironmentVariable("VANTORY_SHOTS_DIR");
    if (!shots.isEmpty()) {
        b.win().show();
        QTest::qWait(200);
        b.win().grab().save(QDir(shots).filePath(chinese ? QStringLiteral("last-write-zh.png")
                                                         : QStringLiteral("last-write-en.png")));
    }

    // Another driver: its own (empty) history, not the last one's.
    b.field.clear();
    QVERIFY(readTag(b, demodrivers::makeTag(demodrivers::Kind::Dt8, 42)));
    QTRY_VERIFY(label()->isHidden());
}

// A record server that cannot be reached: the write goes on, the status bar says that the
// record is held locally, and the line waits in the journal.
void TstWindowWrite::recordServerAway_statusSaysHeldLocally()
{
    qputenv("VANTORY_RECORD_DB", "postgresql://127.0.0.1:1/record?connect_timeout=1");
    WindowBench b;
    QTemporaryDir dir;
    b.win().setRecordFolder(dir.path());
    qunsetenv("VANTORY_RECORD_DB");
    QVERIFY(b.connect(R321));
    QVERIFY(readTag(b, demodrivers::makeTag(demodrivers::Kind::Dt8, 43)));
    b.write();
    QTRY_COMPARE(int(b.lastTip()), kTipWriteOk);
    auto* status = b.win().findChild<QLabel*>(QStringLiteral("status_record"));
    QTRY_VERIFY(!status->isHidden());
    QVERIFY2(status->text().startsWith(QStringLiteral("Record server not reachable (")) &&
                 status->text().endsWith(QStringLiteral(
                     "): the production record is held locally and sent when it is back")),
             qPrintable(status->text()));
    record::Store journal;
    QVERIFY(journal.openLocal(record::localDatabasePath(dir.path())));
    QTRY_COMPARE(journal.unsentCount(), 1);
}

QTEST_MAIN(TstWindowWrite)
#include "tst_window_write.moc"
