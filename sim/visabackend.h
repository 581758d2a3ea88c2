#ifndef USBSYNTH_SIM_VISABACKEND_H
#define USBSYNTH_SIM_VISABACKEND_H

#include "link/visadefs.h"
#include "sim/resourcename.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

// One resource a back end knows of.
struct Listing
{
    ResourceName name;
    std::string descriptor; // as searches report it
    bool present = true;    // false: known but not to be listed or opened
};

// An open connection to one instrument: whole messages out, whole replies in.
// Reads and writes run without the front's lock, so they may block.
class Link
{
public:
    virtual ~Link() = default;
    virtual const std::string &descriptor() const = 0;
    virtual const ResourceName &name() const = 0;
    // The session's VI_ATTR_TMO_VALUE when it opens.
    virtual ViUInt32 initialTimeout() const { return 2000; }
    // Sends one message; a reply not yet read is forgotten.
    virtual ViStatus write(std::string_view message, ViUInt32 timeoutMs) = 0;
    // Waits at most timeoutMs for the next reply and takes it whole.
    virtual ViStatus read(ViUInt32 timeoutMs, std::string *reply) = 0;
    // The session closed; a read waiting elsewhere may end. Called once.
    virtual void close() = 0;
};

// Where the instruments of a VISA library come from. The front calls every
// member except the Link's reads and writes under its own lock.
class Backend
{
public:
    virtual ~Backend() = default;
    // At the start of every entry point that opens, searches, parses or
    // writes; reads, closes and attributes go on with what it last found.
    virtual void refresh() {}
    // Every resource, in the order searches report them.
    virtual std::vector<Listing> resources() = 0;
    // Opens the resource the name stands for; `spelled` is the client's text.
    virtual ViStatus open(const ResourceName &name, const char *spelled,
                          std::shared_ptr<Link> *link) = 0;
    // VI_ATTR_RSRC_MANF_NAME.
    virtual const char *manufacturer() const = 0;
    // The resource manager opened or closed, or a name did not parse.
    virtual void note(char event, std::string_view descriptor)
    {
        (void)event;
        (void)descriptor;
    }
    // A text for a status that says more than the standard one (for
    // example which device node could not be opened); empty for none.
    virtual std::string describe(ViStatus status)
    {
        (void)status;
        return {};
    }
};

} // namespace sim

#endif // USBSYNTH_SIM_VISABACKEND_H
