#ifndef USBSYNTH_MODELTABLE_H
#define USBSYNTH_MODELTABLE_H

#include <QString>

// What each synthesizer model can do, keyed by its USB product id.
namespace models {

struct FrequencyRange
{
    quint32 minFreq = 0;
    quint32 maxFreq = 0;
    bool megahertz = false; // unit of every output frequency: MHz, else GHz
    bool known = false;     // false: unknown product id, range 0-0 GHz
};

// Looks the product id up by value, read in base 16: 0x000F, 000F and F
// are the same model.
FrequencyRange frequencyRange(const QString &productId);

// The unit text, "MHz" or "GHz".
QString unitText(const FrequencyRange &range);

// The two MHz models have no temperature sensor.
bool hasTemperatureSensor(const QString &productId);

} // namespace models

#endif // USBSYNTH_MODELTABLE_H
