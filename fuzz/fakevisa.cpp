#include "fuzz/fakevisa.h"

#include <algorithm>
#include <cstring>

namespace fakevisa {
namespace {

constexpr ViSession ResourceManager = 1;
constexpr ViSession Instrument = 2;

ReadPlan readPlan;
size_t readPosition = 0;
std::vector<ReadCall> calls;

FindPlan findPlan;
size_t findPosition = 0;
FindLog findRecord;
ViFindList nextList = 0x100;

// Writes a descriptor as a VISA library does, into a buffer of
// VI_FIND_BUFLEN bytes.
void writeDescriptor(ViChar desc[], const std::string &bytes)
{
    const size_t length = std::min<size_t>(bytes.size(), VI_FIND_BUFLEN);
    std::memcpy(desc, bytes.data(), length);
    if (length < VI_FIND_BUFLEN)
        desc[length] = '\0';
    findRecord.written.push_back(bytes.substr(0, length));
}

} // namespace

void planReads(const ReadPlan &plan)
{
    readPlan = plan;
    readPosition = 0;
    calls.clear();
}

const std::vector<ReadCall> &readCalls()
{
    return calls;
}

void planFind(const FindPlan &plan)
{
    findPlan = plan;
    findPosition = 0;
    // Cleared field by field so that the log keeps its capacity: a list that
    // never ends writes thousands of descriptors per input.
    findRecord.written.clear();
    findRecord.findNextCalls = 0;
    findRecord.handedList = 0;
    findRecord.listClosed = false;
}

const FindLog &findLog()
{
    return findRecord;
}

} // namespace fakevisa

using namespace fakevisa;

extern "C" {

FAKEVISA_API ViStatus viOpenDefaultRM(ViSession *rm)
{
    *rm = ResourceManager;
    return VI_SUCCESS;
}

FAKEVISA_API ViStatus viFindRsrc(ViSession, const ViChar *, ViFindList *list, ViUInt32 *count, ViChar desc[])
{
    const FindStep &step = findPlan.first;
    // A failing search still writes a count here: the caller must not trust it.
    *count = findPlan.count;
    if (step.status < 0)
        return step.status;
    writeDescriptor(desc, step.bytes);
    *list = nextList++;
    *count = findPlan.count;
    findRecord.handedList = *list;
    return step.status;
}

FAKEVISA_API ViStatus viFindNext(ViFindList, ViChar desc[])
{
    ++findRecord.findNextCalls;
    if (findPosition < findPlan.next.size()) {
        const FindStep &step = findPlan.next[findPosition++];
        if (step.status >= 0)
            writeDescriptor(desc, step.bytes);
        return step.status;
    }
    if (!findPlan.endless)
        return VI_ERROR_RSRC_NFOUND;
    static const std::string more = "USB0::MORE";
    writeDescriptor(desc, more);
    return VI_SUCCESS;
}

FAKEVISA_API ViStatus viOpen(ViSession, const ViChar *, ViAccessMode, ViUInt32, ViSession *vi)
{
    *vi = Instrument;
    return VI_SUCCESS;
}

FAKEVISA_API ViStatus viClose(ViObject object)
{
    if (object != 0 && object == findRecord.handedList)
        findRecord.listClosed = true;
    return VI_SUCCESS;
}

FAKEVISA_API ViStatus viRead(ViSession, ViByte *buf, ViUInt32 count, ViUInt32 *retCount)
{
    ReadStep step;
    if (readPosition < readPlan.steps.size()) {
        step = readPlan.steps[readPosition++];
    } else if (readPlan.endless) {
        step.status = VI_SUCCESS_MAX_CNT;
        step.bytes = "~";
    }
    ReadCall call;
    call.offered = count;
    call.status = step.status;
    if (step.status >= 0) {
        const size_t written = std::min<size_t>(step.bytes.size(), count);
        std::memcpy(buf, step.bytes.data(), written);
        if (step.overstates) {
            std::memset(buf + written, '#', count - written);
            call.reported = uint32_t(std::min<uint64_t>(uint64_t(count) + 1 + step.excess, UINT32_MAX));
        } else {
            call.reported = uint32_t(written);
        }
        call.handed.assign(reinterpret_cast<const char *>(buf), std::min(call.reported, count));
        *retCount = call.reported;
    }
    calls.push_back(call);
    return step.status;
}

FAKEVISA_API ViStatus viWrite(ViSession, const ViByte *, ViUInt32 count, ViUInt32 *retCount)
{
    *retCount = count;
    return VI_SUCCESS;
}

} // extern "C"
