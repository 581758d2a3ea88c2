#include "link/discovery.h"

#include "link/commandset.h"
#include "link/visa.h"

#include <QRegularExpression>
#include <QStringList>

namespace discovery {

namespace {
constexpr int MinSupportedProductId = 0x0F;
constexpr int MaxSupportedProductId = 0x15;

const QRegularExpression &lineFeedPattern()
{
    static const QRegularExpression pattern(QStringLiteral("[\\n]"));
    return pattern;
}
} // namespace

DescriptorFields descriptorFields(const QString &descriptor)
{
    const QStringList fields = descriptor.split(QStringLiteral("::"));
    DescriptorFields result;
    if (fields.size() < 4)
        return result;
    result.productId = fields.at(2);
    result.serial = fields.at(3);
    result.complete = true;
    return result;
}

std::optional<int> productIdValue(const QString &text)
{
    // Base 16 with or without the 0x prefix, as QString::toInt(text, 16)
    // reads it, but over the whole field: toInt alone would skip blanks and
    // let "0x15\n" through.
    static const QRegularExpression hex(
        QRegularExpression::anchoredPattern(QStringLiteral("(?:0[xX])?([0-9A-Fa-f]{1,8})")));
    const QRegularExpressionMatch m = hex.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    bool ok = false;
    const int value = m.captured(1).toInt(&ok, 16);
    if (!ok)
        return std::nullopt;
    return value;
}

bool isSupportedProductId(const QString &text)
{
    const std::optional<int> value = productIdValue(text);
    return value && *value >= MinSupportedProductId && *value <= MaxSupportedProductId;
}

Identification parseIdentification(const QString &reply)
{
    const QStringList fields = reply.split(QLatin1Char(','));
    Identification result;
    if (fields.size() < 4)
        return result;
    result.model = fields.at(1);
    result.firmware = fields.at(3);
    result.firmware.remove(lineFeedPattern());
    result.complete = true;
    return result;
}

bool isSupportedModel(const QString &model)
{
    static const char *const prefixes[] = {"774", "VX27H774", "VXHN774", "TR27H774"};
    for (const char *prefix : prefixes) {
        if (model.startsWith(QLatin1String(prefix), Qt::CaseSensitive))
            return true;
    }
    return false;
}

bool isAccepted(const QString &productId, const Identification &identification)
{
    return isSupportedProductId(productId) && identification.complete
           && isSupportedModel(identification.model);
}

QString identify(visa::Session rm, const QString &descriptor)
{
    visa::Session session = visa::NullSession;
    QString reply;
    if (visa::open(rm, descriptor, &session) >= 0) {
        visa::writeLine(session, QString::fromLatin1(cmd::Identify));
        visa::readReply(session, &reply);
    }
    visa::close(session);
    return reply;
}

} // namespace discovery
