#include "widgets/noticewidget.h"

#include <QElapsedTimer>
#include <QFontMetrics>
#include <QtTest>

namespace
{

const QString kShort = QStringLiteral("Copy Succeed");
const QString kLong = QStringLiteral("Constant lumen data error, automatic correction");

} // namespace

class TstNoticeWidget : public QObject
{
    Q_OBJECT
  private slots:
    void init();
    void cleanup();

    void noticeSize_rules_data();
    void noticeSize_rules();
    void centredPosition_shiftsTowardsMinusInfinity();
    void ticksFor_duration_data();
    void ticksFor_duration();
    void show_shortLine_in1000pxWindow();
    void show_longLine_addsRowPerWideLine();
    void show_multiLine_keepsEmptyLines();
    void fade_lastTwentyTicks_thenHides();
    void timer_2000ms_hidesAfterAbout2s();
    void secondNotice_replacesAtFullOpacity();
    void emptyTextOrNoTime_hidesShownNotice_data();
    void emptyTextOrNoTime_hidesShownNotice();
    void noParent_showsNothing();
    void parentResized_noticeFollowsCentre();

  private:
    QWidget* m_window = nullptr;
    NoticeWidget* m_notice = nullptr;
};

void TstNoticeWidget::init()
{
    m_window = new QWidget;
    m_window->resize(1000, 600);
    m_notice = new NoticeWidget(nullptr);
    // The window's font: keeps the short text narrower than 100 px on any machine.
    QFont font = m_notice->font();
    font.setPixelSize(12);
    m_notice->setFont(font);
}

void TstNoticeWidget::cleanup()
{
    // The notice becomes a child of the window once shown.
    if (m_notice && !m_notice->parent())
        delete m_notice;
    delete m_window;
    m_notice = nullptr;
    m_window = nullptr;
}

void TstNoticeWidget::noticeSize_rules_data()
{
    QTest::addColumn<int>("parentWidth");
    QTest::addColumn<int>("textWidth");
    QTest::addColumn<QList<int>>("lines");
    QTest::addColumn<QSize>("size");
    // Row height 25, base height 26 throughout.
    QTest::newRow("short line: row + base") << 1000 << 75 << QList<int>{75} << QSize(100, 51);
    QTest::newRow("one wide line: one extra row")
        << 1000 << 300 << QList<int>{300} << QSize(100, 85 + 25);
    QTest::newRow("two lines, one wide")
        << 1000 << 350 << QList<int>{300, 50} << QSize(100, 97 + 25);
    QTest::newRow("two wide lines") << 1000 << 400 << QList<int>{200, 200} << QSize(100, 110 + 50);
    QTest::newRow("fraction kept until the end")
        << 1005 << 300 << QList<int>{300} << QSize(100, 84 + 25);
    QTest::newRow("line exactly as wide as the notice")
        << 1000 << 200 << QList<int>{100, 100} << QSize(100, 60);
    QTest::newRow("no parent width") << 0 << 75 << QList<int>{75} << QSize(0, 51);
}

void TstNoticeWidget::noticeSize_rules()
{
    QFETCH(int, parentWidth);
    QFETCH(int, textWidth);
    QFETCH(QList<int>, lines);
    QFETCH(QSize, size);
    QCOMPARE(NoticeWidget::noticeSize(parentWidth, 25, 26, textWidth, lines), size);
}

void TstNoticeWidget::centredPosition_shiftsTowardsMinusInfinity()
{
    QCOMPARE(NoticeWidget::centredPosition(QSize(1000, 600), QSize(100, 51)), QPoint(450, 274));
    QCOMPARE(NoticeWidget::centredPosition(QSize(50, 20), QSize(100, 51)), QPoint(-25, -16));
}

void TstNoticeWidget::ticksFor_duration_data()
{
    QTest::addColumn<int>("ms");
    QTest::addColumn<int>("ticks");
    QTest::newRow("2000 ms") << 2000 << 41;
    QTest::newRow("3000 ms") << 3000 << 61;
    QTest::newRow("49 ms") << 49 << 1;
    QTest::newRow("1 ms") << 1 << 1;
}

void TstNoticeWidget::ticksFor_duration()
{
    QFETCH(int, ms);
    QFETCH(int, ticks);
    QCOMPARE(NoticeWidget::ticksFor(ms), ticks);
}

void TstNoticeWidget::show_shortLine_in1000pxWindow()
{
    m_notice->showNotice(m_window, kShort, 2000);
    QVERIFY(m_notice->isVisible() || !m_window->isVisible());
    QVERIFY(!m_notice->isHidden());
    QCOMPARE(m_notice->parentWidget(), m_window);
    QCOMPARE(m_notice->text(), kShort);
    QVERIFY(m_notice->wordWrap());
    QCOMPARE(m_notice->alignment(), Qt::AlignCenter);

    const QFontMetrics fm = m_notice->fontMetrics();
    const int row = fm.lineSpacing() + 10;
    QCOMPARE(m_notice->rowHeight(), row);
    QCOMPARE(m_notice->textWidth(), fm.horizontalAdvance(kShort));
    QCOMPARE(m_notice->baseHeight(), row + 1); // one line: text width / widest line = 1
    QVERIFY(m_notice->textWidth() < 100);

    QCOMPARE(m_notice->width(), 100);
    QCOMPARE(m_notice->height(), row + m_notice->baseHeight());
    QCOMPARE(m_notice->pos(), QPoint(450, (600 - m_notice->height()) >> 1));
    QCOMPARE(m_notice->ticks(), 41);
    QCOMPARE(m_notice->alpha(), 255);
    QCOMPARE(
        m_notice->styleSheet(),
        QStringLiteral("color:black;border-radius:8px;background-color:rgba(248, 248, 248, 255);"));
    QVERIFY(m_notice->isTicking());
}

