#include <QDirIterator>
#include <QFile>
#include <QHash>
#include <QIcon>
#include <QImage>
#include <QSet>
#include <QtTest>

namespace
{

struct Artwork {
    const char* path; // as the program spells it
    QSize pixels;     // size of the PNG
    QSize logical;    // pixels / the @Nx ratio that Qt reads from the file name
    bool toolbar;     // sits in the 100 x 60 toolbar
};

const QSize toolbarPx(120, 120);
const QSize toolbarShown(60, 60);
const QSize dataPx(40, 40);
const QSize dataShown(20, 20);

// Every image the program loads, in the spelling its code uses.
const Artwork artwork[] = {
    {":/image/images/UI_img/连接配置_Property_1_Variant2@2x.png", toolbarPx, toolbarShown, true},
    {":/image/images/UI_img/station@2x.png", toolbarPx, toolbarShown, true},
    {":/image/images/UI_img/读取档案_Property_1_Variant2@2x.png", toolbarPx, toolbarShown, true},
    {":/image/images/UI_img/保存档案_Property_1_Variant2@2x.png", toolbarPx, toolbarShown, true},
    {":/image/images/UI_img/读取_Property_1_Variant2@2x.png", toolbarPx, toolbarShown, true},
    {":/image/images/UI_img/写入1_Property_1_Variant2@2x.png", toolbarPx, toolbarShown, true},
    {":/image/images/UI_img/扫描_Property_1_Variant2@2x.png", toolbarPx, toolbarShown, true},
    {":image/images/UI_img/扫描_Property_1_Variant2@2x.png", toolbarPx, toolbarShown, true},
    {":image/images/stop.png", toolbarPx, toolbarPx, true},
    {":/image/images/UI_img/关于我们_Property_1_Variant2@3x_72x72.png", {72, 72}, {72, 72}, true},
    {":image/images/UI_img/关于我们_Property_1_Variant2@3x_72x72.png", {72, 72}, {72, 72}, true},
    {":image/images/UI_img/关于我们_Property_1_gongban1@3x.png", {180, 180}, toolbarShown, true},
    {":/image/images/UI_img/切换语言_Property_1_Variant4@2x.png", toolbarPx, toolbarShown, true},
    {":/image/images/UI_img/切换语言_Property_1_Variant3@2x.png", toolbarPx, toolbarShown, true},
    {":image/images/UI_img/切换语言_Property_1_Variant4@2x.png", toolbarPx, toolbarShown, true},
    {":image/images/UI_img/切换语言_Property_1_Variant3@2x.png", toolbarPx, toolbarShown, true},
    {":/image/images/UI_img/List@2x.png", dataPx, dataShown, false},
    {":/image/images/UI_img/Code@2x.png", dataPx, dataShown, false},
    {":/image/images/UI_img/Apps@2x.png", dataPx, dataShown, false},
    {":/image/images/UI_img/Swap@2x.png", dataPx, dataShown, false},
    {":/image/images/UI_img/Schedule_Property_1_Default@2x.png", dataPx, dataShown, false},
    {":/image/images/UI_img/Schedule_Property_1_Variant2@2x.png", dataPx, dataShown, false},
    {":/image/images/UI_img/Common@2x.png", dataPx, dataShown, false},
    {":/image/images/UI_img/FilePdf@2x.png", dataPx, dataShown, false},
    {":/image/images/UI_img/Tag@2x.png", dataPx, dataShown, false},
    {":/image/images/UI_img/电流_Property_1_Variant4@2x.png", dataPx, dataShown, false},
    {":/image/images/UI_img/Close.png", {32, 32}, {32, 32}, false},
    {":image/images/UI_img/输入_Property_1_默认.png", {36, 25}, {36, 25}, false},
    {":image/images/UI_img/Group@2x.png", {560, 422}, {280, 211}, false},
    {":image/images/UI_img/aboutus_common_2x.png", {280, 211}, {280, 211}, false},
};

// ":image/x" is a relative resource path; Qt looks it up under the root.
QString canonical(const QString& path)
{
    return path.startsWith(QLatin1String(":/")) ? path : QStringLiteral(":/") + path.mid(1);
}

// The palette of the artwork: dark grey strokes, the accent blues and their tints.
const QSet<QRgb> palette = {qRgb(0x3D, 0x44, 0x52), qRgb(0x29, 0x72, 0xFF), qRgb(0x1A, 0x6E, 0xD9),
                            qRgb(0xFF, 0xFF, 0xFF), qRgb(0xE4, 0xED, 0xFF), qRgb(0xEE, 0xF3, 0xFF),
                            qRgb(0xE3, 0xE7, 0xEE), qRgb(0xC9, 0xD8, 0xF7)};

struct Coverage {
    double opaqueShare = 0;
    QRgb commonColour = 0; // the most frequent fully opaque colour
};

Coverage coverage(const QImage& image)
{
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    qint64 opaque = 0;
    QHash<QRgb, int> counts;
    for (int y = 0; y < argb.height(); ++y) {
        for (int x = 0; x < argb.width(); ++x) {
            const QRgb p = argb.pixel(x, y);
            if (qAlpha(p) == 255) {
                ++opaque;
                ++counts[p];
            }
        }
    }
    Coverage c;
    c.opaqueShare = double(opaque) / (argb.width() * argb.height());
    int best = 0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        if (it.value() > best) {
            best = it.value();
            c.commonColour = it.key() & 0xFFFFFF;
        }
    }
    return c;
}

} // namespace

