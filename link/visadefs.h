#ifndef USBSYNTH_VISADEFS_H
#define USBSYNTH_VISADEFS_H

// The project's own declarations of the VISA types, constants and entry
// points it uses, written from the IVI VISA standard. Only link/ and sim/
// include this file; everything above link/ talks to link's wrappers.

#include <cstdint>

typedef int32_t ViInt32;
typedef uint32_t ViUInt32;
typedef int16_t ViInt16;
typedef uint16_t ViUInt16;
typedef uint8_t ViUInt8;
typedef char ViChar;
typedef unsigned char ViByte;
typedef ViUInt16 ViBoolean;

typedef ViInt32 ViStatus;
typedef ViUInt32 ViObject;
typedef ViUInt32 ViSession;
typedef ViUInt32 ViFindList;
typedef ViUInt32 ViAttr;
typedef ViUInt32 ViAccessMode;
typedef ViUInt32 ViEventType;
#if defined(_WIN64) || defined(__LP64__) || defined(__x86_64__) || defined(__aarch64__)
typedef uint64_t ViAttrState;
#else
typedef ViUInt32 ViAttrState;
#endif

// 32-bit Windows: ordinary entry points are __stdcall, variadic ones __cdecl.
#if defined(_WIN32) && !defined(_WIN64)
#define VI_FUNC __stdcall
#define VI_FUNCC __cdecl
#else
#define VI_FUNC
#define VI_FUNCC
#endif

#define VI_NULL 0
#define VI_TRUE 1
#define VI_FALSE 0
#define VI_FIND_BUFLEN 256
#define VI_NO_LOCK 0
#define VI_TMO_IMMEDIATE 0u
#define VI_TMO_INFINITE 0xFFFFFFFFu

#define VI_INTF_GPIB 1
#define VI_INTF_VXI 2
#define VI_INTF_GPIB_VXI 3
#define VI_INTF_ASRL 4
#define VI_INTF_PXI 5
#define VI_INTF_TCPIP 6
#define VI_INTF_USB 7

#define VI_ALL_ENABLED_EVENTS 0x3FFF7FFFu
#define VI_ALL_MECH 0xFFFF

// Completion codes (non-negative) and errors (negative as ViStatus).
#define VI_SUCCESS ((ViStatus)0)
#define VI_SUCCESS_TERM_CHAR ((ViStatus)0x3FFF0005)
#define VI_SUCCESS_MAX_CNT ((ViStatus)0x3FFF0006)
#define VI_WARN_NULL_OBJECT ((ViStatus)0x3FFF0082)
#define VI_ERROR_SYSTEM_ERROR ((ViStatus)0xBFFF0000)
#define VI_ERROR_INV_OBJECT ((ViStatus)0xBFFF000E)
#define VI_ERROR_INV_EXPR ((ViStatus)0xBFFF0010)
#define VI_ERROR_RSRC_NFOUND ((ViStatus)0xBFFF0011)
#define VI_ERROR_INV_RSRC_NAME ((ViStatus)0xBFFF0012)
#define VI_ERROR_TMO ((ViStatus)0xBFFF0015)
#define VI_ERROR_NSUP_ATTR ((ViStatus)0xBFFF001D)
#define VI_ERROR_NSUP_ATTR_STATE ((ViStatus)0xBFFF001E)
#define VI_ERROR_INV_FMT ((ViStatus)0xBFFF003F)
#define VI_ERROR_IO ((ViStatus)0xBFFF003E)
#define VI_ERROR_USER_BUF ((ViStatus)0xBFFF0071)
#define VI_ERROR_NSUP_OPER ((ViStatus)0xBFFF0067)
#define VI_ERROR_RSRC_BUSY ((ViStatus)0xBFFF0072)
#define VI_ERROR_LIBRARY_NFOUND ((ViStatus)0xBFFF009E)
#define VI_ERROR_CONN_LOST ((ViStatus)0xBFFF00A6)

#define VI_ATTR_RSRC_CLASS 0xBFFF0001u
#define VI_ATTR_RSRC_NAME 0xBFFF0002u
#define VI_ATTR_TERMCHAR 0x3FFF0018u
#define VI_ATTR_TMO_VALUE 0x3FFF001Au
#define VI_ATTR_TERMCHAR_EN 0x3FFF0038u
#define VI_ATTR_INTF_TYPE 0x3FFF0171u
#define VI_ATTR_INTF_NUM 0x3FFF0176u
#define VI_ATTR_RSRC_MANF_NAME 0xBFFF0174u

// Entry points as function-pointer types, resolved at run time by link/.
typedef ViStatus(VI_FUNC *ViOpenDefaultRMFn)(ViSession *rm);
typedef ViStatus(VI_FUNC *ViFindRsrcFn)(ViSession rm, const ViChar *expr, ViFindList *list,
                                        ViUInt32 *count, ViChar desc[]);
typedef ViStatus(VI_FUNC *ViFindNextFn)(ViFindList list, ViChar desc[]);
typedef ViStatus(VI_FUNC *ViOpenFn)(ViSession rm, const ViChar *name, ViAccessMode mode,
                                    ViUInt32 openTimeout, ViSession *vi);
typedef ViStatus(VI_FUNC *ViCloseFn)(ViObject obj);
typedef ViStatus(VI_FUNC *ViReadFn)(ViSession vi, ViByte *buf, ViUInt32 count, ViUInt32 *retCount);
typedef ViStatus(VI_FUNC *ViWriteFn)(ViSession vi, const ViByte *buf, ViUInt32 count,
                                     ViUInt32 *retCount);

// Further codes and entry points, used by the simulated instruments and
// their tests.
#define VI_WARN_UNKNOWN_STATUS ((ViStatus)0x3FFF0085)
#define VI_ERROR_ATTR_READONLY ((ViStatus)0xBFFF001F)

typedef ViStatus(VI_FUNC *ViParseRsrcFn)(ViSession rm, const ViChar *name, ViUInt16 *intfType,
                                         ViUInt16 *intfNum);
typedef ViStatus(VI_FUNC *ViParseRsrcExFn)(ViSession rm, const ViChar *name, ViUInt16 *intfType,
                                           ViUInt16 *intfNum, ViChar rsrcClass[],
                                           ViChar expandedName[], ViChar aliasIfExists[]);
typedef ViStatus(VI_FUNC *ViGetAttributeFn)(ViObject obj, ViAttr attr, void *value);
typedef ViStatus(VI_FUNC *ViSetAttributeFn)(ViObject obj, ViAttr attr, ViAttrState value);
typedef ViStatus(VI_FUNC *ViStatusDescFn)(ViObject obj, ViStatus status, ViChar desc[]);
typedef ViStatus(VI_FUNC *ViDisableEventFn)(ViSession vi, ViEventType type, ViUInt16 mechanism);
typedef ViStatus(VI_FUNC *ViDiscardEventsFn)(ViSession vi, ViEventType type, ViUInt16 mechanism);
typedef ViStatus(VI_FUNCC *ViPrintfFn)(ViSession vi, const ViChar *format, ...);
typedef ViStatus(VI_FUNCC *ViScanfFn)(ViSession vi, const ViChar *format, ...);

#endif // USBSYNTH_VISADEFS_H
