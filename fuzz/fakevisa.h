#ifndef USBSYNTH_FAKEVISA_H
#define USBSYNTH_FAKEVISA_H

// A scripted VISA library for the fuzz targets of link/'s VISA layer. The
// panel loads it like any other VISA library (USBSYNTH_VISA_LIBRARY); the
// harness links it as well, tells it how to answer viRead, viFindRsrc and
// viFindNext, and reads back what it handed over.
#include "link/visadefs.h"

#include <cstdint>
#include <string>
#include <vector>

#define FAKEVISA_API __attribute__((visibility("default")))

namespace fakevisa {

// One answer: its status and the bytes written at the start of the buffer
// (cut to the buffer). An overstating read fills the whole buffer and
// reports `excess` + 1 bytes more than it holds.
struct Step
{
    ViStatus status = VI_SUCCESS;
    std::string bytes;
    bool overstates = false;
    uint32_t excess = 0;
};

struct Plan
{
    std::vector<Step> steps;
    Step after;         // repeated once the steps are used up
    uint32_t count = 0; // the match count viFindRsrc reports
};

// Each call's status and the bytes it handed over; the find lists handed out
// and not closed.
struct Log
{
    std::vector<std::pair<ViStatus, std::string>> calls;
    int openLists = 0;
};

// Starts a new script and a new log.
FAKEVISA_API const Log &plan(const Plan &plan);

} // namespace fakevisa

#endif // USBSYNTH_FAKEVISA_H
