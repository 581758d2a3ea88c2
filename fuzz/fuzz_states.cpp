// The stored-state dump ("SYST:READSTATE?"): states split on ';', fields on
// ',', nothing lost or added.
#include "fuzz/fuzzcheck.h"
#include "link/replyparser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = fuzz::text(data, size);
    const QList<QStringList> states = reply::splitStates(text);

    FUZZ_CHECK(states.size() == text.count(QLatin1Char(';')) + 1);
    QStringList joined;
    qsizetype fieldCount = 0;
    for (const QStringList &state : states) {
        FUZZ_CHECK(!state.isEmpty());
        for (const QString &field : state)
            FUZZ_CHECK(!field.contains(QLatin1Char(';')) && !field.contains(QLatin1Char(',')));
        fieldCount += state.size();
        joined << state.join(QLatin1Char(','));
    }
    // Joining the pieces again gives back the dump exactly, line feeds and
    // empty pieces included.
    FUZZ_CHECK(joined.join(QLatin1Char(';')) == text);
    FUZZ_CHECK(fieldCount == text.count(QLatin1Char(',')) + states.size());
    return 0;
}
