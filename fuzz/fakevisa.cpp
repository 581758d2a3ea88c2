#include "fuzz/fakevisa.h"

#include <algorithm>
#include <cstring>

namespace fakevisa {
namespace {
Plan current;
size_t position = 0;
Log record;
constexpr ViFindList List = 0x100;

const Step &nextStep() { return position < current.steps.size() ? current.steps[position++] : current.after; }

// A descriptor as VISA writes it into a buffer of VI_FIND_BUFLEN bytes.
ViStatus writeDescriptor(ViChar desc[])
{
    const Step &step = nextStep();
    const size_t length = std::min<size_t>(step.bytes.size(), VI_FIND_BUFLEN);
    if (step.status >= 0) {
        std::memcpy(desc, step.bytes.data(), length);
        if (length < VI_FIND_BUFLEN)
            desc[length] = '\0';
    }
    record.calls.emplace_back(step.status, step.status >= 0 ? step.bytes.substr(0, length) : std::string());
    return step.status;
}
} // namespace

const Log &plan(const Plan &plan)
{
    current = plan;
    position = 0;
    // Cleared, not replaced, so that the log keeps its capacity: a list that
    // never ends writes thousands of descriptors per input.
    record.calls.clear();
    record.openLists = 0;
    return record;
}
} // namespace fakevisa

using namespace fakevisa;

extern "C" {
FAKEVISA_API ViStatus viOpenDefaultRM(ViSession *rm) { return *rm = 1, VI_SUCCESS; }
FAKEVISA_API ViStatus viOpen(ViSession, const ViChar *, ViAccessMode, ViUInt32, ViSession *vi) { return *vi = 2, VI_SUCCESS; }
FAKEVISA_API ViStatus viWrite(ViSession, const ViByte *, ViUInt32 count, ViUInt32 *retCount) { return *retCount = count, VI_SUCCESS; }
FAKEVISA_API ViStatus viFindNext(ViFindList, ViChar desc[]) { return writeDescriptor(desc); }

FAKEVISA_API ViStatus viFindRsrc(ViSession, const ViChar *, ViFindList *list, ViUInt32 *count, ViChar desc[])
{
    *count = current.count; // written even on failure: the caller must not trust it
    const ViStatus status = writeDescriptor(desc);
    if (status >= 0) {
        *list = List;
        ++record.openLists;
    }
    return status;
}

FAKEVISA_API ViStatus viClose(ViObject object)
{
    record.openLists -= object == List;
    return VI_SUCCESS;
}

FAKEVISA_API ViStatus viRead(ViSession, ViByte *buf, ViUInt32 count, ViUInt32 *retCount)
{
    const Step &step = nextStep();
    record.calls.emplace_back(step.status, std::string());
    if (step.status >= 0) {
        const size_t written = std::min<size_t>(step.bytes.size(), count);
        std::memcpy(buf, step.bytes.data(), written);
        *retCount = uint32_t(written);
        if (step.overstates) {
            std::memset(buf + written, '#', count - written);
            *retCount = uint32_t(std::min<uint64_t>(uint64_t(count) + 1 + step.excess, UINT32_MAX));
        }
        record.calls.back().second.assign(reinterpret_cast<const char *>(buf), std::min(*retCount, count));
    }
    return step.status;
}
} // extern "C"
