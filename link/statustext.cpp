#include "link/statustext.h"

#include "link/visadefs.h"

#include <QRegularExpression>

namespace statustext {

QString standardDescription(visa::Status status)
{
    static const struct
    {
        ViStatus status;
        const char *text;
    } texts[] = {
        {VI_SUCCESS, "success"},
        {VI_SUCCESS_TERM_CHAR, "termination character read"},
        {VI_SUCCESS_MAX_CNT, "read buffer filled"},
        {VI_WARN_NULL_OBJECT, "null object"},
        {VI_WARN_UNKNOWN_STATUS, "unknown status"},
        {VI_ERROR_SYSTEM_ERROR, "system error"},
        {VI_ERROR_INV_OBJECT, "invalid session"},
        {VI_ERROR_INV_EXPR, "invalid search expression"},
        {VI_ERROR_RSRC_NFOUND, "resource not found"},
        {VI_ERROR_INV_RSRC_NAME, "invalid resource name"},
        {VI_ERROR_TMO, "timeout"},
        {VI_ERROR_NSUP_ATTR, "attribute not supported"},
        {VI_ERROR_NSUP_ATTR_STATE, "attribute value not supported"},
        {VI_ERROR_ATTR_READONLY, "attribute is read-only"},
        {VI_ERROR_IO, "I/O error"},
        {VI_ERROR_INV_FMT, "invalid format"},
        {VI_ERROR_NSUP_OPER, "operation not supported"},
        {VI_ERROR_USER_BUF, "invalid buffer"},
        {VI_ERROR_RSRC_BUSY, "resource busy"},
        {VI_ERROR_LIBRARY_NFOUND, "VISA library not found"},
        {VI_ERROR_CONN_LOST, "connection lost"},
    };
    for (const auto &entry : texts) {
        if (entry.status == status)
            return QString::fromLatin1(entry.text);
    }
    return QString();
}

QString explained(const QString &message, const std::function<QString(visa::Status)> &describe)
{
    static const QRegularExpression code(QStringLiteral("\\bCode (-?\\d+)"));
    QString result;
    qsizetype from = 0;
    QRegularExpressionMatchIterator matches = code.globalMatch(message);
    while (matches.hasNext()) {
        const QRegularExpressionMatch match = matches.next();
        result += message.mid(from, match.capturedEnd() - from);
        from = match.capturedEnd();
        bool ok = false;
        const visa::Status status = match.captured(1).toInt(&ok);
        if (!ok)
            continue; // not a 32-bit status
        QString text = describe ? describe(status).trimmed() : QString();
        // Library texts are sentences; in parentheses they read better without the stop.
        if (text.endsWith(QLatin1Char('.')))
            text.chop(1);
        if (text.isEmpty())
            text = standardDescription(status);
        if (!text.isEmpty())
            result += QStringLiteral(" (%1)").arg(text);
    }
    return result + message.mid(from);
}

} // namespace statustext