class TestResources : public QObject
{
    Q_OBJECT

  private slots:
    void image_loadsWithItsSize_data();
    void image_loadsWithItsSize();
    void toolbarIcons_fillTheIconHeight_data();
    void toolbarIcons_fillTheIconHeight();
    void resourceTree_holdsExactlyTheNamedImages();
    void brandedAndNeutralPictures_differButShareTheirSize();
    void languageIcons_differBetweenStates();
};

void TestResources::image_loadsWithItsSize_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("pixels");
    QTest::addColumn<QSize>("logical");
    for (const Artwork& a : artwork)
        QTest::newRow(a.path) << QString::fromUtf8(a.path) << a.pixels << a.logical;
}

void TestResources::image_loadsWithItsSize()
{
    QFETCH(QString, path);
    QFETCH(QSize, pixels);
    QFETCH(QSize, logical);

    QVERIFY2(QFile::exists(path), qPrintable(path));
    const QImage image(path);
    QVERIFY(!image.isNull());
    QCOMPARE(image.size(), pixels);
    QCOMPARE(image.size() / image.devicePixelRatio(), logical);
    QCOMPARE(image, QImage(canonical(path)));

    // Drawn on a transparent ground, neither empty nor a filled block, and
    // mostly in the colours of the set.
    QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
    const Coverage c = coverage(image);
    QVERIFY2(c.opaqueShare > 0.04 && c.opaqueShare < 0.98,
             qPrintable(QString::number(c.opaqueShare)));
    QVERIFY2(
        palette.contains(qRgb(qRed(c.commonColour), qGreen(c.commonColour), qBlue(c.commonColour))),
        qPrintable(QString::number(c.commonColour, 16)));
}

void TestResources::toolbarIcons_fillTheIconHeight_data()
{
    QTest::addColumn<QString>("path");
    for (const Artwork& a : artwork)
        if (a.toolbar)
            QTest::newRow(a.path) << QString::fromUtf8(a.path);
}

void TestResources::toolbarIcons_fillTheIconHeight()
{
    QFETCH(QString, path);
    // The toolbar asks for 100 x 60; every icon, the running-scan one and both
    // about icons included, must come out at the same 60 x 60.
    const QIcon icon(path);
    QCOMPARE(icon.actualSize(QSize(100, 60)), QSize(60, 60));
    QVERIFY(!icon.pixmap(QSize(100, 60)).isNull());
}

void TestResources::resourceTree_holdsExactlyTheNamedImages()
{
    QSet<QString> named;
    for (const Artwork& a : artwork)
        named.insert(canonical(QString::fromUtf8(a.path)));

    QSet<QString> present;
    QDirIterator it(QStringLiteral(":/image"), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        present.insert(it.next());

    QCOMPARE(present, named);
}

void TestResources::brandedAndNeutralPictures_differButShareTheirSize()
{
    const QImage branded(QStringLiteral(":/image/images/UI_img/Group@2x.png"));
    const QImage neutral(QStringLiteral(":/image/images/UI_img/aboutus_common_2x.png"));
    const QImage brandedShown =
        branded.scaled(neutral.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
            .convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(brandedShown.size(), neutral.size());
    QVERIFY(brandedShown != neutral.convertToFormat(QImage::Format_ARGB32));

    const QImage brandedIcon(
        QStringLiteral(":/image/images/UI_img/关于我们_Property_1_Variant2@3x_72x72.png"));
    const QImage neutralIcon(
        QStringLiteral(":/image/images/UI_img/关于我们_Property_1_gongban1@3x.png"));
    QVERIFY(brandedIcon.scaled(60, 60) != neutralIcon.scaled(60, 60));
}

void TestResources::languageIcons_differBetweenStates()
{
    const QImage english(
        QStringLiteral(":/image/images/UI_img/切换语言_Property_1_Variant4@2x.png"));
    const QImage chinese(
        QStringLiteral(":/image/images/UI_img/切换语言_Property_1_Variant3@2x.png"));
    QVERIFY(!english.isNull() && !chinese.isNull());
    QVERIFY(english != chinese);
}

QTEST_MAIN(TestResources)
#include "tst_resources.moc"
