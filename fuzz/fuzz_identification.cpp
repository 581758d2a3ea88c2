// The "*IDN?" reply as the scan reads it: the two fields it keeps, the model
// rule, and the decision whether the instrument gets a tab, for product ids
// inside and outside the supported range.
#include "fuzz/fuzzcheck.h"
#include "link/discovery.h"
#include "link/replyparser.h"

#include <algorithm>

namespace {

bool sameIdentification(const discovery::Identification &a, const discovery::Identification &b)
{
    return a.complete == b.complete && a.model == b.model && a.firmware == b.firmware;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString reply = fuzz::text(data, size);
    const discovery::Identification id = discovery::parseIdentification(reply);

    // Manufacturer, model, serial number, firmware: the second and fourth
    // comma-separated fields, the firmware without line feeds.
    const QStringList fields = fuzz::pieces(reply, QStringLiteral(","));
    FUZZ_CHECK(id.complete == (fields.size() >= 4));
    if (id.complete) {
        FUZZ_CHECK(id.model == fields.at(1));
        QString firmware = fields.at(3);
        firmware.remove(QLatin1Char('\n'));
        FUZZ_CHECK(id.firmware == firmware);
    } else {
        FUZZ_CHECK(id.model.isEmpty() && id.firmware.isEmpty());
    }
    FUZZ_CHECK(!id.model.contains(QLatin1Char(',')));
    FUZZ_CHECK(!id.firmware.contains(QLatin1Char(',')));
    FUZZ_CHECK(!id.firmware.contains(QLatin1Char('\n')));

    // The reply's closing line feed never changes what is read from it.
    FUZZ_CHECK(sameIdentification(id, discovery::parseIdentification(reply + QLatin1Char('\n'))));

    // The model rule looks at a prefix only: text after it changes nothing.
    const bool supported = discovery::isSupportedModel(id.model);
    FUZZ_CHECK(discovery::isSupportedModel(id.model + QStringLiteral("-X")) == supported);
    FUZZ_CHECK(!supported || id.model.contains(QLatin1String("774")));
    // The rule is case-sensitive: a supported model that starts with a letter
    // is no longer supported in lower case.
    if (supported && id.model.at(0) >= QLatin1Char('A') && id.model.at(0) <= QLatin1Char('Z'))
        FUZZ_CHECK(!discovery::isSupportedModel(id.model.toLower()));

    static const char *const productIds[] = {
        "0x0F", "0x000F", "0x0011", "0x15", "15", "21", "0X12",    // supported
        "0x0E", "0x16", "0x0030", "0x3A7C", "", "x15", "0x", "-15", // not
    };
    for (const char *productId : productIds) {
        const QString pid = QString::fromLatin1(productId);
        const bool accepted = discovery::isAccepted(pid, id);
        FUZZ_CHECK(accepted == (discovery::isSupportedProductId(pid) && id.complete && supported));
    }
    // A product id taken from the reply itself must not upset the decision.
    if (id.complete) {
        const QString serial = fields.at(2);
        FUZZ_CHECK(discovery::isAccepted(serial, id)
                   == (discovery::isSupportedProductId(serial) && supported));
    }

    // The reply shown as received, less its line feed.
    const QString shown = reply::withoutLastCharacter(reply);
    FUZZ_CHECK(shown.size() == std::max<qsizetype>(0, reply.size() - 1));
    FUZZ_CHECK(reply.startsWith(shown));
    return 0;
}
