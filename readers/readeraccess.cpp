#include "readers/readeraccess.h"

#include <QFile>
#include <QStringList>

namespace readeraccess
{

QString openFailureHint(const QString& path, bool chinese, bool installed)
{
#if defined(Q_OS_WIN)
    Q_UNUSED(path);
    Q_UNUSED(chinese);
    Q_UNUSED(installed);
    return {};
#else
    QStringList commands;
    // Both lines: a file of this name in /etc hides the packaged one.
    if (!installed)
        commands << QStringLiteral("printf '%s\\n' '%1' '%2' | sudo tee "
                                   "/etc/udev/rules.d/70-vantory.rules")
                        .arg(QLatin1String(R321Rule), QLatin1String(FeigRule));
    commands << QStringLiteral("sudo udevadm control --reload-rules")
             << QStringLiteral("sudo udevadm trigger");
    const QString intro =
        chinese ? QStringLiteral("无法打开 %1：访问被拒绝（access denied）。\n"
                                 "请在终端中执行以下命令安装读卡器的 udev 规则并重新加载 udev，"
                                 "然后重新插入读卡器：")
                : QStringLiteral("Access to %1 was denied.\n"
                                 "Run these commands in a terminal to install the reader's udev "
                                 "rule and reload udev, then plug the reader in again:");
    return intro.arg(path) + QStringLiteral("\n\n") + commands.join(QLatin1Char('\n'));
#endif
}

bool ruleInstalled()
{
    for (const char* p : RulePaths)
        if (QFile::exists(QString::fromLatin1(p)))
            return true;
    return false;
}

} // namespace readeraccess
