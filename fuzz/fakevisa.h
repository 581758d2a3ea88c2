#ifndef USBSYNTH_FAKEVISA_H
#define USBSYNTH_FAKEVISA_H

// A scripted VISA library for the fuzz targets of link/'s VISA layer. The
// panel loads it like any other VISA library (USBSYNTH_VISA_LIBRARY); the
// fuzz target links it as well, tells it how to answer, and reads back what
// it handed over.

#include "link/visadefs.h"

#include <cstdint>
#include <string>
#include <vector>

#define FAKEVISA_API __attribute__((visibility("default")))

namespace fakevisa {

// One answer to viRead.
struct ReadStep
{
    ViStatus status = VI_SUCCESS;
    std::string bytes; // written at the start of the buffer, cut to its size
    // A faulty library: fills the whole buffer and reports this many bytes
    // more than the buffer holds.
    bool overstates = false;
    uint32_t excess = 0;
};

struct ReadPlan
{
    std::vector<ReadStep> steps;
    // After the steps: VI_SUCCESS_MAX_CNT with one byte, for ever (a device
    // that never ends its message). Otherwise VI_SUCCESS with nothing.
    bool endless = false;
};

// What one viRead call was offered and gave.
struct ReadCall
{
    uint32_t offered = 0;  // the count asked for
    uint32_t reported = 0; // the count returned
    ViStatus status = VI_SUCCESS;
    std::string handed;    // the buffer's first min(reported, offered) bytes
};

// One descriptor answer of viFindRsrc or viFindNext.
struct FindStep
{
    ViStatus status = VI_SUCCESS;
    // Written into the descriptor buffer, cut to VI_FIND_BUFLEN bytes; a NUL
    // follows when there is room.
    std::string bytes;
};

struct FindPlan
{
    FindStep first;
    uint32_t count = 0; // the match count viFindRsrc reports
    std::vector<FindStep> next;
    // After the next steps: more descriptors for ever. Otherwise
    // VI_ERROR_RSRC_NFOUND.
    bool endless = false;
};

struct FindLog
{
    std::vector<std::string> written; // the bytes each successful call wrote
    int findNextCalls = 0;
    ViFindList handedList = 0; // the list viFindRsrc handed out, 0 when it failed
    bool listClosed = false;
};

FAKEVISA_API void planReads(const ReadPlan &plan);
FAKEVISA_API const std::vector<ReadCall> &readCalls();

FAKEVISA_API void planFind(const FindPlan &plan);
FAKEVISA_API const FindLog &findLog();

} // namespace fakevisa

#endif // USBSYNTH_FAKEVISA_H
