#ifndef USBSYNTH_SIM_INSTRUMENTMODEL_H
#define USBSYNTH_SIM_INSTRUMENTMODEL_H

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace sim {

// How the output power was last set: a value, or the instrument's limits.
enum class PowerLevel { Value, Min, Max };

// One set of output settings; each stored state holds one.
struct Settings
{
    int pllMode = 0; // 0 fractional, 1 integer
    double frequency = 0; // in the product's unit
    int refDivider = 1; // 1..127
    bool refExternal = false;
    int refFrequency = 10; // MHz, 10..100
    PowerLevel powerLevel = PowerLevel::Value; // the "power on boot" field
    double power = 0; // dBm
    bool rf = true;
};

constexpr int StoredStateCount = 6;

// Everything a simulated instrument remembers.
struct ModelState
{
    Settings live;
    std::array<Settings, StoredStateCount> stored;
    int bootState = 0;
    double temperature = 31.25; // degrees Celsius
    double tempThreshold = 60;
    bool locked = true;
    double powerMin = -30; // what POWE:SET MIN selects, dBm
    double powerMax = 10;
};

// Frequency range and unit of a product id; unknown ids have no range and
// count in GHz.
struct ProductRange
{
    bool known = false;
    bool megahertz = false;
    double minFrequency = 0;
    double maxFrequency = 0;
};
ProductRange productRange(unsigned productId);

// Power-up settings of a product: the middle of its range, 0 dBm, RF on,
// internal 10 MHz reference, divider 1, fractional PLL; every stored state
// holds the same settings.
ModelState defaultModelState(unsigned productId);

// Rounds to what the instrument can hold: 1 kHz steps of frequency, 0.01 dB
// of power and 0.01 degree of threshold.
double roundFrequency(double value, unsigned productId);
double roundHundredths(double value);

// The stateful instrument behind the command set: commands change the state,
// queries report it.
class InstrumentModel
{
public:
    InstrumentModel(unsigned productId, const ModelState &initial);

    // Carries out one line without its line end. A query the model knows
    // gives its reply (without line feed); commands and unknown lines give
    // nothing. Malformed or out-of-range arguments leave the state alone.
    std::optional<std::string> execute(std::string_view line);

    const ModelState &state() const { return current; }

private:
    std::optional<std::string> query(const std::string &header) const;
    void command(const std::string &header, std::string_view argument);
    std::string formatFrequency(double value) const;
    std::string stateDump() const;

    unsigned productId;
    ProductRange range;
    ModelState current;
};

} // namespace sim

#endif // USBSYNTH_SIM_INSTRUMENTMODEL_H
