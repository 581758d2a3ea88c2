#ifndef USBSYNTH_SIM_RESOURCENAME_H
#define USBSYNTH_SIM_RESOURCENAME_H

#include "link/visadefs.h"

#include <optional>
#include <string>
#include <string_view>

namespace sim {

// A VISA resource descriptor reduced to what decides which instrument it
// names. USB ids are kept as numbers so that hex and decimal spellings agree;
// the USB interface number is dropped because it never selects another
// instrument here.
struct ResourceName
{
    ViUInt16 interfaceType = 0; // VI_INTF_*
    ViUInt16 board = 0;
    std::string resourceClass; // "INSTR" or "SOCKET", upper case

    // USB
    unsigned manufacturer = 0;
    unsigned model = 0;
    std::string serial;

    // TCPIP: host (lower case), device name or port; GPIB: addresses.
    std::string host;
    std::string device;
    int primary = -1;
    int secondary = -1;

    // Equal keys name the same instrument.
    std::string key() const;
    // The name spelled the standard way, e.g. USB0::0x3A7C::0x000F::SN1::INSTR.
    std::string expanded() const;
};

// Parses a descriptor of the USB, GPIB, TCPIP or ASRL interface types;
// nothing when the text is not such a descriptor.
std::optional<ResourceName> parseResourceName(std::string_view text);

} // namespace sim

#endif // USBSYNTH_SIM_RESOURCENAME_H
