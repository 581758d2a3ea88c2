#ifndef USBSYNTH_SIM_SIMULATOR_H
#define USBSYNTH_SIM_SIMULATOR_H

#include "link/visadefs.h"
#include "sim/configwatch.h"
#include "sim/instrumentmodel.h"
#include "sim/simconfig.h"
#include "sim/visabackend.h"

#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <sys/types.h>

namespace sim {

// A configured resource for as long as it stays in the configuration: what
// it answers, its model state and how often it was opened.
struct Instrument
{
    Instrument(ResourceConfig config, unsigned productId)
        : config(std::move(config)), model(productId, this->config.initial)
    {
    }
    bool unplugged() const { return config.unplugAfter && opens >= *config.unplugAfter; }

    ResourceConfig config;
    InstrumentModel model;
    ViUInt32 opens = 0;
    bool removed = false; // gone from the configuration; sessions lose the connection
};

// One reply waiting to be read, or a read failure standing in for it.
struct Message
{
    std::string text;
    ViStatus status = VI_SUCCESS;
    bool latencyServed = false;
    unsigned long long id = 0;
};

// The simulated instruments of the configuration, as the back end of the
// simulated-instrument VISA library. One mutex guards the instruments and
// every session's queue of replies; reads release it while they wait.
class Simulator : public Backend
{
public:
    void refresh() override;
    std::vector<Listing> resources() override;
    ViStatus open(const ResourceName &name, const char *spelled,
                  std::shared_ptr<Link> *link) override;
    const char *manufacturer() const override;
    void note(char event, std::string_view descriptor) override;

private:
    class Connection;
    struct FileStamp
    {
        std::string path;
        int error = 0;
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        long long modified = 0; // ns
        long long changed = 0; // ns
        bool operator==(const FileStamp &other) const;
    };

    void applyConfiguration(std::vector<ResourceConfig> resources);
    bool answerLine(Instrument &instrument, std::string_view line, Message *reply);

    std::mutex mutex;
    std::condition_variable changed; // a session got a reply, closed or lost its instrument
    bool configured = false;
    FileStamp loadedStamp;
    ConfigWatch watch;
    std::vector<std::shared_ptr<Instrument>> instruments; // in configuration order
    unsigned long long nextMessageId = 1;
};

} // namespace sim

#endif // USBSYNTH_SIM_SIMULATOR_H
