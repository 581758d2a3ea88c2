#include "sim/simconfig.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cctype>
#include <cmath>
#include <set>

namespace sim {
namespace {

const char builtInJson[] = R"({"resources": [
  {"resource": "USB0::0x3A7C::0x000F::QX10001::INSTR",
   "idn": "Quorvex Electronics,774-4400,QX10001,V4.1.0",
   "state": {"frequency": 2200, "power": 0, "temperature": 31.25}},
  {"resource": "USB0::0x3A7C::0x0011::QX20002::INSTR",
   "idn": "Quorvex Electronics,VX27H774-20,QX20002,V3.2.0",
   "state": {"frequency": 15, "power": -5, "temperature": 34.5}},
  {"resource": "USB0::0x3A7C::0x0030::QX30003::INSTR",
   "idn": "Quorvex Electronics,PM-30 Power Sensor,QX30003,V1.0.2"}
]})";

// Reads one configuration, collecting a problem line for every value it
// cannot use. Each reader returns nothing for a bad value, which the caller
// then leaves at its default.
class Reader
{
public:
    explicit Reader(std::string origin) : origin(std::move(origin)) {}

    void problem(const std::string &where, const std::string &what)
    {
        problems.push_back("usbsynth-sim: " + origin + ": " + (where.empty() ? "" : where + ": ")
                           + what);
    }

    // Reports every key of object that is not in known.
    void checkKeys(const QJsonObject &object, const std::string &where,
                   const std::vector<const char *> &known)
    {
        for (auto it = object.begin(); it != object.end(); ++it) {
            bool found = false;
            for (const char *key : known)
                found = found || it.key() == QLatin1String(key);
            const std::string key = it.key().toStdString();
            if (!found)
                problem(where.empty() ? key : where + "." + key, "unknown key, ignored");
        }
    }

    std::optional<double> number(const QJsonValue &value, const std::string &where, double low,
                                 double high)
    {
        if (value.isDouble() && value.toDouble() >= low && value.toDouble() <= high)
            return value.toDouble();
        problem(where, "expected a number from " + compact(low) + " to " + compact(high));
        return std::nullopt;
    }

    std::optional<long long> whole(const QJsonValue &value, const std::string &where,
                                   long long low, long long high)
    {
        if (value.isDouble()) {
            const double d = value.toDouble();
            if (d == std::floor(d) && d >= double(low) && d <= double(high))
                return static_cast<long long>(d);
        }
        problem(where, "expected a whole number from " + std::to_string(low) + " to "
                           + std::to_string(high));
        return std::nullopt;
    }

    std::optional<bool> boolean(const QJsonValue &value, const std::string &where)
    {
        if (value.isBool())
            return value.toBool();
        problem(where, "expected true or false");
        return std::nullopt;
    }

    std::optional<std::string> text(const QJsonValue &value, const std::string &where)
    {
        if (value.isString())
            return value.toString().toStdString();
        problem(where, "expected a string");
        return std::nullopt;
    }

    std::optional<QJsonObject> object(const QJsonValue &value, const std::string &where)
    {
        if (value.isObject())
            return value.toObject();
        problem(where, "expected an object");
        return std::nullopt;
    }

    std::optional<ViStatus> errorStatus(const QJsonValue &value, const std::string &where)
    {
        if (const auto status = whole(value, where, INT32_MIN, -1))
            return ViStatus(*status);
        return std::nullopt;
    }

    void readSettings(const QJsonObject &object, const std::string &where, unsigned productId,
                      const ModelState &limits, Settings *settings, bool *powerGiven);
    void readState(const QJsonObject &object, const std::string &where, unsigned productId,
                   ModelState *state);
    void readFaults(const QJsonObject &object, const std::string &where, ResourceConfig *config);
    void readReplies(const QJsonObject &object, const std::string &where, ResourceConfig *config);
    std::optional<ResourceConfig> readResource(const QJsonValue &value, const std::string &where);

    static std::string compact(double value)
    {
        return QByteArray::number(value, 'g', 10).toStdString();
    }

    std::string origin;
    std::vector<std::string> problems;
};

const std::vector<const char *> settingKeys = {
    "frequency", "power",        "powerLevel", "rf",
    "refExternal", "refFrequency", "refDivider", "pllMode"};

