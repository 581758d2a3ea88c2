#ifndef USBSYNTH_STATEREADING_H
#define USBSYNTH_STATEREADING_H

#include "link/replyparser.h"
#include "link/visalibrary.h"

#include <QString>

#include <optional>

// One refresh pass's queries in an open session and what their replies say,
// read by the same rules as the device tab's pass. A reading the instrument
// did not give in a usable form stays empty; nothing is filled in.
namespace state {

// What the pass needs to know of the instrument.
struct Model
{
    QString productId;
    double minFreq = 0;
    double maxFreq = 0;
    // Firmware 4 and later: the pass also reads the stored-state dump.
    bool storedStates = false;
};

struct Readings
{
    std::optional<bool> referenceExternal;
    std::optional<bool> rfOn;
    std::optional<int> referenceMHz;
    std::optional<QString> referenceText;   // as reported, line end removed
    std::optional<bool> pllInteger;
    std::optional<int> divider;
    std::optional<bool> locked;
    std::optional<float> powerDbm;
    std::optional<QString> powerText;       // the power part as reported ("-3.5 MIN")
    reply::PowerStatus powerStatus = reply::PowerStatus::None; // meaningful with powerDbm
    std::optional<double> frequency;       // in the model's unit
    std::optional<QString> actualFrequency; // as reported, line end removed
    std::optional<QList<QStringList>> storedStates;
    // A failed read of the dump; the pass goes on without it.
    QString storedStatesError;
    std::optional<float> temperature;       // never for a model without a sensor
    // The message of the first unusable reply; the pass ends there and the
    // later readings stay empty. Empty when every query was answered.
    QString error;
};

// Asks the queries of one pass in their order, stopping at the first
// unusable reply.
Readings read(visa::Session session, const Model &model);

} // namespace state

#endif // USBSYNTH_STATEREADING_H
