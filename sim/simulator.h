#ifndef USBSYNTH_SIM_SIMULATOR_H
#define USBSYNTH_SIM_SIMULATOR_H

#include "link/visadefs.h"
#include "sim/instrumentmodel.h"
#include "sim/simconfig.h"

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
    size_t offset = 0; // bytes already read
    bool latencyServed = false;
    unsigned long long id = 0;
};

struct Session
{
    ViSession manager = VI_NULL;
    std::shared_ptr<Instrument> instrument;
    std::deque<Message> pending;
    ViUInt32 timeoutMs = 2000;
    ViUInt8 termChar = '\n';
    bool termCharEnabled = false;
    bool closed = false;
};

// The whole simulated VISA library: resource managers, find lists and
// sessions behind their handles, and the instruments of the configuration.
// Every operation takes the one mutex; reads release it while they wait.
class Simulator
{
public:
    static Simulator &instance();

    ViStatus openDefaultRM(ViSession *manager);
    ViStatus findResources(ViSession manager, const char *expression, ViFindList *list,
                           ViUInt32 *count, char *descriptor);
    ViStatus findNext(ViFindList list, char *descriptor);
    ViStatus parseResource(ViSession manager, const char *name, ViUInt16 *type, ViUInt16 *board,
                           char *resourceClass, char *expanded, char *alias);
    ViStatus open(ViSession manager, const char *name, ViSession *session);
    ViStatus close(ViObject object);
    ViStatus write(ViSession session, const ViByte *data, ViUInt32 count, ViUInt32 *written);
    ViStatus read(ViSession session, ViByte *buffer, ViUInt32 count, ViUInt32 *received);
    // Takes what is left of the next message whole, for formatted reads.
    ViStatus readMessage(ViSession session, std::string *text);
    ViStatus getAttribute(ViObject object, ViAttr attribute, void *value);
    ViStatus setAttribute(ViObject object, ViAttr attribute, ViAttrState value);
    ViStatus describeStatus(ViStatus status, char *description);
    // VI_SUCCESS for a live session or resource manager.
    ViStatus checkObject(ViObject object);

private:
    struct Manager
    {
        ViUInt32 timeoutMs = 2000;
    };
    struct FindList
    {
        ViSession manager = VI_NULL;
        std::vector<std::string> names;
        size_t next = 0;
    };
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

    Simulator() = default;
    void refreshConfiguration();
    void applyConfiguration(std::vector<ResourceConfig> resources);
    ViObject newHandle() { return nextHandle++; }
    std::shared_ptr<Session> sessionFor(ViSession handle) const;
    void closeSession(ViSession handle);
    bool answerLine(Instrument &instrument, std::string_view line, Message *reply);
    ViStatus awaitMessage(std::unique_lock<std::mutex> &lock, ViSession handle,
                          std::shared_ptr<Session> *session);

    std::mutex mutex;
    std::condition_variable changed; // a session got a reply, closed or lost its instrument
    bool configured = false;
    FileStamp loadedStamp;
    std::vector<std::shared_ptr<Instrument>> instruments; // in configuration order
    ViObject nextHandle = 1; // handles are never reused
    unsigned long long nextMessageId = 1;
    std::map<ViObject, Manager> managers;
    std::map<ViObject, FindList> findLists;
    std::map<ViObject, std::shared_ptr<Session>> sessions;
};

} // namespace sim

#endif // USBSYNTH_SIM_SIMULATOR_H
