// A VISA library that exports only two entry points, for testing how the
// panel treats a library lacking functions it needs.
#include "link/visadefs.h"

extern "C" {
__attribute__((visibility("default"))) ViStatus viOpenDefaultRM(ViSession *rm)
{
    *rm = 1;
    return VI_SUCCESS;
}

__attribute__((visibility("default"))) ViStatus viOpen(ViSession, const ViChar *, ViAccessMode, ViUInt32,
                                                       ViSession *vi)
{
    *vi = 2;
    return VI_SUCCESS;
}
}
