// The integer and decimal readers behind every numeric reply (reference
// state, lock, divider, frequency, temperature) and the operator's typed
// numbers.
#include "fuzz/fuzzcheck.h"
#include "link/replyparser.h"

#include <QLocale>

#include <cmath>
#include <optional>

namespace {

QLocale commaLocale;

bool sameDecimal(std::optional<float> a, std::optional<float> b)
{
    return a.has_value() == b.has_value() && (!a || *a == *b);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    commaLocale = QLocale(QLocale::German, QLocale::Germany);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = fuzz::text(data, size);
    const std::optional<int> integer = reply::readInteger(text);
    const std::optional<float> decimal = reply::readDecimal(text);

    // Only finite numbers come out.
    FUZZ_CHECK(!decimal || std::isfinite(*decimal));

    // The reply's closing line feed changes nothing, nor do surrounding spaces.
    FUZZ_CHECK(reply::readInteger(text + QLatin1Char('\n')) == integer);
    FUZZ_CHECK(reply::readInteger(QLatin1Char(' ') + text + QLatin1String("\r\n")) == integer);
    FUZZ_CHECK(sameDecimal(reply::readDecimal(text + QLatin1Char('\n')), decimal));
    FUZZ_CHECK(sameDecimal(reply::readDecimal(QLatin1Char(' ') + text + QLatin1String("\r\n")), decimal));

    // An integer reply reads as the same decimal (exactly, where a float
    // holds every integer).
    if (integer && *integer >= -(1 << 24) && *integer <= (1 << 24)) {
        FUZZ_CHECK(decimal.has_value());
        FUZZ_CHECK(*decimal == float(*integer));
    }
    // A number read back from its own shortest text gives the same number.
    if (integer)
        FUZZ_CHECK(reply::readInteger(QString::number(*integer)) == integer);
    if (decimal)
        FUZZ_CHECK(sameDecimal(reply::readDecimal(QString::number(double(*decimal), 'g', 9)), decimal));

    // Instruments always use a decimal point: the operator's locale must not
    // change how a reply reads.
    const QLocale previous;
    QLocale::setDefault(commaLocale);
    const std::optional<int> integerInLocale = reply::readInteger(text);
    const std::optional<float> decimalInLocale = reply::readDecimal(text);
    QLocale::setDefault(previous);
    FUZZ_CHECK(integerInLocale == integer);
    FUZZ_CHECK(sameDecimal(decimalInLocale, decimal));
    return 0;
}