void TstNoticeWidget::show_longLine_addsRowPerWideLine()
{
    m_notice->showNotice(m_window, kLong, 3000);
    const QFontMetrics fm = m_notice->fontMetrics();
    const int row = fm.lineSpacing() + 10;
    const int width = fm.horizontalAdvance(kLong);
    QVERIFY(width > 100);
    const int computed = static_cast<int>(row * width / 100.0 + 10);
    QVERIFY(computed >= 2 * row + 1);
    QCOMPARE(m_notice->size(), QSize(100, computed + row));
    QCOMPARE(m_notice->ticks(), 61);
}

void TstNoticeWidget::show_multiLine_keepsEmptyLines()
{
    const QString text = QStringLiteral("first\n\nthird line");
    m_notice->showNotice(m_window, text, 500);
    const QFontMetrics fm = m_notice->fontMetrics();
    QCOMPARE(m_notice->lineWidths(),
             (QList<int>{fm.horizontalAdvance("first"), 0, fm.horizontalAdvance("third line")}));
    const int widest = fm.horizontalAdvance("third line");
    QCOMPARE(m_notice->baseHeight(),
             m_notice->rowHeight() * fm.horizontalAdvance(text) / widest + 1);
}

void TstNoticeWidget::fade_lastTwentyTicks_thenHides()
{
    m_notice->showNotice(m_window, kShort, 2000);
    QList<int> alphas;
    for (int i = 0; i < 40; ++i) {
        m_notice->OnTimerTimeout();
        alphas << m_notice->alpha();
    }
    QList<int> expected;
    for (int i = 0; i < 20; ++i)
        expected << 255;
    for (int a = 242; a > 0; a -= 13)
        expected << a;
    expected << 0; // 8 - 13 is clamped
    QCOMPARE(alphas, expected);
    QCOMPARE(
        m_notice->styleSheet(),
        QStringLiteral("color:black;border-radius:8px;background-color:rgba(248, 248, 248, 0);"));
    QVERIFY(!m_notice->isHidden());
    QCOMPARE(m_notice->ticks(), 1);

    m_notice->OnTimerTimeout(); // the 41st tick
    QVERIFY(m_notice->isHidden());
    QVERIFY(!m_notice->isTicking());
    QCOMPARE(NoticeWidget::nextAlpha(5), 0);
}

void TstNoticeWidget::timer_2000ms_hidesAfterAbout2s()
{
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    QElapsedTimer clock;
    clock.start();
    m_notice->showNotice(m_window, kShort, 2000);
    QVERIFY(m_notice->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(!m_notice->isVisible(), 4000);
    QVERIFY2(clock.elapsed() >= 1800, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(m_notice->alpha(), 0);
}

void TstNoticeWidget::secondNotice_replacesAtFullOpacity()
{
    m_notice->showNotice(m_window, kShort, 2000);
    for (int i = 0; i < 30; ++i)
        m_notice->OnTimerTimeout();
    QVERIFY(m_notice->alpha() < 255);

    m_notice->showNotice(m_window, kLong, 3000);
    QCOMPARE(m_notice->text(), kLong);
    QCOMPARE(m_notice->alpha(), 255);
    QCOMPARE(m_notice->ticks(), 61);
    QVERIFY(!m_notice->isHidden());
    QVERIFY(m_notice->styleSheet().endsWith(QStringLiteral("255);")));
    QVERIFY(m_notice->isTicking());
}

void TstNoticeWidget::emptyTextOrNoTime_hidesShownNotice_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("ms");
    QTest::newRow("empty text") << QString() << 2000;
    QTest::newRow("zero duration") << kShort << 0;
    QTest::newRow("negative duration") << kShort << -50;
}

void TstNoticeWidget::emptyTextOrNoTime_hidesShownNotice()
{
    QFETCH(QString, text);
    QFETCH(int, ms);
    m_notice->showNotice(m_window, kLong, 3000);
    QVERIFY(!m_notice->isHidden());
    m_notice->showNotice(m_window, text, ms);
    QVERIFY(m_notice->isHidden());
    QVERIFY(!m_notice->isTicking());
    QCOMPARE(m_notice->text(), kLong); // nothing new was laid out
}

void TstNoticeWidget::noParent_showsNothing()
{
    m_notice->showNotice(nullptr, kShort, 2000);
    QVERIFY(m_notice->isHidden());
    QVERIFY(!m_notice->isTicking());
    QVERIFY(!m_notice->parent());
}

void TstNoticeWidget::parentResized_noticeFollowsCentre()
{
    m_notice->showNotice(m_window, kShort, 2000);
    m_window->resize(800, 400);
    m_notice->OnTimerTimeout();
    QCOMPARE(m_notice->width(), 80);
    QCOMPARE(m_notice->pos(), QPoint(360, (400 - m_notice->height()) >> 1));
}

QTEST_MAIN(TstNoticeWidget)
#include "tst_noticewidget.moc"
