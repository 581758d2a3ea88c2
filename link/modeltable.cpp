#include "link/modeltable.h"

#include "link/discovery.h"

namespace models {

namespace {
struct Row
{
    int productId;
    quint32 minFreq;
    quint32 maxFreq;
    bool megahertz;
};

constexpr Row Table[] = {
    {0x0F, 35, 4400, true},
    {0x10, 5, 10, false},
    {0x11, 10, 20, false},
    {0x12, 21, 24, false},
    {0x13, 24, 27, false},
    {0x14, 25, 6000, true},
    {0x15, 6, 12, false},
};
} // namespace

FrequencyRange frequencyRange(const QString &productId)
{
    const std::optional<int> value = discovery::productIdValue(productId);
    if (value) {
        for (const Row &row : Table) {
            if (row.productId == *value)
                return {row.minFreq, row.maxFreq, row.megahertz, true};
        }
    }
    // An unknown model gets an empty range, so no frequency is ever sent to it.
    return {};
}

QString unitText(const FrequencyRange &range)
{
    return range.megahertz ? QStringLiteral("MHz") : QStringLiteral("GHz");
}

bool hasTemperatureSensor(const QString &productId)
{
    const std::optional<int> value = discovery::productIdValue(productId);
    return !(value && (*value == 0x0F || *value == 0x14));
}

} // namespace models
