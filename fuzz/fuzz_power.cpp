// The "POWE:SET?" reply: "-12.5", "-12.5 MIN", "OFF,-12.5", "OFF,-12.5 MAX".
#include "fuzz/fuzzcheck.h"
#include "link/replyparser.h"

#include <cmath>

namespace {

bool sameReading(const reply::PowerReading &a, const reply::PowerReading &b)
{
    return a.powerText == b.powerText && a.status == b.status && a.value.has_value() == b.value.has_value()
           && (!a.value || *a.value == *b.value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = fuzz::text(data, size);
    const reply::PowerReading reading = reply::readPower(text);

    FUZZ_CHECK(!reading.powerText.contains(QLatin1Char('\n')));
    FUZZ_CHECK(!reading.value || std::isfinite(*reading.value));

    // The reply's closing line feed changes nothing.
    FUZZ_CHECK(sameReading(reading, reply::readPower(text + QLatin1Char('\n'))));

    // The power part is the second comma field, or the whole reply when there
    // is no comma; line feeds go before the split.
    QString whole = text;
    whole.remove(QLatin1Char('\n'));
    const QStringList fields = fuzz::pieces(whole, QStringLiteral(","));
    FUZZ_CHECK(reading.powerText == (fields.size() >= 2 ? fields.at(1) : whole));

    // Its number: the whole power part, or its first word when a MIN/MAX
    // word is in it.
    const std::optional<float> plain = reply::readDecimal(reading.powerText);
    if (reading.powerText.contains(QLatin1String("MIN")) || reading.powerText.contains(QLatin1String("MAX"))) {
        QStringList words = fuzz::pieces(reading.powerText, QStringLiteral(" "));
        words.removeAll(QString());
        const std::optional<float> first = words.isEmpty() ? std::nullopt : reply::readDecimal(words.first());
        FUZZ_CHECK(reading.value.has_value() == first.has_value());
        FUZZ_CHECK(!reading.value || *reading.value == *first);
    } else {
        FUZZ_CHECK(reading.value.has_value() == plain.has_value());
        FUZZ_CHECK(!reading.value || *reading.value == *plain);
    }

    // The status word comes from the first field only; OFF outranks MIN,
    // which outranks MAX.
    const QString &first = fields.first();
    reply::PowerStatus status = reply::PowerStatus::None;
    if (first.contains(QLatin1String("OFF")))
        status = reply::PowerStatus::Off;
    else if (first.contains(QLatin1String("MIN")))
        status = reply::PowerStatus::Minimum;
    else if (first.contains(QLatin1String("MAX")))
        status = reply::PowerStatus::Maximum;
    FUZZ_CHECK(reading.status == status);
    return 0;
}
