#ifndef USBSYNTH_USBTMC_USBTMCBACKEND_H
#define USBSYNTH_USBTMC_USBTMCBACKEND_H

#include "sim/visabackend.h"

#include <mutex>
#include <string>

namespace usbtmc {

// Instruments behind the Linux kernel's usbtmc driver: found in sysfs, one
// /dev/usbtmcN file per session. Each write() is one message, each read()
// one reply; the session's timeout goes to the driver before I/O.
class UsbtmcBackend : public sim::Backend
{
public:
    std::vector<sim::Listing> resources() override;
    ViStatus open(const sim::ResourceName &name, const char *spelled,
                  std::shared_ptr<sim::Link> *link) override;
    const char *manufacturer() const override;
    std::string describe(ViStatus status) override;

private:
    class Connection;
    std::mutex mutex;
    std::string deniedNode; // the last node an open was refused
};

} // namespace usbtmc

#endif // USBSYNTH_USBTMC_USBTMCBACKEND_H
