// Constant-lumen table: legality, pushing later times up, repair, and the edit rules.
#include "model/constlumen.h"
#include "model/tagimage.h"

#include <QtTest>

using namespace constlumen;

Q_DECLARE_METATYPE(constlumen::Points)

namespace
{

Points pts(std::initializer_list<int> head, int fillFrom = -1, int step = 5)
{
    // The listed values, then (if fillFrom >= 0) fillFrom, fillFrom+step, ... to 16 points.
    Points p{};
    size_t i = 0;
    for (int v : head)
        p[i++] = uint8_t(v);
    for (int v = fillFrom; fillFrom >= 0 && i < p.size(); v += step)
        p[i++] = uint8_t(v);
    return p;
}

QString show(const Points& p)
{
    QStringList parts;
    for (uint8_t v : p)
        parts << QString::number(v);
    return parts.join(QLatin1Char(','));
}

} // namespace

class TestConstLumen : public QObject
{
    Q_OBJECT

  private slots:
    void initialTable();
    void imageAccessors();
    void cellValue_data();
    void cellValue();
    void legality_data();
    void legality();
    void increase_data();
    void increase();
    void check_data();
    void check();
    void edit_timeColumnZero_isForcedToZero();
    void edit_decreasingTime_warnsAndRestores();
    void edit_decreasingTime_repairsBrokenStoredTime();
    void edit_time40IntoColumn1_pushesLaterTimes();
    void edit_lastColumns_capAt100_data();
    void edit_lastColumns_capAt100();
    void edit_levelOutOfRange_data();
    void edit_levelOutOfRange();
    void edit_levelInRange();
    void edit_timeOutOfRange();
    void edit_invalidCell_changesNothing();
    void texts();
};

void TestConstLumen::initialTable()
{
    QCOMPARE(show(initialTimes()), QStringLiteral("0,5,10,15,20,25,30,35,40,45,50,55,60,65,70,75"));
    QCOMPARE(show(initialLevels()),
             QStringLiteral("50,91,92,92,93,94,95,96,97,98,99,100,100,100,100,100"));
}

void TestConstLumen::imageAccessors()
{
    TagImage img;
    storeTimes(img, initialTimes());
    storeLevels(img, initialLevels());
    QCOMPARE(img.image_v2[284], uint8_t(0));
    QCOMPARE(img.image_v2[299], uint8_t(75));
    QCOMPARE(img.image_v2[268], uint8_t(50));
    QCOMPARE(img.image_v2[283], uint8_t(100));
    QCOMPARE(times(img), initialTimes());
    QCOMPARE(levels(img), initialLevels());
    QCOMPARE(img.image_legacy[284], uint8_t(0)); // image_v2 only

    QVERIFY(!isEnabled(img));
    img.image_v2[267] = 0x01;
    QVERIFY(isEnabled(img));
    setEnabled(img, true);
    QCOMPARE(img.image_v2[267], uint8_t(0xAA));
    setEnabled(img, false);
    QCOMPARE(img.image_v2[267], uint8_t(0x00));
    // The enable byte sits just below the levels; neither may spill into the other.
    QCOMPARE(img.image_v2[268], uint8_t(50));
}

void TestConstLumen::cellValue_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("value");
    QTest::newRow("number") << QStringLiteral("42") << 42;
    QTest::newRow("not a number") << QStringLiteral("abc") << 0;
    QTest::newRow("empty") << QString() << 0;
}

void TestConstLumen::cellValue()
{
    QFETCH(QString, text);
    QFETCH(int, value);
    QCOMPARE(int(constlumen::cellValue(text)), value);
}

void TestConstLumen::legality_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("result");
    QTest::newRow("col 0 differs") << 0 << 7 << 7;
    QTest::newRow("col 0 same") << 0 << 0 << 0;
    QTest::newRow("col 2 above prev") << 2 << 12 << 2;
    QTest::newRow("col 2 equal prev") << 2 << 5 << 0;
    QTest::newRow("col 2 below prev") << 2 << 3 << 0;
    QTest::newRow("col 2 same as stored") << 2 << 10 << 0;
    QTest::newRow("col 2 below stored wraps") << 2 << 8 << 254;
    QTest::newRow("col 16") << 16 << 90 << 0;
}

void TestConstLumen::legality()
{
    QFETCH(int, index);
    QFETCH(int, value);
    QFETCH(int, result);
    QCOMPARE(int(Jude_ConstantTime_Legal(initialTimes(), uint8_t(index), uint8_t(value))), result);
}

