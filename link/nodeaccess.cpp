#include "link/nodeaccess.h"

#include <QDir>
#include <QRegularExpression>

#if defined(Q_OS_LINUX)
#include <cerrno>
#include <unistd.h>
#endif

namespace nodeaccess {

QStringList deniedUsbtmcNodes()
{
    QStringList denied;
#if defined(Q_OS_LINUX)
    static const QRegularExpression nodeName(QStringLiteral("^usbtmc\\d+$"));
    const QStringList names = QDir(QStringLiteral("/sys/class/usbmisc"))
                                  .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &name : names) {
        if (!nodeName.match(name).hasMatch())
            continue;
        const QString node = QStringLiteral("/dev/") + name;
        const QByteArray path = QFile::encodeName(node);
        if (::access(path.constData(), R_OK | W_OK) != 0 && (errno == EACCES || errno == EPERM))
            denied << node;
    }
#endif
    return denied;
}

QString deniedMessage(const QString &node)
{
    return QStringLiteral("Permission denied on %1: install the udev rule %2 (the usbsynth package does), "
                          "then unplug and replug the instrument")
        .arg(node, QLatin1String(UdevRule));
}

} // namespace nodeaccess
