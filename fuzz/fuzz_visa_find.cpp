// Listing instruments through the VISA layer from a library that answers
// as the input says: failing searches, any match count, descriptors filling
// the whole buffer without a terminating NUL, failures part way through the
// list, or a list that never ends.
#include "fuzz/fakevisa.h"
#include "fuzz/fuzzcheck.h"
#include "link/visa.h"
#include "link/visalibrary.h"

#include <algorithm>
#include <cstring>

namespace {

// The cap visa.cpp puts on one listing.
constexpr uint32_t MaxResources = 10000;

visa::Session rm = visa::NullSession;

fakevisa::FindStep stepFrom(fuzz::Input &in)
{
    static const ViStatus statuses[] = {
        VI_SUCCESS, VI_SUCCESS, VI_SUCCESS, VI_WARN_UNKNOWN_STATUS,
        VI_ERROR_RSRC_NFOUND, VI_SUCCESS, VI_SUCCESS, VI_ERROR_IO,
    };
    fakevisa::FindStep step;
    const uint8_t head = in.byte();
    step.status = statuses[head & 7];
    // Lengths up to 256 (the whole buffer, no NUL) and a little beyond.
    const size_t length = in.byte() + ((head & 0x08) ? 8 : 0) + ((head & 0x10) ? 256 - 8 : 0);
    step.bytes = in.take(length);
    return step;
}

fakevisa::FindPlan planFrom(const uint8_t *data, size_t size)
{
    fuzz::Input in(data, size);
    fakevisa::FindPlan plan;
    const uint8_t flags = in.byte();
    // A list that never ends costs thousands of calls: one flag value only.
    plan.endless = flags == 0xFF;
    switch (flags >> 6) {
    case 0: plan.count = in.byte(); break;
    case 1: plan.count = 0; break;
    case 2: plan.count = UINT32_MAX - in.byte(); break;
    default: {
        const uint8_t b = in.byte();
        plan.count = (b & 0x80) ? UINT32_MAX - (b & 0x7F) : MaxResources - 2 + b % 4;
        break;
    }
    }
    plan.first = stepFrom(in);
    while (!in.atEnd())
        plan.next.push_back(stepFrom(in));
    return plan;
}

// A descriptor as the panel gets it: up to its first NUL, 8-bit decoded.
QString descriptorText(const std::string &bytes)
{
    return QString::fromLocal8Bit(bytes.data(), qsizetype(std::strlen(bytes.c_str())));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qputenv("USBSYNTH_VISA_LIBRARY", USBSYNTH_FUZZ_VISA_LIBRARY);
    FUZZ_CHECK(VisaLibrary::instance().isLoaded());
    FUZZ_CHECK(visa::openDefaultRM(&rm) >= 0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const fakevisa::FindPlan plan = planFrom(data, size);
    fakevisa::planFind(plan);
    const QStringList found = visa::findResources(rm, QStringLiteral("USB?*INSTR"));
    const fakevisa::FindLog &log = fakevisa::findLog();

    // What the listing must be, checked entry by entry: the first descriptor,
    // then one per further match until a step fails, the count runs out or
    // the cap is reached.
    qsizetype listed = 0;
    const auto checkNext = [&] {
        FUZZ_CHECK(size_t(listed) < log.written.size());
        FUZZ_CHECK(listed < found.size() && found.at(listed) == descriptorText(log.written[size_t(listed)]));
        ++listed;
    };
    int expectedNextCalls = 0;
    if (plan.first.status >= 0 && plan.count > 0) {
        checkNext();
        for (uint32_t i = 1; i < plan.count && i < MaxResources; ++i) {
            ++expectedNextCalls;
            const bool fromPlan = i - 1 < plan.next.size();
            if (fromPlan ? plan.next[i - 1].status < 0 : !plan.endless)
                break;
            checkNext();
        }
    }
    FUZZ_CHECK(found.size() == listed);
    FUZZ_CHECK(log.findNextCalls == expectedNextCalls);
    FUZZ_CHECK(found.size() <= qsizetype(MaxResources));
    // A list the library handed out is always given back.
    FUZZ_CHECK(log.handedList == 0 || log.listClosed);
    for (const QString &descriptor : found)
        FUZZ_CHECK(descriptor.size() <= VI_FIND_BUFLEN);
    return 0;
}
