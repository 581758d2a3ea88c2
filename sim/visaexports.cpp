// The VISA entry points of our own VISA libraries: the only symbols they
// export. Each one hands over to the library's front and turns any exception
// into a status, so no C++ exception crosses into a client.

#include "link/visadefs.h"
#include "sim/formattedio.h"
#include "sim/visafront.h"

#include <cstdarg>

#if defined(_WIN32)
#define SIM_EXPORT __declspec(dllexport)
#else
#define SIM_EXPORT __attribute__((visibility("default")))
#endif

namespace {

template<typename Operation>
ViStatus guarded(Operation operation)
{
    try {
        return operation();
    } catch (...) {
        return VI_ERROR_SYSTEM_ERROR;
    }
}

sim::VisaFront &simulator()
{
    return sim::visaFront();
}

} // namespace

extern "C" {

SIM_EXPORT ViStatus VI_FUNC viOpenDefaultRM(ViSession *rm)
{
    return guarded([&] { return simulator().openDefaultRM(rm); });
}

SIM_EXPORT ViStatus VI_FUNC viFindRsrc(ViSession rm, const ViChar *expr, ViFindList *list,
                                       ViUInt32 *count, ViChar desc[])
{
    return guarded([&] { return simulator().findResources(rm, expr, list, count, desc); });
}

SIM_EXPORT ViStatus VI_FUNC viFindNext(ViFindList list, ViChar desc[])
{
    return guarded([&] { return simulator().findNext(list, desc); });
}

SIM_EXPORT ViStatus VI_FUNC viParseRsrc(ViSession rm, const ViChar *name, ViUInt16 *intfType,
                                        ViUInt16 *intfNum)
{
    return guarded([&] {
        return simulator().parseResource(rm, name, intfType, intfNum, nullptr, nullptr, nullptr);
    });
}

SIM_EXPORT ViStatus VI_FUNC viParseRsrcEx(ViSession rm, const ViChar *name, ViUInt16 *intfType,
                                          ViUInt16 *intfNum, ViChar rsrcClass[],
                                          ViChar expandedName[], ViChar aliasIfExists[])
{
    return guarded([&] {
        return simulator().parseResource(rm, name, intfType, intfNum, rsrcClass, expandedName,
                                         aliasIfExists);
    });
}

SIM_EXPORT ViStatus VI_FUNC viOpen(ViSession rm, const ViChar *name, ViAccessMode mode,
                                   ViUInt32 openTimeout, ViSession *vi)
{
    // No locks exist here, so the access mode and open timeout change nothing.
    (void)mode;
    (void)openTimeout;
    return guarded([&] { return simulator().open(rm, name, vi); });
}

SIM_EXPORT ViStatus VI_FUNC viClose(ViObject obj)
{
    return guarded([&] { return simulator().close(obj); });
}

SIM_EXPORT ViStatus VI_FUNC viWrite(ViSession vi, const ViByte *buf, ViUInt32 count,
                                    ViUInt32 *retCount)
{
    return guarded([&] { return simulator().write(vi, buf, count, retCount); });
}

SIM_EXPORT ViStatus VI_FUNC viRead(ViSession vi, ViByte *buf, ViUInt32 count, ViUInt32 *retCount)
{
    return guarded([&] { return simulator().read(vi, buf, count, retCount); });
}

SIM_EXPORT ViStatus VI_FUNCC viPrintf(ViSession vi, const ViChar *format, ...)
{
    if (!format)
        return VI_ERROR_USER_BUF;
    const ViStatus valid = guarded([&] { return simulator().checkObject(vi); });
    if (valid != VI_SUCCESS)
        return valid;
    va_list args;
    va_start(args, format);
    std::string message;
    const ViStatus formatted = guarded([&] { return sim::formatMessage(format, args, &message); });
    va_end(args);
    if (formatted != VI_SUCCESS)
        return formatted;
    return guarded([&] {
        return simulator().write(vi, reinterpret_cast<const ViByte *>(message.data()),
                                 ViUInt32(message.size()), nullptr);
    });
}

SIM_EXPORT ViStatus VI_FUNCC viScanf(ViSession vi, const ViChar *format, ...)
{
    if (!format)
        return VI_ERROR_USER_BUF;
    std::string message;
    const ViStatus status = guarded([&] { return simulator().readMessage(vi, &message); });
    if (status < VI_SUCCESS)
        return status;
    va_list args;
    va_start(args, format);
    const ViStatus scanned = guarded([&] { return sim::scanMessage(message, format, args); });
    va_end(args);
    return scanned;
}

SIM_EXPORT ViStatus VI_FUNC viGetAttribute(ViObject obj, ViAttr attr, void *value)
{
    return guarded([&] { return simulator().getAttribute(obj, attr, value); });
}

SIM_EXPORT ViStatus VI_FUNC viSetAttribute(ViObject obj, ViAttr attr, ViAttrState value)
{
    return guarded([&] { return simulator().setAttribute(obj, attr, value); });
}

SIM_EXPORT ViStatus VI_FUNC viStatusDesc(ViObject obj, ViStatus status, ViChar desc[])
{
    (void)obj;
    return guarded([&] { return simulator().describeStatus(status, desc); });
}

SIM_EXPORT ViStatus VI_FUNC viDisableEvent(ViSession vi, ViEventType type, ViUInt16 mechanism)
{
    // No events are ever raised, so there is nothing to disable or discard.
    (void)type;
    (void)mechanism;
    return guarded([&] { return simulator().checkObject(vi); });
}

SIM_EXPORT ViStatus VI_FUNC viDiscardEvents(ViSession vi, ViEventType type, ViUInt16 mechanism)
{
    (void)type;
    (void)mechanism;
    return guarded([&] { return simulator().checkObject(vi); });
}

} // extern "C"
