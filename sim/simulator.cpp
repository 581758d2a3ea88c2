#include "sim/simulator.h"

#include "sim/tracelog.h"
#include "sim/visafront.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <sys/stat.h>

namespace sim {
namespace {

using Clock = std::chrono::steady_clock;

// Waits on the condition until the deadline, ignoring wake-ups that come
// earlier; false once the predicate holds.
template<typename Predicate>
bool sleepUntil(std::condition_variable &condition, std::unique_lock<std::mutex> &lock,
                Clock::time_point deadline, Predicate interrupted)
{
    while (!interrupted()) {
        if (condition.wait_until(lock, deadline) == std::cv_status::timeout)
            return !interrupted();
    }
    return false;
}

} // namespace

bool Simulator::FileStamp::operator==(const FileStamp &other) const
{
    return path == other.path && error == other.error && device == other.device
           && inode == other.inode && size == other.size && modified == other.modified
           && changed == other.changed;
}

// Loads the configuration again when the variable names another file or the
// file changed on disk. Runs at the start of most entry points, so it looks
// at the file only when the watch cannot tell.
void Simulator::refresh()
{
    std::lock_guard lock(mutex);
    const char *variable = std::getenv("USBSYNTH_SIM_CONFIG");
    const char *path = variable ? variable : "";
    const ConfigWatch::Answer seen = watch.check(path);
    if (configured && seen == ConfigWatch::Unchanged && loadedStamp.path == path)
        return;
    FileStamp stamp;
    stamp.path = path;
    if (!stamp.path.empty()) {
        struct stat status;
        if (::stat(stamp.path.c_str(), &status) == 0) {
            stamp.device = status.st_dev;
            stamp.inode = status.st_ino;
            stamp.size = status.st_size;
            stamp.modified = status.st_mtim.tv_sec * 1000000000LL + status.st_mtim.tv_nsec;
            stamp.changed = status.st_ctim.tv_sec * 1000000000LL + status.st_ctim.tv_nsec;
        } else {
            stamp.error = errno;
        }
    }
    // A noted change is read even when the stamp looks the same: a rewrite
    // of the same size within one tick of the file system's clock.
    if (configured && stamp == loadedStamp && seen != ConfigWatch::Changed)
        return;
    // Another file is another bench: nothing carries over from the last one.
    if (!configured || stamp.path != loadedStamp.path)
        applyConfiguration({});
    configured = true;
    loadedStamp = stamp;
    Configuration configuration =
        stamp.path.empty() ? builtInConfiguration() : readConfigurationFile(stamp.path);
    for (const std::string &problem : configuration.problems)
        std::fprintf(stderr, "%s\n", problem.c_str());
    std::fflush(stderr);
    applyConfiguration(std::move(configuration.resources));
}

// Instruments that stay keep their model state and open count; the others
// are removed, and their open sessions lose the connection.
void Simulator::applyConfiguration(std::vector<ResourceConfig> resources)
{
    std::map<std::string, std::shared_ptr<Instrument>> previous;
    for (const auto &instrument : instruments)
        previous.emplace(instrument->config.name.key(), instrument);

    std::vector<std::shared_ptr<Instrument>> next;
    for (ResourceConfig &config : resources) {
        const auto kept = previous.find(config.name.key());
        if (kept != previous.end()) {
            kept->second->config = std::move(config);
            next.push_back(kept->second);
            previous.erase(kept);
        } else {
            const unsigned productId =
                config.name.interfaceType == VI_INTF_USB ? config.name.model : 0;
            next.push_back(std::make_shared<Instrument>(std::move(config), productId));
        }
    }
    for (auto &gone : previous)
        gone.second->removed = true;
    instruments = std::move(next);
    if (!previous.empty())
        changed.notify_all();
}


// One session's line to a simulated instrument: the replies its writes left,
// served in order, with the instrument's latency and faults.
class Simulator::Connection : public Link
{
public:
    Connection(Simulator &owner, std::shared_ptr<Instrument> instrument)
        : owner(owner), instrument(std::move(instrument))
    {
    }
    const std::string &descriptor() const override { return instrument->config.descriptor; }
    const ResourceName &name() const override { return instrument->config.name; }
    ViUInt32 initialTimeout() const override { return instrument->config.timeoutMs; }
    ViStatus write(std::string_view message, ViUInt32 timeoutMs) override;
    ViStatus read(ViUInt32 timeoutMs, std::string *reply) override;
    void close() override;

private:
    Simulator &owner;
    std::shared_ptr<Instrument> instrument;
    std::deque<Message> pending;
    bool closed = false;
};

ViStatus Simulator::Connection::write(std::string_view message, ViUInt32 timeoutMs)
{
    (void)timeoutMs; // a simulated instrument takes every message at once
    std::lock_guard lock(owner.mutex);
    if (closed)
        return VI_ERROR_INV_OBJECT;
    if (instrument->removed)
        return VI_ERROR_CONN_LOST;
    // A refused write reaches nothing: it leaves no trace and no reply.
    const auto fault = instrument->config.writeStatus.find(queryKey(message));
    if (fault != instrument->config.writeStatus.end())
        return fault->second;
    trace::record(trace::Write, instrument->config.descriptor, message);
    // A new message makes the instrument forget what was not read.
    pending.clear();
    size_t start = 0;
    while (start < message.size()) {
        const size_t end = std::min(message.find('\n', start), message.size());
        Message reply;
        if (owner.answerLine(*instrument, message.substr(start, end - start), &reply))
            pending.push_back(std::move(reply));
        start = end + 1;
    }
    owner.changed.notify_all();
    return VI_SUCCESS;
}

// Waits until a reply is there, serving the instrument's latency once per
// reply; a failure standing in for a reply is taken off and returned.
ViStatus Simulator::Connection::read(ViUInt32 timeout, std::string *reply)
{
    std::unique_lock lock(owner.mutex);
    const bool unlimited = timeout == VI_TMO_INFINITE;
    const auto deadline = Clock::now() + std::chrono::milliseconds(unlimited ? 0 : timeout);
    const auto lost = [&]() { return closed || instrument->removed; };
    const auto failure = [&]() { return closed ? VI_ERROR_INV_OBJECT : VI_ERROR_CONN_LOST; };
    std::condition_variable &changed = owner.changed;

    for (;;) {
        if (lost())
            return failure();
        if (!pending.empty()) {
            Message &message = pending.front();
            const ViUInt32 latency = instrument->config.latencyMs;
            if (!message.latencyServed && latency > 0) {
                const unsigned long long id = message.id;
                const auto ready = Clock::now() + std::chrono::milliseconds(latency);
                if (!unlimited && ready > deadline) {
                    // The reply would come too late for this read.
                    sleepUntil(changed, lock, deadline, lost);
                    return lost() ? failure() : VI_ERROR_TMO;
                }
                sleepUntil(changed, lock, ready, lost);
                // Another thread may have written meanwhile: start over.
                if (lost() || pending.empty() || pending.front().id != id)
                    continue;
                pending.front().latencyServed = true;
            }
            Message taken = std::move(pending.front());
            pending.pop_front();
            if (taken.status != VI_SUCCESS)
                return taken.status;
            trace::record(trace::Read, instrument->config.descriptor, taken.text);
            *reply = std::move(taken.text);
            return VI_SUCCESS;
        }
        if (unlimited) {
            changed.wait(lock);
        } else if (changed.wait_until(lock, deadline) == std::cv_status::timeout
                   && pending.empty()) {
            return lost() ? failure() : VI_ERROR_TMO;
        }
    }
}

void Simulator::Connection::close()
{
    std::lock_guard lock(owner.mutex);
    closed = true;
    trace::record(trace::Close, instrument->config.descriptor);
    owner.changed.notify_all();
}

VisaFront &visaFront()
{
    static VisaFront front(std::make_unique<Simulator>());
    return front;
}

std::vector<Listing> Simulator::resources()
{
    std::lock_guard lock(mutex);
    std::vector<Listing> listed;
    for (const auto &instrument : instruments)
        listed.push_back({instrument->config.name, instrument->config.descriptor,
                          !instrument->unplugged()});
    return listed;
}

ViStatus Simulator::open(const ResourceName &name, const char *spelled,
                         std::shared_ptr<Link> *link)
{
    std::lock_guard lock(mutex);
    std::shared_ptr<Instrument> instrument;
    for (const auto &candidate : instruments) {
        if (candidate->config.name.key() == name.key())
            instrument = candidate;
    }
    if (!instrument || instrument->unplugged()) {
        trace::record(trace::FailedOpen, instrument ? instrument->config.descriptor : spelled);
        return VI_ERROR_RSRC_NFOUND;
    }
    if (instrument->config.openStatus) {
        trace::record(trace::FailedOpen, instrument->config.descriptor);
        return *instrument->config.openStatus;
    }
    ++instrument->opens;
    *link = std::make_shared<Connection>(*this, instrument);
    trace::record(trace::Open, instrument->config.descriptor);
    return VI_SUCCESS;
}

const char *Simulator::manufacturer() const
{
    return "usbsynth simulated instruments";
}

void Simulator::note(char event, std::string_view descriptor)
{
    trace::record(trace::Event(event), descriptor);
}

// What the instrument does with one line: fixed replies first, then a read
// fault, then the model. True when the line leaves a message to read.
bool Simulator::answerLine(Instrument &instrument, std::string_view line, Message *reply)
{
    const std::string key = queryKey(line);
    if (key.empty())
        return false;
    const ResourceConfig &config = instrument.config;
    std::optional<std::string> text;
    const auto fixed = config.replies.find(key);
    if (fixed != config.replies.end()) {
        text = fixed->second;
    } else {
        const auto answer = key == "*IDN?" ? config.idn : instrument.model.execute(line);
        // Without an identification the instrument is mute.
        if (answer && config.idn)
            text = *answer + "\n";
    }
    reply->id = nextMessageId++;
    const auto fault = config.readStatus.find(key);
    if (fault != config.readStatus.end()) {
        reply->status = fault->second;
        return true;
    }
    if (!text)
        return false;
    reply->text = std::move(*text);
    return true;
}

} // namespace sim
