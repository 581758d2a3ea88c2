#include "sim/formattedio.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <locale.h>
#include <optional>

namespace sim {
namespace {

// Switches the calling thread to the C locale for the lifetime of the guard,
// so a program's decimal-comma locale never reaches the instrument.
class CLocaleGuard
{
public:
    CLocaleGuard()
    {
        static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
        if (cLocale)
            previous = uselocale(cLocale);
    }
    ~CLocaleGuard()
    {
        if (previous)
            uselocale(previous);
    }
    CLocaleGuard(const CLocaleGuard &) = delete;
    CLocaleGuard &operator=(const CLocaleGuard &) = delete;

private:
    locale_t previous = locale_t(nullptr);
};

// A va_list of our own: a parameter of type va_list is a pointer on some
// ABIs, so helpers could not take it by reference.
struct ArgumentList
{
    explicit ArgumentList(va_list list) { va_copy(args, list); }
    ~ArgumentList() { va_end(args); }
    ArgumentList(const ArgumentList &) = delete;
    ArgumentList &operator=(const ArgumentList &) = delete;
    va_list args;
};

enum class Length { None, Char, Short, Long, LongLong, LongDouble };

// Reads an optional length modifier at *p.
Length readLength(const char *&p)
{
    if (*p == 'h') {
        ++p;
        if (*p == 'h') {
            ++p;
            return Length::Char;
        }
        return Length::Short;
    }
    if (*p == 'l') {
        ++p;
        if (*p == 'l') {
            ++p;
            return Length::LongLong;
        }
        return Length::Long;
    }
    if (*p == 'L') {
        ++p;
        return Length::LongDouble;
    }
    return Length::None;
}

// Decodes a backslash escape starting after the backslash; advances p.
char readEscape(const char *&p)
{
    const char c = *p;
    if (c == '\0')
        return '\\';
    ++p;
    switch (c) {
    case 'n':
        return '\n';
    case 'r':
        return '\r';
    case 't':
        return '\t';
    case '\\':
    case '"':
    case '\'':
        return c;
    default:
        break;
    }
    if (c >= '0' && c <= '7') {
        int value = c - '0';
        for (int i = 0; i < 2 && *p >= '0' && *p <= '7'; ++i)
            value = value * 8 + (*p++ - '0');
        return char(value);
    }
    // Not an escape: the backslash stands for itself and the character
    // is read again.
    --p;
    return '\\';
}

template<typename T>
bool appendFormatted(std::string *out, const std::string &directive, T value)
{
    const int size = std::snprintf(nullptr, 0, directive.c_str(), value);
    if (size < 0)
        return false;
    const size_t at = out->size();
    out->resize(at + size_t(size) + 1);
    std::snprintf(out->data() + at, size_t(size) + 1, directive.c_str(), value);
    out->resize(at + size_t(size));
    return true;
}

// Width and precision beyond this are taken for a broken format rather than
// an attempt to print megabytes.
constexpr int FieldLimit = 4096;

bool readNumberField(const char *&p, va_list &args, std::string *directive, bool *ok)
{
    if (*p == '*') {
        ++p;
        const int value = va_arg(args, int);
        if (value > FieldLimit || value < -FieldLimit)
            *ok = false;
        *directive += std::to_string(value);
        return true;
    }
    int value = 0;
    bool any = false;
    while (std::isdigit(static_cast<unsigned char>(*p))) {
        value = value * 10 + (*p++ - '0');
        *directive += p[-1];
        any = true;
        if (value > FieldLimit)
            *ok = false;
    }
    return any;
}

} // namespace

ViStatus formatMessage(const char *format, va_list list, std::string *out)
{
    ArgumentList copy(list);
    va_list &args = copy.args;
    CLocaleGuard cLocale;
    out->clear();
    const char *p = format;
    while (*p) {
        if (*p == '\\') {
            ++p;
            *out += readEscape(p);
            continue;
        }
        if (*p != '%') {
            *out += *p++;
            continue;
        }
        ++p;
        if (*p == '%') {
            *out += '%';
            ++p;
            continue;
        }
        std::string directive = "%";
        while (*p && std::strchr("-+ #0", *p))
            directive += *p++;
        bool ok = true;
        readNumberField(p, args, &directive, &ok);
        if (*p == '.') {
            directive += *p++;
            readNumberField(p, args, &directive, &ok);
        }
        if (!ok)
            return ErrorInvalidFormat;
        const Length length = readLength(p);
        const char conversion = *p;
        if (conversion == '\0')
            return ErrorInvalidFormat;
        ++p;
        bool written = false;
        switch (conversion) {
        case 'd':
        case 'i':
            if (length == Length::LongLong)
                written = appendFormatted(out, directive + "ll" + conversion, va_arg(args, long long));
            else
                written = appendFormatted(out,
                                          directive + (length == Length::Short ? "h"
                                                  : length == Length::Char ? "hh"
                                                                           : "")
                                              + conversion,
                                          va_arg(args, int));
            break;
        case 'u':
        case 'o':
        case 'x':
        case 'X':
            if (length == Length::LongLong)
                written = appendFormatted(out, directive + "ll" + conversion,
                                          va_arg(args, unsigned long long));
            else
                written = appendFormatted(out,
                                          directive + (length == Length::Short ? "h"
                                                  : length == Length::Char ? "hh"
                                                                           : "")
                                              + conversion,
                                          va_arg(args, unsigned int));
            break;
        case 'c':
            written = appendFormatted(out, directive + 'c', va_arg(args, int));
            break;
        case 's': {
            const char *text = va_arg(args, const char *);
            if (!text)
                return VI_ERROR_USER_BUF;
            written = appendFormatted(out, directive + 's', text);
            break;
        }
        case 'f':
        case 'F':
        case 'e':
        case 'E':
        case 'g':
        case 'G':
        case 'a':
        case 'A':
            if (length == Length::LongDouble)
                written = appendFormatted(out, directive + 'L' + conversion, va_arg(args, long double));
            else
                written = appendFormatted(out, directive + conversion, va_arg(args, double));
            break;
        default:
            return ErrorInvalidFormat;
        }
        if (!written)
            return ErrorInvalidFormat;
    }
    return VI_SUCCESS;
}

namespace {

bool isSpace(char c)
{
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

// The longest prefix of text, at most width characters, that reads as an
// integer in the given base (0: C's rule, 0x for hex and 0 for octal).
std::string_view integerText(std::string_view text, size_t width, int *base)
{
    size_t n = 0;
    const size_t limit = std::min(width, text.size());
    if (n < limit && (text[n] == '+' || text[n] == '-'))
        ++n;
    if (*base == 0 || *base == 16) {
        if (n + 1 < limit && text[n] == '0' && (text[n + 1] == 'x' || text[n + 1] == 'X')
            && n + 2 < limit && std::isxdigit(static_cast<unsigned char>(text[n + 2]))) {
            n += 2;
            *base = 16;
        } else if (*base == 0) {
            *base = n < limit && text[n] == '0' ? 8 : 10;
        }
    }
    const size_t digitsStart = n;
    while (n < limit) {
        const unsigned char c = static_cast<unsigned char>(text[n]);
        const bool digit = *base == 16 ? std::isxdigit(c) != 0
                           : *base == 8 ? (c >= '0' && c <= '7')
                                        : std::isdigit(c) != 0;
        if (!digit)
            break;
        ++n;
    }
    if (n == digitsStart)
        return {};
    return text.substr(0, n);
}

std::optional<long long> parseInteger(std::string_view text, int base)
{
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    if (base == 16 && text.size() > 1 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        text.remove_prefix(2);
    unsigned long long magnitude = 0;
    const auto [end, error] =
        std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return negative ? -static_cast<long long>(magnitude) : static_cast<long long>(magnitude);
}

// The longest prefix, at most width characters, that reads as a decimal
// floating-point number (or inf/nan).
std::string_view floatText(std::string_view text, size_t width)
{
    const std::string_view limited = text.substr(0, std::min(width, text.size()));
    size_t n = 0;
    if (n < limited.size() && (limited[n] == '+' || limited[n] == '-'))
        ++n;
    double ignored;
    const char *start = limited.data() + n;
    const auto [end, error] =
        std::from_chars(start, limited.data() + limited.size(), ignored, std::chars_format::general);
    if (error == std::errc::invalid_argument)
        return {};
    return limited.substr(0, size_t(end - limited.data()));
}

std::optional<long double> parseFloat(std::string_view text)
{
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    long double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value,
                                              std::chars_format::general);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return negative ? -value : value;
}

template<typename T>
ViStatus store(va_list &args, T value)
{
    T *target = va_arg(args, T *);
    if (!target)
        return VI_ERROR_USER_BUF;
    *target = value;
    return VI_SUCCESS;
}

ViStatus storeInteger(va_list &args, Length length, bool isSigned, long long value)
{
    switch (length) {
    case Length::Char:
        return isSigned ? store(args, static_cast<signed char>(value))
                        : store(args, static_cast<unsigned char>(value));
    case Length::Short:
        return isSigned ? store(args, static_cast<short>(value))
                        : store(args, static_cast<unsigned short>(value));
    case Length::LongLong:
        return isSigned ? store(args, value) : store(args, static_cast<unsigned long long>(value));
    case Length::Long: // VISA's long is ViInt32
        return isSigned ? store(args, static_cast<ViInt32>(value))
                        : store(args, static_cast<ViUInt32>(value));
    case Length::None:
    case Length::LongDouble:
        break;
    }
    return isSigned ? store(args, static_cast<int>(value))
                    : store(args, static_cast<unsigned int>(value));
}

// Copies text into the caller's character array; a NUL follows if asked.
ViStatus storeText(va_list &args, std::string_view text, bool terminate)
{
    char *target = va_arg(args, char *);
    if (!target)
        return VI_ERROR_USER_BUF;
    std::memcpy(target, text.data(), text.size());
    if (terminate)
        target[text.size()] = '\0';
    return VI_SUCCESS;
}

} // namespace

ViStatus scanMessage(std::string_view text, const char *format, va_list list)
{
    ArgumentList copy(list);
    va_list &args = copy.args;
    size_t pos = 0;
    const auto rest = [&]() { return text.substr(pos); };
    const auto skipSpace = [&]() {
        while (pos < text.size() && isSpace(text[pos]))
            ++pos;
    };
    const char *p = format;
    while (*p) {
        if (isSpace(*p)) {
            while (isSpace(*p))
                ++p;
            skipSpace();
            continue;
        }
        if (*p != '%' || p[1] == '%') {
            char literal = *p++;
            if (literal == '%')
                ++p;
            else if (literal == '\\')
                literal = readEscape(p);
            if (pos >= text.size() || text[pos] != literal)
                return ErrorInvalidFormat;
            ++pos;
            continue;
        }
        ++p;
        const bool assign = *p != '*';
        if (!assign)
            ++p;
        size_t width = 0;
        while (std::isdigit(static_cast<unsigned char>(*p))) {
            width = width * 10 + size_t(*p++ - '0');
            if (width > 1u << 20)
                return ErrorInvalidFormat;
        }
        const Length length = readLength(p);
        const char conversion = *p;
        if (conversion == '\0')
            return ErrorInvalidFormat;
        ++p;
        ViStatus status = VI_SUCCESS;
        switch (conversion) {
        case 't': {
            const std::string_view message = rest();
            pos = text.size();
            if (assign)
                status = storeText(args, message.substr(0, width ? width : DefaultStringWidth), true);
            break;
        }
        case 's': {
            skipSpace();
            const size_t start = pos;
            const size_t limit = width ? width : DefaultStringWidth;
            while (pos < text.size() && !isSpace(text[pos]) && pos - start < limit)
                ++pos;
            if (pos == start)
                return ErrorInvalidFormat;
            if (assign)
                status = storeText(args, text.substr(start, pos - start), true);
            break;
        }
        case 'c': {
            const size_t count = width ? width : 1;
            if (text.size() - pos < count)
                return ErrorInvalidFormat;
            if (assign)
                status = storeText(args, text.substr(pos, count), false);
            pos += count;
            break;
        }
        case 'd':
        case 'i':
        case 'u':
        case 'x':
        case 'X':
        case 'o': {
            skipSpace();
            int base = conversion == 'i' ? 0
                       : conversion == 'o' ? 8
                       : (conversion == 'x' || conversion == 'X') ? 16
                                                                  : 10;
            const std::string_view digits = integerText(rest(), width ? width : text.size(), &base);
            const auto value = parseInteger(digits, base);
            if (digits.empty() || !value)
                return ErrorInvalidFormat;
            pos += digits.size();
            if (assign)
                status = storeInteger(args, length, conversion == 'd' || conversion == 'i', *value);
            break;
        }
        case 'f':
        case 'e':
        case 'E':
        case 'g':
        case 'G': {
            skipSpace();
            const std::string_view number = floatText(rest(), width ? width : text.size());
            const auto value = parseFloat(number);
            if (number.empty() || !value)
                return ErrorInvalidFormat;
            pos += number.size();
            if (!assign)
                break;
            if (length == Length::LongDouble)
                status = store(args, *value);
            else if (length == Length::Long)
                status = store(args, static_cast<double>(*value));
            else
                status = store(args, static_cast<float>(*value));
            break;
        }
        default:
            return ErrorInvalidFormat;
        }
        if (status != VI_SUCCESS)
            return status;
    }
    return VI_SUCCESS;
}

} // namespace sim
