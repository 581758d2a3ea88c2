#include "sim/findexpression.h"

#include <cctype>

namespace sim {
namespace {

void appendLiteral(QString &pattern, char c)
{
    if (std::isalnum(static_cast<unsigned char>(c)))
        pattern += QLatin1Char(c);
    else
        pattern += QRegularExpression::escape(QString(QLatin1Char(c)));
}

// Appends the character class that starts after '[' at expression[*at];
// leaves *at on its closing ']'. False when the class is not closed or empty.
bool appendClass(QString &pattern, std::string_view expression, size_t *at)
{
    size_t i = *at;
    pattern += QLatin1Char('[');
    if (i < expression.size() && expression[i] == '^') {
        pattern += QLatin1Char('^');
        ++i;
    }
    bool empty = true;
    for (; i < expression.size(); ++i) {
        const char c = expression[i];
        if (c == ']' && !empty) {
            pattern += QLatin1Char(']');
            *at = i;
            return true;
        }
        if (c == '\\') {
            if (++i == expression.size())
                return false;
            pattern += QLatin1Char('\\') + QString(QLatin1Char(expression[i]));
        } else if (c == '-') {
            pattern += QLatin1Char('-');
        } else if (std::isalnum(static_cast<unsigned char>(c))) {
            pattern += QLatin1Char(c);
        } else {
            pattern += QLatin1Char('\\') + QString(QLatin1Char(c));
        }
        empty = false;
    }
    return false;
}

} // namespace

FindExpression::FindExpression(std::string_view expression)
{
    QString pattern = QStringLiteral("\\A(?:");
    bool quantifiable = false; // a * or + needs something before it
    int depth = 0;
    for (size_t i = 0; i < expression.size(); ++i) {
        const char c = expression[i];
        switch (c) {
        case '?':
            pattern += QLatin1Char('.');
            quantifiable = true;
            break;
        case '*':
        case '+':
            if (!quantifiable)
                return;
            pattern += QLatin1Char(c);
            quantifiable = false;
            break;
        case '\\':
            if (++i == expression.size())
                return;
            appendLiteral(pattern, expression[i]);
            quantifiable = true;
            break;
        case '[':
            ++i;
            if (!appendClass(pattern, expression, &i))
                return;
            quantifiable = true;
            break;
        case '(':
            pattern += QStringLiteral("(?:");
            ++depth;
            quantifiable = false;
            break;
        case ')':
            if (depth == 0)
                return;
            pattern += QLatin1Char(')');
            --depth;
            quantifiable = true;
            break;
        case '|':
            pattern += QLatin1Char('|');
            quantifiable = false;
            break;
        case ']':
        case '{':
        case '}':
            // Stray brackets, and attribute conditions, which are not offered.
            return;
        default:
            appendLiteral(pattern, c);
            quantifiable = true;
            break;
        }
    }
    if (depth != 0)
        return;
    pattern += QStringLiteral(")\\z");
    regex = QRegularExpression(pattern, QRegularExpression::CaseInsensitiveOption
                                            | QRegularExpression::DotMatchesEverythingOption);
    valid = regex.isValid();
}

bool FindExpression::matches(std::string_view descriptor) const
{
    if (!valid)
        return false;
    const QString text = QString::fromLatin1(descriptor.data(), qsizetype(descriptor.size()));
    return regex.match(text).hasMatch();
}

} // namespace sim