void TestConstLumen::increase_data()
{
    QTest::addColumn<Points>("before");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("value");
    QTest::addColumn<Points>("after");
    QTest::newRow("40 at 1") << initialTimes() << 1 << 40
                             << pts({0, 40, 41, 42, 43, 44, 45, 46, 47, 48}, 50);
    QTest::newRow("no push needed") << initialTimes() << 3 << 17 << pts({0, 5, 10, 17}, 20);
    QTest::newRow("99 at 14") << initialTimes() << 14 << 99
                              << pts({0, 5, 10, 15, 20, 25, 30, 35, 40, 45, 50, 55, 60, 65, 99,
                                      100});
    QTest::newRow("100 at 14") << initialTimes() << 14 << 100
                               << pts({0, 5, 10, 15, 20, 25, 30, 35, 40, 45, 50, 55, 60, 65, 100,
                                       100});
    QTest::newRow("97 at 1 caps the tail")
        << initialTimes() << 1 << 97
        << pts({0, 97, 98, 99, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100});
    QTest::newRow("index 16 ignored") << initialTimes() << 16 << 3 << initialTimes();
}

void TestConstLumen::increase()
{
    QFETCH(Points, before);
    QFETCH(int, index);
    QFETCH(int, value);
    QFETCH(Points, after);
    Increase_ConstantTime(before, uint8_t(index), uint8_t(value));
    QCOMPARE(show(before), show(after));
}

void TestConstLumen::check_data()
{
    QTest::addColumn<Points>("before");
    QTest::addColumn<bool>("changed");
    QTest::addColumn<Points>("after");
    QTest::newRow("0,5,3,20 repairs 3") << pts({0, 5, 3}, 20) << true << pts({0, 5, 6}, 20);
    QTest::newRow("0,5,5,20 unchanged") << pts({0, 5, 5}, 20) << false << pts({0, 5, 5}, 20);
    QTest::newRow("initial unchanged") << initialTimes() << false << initialTimes();
    QTest::newRow("first not 0") << pts({7, 5}, 10) << true << pts({0, 5}, 10);
    QTest::newRow("drop in the middle")
        << pts({0, 10, 20, 30, 5, 6, 40}, 45) << true << pts({0, 10, 20, 30, 31, 31, 40}, 45);
    QTest::newRow("cap at 100") << pts({0, 99, 0, 0}, 0, 0) << true << pts({0, 99}, 100, 0);
    // A damaged 255 must not make the following times restart at 0.
    QTest::newRow("255 does not wrap") << pts({0, 255, 3}, 3, 0) << true << pts({0, 255}, 100, 0);
    QTest::newRow("all zero") << Points{} << false << Points{};
}

void TestConstLumen::check()
{
    QFETCH(Points, before);
    QFETCH(bool, changed);
    QFETCH(Points, after);
    QCOMPARE(Check_ConstantData(before), changed);
    QCOMPARE(show(before), show(after));
}

void TestConstLumen::edit_timeColumnZero_isForcedToZero()
{
    const EditResult r = Cal_ConstantLumenData(initialTimes(), initialLevels(), 100, 0, 7, 0, 0);
    QCOMPARE(r.cellText, QStringLiteral("0"));
    QCOMPARE(r.times, initialTimes());
    QVERIFY(!r.warn);
    QVERIFY(!r.redraw);
    QVERIFY(!r.changed);

    // Even a stored non-zero first time is set back to 0.
    Points t = initialTimes();
    t[0] = 3;
    const EditResult r2 = Cal_ConstantLumenData(t, initialLevels(), 100, 0, 150, 0, 0);
    QCOMPARE(int(r2.times[0]), 0);
    QVERIFY(!r2.warn);
    QVERIFY(r2.changed);
}

void TestConstLumen::edit_decreasingTime_warnsAndRestores()
{
    const EditResult r = Cal_ConstantLumenData(initialTimes(), initialLevels(), 100, 0, 3, 0, 2);
    QVERIFY(r.warn);
    QCOMPARE(r.warningEn, QStringLiteral("The nature of time is increasing!"));
    QCOMPARE(r.warningCn, QStringLiteral("时间的特性是递增的!"));
    QCOMPARE(r.cellText, QStringLiteral("10"));
    QCOMPARE(r.times, initialTimes());
    QVERIFY(!r.redraw);
    QVERIFY(!r.reshowTimes);
}

void TestConstLumen::edit_decreasingTime_repairsBrokenStoredTime()
{
    Points t = pts({0, 50, 20}, 60);
    EditResult r = Cal_ConstantLumenData(t, initialLevels(), 100, 0, 40, 0, 2);
    QVERIFY(r.warn);
    QCOMPARE(int(r.times[2]), 51);
    QCOMPARE(r.cellText, QStringLiteral("51"));
    QVERIFY(r.changed);

    t = pts({0, 100, 20}, 60);
    r = Cal_ConstantLumenData(t, initialLevels(), 100, 0, 40, 0, 2);
    QCOMPARE(int(r.times[2]), 100);
    QCOMPARE(r.cellText, QStringLiteral("100"));
}

