// Resource descriptors as the scan reads them: the product-id and serial
// fields, the product-id number, and the supported range.
#include "fuzz/fuzzcheck.h"
#include "link/discovery.h"

#include <optional>

namespace {

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

int hexDigit(QChar c)
{
    if (isDigit(c))
        return c.unicode() - '0';
    if (c >= QLatin1Char('a') && c <= QLatin1Char('f'))
        return c.unicode() - 'a' + 10;
    if (c >= QLatin1Char('A') && c <= QLatin1Char('F'))
        return c.unicode() - 'A' + 10;
    return -1;
}

// The value a product id must read as: an optional "0x" or "0X" and 1 to 8
// hex digits, nothing else around them, and within int range.
std::optional<int> expectedProductId(const QString &text)
{
    const bool prefixed = text.size() >= 2 && text.at(0) == QLatin1Char('0')
                          && (text.at(1) == QLatin1Char('x') || text.at(1) == QLatin1Char('X'));
    const QString digits = prefixed ? text.mid(2) : text;
    if (digits.isEmpty() || digits.size() > 8)
        return std::nullopt;
    qint64 value = 0;
    for (const QChar c : digits) {
        const int digit = hexDigit(c);
        if (digit < 0)
            return std::nullopt;
        value = value * 16 + digit;
    }
    if (value > 0x7FFFFFFF)
        return std::nullopt;
    return int(value);
}

void checkProductId(const QString &text)
{
    const std::optional<int> value = discovery::productIdValue(text);
    FUZZ_CHECK(value == expectedProductId(text));
    FUZZ_CHECK(discovery::isSupportedProductId(text) == (value && *value >= 0x0F && *value <= 0x15));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Descriptors come from the VISA library as 8-bit C strings.
    const QString descriptor = QString::fromLocal8Bit(fuzz::bytesBeforeNul(data, size));
    const discovery::DescriptorFields fields = discovery::descriptorFields(descriptor);

    // Fields counted from 0 between "::" separators; 2 is the product id and
    // 3 the serial number.
    const QStringList expected = fuzz::pieces(descriptor, QStringLiteral("::"));
    FUZZ_CHECK(fields.complete == (expected.size() >= 4));
    if (fields.complete) {
        FUZZ_CHECK(fields.productId == expected.at(2));
        FUZZ_CHECK(fields.serial == expected.at(3));
    } else {
        FUZZ_CHECK(fields.productId.isEmpty() && fields.serial.isEmpty());
    }
    FUZZ_CHECK(!fields.productId.contains(QLatin1String("::")));
    FUZZ_CHECK(!fields.serial.contains(QLatin1String("::")));

    checkProductId(fields.productId);
    // The whole input as a product id reaches the number reader directly.
    checkProductId(descriptor);
    return 0;
}
