#include "widgets/titlebar.h"

#include <QDialog>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

namespace
{

void sendMouse(QWidget* w, QEvent::Type type, QPoint local, Qt::MouseButton button,
               Qt::MouseButtons buttons, QPoint global)
{
    QMouseEvent e(type, local, global, button, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

} // namespace

class TstTitleBar : public QObject
{
    Q_OBJECT
  private slots:
    void form_matchesLayout();
    void setTitle_changesLabel();
    void leftDrag_movesParentDialog();
    void rightDrag_doesNothing();
    void moveWithoutPress_doesNothing();
    void closeButton_closesTopLevelWindow();
};

void TstTitleBar::form_matchesLayout()
{
    TitleBar bar;
    QCOMPARE(bar.objectName(), QStringLiteral("TitleBar"));
    QCOMPARE(bar.windowTitle(), QStringLiteral("Form"));
    QCOMPARE(bar.size(), QSize(536, 34));
    QCOMPARE(bar.maximumHeight(), 40);

    auto* grid = bar.findChild<QGridLayout*>(QStringLiteral("gridLayout"));
    QVERIFY(grid);
    QCOMPARE(grid->spacing(), 0);
    QCOMPARE(grid->contentsMargins(), QMargins(0, 0, 0, 0));
    auto* top = bar.findChild<QWidget*>(QStringLiteral("widTop"));
    QVERIFY(top);
    QVERIFY(top->styleSheet().isEmpty());
    QVERIFY(top->findChild<QGridLayout*>(QStringLiteral("gridLayout_2")));

    auto* label = bar.findChild<QLabel*>(QStringLiteral("label_Title"));
    QVERIFY(label);
    QCOMPARE(label->text(), QStringLiteral("   About us"));
    QCOMPARE(label->styleSheet(), QStringLiteral("font: 15px;\nfont: Bold;"));
    QCOMPARE(label->alignment(), Qt::AlignCenter);

    auto* close = bar.findChild<QPushButton*>(QStringLiteral("pushButtonClose"));
    QVERIFY(close);
    QCOMPARE(close->maximumWidth(), 30);
    QCOMPARE(close->focusPolicy(), Qt::NoFocus);
    QCOMPARE(close->styleSheet(),
             QStringLiteral("font: 18px;\nborder-style:none;\nborder:0px solid #C0DEF6;"));
    QVERIFY(close->autoDefault());
    QVERIFY(close->isFlat());
    QVERIFY(!close->isDefault());
    QVERIFY(close->text().isEmpty());
}

void TstTitleBar::setTitle_changesLabel()
{
    TitleBar bar;
    bar.setTitle(QStringLiteral("   关于我们"));
    QCOMPARE(bar.title(), QStringLiteral("   关于我们"));
    QCOMPARE(bar.findChild<QLabel*>(QStringLiteral("label_Title"))->text(),
             QStringLiteral("   关于我们"));
}

void TstTitleBar::leftDrag_movesParentDialog()
{
    QDialog dialog;
    auto* bar = new TitleBar(&dialog);
    dialog.move(100, 100);
    const QPoint start(500, 300);

    sendMouse(bar, QEvent::MouseButtonPress, QPoint(10, 10), Qt::LeftButton, Qt::LeftButton, start);
    QVERIFY(bar->isDragging());
    sendMouse(bar, QEvent::MouseMove, QPoint(40, 30), Qt::NoButton, Qt::LeftButton,
              start + QPoint(30, 20));
    QCOMPARE(dialog.pos(), QPoint(130, 120));
    sendMouse(bar, QEvent::MouseMove, QPoint(35, 35), Qt::NoButton, Qt::LeftButton,
              start + QPoint(25, 25));
    QCOMPARE(dialog.pos(), QPoint(125, 125));

    sendMouse(bar, QEvent::MouseButtonRelease, QPoint(35, 35), Qt::LeftButton, Qt::NoButton,
              start + QPoint(25, 25));
    QVERIFY(!bar->isDragging());
    sendMouse(bar, QEvent::MouseMove, QPoint(90, 90), Qt::NoButton, Qt::NoButton,
              start + QPoint(200, 200));
    QCOMPARE(dialog.pos(), QPoint(125, 125));
}

void TstTitleBar::rightDrag_doesNothing()
{
    QDialog dialog;
    auto* bar = new TitleBar(&dialog);
    dialog.move(100, 100);
    sendMouse(bar, QEvent::MouseButtonPress, QPoint(10, 10), Qt::RightButton, Qt::RightButton,
              QPoint(500, 300));
    QVERIFY(!bar->isDragging());
    sendMouse(bar, QEvent::MouseMove, QPoint(60, 60), Qt::NoButton, Qt::RightButton,
              QPoint(550, 350));
    QCOMPARE(dialog.pos(), QPoint(100, 100));
}

void TstTitleBar::moveWithoutPress_doesNothing()
{
    QDialog dialog;
    auto* bar = new TitleBar(&dialog);
    dialog.move(100, 100);
    sendMouse(bar, QEvent::MouseMove, QPoint(60, 60), Qt::NoButton, Qt::LeftButton,
              QPoint(550, 350));
    QCOMPARE(dialog.pos(), QPoint(100, 100));
}

void TstTitleBar::closeButton_closesTopLevelWindow()
{
    QDialog dialog;
    auto* host = new QWidget(&dialog); // the bar sits deeper than the dialog itself
    auto* bar = new TitleBar(host);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    auto* close = bar->findChild<QPushButton*>(QStringLiteral("pushButtonClose"));
    QTest::mouseClick(close, Qt::LeftButton);
    QVERIFY(!dialog.isVisible());
}

QTEST_MAIN(TstTitleBar)
#include "tst_titlebar.moc"
