#include "sim/instrumentmodel.h"

#include <QByteArray>

#include <algorithm>
#include <cctype>
#include <cmath>

namespace sim {
namespace {

std::string upper(std::string_view text)
{
    std::string result(text);
    for (char &c : result)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return result;
}

std::string_view trimmed(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

// Locale-independent number reading: the library may live in a program that
// has switched the C locale to a decimal comma.
std::optional<double> toNumber(std::string_view text)
{
    bool ok = false;
    const double value = QByteArray(text.data(), qsizetype(text.size())).toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<int> toInteger(std::string_view text, int low, int high)
{
    bool ok = false;
    const int value = QByteArray(text.data(), qsizetype(text.size())).toInt(&ok, 10);
    if (!ok || value < low || value > high)
        return std::nullopt;
    return value;
}

// 0/1, also spelled OFF/ON.
std::optional<bool> toSwitch(std::string_view text)
{
    const std::string word = upper(text);
    if (word == "1" || word == "ON")
        return true;
    if (word == "0" || word == "OFF")
        return false;
    return std::nullopt;
}

// Fixed decimals without trailing zeros: 2200.000 -> 2200, -12.50 -> -12.5.
std::string formatDecimal(double value, int decimals)
{
    std::string text = QByteArray::number(value, 'f', decimals).toStdString();
    if (text.find('.') != std::string::npos) {
        while (text.back() == '0')
            text.pop_back();
        if (text.back() == '.')
            text.pop_back();
    }
    if (text == "-0")
        text = "0";
    return text;
}

const char *flag(bool on)
{
    return on ? "1" : "0";
}

int frequencyDecimals(const ProductRange &range)
{
    return range.megahertz ? 3 : 6;
}

} // namespace

ProductRange productRange(unsigned productId)
{
    switch (productId) {
    case 0x000F:
        return {true, true, 35, 4400};
    case 0x0010:
        return {true, false, 5, 10};
    case 0x0011:
        return {true, false, 10, 20};
    case 0x0012:
        return {true, false, 21, 24};
    case 0x0013:
        return {true, false, 24, 27};
    case 0x0014:
        return {true, true, 25, 6000};
    case 0x0015:
        return {true, false, 6, 12};
    }
    return {};
}

ModelState defaultModelState(unsigned productId)
{
    const ProductRange range = productRange(productId);
    ModelState state;
    state.live.frequency = range.known
                               ? roundFrequency((range.minFrequency + range.maxFrequency) / 2,
                                                productId)
                               : 1.0;
    state.stored.fill(state.live);
    return state;
}

double roundFrequency(double value, unsigned productId)
{
    const double scale = productRange(productId).megahertz ? 1e3 : 1e6;
    return std::round(value * scale) / scale;
}

double roundHundredths(double value)
{
    return std::round(value * 100) / 100;
}

InstrumentModel::InstrumentModel(unsigned productId, const ModelState &initial)
    : productId(productId), range(productRange(productId)), current(initial)
{
}

std::optional<std::string> InstrumentModel::execute(std::string_view line)
{
    line = trimmed(line);
    const auto space = line.find_first_of(" \t");
    const std::string header = upper(line.substr(0, space));
    const std::string_view argument =
        space == std::string_view::npos ? std::string_view() : trimmed(line.substr(space + 1));
    if (!header.empty() && header.back() == '?')
        return query(header);
    command(header, argument);
    return std::nullopt;
}

std::optional<std::string> InstrumentModel::query(const std::string &header) const
{
    const Settings &live = current.live;
    if (header == "FREQ:REF:EXT?")
        return flag(live.refExternal);
    if (header == "POWE:RF?")
        return flag(live.rf);
    if (header == "FREQ:REF:FREQ?")
        return std::to_string(live.refFrequency);
    if (header == "FREQ:PLLM?")
        return std::to_string(live.pllMode);
    if (header == "FREQ:REF:DIV?")
        return std::to_string(live.refDivider);
    if (header == "FREQ:LOCK?")
        return flag(current.locked);
    if (header == "POWE:SET?") {
        std::string reply = formatDecimal(live.power, 2);
        if (live.powerLevel == PowerLevel::Min)
            reply += " MIN";
        else if (live.powerLevel == PowerLevel::Max)
            reply += " MAX";
        return live.rf ? reply : "OFF," + reply;
    }
    if (header == "FREQ:SET?")
        return formatFrequency(live.frequency);
    if (header == "FREQ:RETACT?")
        return QByteArray::number(live.frequency, 'f', frequencyDecimals(range)).toStdString();
    if (header == "SYST:READSTATE?")
        return stateDump();
    if (header == "SYST:TEMP?")
        return QByteArray::number(current.temperature, 'f', 2).toStdString();
    if (header == "SYST:TEMPTHRES?")
        return formatDecimal(current.tempThreshold, 2);
    if (header == "SYST:BOOTSTATE?")
        return std::to_string(current.bootState);
    return std::nullopt;
}

void InstrumentModel::command(const std::string &header, std::string_view argument)
{
    Settings &live = current.live;
    if (header == "FREQ:SET") {
        const auto value = toNumber(argument);
        if (!value)
            return;
        const double frequency = roundFrequency(*value, productId);
        const bool inRange = range.known
                                 ? frequency >= range.minFrequency && frequency <= range.maxFrequency
                                 : frequency > 0 && frequency < 1e5;
        if (inRange)
            live.frequency = frequency;
    } else if (header == "POWE:SET") {
        const std::string word = upper(argument);
        if (word == "MIN") {
            live.power = current.powerMin;
            live.powerLevel = PowerLevel::Min;
        } else if (word == "MAX") {
            live.power = current.powerMax;
            live.powerLevel = PowerLevel::Max;
        } else if (const auto value = toNumber(argument)) {
            live.power = roundHundredths(std::clamp(*value, current.powerMin, current.powerMax));
            live.powerLevel = PowerLevel::Value;
        }
    } else if (header == "POWE:RF") {
        if (const auto on = toSwitch(argument))
            live.rf = *on;
    } else if (header == "FREQ:REF:EXT") {
        if (const auto on = toSwitch(argument))
            live.refExternal = *on;
    } else if (header == "FREQ:REF:FREQ") {
        if (const auto value = toInteger(argument, 10, 100))
            live.refFrequency = *value;
    } else if (header == "FREQ:REF:DIV") {
        if (const auto value = toInteger(argument, 1, 127))
            live.refDivider = *value;
    } else if (header == "FREQ:PLLM") {
        if (const auto value = toInteger(argument, 0, 1))
            live.pllMode = *value;
    } else if (header == "SYST:TEMPTHRES") {
        const auto value = toNumber(argument);
        if (value && *value > -100 && *value < 1000)
            current.tempThreshold = roundHundredths(*value);
    } else if (header == "SYST:LOADSTATE") {
        if (const auto index = toInteger(argument, 0, StoredStateCount - 1))
            live = current.stored[size_t(*index)];
    } else if (header == "SYST:SAVESTATE") {
        // State 0 holds the factory settings and is never overwritten.
        if (const auto index = toInteger(argument, 1, StoredStateCount - 1))
            current.stored[size_t(*index)] = live;
    } else if (header == "SYST:BOOTSTATE") {
        if (const auto index = toInteger(argument, 0, StoredStateCount - 1))
            current.bootState = *index;
    }
}

std::string InstrumentModel::formatFrequency(double value) const
{
    return formatDecimal(value, frequencyDecimals(range));
}

// Six states separated by ";", each with eight fields separated by ",":
// PLL mode, frequency, divider, reference source, reference frequency, power
// on boot (0 value, 1 MIN, 2 MAX), power, RF state.
std::string InstrumentModel::stateDump() const
{
    std::string dump;
    for (size_t i = 0; i < current.stored.size(); ++i) {
        const Settings &s = current.stored[i];
        if (i > 0)
            dump += ';';
        dump += std::to_string(s.pllMode) + ',' + formatFrequency(s.frequency) + ','
                + std::to_string(s.refDivider) + ',' + flag(s.refExternal) + ','
                + std::to_string(s.refFrequency) + ',' + std::to_string(int(s.powerLevel)) + ','
                + formatDecimal(s.power, 2) + ',' + flag(s.rf);
    }
    return dump;
}

} // namespace sim
