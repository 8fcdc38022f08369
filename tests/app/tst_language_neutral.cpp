#include "app/vantory.h"
#include "readers/sim/readerfield.h"
#include "readers/sim/simfeig.h"
#include "readers/sim/simr321.h"

#include <QAction>
#include <QtTest>

// The neutral build names no brand in either language.
class TstLanguageNeutral : public QObject
{
    Q_OBJECT

  private slots:
    void windowTitle_followsLanguage()
    {
        ReaderField field;
        SimR321 r321(&field);
        SimFeig feig(&field);
        ReaderBackends backends;
        backends.hid = &r321;
        backends.feusb = &feig;
        backends.simulated = true;
        Vantory w(backends);
        auto* action = w.findChild<QAction*>(QStringLiteral("actionLanguage"));
        QVERIFY(action);

        QCOMPARE(w.windowTitle(), QStringLiteral("NFC Reader"));
        action->trigger();
        QCOMPARE(w.windowTitle(), QStringLiteral("LED驱动配置"));
        action->trigger();
        QCOMPARE(w.windowTitle(), QStringLiteral("NFC Reader"));
    }
};

QTEST_MAIN(TstLanguageNeutral)
#include "tst_language_neutral.moc"
