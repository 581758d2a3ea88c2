#ifndef USBSYNTH_SIM_SIMCONFIG_H
#define USBSYNTH_SIM_SIMCONFIG_H

#include "link/visadefs.h"
#include "sim/instrumentmodel.h"
#include "sim/resourcename.h"

#include <QByteArray>

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

// One simulated resource as the configuration describes it.
struct ResourceConfig
{
    std::string descriptor; // as written, reported by searches and the trace
    ResourceName name;
    std::optional<std::string> idn; // none: the model answers nothing
    ModelState initial;
    std::map<std::string, std::string> replies; // query key -> whole reply bytes
    std::optional<ViStatus> openStatus;
    std::map<std::string, ViStatus> readStatus; // query key -> read status
    std::map<std::string, ViStatus> writeStatus; // line key -> write status
    ViUInt32 latencyMs = 0;
    ViUInt32 timeoutMs = 2000;
    std::optional<ViUInt32> unplugAfter;
};

// The outcome of one load: the usable resources, and one line per problem.
struct Configuration
{
    std::vector<ResourceConfig> resources;
    std::vector<std::string> problems;
};

// The key under which a query is looked up: no surrounding white space or
// line end, upper case.
std::string queryKey(std::string_view line);

// Parses a configuration; origin names it in the problem lines.
Configuration parseConfiguration(const QByteArray &json, const std::string &origin);
Configuration readConfigurationFile(const std::string &path);
// Used when no file is named: two supported instruments of different models
// and one USB resource outside the supported product ids.
Configuration builtInConfiguration();

} // namespace sim

#endif // USBSYNTH_SIM_SIMCONFIG_H
