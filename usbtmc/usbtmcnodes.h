#ifndef USBSYNTH_USBTMC_USBTMCNODES_H
#define USBSYNTH_USBTMC_USBTMCNODES_H

#include <string>
#include <vector>

namespace usbtmc {

// One USB-TMC interface the kernel's usbtmc driver has bound, as sysfs
// describes it.
struct Node
{
    std::string name;       // "usbtmc0"
    std::string devicePath; // "/dev/usbtmc0"
    unsigned vendorId = 0;
    unsigned productId = 0;
    std::string serial;     // the node's name when the device has none
    unsigned interfaceNumber = 0;
    // USB0::0x1234::0x0015::SERIAL::INSTR, with ::N before INSTR for an
    // interface other than 0.
    std::string descriptor() const;
};

// The USB-TMC nodes under /sys/class/usbmisc, in the order of their numbers.
// A usbmisc node whose interface is not class 0xFE subclass 3 is left out.
std::vector<Node> listNodes();

} // namespace usbtmc

#endif // USBSYNTH_USBTMC_USBTMCNODES_H