void Reader::readSettings(const QJsonObject &object, const std::string &where, unsigned productId,
                          const ModelState &limits, Settings *settings, bool *powerGiven)
{
    const auto at = [&](const char *key) { return where + "." + key; };
    if (object.contains("frequency")) {
        if (const auto v = number(object["frequency"], at("frequency"), 0, 99999))
            settings->frequency = roundFrequency(*v, productId);
    }
    if (object.contains("power")) {
        if (const auto v = number(object["power"], at("power"), -100, 100)) {
            settings->power = roundHundredths(*v);
            *powerGiven = true;
        }
    }
    if (object.contains("powerLevel")) {
        const auto word = text(object["powerLevel"], at("powerLevel"));
        QString level = word ? QString::fromStdString(*word).toLower() : QString();
        if (level == QLatin1String("value")) {
            settings->powerLevel = PowerLevel::Value;
        } else if (level == QLatin1String("min")) {
            settings->powerLevel = PowerLevel::Min;
        } else if (level == QLatin1String("max")) {
            settings->powerLevel = PowerLevel::Max;
        } else if (word) {
            problem(at("powerLevel"), "expected \"value\", \"MIN\" or \"MAX\"");
        }
    }
    if (!*powerGiven && settings->powerLevel != PowerLevel::Value)
        settings->power = settings->powerLevel == PowerLevel::Min ? limits.powerMin : limits.powerMax;
    if (object.contains("rf")) {
        if (const auto v = boolean(object["rf"], at("rf")))
            settings->rf = *v;
    }
    if (object.contains("refExternal")) {
        if (const auto v = boolean(object["refExternal"], at("refExternal")))
            settings->refExternal = *v;
    }
    if (object.contains("refFrequency")) {
        if (const auto v = whole(object["refFrequency"], at("refFrequency"), 10, 100))
            settings->refFrequency = int(*v);
    }
    if (object.contains("refDivider")) {
        if (const auto v = whole(object["refDivider"], at("refDivider"), 1, 127))
            settings->refDivider = int(*v);
    }
    if (object.contains("pllMode")) {
        if (const auto v = whole(object["pllMode"], at("pllMode"), 0, 1))
            settings->pllMode = int(*v);
    }
}

void Reader::readState(const QJsonObject &object, const std::string &where, unsigned productId,
                       ModelState *state)
{
    std::vector<const char *> known = settingKeys;
    known.insert(known.end(), {"locked", "temperature", "tempThreshold", "bootState", "powerMin",
                               "powerMax", "storedStates"});
    checkKeys(object, where, known);
    const auto at = [&](const char *key) { return where + "." + key; };

    if (object.contains("powerMin")) {
        if (const auto v = number(object["powerMin"], at("powerMin"), -100, 100))
            state->powerMin = roundHundredths(*v);
    }
    if (object.contains("powerMax")) {
        if (const auto v = number(object["powerMax"], at("powerMax"), -100, 100))
            state->powerMax = roundHundredths(*v);
    }
    if (state->powerMin > state->powerMax) {
        problem(at("powerMax"), "below powerMin; both ignored");
        const ModelState defaults;
        state->powerMin = defaults.powerMin;
        state->powerMax = defaults.powerMax;
    }
    bool powerGiven = false;
    readSettings(object, where, productId, *state, &state->live, &powerGiven);
    state->stored.fill(state->live);

    if (object.contains("locked")) {
        if (const auto v = boolean(object["locked"], at("locked")))
            state->locked = *v;
    }
    if (object.contains("temperature")) {
        if (const auto v = number(object["temperature"], at("temperature"), -50, 150))
            state->temperature = *v;
    }
    if (object.contains("tempThreshold")) {
        if (const auto v = number(object["tempThreshold"], at("tempThreshold"), -50, 150))
            state->tempThreshold = roundHundredths(*v);
    }
    if (object.contains("bootState")) {
        if (const auto v = whole(object["bootState"], at("bootState"), 0, StoredStateCount - 1))
            state->bootState = int(*v);
    }
    if (object.contains("storedStates")) {
        const QJsonValue list = object["storedStates"];
        if (!list.isArray() || list.toArray().size() > StoredStateCount) {
            problem(at("storedStates"), "expected an array of at most 6 objects");
            return;
        }
        const QJsonArray states = list.toArray();
        for (qsizetype i = 0; i < states.size(); ++i) {
            const std::string item = at("storedStates") + "[" + std::to_string(i) + "]";
            const auto entry = this->object(states[i], item);
            if (!entry)
                continue;
            checkKeys(*entry, item, settingKeys);
            bool given = false;
            readSettings(*entry, item, productId, *state, &state->stored[size_t(i)], &given);
        }
    }
}

void Reader::readFaults(const QJsonObject &object, const std::string &where,
                        ResourceConfig *config)
{
    checkKeys(object, where,
              {"openStatus", "readStatus", "writeStatus", "latencyMs", "timeoutMs", "unplugAfter"});
    const auto at = [&](const char *key) { return where + "." + key; };
    if (object.contains("openStatus"))
        config->openStatus = errorStatus(object["openStatus"], at("openStatus"));
    if (object.contains("latencyMs")) {
        if (const auto v = whole(object["latencyMs"], at("latencyMs"), 0, 600000))
            config->latencyMs = ViUInt32(*v);
    }
    if (object.contains("timeoutMs")) {
        if (const auto v = whole(object["timeoutMs"], at("timeoutMs"), 0, 0xFFFFFFFFLL))
            config->timeoutMs = ViUInt32(*v);
    }
    if (object.contains("unplugAfter")) {
        if (const auto v = whole(object["unplugAfter"], at("unplugAfter"), 0, 0xFFFFFFFFLL))
            config->unplugAfter = ViUInt32(*v);
    }
    const auto statuses = [&](const char *key, std::map<std::string, ViStatus> *into) {
        if (!object.contains(key))
            return;
        const auto given = this->object(object[key], at(key));
        if (!given)
            return;
        for (auto it = given->begin(); it != given->end(); ++it) {
            const std::string line = it.key().toStdString();
            if (const auto status = errorStatus(it.value(), at(key) + "." + line))
                (*into)[queryKey(line)] = *status;
        }
    };
    statuses("readStatus", &config->readStatus);
    statuses("writeStatus", &config->writeStatus);
}

