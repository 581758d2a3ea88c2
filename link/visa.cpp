#include "link/visa.h"

#include "link/statustext.h"

#include <QDebug>

namespace visa {

namespace {
// More than any workstation carries; guards against a nonsensical count.
constexpr quint32 MaxResources = 10000;
} // namespace

Status openDefaultRM(Session *rm)
{
    VisaLibrary &library = VisaLibrary::instance();
    const Status status = library.openDefaultRM(rm);
    // Without a resource manager no instrument is ever found; say why once.
    if (status < 0)
        qWarning().noquote() << QStringLiteral("VISA resource manager not opened (status %1): %2")
                                    .arg(status)
                                    .arg(library.isLoaded() ? QStringLiteral("library ") + library.fileName()
                                                            : library.failureReport());
    return status;
}

Status close(Session object)
{
    return VisaLibrary::instance().close(object);
}

Status open(Session rm, const QString &descriptor, Session *session)
{
    return VisaLibrary::instance().open(rm, descriptor.toLocal8Bit(), session);
}

Status writeLine(Session session, const QString &line)
{
    return VisaLibrary::instance().write(session, line.toLocal8Bit());
}

Status readReply(Session session, QString *reply)
{
    QByteArray bytes;
    const Status status = VisaLibrary::instance().read(session, &bytes);
    const int nul = int(bytes.indexOf('\0'));
    if (nul >= 0)
        bytes.truncate(nul);
    *reply = QString::fromUtf8(bytes);
    return status;
}

QStringList findResources(Session rm, const QString &expression)
{
    VisaLibrary &library = VisaLibrary::instance();
    Session findList = NullSession;
    quint32 count = 0;
    QByteArray descriptor;
    library.findResources(rm, expression.toLocal8Bit(), &findList, &count, &descriptor);
    QStringList found;
    if (count > 0) {
        found << QString::fromLocal8Bit(descriptor);
        // A failing step ends the list: its buffer holds no descriptor.
        for (quint32 i = 1; i < count && i < MaxResources; ++i) {
            if (library.findNext(findList, &descriptor) < 0)
                break;
            found << QString::fromLocal8Bit(descriptor);
        }
    }
    library.close(findList);
    return found;
}

QString explainStatusCodes(Session object, const QString &message)
{
    return statustext::explained(message, [object](Status status) {
        return VisaLibrary::instance().statusDescription(object, status);
    });
}

} // namespace visa
