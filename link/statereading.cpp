#include "link/statereading.h"

#include "link/commandset.h"
#include "link/modeltable.h"
#include "link/visa.h"

#include <utility>

namespace state {

namespace {
constexpr int MaxDivider = 127;

QString withoutLineEnd(QString text)
{
    if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    if (text.endsWith(QLatin1Char('\r')))
        text.chop(1);
    return text;
}

// 0 or 1 as false or true; anything else is no answer.
std::optional<bool> readFlag(const std::optional<int> &code)
{
    if (!code || (*code != 0 && *code != 1))
        return std::nullopt;
    return *code == 1;
}
} // namespace

Readings read(visa::Session session, const Model &model)
{
    Readings r;
    QString reply;
    visa::Status status = 0;
    const auto ask = [&](const char *query) {
        visa::writeLine(session, QLatin1String(query));
        status = visa::readReply(session, &reply);
        // A cut reply is unreadable, not a shorter value.
        if (status >= 0 && status != visa::ReplyCut)
            return true;
        r.error = QStringLiteral("Read Error: Code %1").arg(qint64(status));
        return false;
    };
    const auto fail = [&](const char *message) {
        r.error = QLatin1String(message);
        return r;
    };

    if (!ask(cmd::QueryReferenceExternal))
        return r;
    std::optional<int> code = reply::readInteger(reply);
    if (!code)
        return fail("Unrecognized FREQ:REF:EXT response");
    if (!(r.referenceExternal = readFlag(code)))
        return fail("Bad FREQ:REF:EXT response");

    if (!ask(cmd::QueryRfOutput))
        return r;
    code = reply::readInteger(reply);
    if (!code)
        return fail("Unrecognized POWE:RF response");
    if (!(r.rfOn = readFlag(code)))
        return fail("Bad POWE:RF response");

    if (!ask(cmd::QueryReferenceFrequency))
        return r;
    if (!(r.referenceMHz = reply::readInteger(reply)))
        return fail("Unrecognized FREQ:REF:FREQ response");
    r.referenceText = withoutLineEnd(reply);

    if (!ask(cmd::QueryPllMode))
        return r;
    code = reply::readInteger(reply);
    if (!code)
        return fail("Unrecognized FREQ:PLLM response");
    if (!(r.pllInteger = readFlag(code)))
        return fail("Bad FREQ:PLLM response");

    if (!ask(cmd::QueryReferenceDivider))
        return r;
    code = reply::readInteger(reply);
    if (!code || *code < 1 || *code > MaxDivider)
        return fail("Bad FREQ:REF:DIV response");
    r.divider = code;

    if (!ask(cmd::QueryLock))
        return r;
    code = reply::readInteger(reply);
    if (!code)
        return fail("Unrecognized 'FREQ:LOCK' response");
    if (!(r.locked = readFlag(code)))
        return fail("Bad 'FREQ:LOCK' response");

    if (!ask(cmd::QueryPower))
        return r;
    const reply::PowerReading power = reply::readPower(reply);
    if (!power.value)
        return fail("Unrecognized POWE:SET response");
    if (*power.value < reply::MinPower || *power.value > reply::MaxPower)
        return fail("Power Range Error");
    r.powerDbm = power.value;
    r.powerText = power.powerText;
    r.powerStatus = power.status;

    if (!ask(cmd::QueryFrequency))
        return r;
    const std::optional<double> frequency = reply::readDouble(reply);
    if (!frequency)
        return fail("Bad FREQ:SET response");
    if (*frequency != 0.0 && (*frequency < model.minFreq || *frequency > model.maxFreq))
        return fail("Frequency Range Error");
    r.frequency = frequency;

    if (!ask(cmd::QueryActualFrequency))
        return r;
    if (!reply::readDecimal(reply))
        return fail("Unrecognized FREQ:RETACT response");
    r.actualFrequency = withoutLineEnd(reply);

    if (model.storedStates) {
        // The dump only feeds the viewer: a failed read is reported, but
        // the pass goes on.
        if (ask(cmd::QueryStoredStates))
            r.storedStates = reply::splitStates(reply);
        else
            r.storedStatesError = std::exchange(r.error, QString());
    }

    if (models::hasTemperatureSensor(model.productId)) {
        if (!ask(cmd::QueryTemperature))
            return r;
        if (!(r.temperature = reply::readDecimal(reply)))
            return fail("Unrecognized SYST:TEMP response");
    }
    return r;
}

} // namespace state
