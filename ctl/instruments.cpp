#include "ctl/instruments.h"

#include "link/discovery.h"
#include "link/nodeaccess.h"
#include "link/visa.h"

Instruments::Instruments()
{
    managerOpen = visa::openDefaultRM(&rm) >= 0;
}

Instruments::~Instruments()
{
    if (managerOpen)
        visa::close(rm);
}

QList<Instruments::Instrument> Instruments::find(const QString &serial)
{
    QList<Instrument> found;
    seen = managerOpen ? visa::findResources(rm, QStringLiteral("USB?*")) : QStringList();
    rejected.clear();
    for (const QString &descriptor : std::as_const(seen)) {
        const discovery::DescriptorFields fields = discovery::descriptorFields(descriptor);
        if (!fields.complete || !discovery::isSupportedProductId(fields.productId))
            continue;
        if (!serial.isEmpty() && fields.serial != serial)
            continue;
        const discovery::Identification id = discovery::parseIdentification(discovery::identify(rm, descriptor));
        if (!discovery::isAccepted(fields.productId, id)) {
            rejected << descriptor;
            continue;
        }
        found.append({descriptor, fields.serial, fields.productId, id.model, id.firmware,
                      models::frequencyRange(fields.productId)});
    }
    return found;
}

QString Instruments::diagnosis() const
{
    VisaLibrary &library = VisaLibrary::instance();
    QStringList lines;
    if (!library.isLoaded()) {
        lines << library.failureReport(); // "No VISA library could be used; tried: ..."
        return lines.join(QLatin1Char('\n'));
    }
    lines << QStringLiteral("VISA library: ") + library.fileName();
    if (!managerOpen)
        lines << QStringLiteral("The VISA resource manager could not be opened.");
    else if (seen.isEmpty())
        lines << QStringLiteral("No USB resources were found.");
    else
        lines << QStringLiteral("USB resources found: ") + seen.join(QStringLiteral(", "));
    if (!rejected.isEmpty())
        lines << QStringLiteral("Not identified as a supported model: ") + rejected.join(QStringLiteral(", "));
    for (const QString &node : nodeaccess::deniedUsbtmcNodes())
        lines << nodeaccess::deniedMessage(node);
    return lines.join(QLatin1Char('\n'));
}
