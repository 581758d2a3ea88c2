#include "sim/resourcename.h"

#include <cctype>
#include <cstdio>
#include <vector>

namespace sim {
namespace {

std::vector<std::string_view> splitFields(std::string_view text)
{
    std::vector<std::string_view> fields;
    for (;;) {
        const auto at = text.find("::");
        fields.push_back(text.substr(0, at));
        if (at == std::string_view::npos)
            return fields;
        text.remove_prefix(at + 2);
    }
}

std::string upper(std::string_view text)
{
    std::string result(text);
    for (char &c : result)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return result;
}

std::string lower(std::string_view text)
{
    std::string result(text);
    for (char &c : result)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return result;
}

// A decimal number, or a hexadecimal one with a 0x prefix, up to limit.
std::optional<unsigned> parseNumber(std::string_view text, unsigned limit)
{
    unsigned base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty() || text.size() > 10)
        return std::nullopt;
    unsigned long long value = 0;
    for (char c : text) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && std::isxdigit(static_cast<unsigned char>(c)))
            digit = std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
        else
            return std::nullopt;
        value = value * base + unsigned(digit);
    }
    if (value > limit)
        return std::nullopt;
    return unsigned(value);
}

// Digits only: board numbers, GPIB addresses and ports have no hex form.
std::optional<unsigned> parseDecimal(std::string_view text, unsigned limit)
{
    if (text.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    return parseNumber(text, limit);
}

// Splits "USB0" into the interface type and its board number.
bool parseInterface(std::string_view first, ResourceName *name)
{
    static const struct
    {
        const char *prefix;
        ViUInt16 type;
    } interfaces[] = {{"USB", VI_INTF_USB}, {"GPIB", VI_INTF_GPIB}, {"TCPIP", VI_INTF_TCPIP},
                      {"ASRL", VI_INTF_ASRL}};
    const std::string text = upper(first);
    for (const auto &candidate : interfaces) {
        const std::string_view prefix = candidate.prefix;
        if (text.compare(0, prefix.size(), prefix) != 0)
            continue;
        const std::string_view board = std::string_view(text).substr(prefix.size());
        if (board.empty()) {
            name->board = 0;
        } else {
            const auto number = parseDecimal(board, 0xFFFF);
            if (!number)
                return false;
            name->board = ViUInt16(*number);
        }
        name->interfaceType = candidate.type;
        return true;
    }
    return false;
}

} // namespace

std::optional<ResourceName> parseResourceName(std::string_view text)
{
    std::vector<std::string_view> fields = splitFields(text);
    ResourceName name;
    if (!parseInterface(fields.front(), &name))
        return std::nullopt;
    fields.erase(fields.begin());

    // The class is optional at the end; INSTR is meant when it is missing.
    name.resourceClass = "INSTR";
    if (!fields.empty()) {
        const std::string last = upper(fields.back());
        if (last == "INSTR" || last == "SOCKET") {
            name.resourceClass = last;
            fields.pop_back();
        }
    }
    for (std::string_view field : fields) {
        if (field.empty())
            return std::nullopt;
    }

    switch (name.interfaceType) {
    case VI_INTF_USB: {
        if (name.resourceClass != "INSTR" || (fields.size() != 3 && fields.size() != 4))
            return std::nullopt;
        const auto manufacturer = parseNumber(fields[0], 0xFFFF);
        const auto model = parseNumber(fields[1], 0xFFFF);
        if (!manufacturer || !model)
            return std::nullopt;
        if (fields.size() == 4 && !parseDecimal(fields[3], 0xFF))
            return std::nullopt;
        name.manufacturer = *manufacturer;
        name.model = *model;
        name.serial = std::string(fields[2]);
        return name;
    }
    case VI_INTF_GPIB: {
        if (name.resourceClass != "INSTR" || fields.empty() || fields.size() > 2)
            return std::nullopt;
        const auto primary = parseDecimal(fields[0], 30);
        if (!primary)
            return std::nullopt;
        name.primary = int(*primary);
        if (fields.size() == 2) {
            const auto secondary = parseDecimal(fields[1], 31);
            if (!secondary)
                return std::nullopt;
            name.secondary = int(*secondary);
        }
        return name;
    }
    case VI_INTF_TCPIP: {
        if (fields.empty() || fields.size() > 2)
            return std::nullopt;
        name.host = lower(fields[0]);
        if (name.resourceClass == "SOCKET") {
            const auto port = fields.size() == 2 ? parseDecimal(fields[1], 0xFFFF) : std::nullopt;
            if (!port)
                return std::nullopt;
            name.device = std::to_string(*port);
        } else {
            name.device = fields.size() == 2 ? lower(fields[1]) : std::string("inst0");
        }
        return name;
    }
    case VI_INTF_ASRL:
        if (name.resourceClass != "INSTR" || !fields.empty())
            return std::nullopt;
        return name;
    }
    return std::nullopt;
}

std::string ResourceName::key() const
{
    std::string result = std::to_string(interfaceType) + "/" + std::to_string(board) + "/"
                         + resourceClass;
    switch (interfaceType) {
    case VI_INTF_USB:
        result += "/" + std::to_string(manufacturer) + "/" + std::to_string(model) + "/" + serial;
        break;
    case VI_INTF_GPIB:
        result += "/" + std::to_string(primary) + "/" + std::to_string(secondary);
        break;
    case VI_INTF_TCPIP:
        result += "/" + host + "/" + device;
        break;
    default:
        break;
    }
    return result;
}

std::string ResourceName::expanded() const
{
    const std::string boardText = std::to_string(board);
    switch (interfaceType) {
    case VI_INTF_USB: {
        char ids[32];
        std::snprintf(ids, sizeof ids, "0x%04X::0x%04X", manufacturer, model);
        return "USB" + boardText + "::" + ids + "::" + serial + "::" + resourceClass;
    }
    case VI_INTF_GPIB:
        return "GPIB" + boardText + "::" + std::to_string(primary)
               + (secondary >= 0 ? "::" + std::to_string(secondary) : std::string())
               + "::" + resourceClass;
    case VI_INTF_TCPIP:
        return "TCPIP" + boardText + "::" + host + "::" + device + "::" + resourceClass;
    case VI_INTF_ASRL:
        return "ASRL" + boardText + "::" + resourceClass;
    }
    return {};
}

} // namespace sim
