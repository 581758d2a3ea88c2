#ifndef USBSYNTH_SIM_VISAFRONT_H
#define USBSYNTH_SIM_VISAFRONT_H

#include "link/visadefs.h"
#include "sim/visabackend.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace sim {

// The VISA surface our own libraries share: resource managers, find lists and
// sessions behind their handles, searches, name parsing, attributes, chunked
// reads and status texts. Where the instruments are is the back end's matter.
// Every operation takes the one mutex; reads and writes on a link release it.
class VisaFront
{
public:
    explicit VisaFront(std::unique_ptr<Backend> backend);

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
    // Takes what is left of the next reply whole, for formatted reads.
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
    struct Session
    {
        ViSession manager = VI_NULL;
        std::shared_ptr<Link> link;
        ViUInt32 timeoutMs = 2000;
        ViUInt8 termChar = '\n';
        bool termCharEnabled = false;
        // The reply being read in parts.
        bool replying = false;
        std::string reply;
        size_t offset = 0;
        unsigned long long writes = 0; // a write in between makes a reply stale
    };

    ViObject newHandle() { return nextHandle++; }
    std::shared_ptr<Session> sessionFor(ViSession handle) const;
    void closeSession(ViSession handle);
    // Makes sure the session has a reply in hand, reading one when needed.
    ViStatus takeReply(std::unique_lock<std::mutex> &lock, ViSession handle,
                       std::shared_ptr<Session> *found);

    std::unique_ptr<Backend> backend;
    std::mutex mutex;
    ViObject nextHandle = 1; // handles are never reused
    std::map<ViObject, Manager> managers;
    std::map<ViObject, FindList> findLists;
    std::map<ViObject, std::shared_ptr<Session>> sessions;
};

// The front of the library being built; each library defines it once.
VisaFront &visaFront();

} // namespace sim

#endif // USBSYNTH_SIM_VISAFRONT_H
