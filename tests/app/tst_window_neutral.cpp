#include "app/branding.h"
#include "app/vantory.h"

#include <QAction>
#include <QLabel>
#include <QtTest>

// The neutral program: the same window, only the branding values differ.
class TstWindowNeutral : public QObject
{
    Q_OBJECT

  private slots:
    void brandingValues();
    void window_showsNeutralBranding();
};

void TstWindowNeutral::brandingValues()
{
    QCOMPARE(branding::windowTitle(false), QStringLiteral("NFC Reader"));
    QCOMPARE(branding::windowTitle(true), QString::fromUtf8("LED驱动配置"));
    QCOMPARE(branding::productText(), QStringLiteral("HXM-QB-T7-60-250"));
    QCOMPARE(branding::aboutIcon(),
             QString::fromUtf8(":image/images/UI_img/关于我们_Property_1_gongban1@3x.png"));
    QCOMPARE(branding::aboutImage(), QStringLiteral(":image/images/UI_img/aboutus_common_2x.png"));
    QCOMPARE(branding::programName(), QStringLiteral("vantory-neutral"));
}

void TstWindowNeutral::window_showsNeutralBranding()
{
    Vantory w;
    QCOMPARE(w.windowTitle(), QStringLiteral("NFC Reader"));
    auto* product = w.findChild<QLabel*>(QStringLiteral("Productlabel"));
    QVERIFY(product);
    QCOMPARE(product->text(), QStringLiteral("HXM-QB-T7-60-250"));

    auto* about = w.findChild<QAction*>(QStringLiteral("actionAboutus"));
    QVERIFY(about);
    QVERIFY(QFile::exists(branding::aboutIcon()));
    const QSize size(40, 40);
    QCOMPARE(about->icon().pixmap(size).toImage(),
             QIcon(branding::aboutIcon()).pixmap(size).toImage());
    // Not the branded icon that the form names.
    const QString branded =
        QString::fromUtf8(":/image/images/UI_img/关于我们_Property_1_Variant2@3x_72x72.png");
    QVERIFY(about->icon().pixmap(size).toImage() != QIcon(branded).pixmap(size).toImage());
}

QTEST_MAIN(TstWindowNeutral)
#include "tst_window_neutral.moc"