void Reader::readReplies(const QJsonObject &object, const std::string &where,
                         ResourceConfig *config)
{
    for (auto it = object.begin(); it != object.end(); ++it) {
        const std::string query = it.key().toStdString();
        const std::string item = where + "." + query;
        if (it.value().isString()) {
            config->replies[queryKey(query)] = it.value().toString().toStdString() + "\n";
            continue;
        }
        const auto reply = this->object(it.value(), item);
        if (!reply)
            continue;
        checkKeys(*reply, item, {"text", "lineFeed"});
        const auto replyText = text((*reply)["text"], item + ".text");
        if (!replyText)
            continue;
        bool lineFeed = true;
        if (reply->contains("lineFeed")) {
            if (const auto v = boolean((*reply)["lineFeed"], item + ".lineFeed"))
                lineFeed = *v;
        }
        config->replies[queryKey(query)] = *replyText + (lineFeed ? "\n" : "");
    }
}

std::optional<ResourceConfig> Reader::readResource(const QJsonValue &value,
                                                   const std::string &where)
{
    const auto entry = object(value, where);
    if (!entry)
        return std::nullopt;
    checkKeys(*entry, where, {"resource", "idn", "state", "replies", "faults"});
    ResourceConfig config;
    const auto descriptor = text((*entry)["resource"], where + ".resource");
    if (!descriptor)
        return std::nullopt;
    const auto name = parseResourceName(*descriptor);
    if (!name) {
        problem(where + ".resource", "\"" + *descriptor + "\" is not a VISA resource name");
        return std::nullopt;
    }
    config.descriptor = *descriptor;
    config.name = *name;
    const unsigned productId = name->interfaceType == VI_INTF_USB ? name->model : 0;
    config.initial = defaultModelState(productId);

    if (entry->contains("idn"))
        config.idn = text((*entry)["idn"], where + ".idn");
    if (entry->contains("state")) {
        if (const auto state = object((*entry)["state"], where + ".state"))
            readState(*state, where + ".state", productId, &config.initial);
    }
    if (entry->contains("replies")) {
        if (const auto replies = object((*entry)["replies"], where + ".replies"))
            readReplies(*replies, where + ".replies", &config);
    }
    if (entry->contains("faults")) {
        if (const auto faults = object((*entry)["faults"], where + ".faults"))
            readFaults(*faults, where + ".faults", &config);
    }
    return config;
}

} // namespace

std::string queryKey(std::string_view line)
{
    const auto first = line.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos)
        return {};
    line = line.substr(first, line.find_last_not_of(" \t\r\n") - first + 1);
    std::string key(line);
    for (char &c : key)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return key;
}

Configuration parseConfiguration(const QByteArray &json, const std::string &origin)
{
    Reader reader(origin);
    Configuration result;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError) {
        reader.problem({}, "malformed JSON at offset " + std::to_string(error.offset) + ": "
                               + error.errorString().toStdString());
    } else if (!document.isObject()) {
        reader.problem({}, "expected an object with a \"resources\" array");
    } else {
        const QJsonObject top = document.object();
        reader.checkKeys(top, {}, {"resources"});
        const QJsonValue list = top["resources"];
        if (!list.isArray()) {
            reader.problem("resources", "expected an array");
        } else {
            const QJsonArray entries = list.toArray();
            std::map<std::string, qsizetype> seen;
            for (qsizetype i = 0; i < entries.size(); ++i) {
                const std::string where = "resources[" + std::to_string(i) + "]";
                auto config = reader.readResource(entries[i], where);
                if (!config)
                    continue;
                const auto [previous, added] = seen.emplace(config->name.key(), i);
                if (!added) {
                    reader.problem(where + ".resource",
                                   "same instrument as resources[" + std::to_string(previous->second)
                                       + "], ignored");
                    continue;
                }
                result.resources.push_back(std::move(*config));
            }
        }
    }
    result.problems = std::move(reader.problems);
    return result;
}

Configuration readConfigurationFile(const std::string &path)
{
    QFile file(QString::fromLocal8Bit(path.c_str()));
    if (!file.open(QIODevice::ReadOnly)) {
        Configuration result;
        result.problems.push_back("usbsynth-sim: " + path + ": cannot be read: "
                                  + file.errorString().toStdString());
        return result;
    }
    const QByteArray contents = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        Configuration result;
        result.problems.push_back("usbsynth-sim: " + path + ": cannot be read: "
                                  + file.errorString().toStdString());
        return result;
    }
    return parseConfiguration(contents, path);
}

Configuration builtInConfiguration()
{
    return parseConfiguration(QByteArray(builtInJson), "built-in configuration");
}

} // namespace sim
