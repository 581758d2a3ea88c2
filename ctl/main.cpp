#include "ctl/controller.h"

#include <QCoreApplication>

#include <cstdio>
#include <unistd.h>

namespace {

QtMessageHandler defaultHandler = nullptr;

// The link code warns a window's console when no library or resource manager
// could be used; this tool says so once, in its own diagnosis.
void dropLinkWarnings(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtWarningMsg
        && (message.startsWith(QLatin1String("No VISA library could be used"))
            || message.startsWith(QLatin1String("VISA resource manager not opened"))))
        return;
    defaultHandler(type, context, message);
}

} // namespace

int main(int argc, char *argv[])
{
    defaultHandler = qInstallMessageHandler(dropLinkWarnings);
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    Controller controller(out, err, ::isatty(STDERR_FILENO) == 1);
    const int status = controller.run(QCoreApplication::arguments().mid(1));
    out.flush();
    err.flush();
    return status;
}
