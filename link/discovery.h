#ifndef USBSYNTH_DISCOVERY_H
#define USBSYNTH_DISCOVERY_H

#include "link/visalibrary.h"

#include <QString>

#include <optional>

// Finding and identifying supported synthesizers: descriptor fields, the
// product-id range, the identification reply and the model rule.
namespace discovery {

// The two descriptor fields the scan uses, counting "::"-separated fields
// from 0: the product id (field 2) and the serial number (field 3).
struct DescriptorFields
{
    QString productId;
    QString serial;
    bool complete = false; // false when the descriptor has fewer than four fields
};
DescriptorFields descriptorFields(const QString &descriptor);

// A USB product id read in base 16, with or without a 0x prefix ("10" is
// 0x10). Empty when the whole text is not such a number.
std::optional<int> productIdValue(const QString &text);

// Product ids 0x0F to 0x15 belong to the supported synthesizers.
bool isSupportedProductId(const QString &text);

// The two fields of an identification reply the panel uses, from the
// comma-separated manufacturer, model, serial number, firmware version.
struct Identification
{
    QString model;     // field 1, exactly as received
    QString firmware;  // field 3, line feeds removed
    bool complete = false; // false when the reply has fewer than four fields
};
Identification parseIdentification(const QString &reply);

// The model text begins with one of the supported model prefixes
// (case-sensitive).
bool isSupportedModel(const QString &model);

// Whether an instrument gets a tab: product id in range, a complete
// identification and a supported model.
bool isAccepted(const QString &productId, const Identification &identification);

// Asks one instrument "*IDN?" in a session of its own and returns the reply
// (empty when it cannot be opened or does not answer). The session is always
// closed again.
QString identify(visa::Session rm, const QString &descriptor);

} // namespace discovery

#endif // USBSYNTH_DISCOVERY_H