void TestConstLumen::edit_time40IntoColumn1_pushesLaterTimes()
{
    const EditResult r = Cal_ConstantLumenData(initialTimes(), initialLevels(), 100, 0, 40, 0, 1);
    QVERIFY(!r.warn);
    QCOMPARE(show(r.times), QStringLiteral("0,40,41,42,43,44,45,46,47,48,50,55,60,65,70,75"));
    QCOMPARE(r.cellText, QStringLiteral("40"));
    QVERIFY(r.reshowTimes);
    QVERIFY(r.redraw);
    QCOMPARE(r.levels, initialLevels());
}

void TestConstLumen::edit_lastColumns_capAt100_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("col14");
    QTest::addColumn<int>("col15");
    QTest::newRow("99") << 99 << 99 << 100;
    QTest::newRow("100") << 100 << 100 << 100;
}

void TestConstLumen::edit_lastColumns_capAt100()
{
    QFETCH(int, value);
    QFETCH(int, col14);
    QFETCH(int, col15);
    const EditResult r =
        Cal_ConstantLumenData(initialTimes(), initialLevels(), 100, 0, value, 0, 14);
    QVERIFY(!r.warn);
    QCOMPARE(int(r.times[14]), col14);
    QCOMPARE(int(r.times[15]), col15);
    QCOMPARE(int(r.times[13]), 65);
}

void TestConstLumen::edit_levelOutOfRange_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("stored");
    QTest::addColumn<QString>("cell");
    QTest::newRow("30 into col 3") << 30 << 3 << 92 << QStringLiteral("92");
    QTest::newRow("101 into col 0") << 101 << 0 << 50 << QStringLiteral("50");
    QTest::newRow("stored out of range gives min") << 10 << 5 << 20 << QStringLiteral("50");
}

void TestConstLumen::edit_levelOutOfRange()
{
    QFETCH(int, value);
    QFETCH(int, column);
    QFETCH(int, stored);
    QFETCH(QString, cell);
    Points l = initialLevels();
    l[size_t(column)] = uint8_t(stored);
    const EditResult r = Cal_ConstantLumenData(initialTimes(), l, 100, 50, value, 1, column);
    QVERIFY(r.warn);
    QCOMPARE(r.warningEn, QStringLiteral("The brightness value range is:50~100"));
    QCOMPARE(r.warningCn, QStringLiteral("亮度值范围为:50~100"));
    QCOMPARE(r.cellText, cell);
    QCOMPARE(int(r.levels[size_t(column)]), cell.toInt());
    QVERIFY(r.redraw);
    QCOMPARE(r.times, initialTimes());
}

void TestConstLumen::edit_levelInRange()
{
    const EditResult r = Cal_ConstantLumenData(initialTimes(), initialLevels(), 100, 50, 77, 1, 4);
    QVERIFY(!r.warn);
    QCOMPARE(int(r.levels[4]), 77);
    QCOMPARE(r.cellText, QStringLiteral("77"));
    QVERIFY(r.redraw);
    QVERIFY(r.changed);
    // Levels need not increase.
    QCOMPARE(int(r.levels[5]), 94);
}

void TestConstLumen::edit_timeOutOfRange()
{
    const EditResult r = Cal_ConstantLumenData(initialTimes(), initialLevels(), 100, 0, 120, 0, 3);
    QVERIFY(r.warn);
    QCOMPARE(r.warningEn, QStringLiteral("The time range is:0~100"));
    QCOMPARE(r.warningCn, QStringLiteral("时间值范围为:0~100"));
    QCOMPARE(r.cellText, QStringLiteral("15"));
    QCOMPARE(r.times, initialTimes());
    QVERIFY(r.redraw);
}

void TestConstLumen::edit_invalidCell_changesNothing()
{
    for (auto rc : {std::pair<int, int>{2, 0}, {-1, 0}, {0, 16}, {1, -1}}) {
        const EditResult r =
            Cal_ConstantLumenData(initialTimes(), initialLevels(), 100, 0, 50, rc.first, rc.second);
        QVERIFY(!r.changed);
        QVERIFY(!r.warn);
        QVERIFY(r.cellText.isEmpty());
    }
}

void TestConstLumen::texts()
{
    QCOMPARE(correctionNotice(false),
             QStringLiteral("Constant lumen data error, automatic correction"));
    QCOMPARE(correctionNotice(true), QStringLiteral("恒流明数据有误， 自动更正"));
    QCOMPARE(warningTitle(false), QStringLiteral("Warning!"));
    QCOMPARE(warningTitle(true), QStringLiteral("警告！"));
}

QTEST_APPLESS_MAIN(TestConstLumen)
#include "test_constlumen.moc"
