#include "sim/simulator.h"

#include "sim/findexpression.h"
#include "sim/formattedio.h"
#include "sim/tracelog.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <sys/stat.h>

namespace sim {
namespace {

constexpr const char *ManagerName = "DefaultRM";
constexpr const char *ManufacturerName = "usbsynth simulated instruments";

// Copies text into a VISA string buffer of VI_FIND_BUFLEN bytes.
void copyName(char *target, std::string_view text)
{
    if (!target)
        return;
    const size_t n = std::min(text.size(), size_t(VI_FIND_BUFLEN - 1));
    std::memcpy(target, text.data(), n);
    target[n] = '\0';
}

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

Simulator &Simulator::instance()
{
    static Simulator simulator;
    return simulator;
}

bool Simulator::FileStamp::operator==(const FileStamp &other) const
{
    return path == other.path && error == other.error && device == other.device
           && inode == other.inode && size == other.size && modified == other.modified
           && changed == other.changed;
}

// Loads the configuration again when the variable names another file or the
// file changed on disk. Runs at the start of every entry point.
void Simulator::refreshConfiguration()
{
    const char *variable = std::getenv("USBSYNTH_SIM_CONFIG");
    FileStamp stamp;
    stamp.path = variable ? variable : "";
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
    if (configured && stamp == loadedStamp)
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

std::shared_ptr<Session> Simulator::sessionFor(ViSession handle) const
{
    const auto found = sessions.find(handle);
    return found == sessions.end() ? nullptr : found->second;
}

ViStatus Simulator::checkObject(ViObject object)
{
    std::lock_guard lock(mutex);
    refreshConfiguration();
    return sessions.count(object) || managers.count(object) ? VI_SUCCESS : VI_ERROR_INV_OBJECT;
}

ViStatus Simulator::openDefaultRM(ViSession *manager)
{
    std::lock_guard lock(mutex);
    refreshConfiguration();
    if (!manager)
        return VI_ERROR_USER_BUF;
    const ViObject handle = newHandle();
    managers.emplace(handle, Manager());
    *manager = handle;
    trace::record(trace::Open, ManagerName);
    return VI_SUCCESS;
}

ViStatus Simulator::findResources(ViSession manager, const char *expression, ViFindList *list,
                                  ViUInt32 *count, char *descriptor)
{
    std::lock_guard lock(mutex);
    refreshConfiguration();
    if (list)
        *list = VI_NULL;
    if (count)
        *count = 0;
    if (!managers.count(manager))
        return VI_ERROR_INV_OBJECT;
    if (!expression)
        return VI_ERROR_INV_EXPR;
    const FindExpression matcher(expression);
    if (!matcher.isValid())
        return VI_ERROR_INV_EXPR;

    FindList found;
    found.manager = manager;
    for (const auto &instrument : instruments) {
        if (!instrument->unplugged() && matcher.matches(instrument->config.descriptor))
            found.names.push_back(instrument->config.descriptor);
    }
    if (found.names.empty())
        return VI_ERROR_RSRC_NFOUND;
    copyName(descriptor, found.names.front());
    found.next = 1;
    if (count)
        *count = ViUInt32(found.names.size());
    const ViObject handle = newHandle();
    if (list)
        *list = handle;
    findLists.emplace(handle, std::move(found));
    return VI_SUCCESS;
}

ViStatus Simulator::findNext(ViFindList list, char *descriptor)
{
    std::lock_guard lock(mutex);
    refreshConfiguration();
    const auto found = findLists.find(list);
    if (found == findLists.end())
        return VI_ERROR_INV_OBJECT;
    FindList &names = found->second;
    if (names.next >= names.names.size())
        return VI_ERROR_RSRC_NFOUND;
    copyName(descriptor, names.names[names.next++]);
    return VI_SUCCESS;
}

ViStatus Simulator::parseResource(ViSession manager, const char *name, ViUInt16 *type,
                                  ViUInt16 *board, char *resourceClass, char *expanded,
                                  char *alias)
{
    std::lock_guard lock(mutex);
    refreshConfiguration();
    if (!managers.count(manager))
        return VI_ERROR_INV_OBJECT;
    const auto parsed = name ? parseResourceName(name) : std::nullopt;
    if (!parsed)
        return VI_ERROR_INV_RSRC_NAME;
    if (type)
        *type = parsed->interfaceType;
    if (board)
        *board = parsed->board;
    copyName(resourceClass, parsed->resourceClass);
    std::string spelled = parsed->expanded();
    for (const auto &instrument : instruments) {
        if (instrument->config.name.key() == parsed->key())
            spelled = instrument->config.descriptor;
    }
    copyName(expanded, spelled);
    copyName(alias, "");
    return VI_SUCCESS;
}

ViStatus Simulator::open(ViSession manager, const char *name, ViSession *session)
{
    std::lock_guard lock(mutex);
    refreshConfiguration();
    if (session)
        *session = VI_NULL;
    if (!managers.count(manager))
        return VI_ERROR_INV_OBJECT;
    if (!session)
        return VI_ERROR_USER_BUF;
    if (!name)
        return VI_ERROR_INV_RSRC_NAME;
    const auto parsed = parseResourceName(name);
    if (!parsed) {
        trace::record(trace::FailedOpen, name);
        return VI_ERROR_INV_RSRC_NAME;
    }
    std::shared_ptr<Instrument> instrument;
    for (const auto &candidate : instruments) {
        if (candidate->config.name.key() == parsed->key())
            instrument = candidate;
    }
    if (!instrument || instrument->unplugged()) {
        trace::record(trace::FailedOpen, instrument ? instrument->config.descriptor : name);
        return VI_ERROR_RSRC_NFOUND;
    }
    if (instrument->config.openStatus) {
        trace::record(trace::FailedOpen, instrument->config.descriptor);
        return *instrument->config.openStatus;
    }
    ++instrument->opens;
    auto opened = std::make_shared<Session>();
    opened->manager = manager;
    opened->instrument = instrument;
    opened->timeoutMs = instrument->config.timeoutMs;
    const ViObject handle = newHandle();
    sessions.emplace(handle, std::move(opened));
    *session = handle;
    trace::record(trace::Open, instrument->config.descriptor);
    return VI_SUCCESS;
}

void Simulator::closeSession(ViSession handle)
{
    const auto found = sessions.find(handle);
    found->second->closed = true;
    trace::record(trace::Close, found->second->instrument->config.descriptor);
    sessions.erase(found);
    changed.notify_all();
}

ViStatus Simulator::close(ViObject object)
{
    std::lock_guard lock(mutex);
    refreshConfiguration();
    if (object == VI_NULL)
        return VI_WARN_NULL_OBJECT;
    if (sessions.count(object)) {
        closeSession(object);
        return VI_SUCCESS;
    }
    if (findLists.erase(object))
        return VI_SUCCESS;
    if (!managers.count(object))
        return VI_ERROR_INV_OBJECT;
    // The manager's sessions close first, so the trace pairs every open.
    std::vector<ViSession> children;
    for (const auto &entry : sessions) {
        if (entry.second->manager == object)
            children.push_back(entry.first);
    }
    for (ViSession child : children)
        closeSession(child);
    for (auto it = findLists.begin(); it != findLists.end();) {
        if (it->second.manager == object)
            it = findLists.erase(it);
        else
            ++it;
    }
    managers.erase(object);
    trace::record(trace::Close, ManagerName);
    return VI_SUCCESS;
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

ViStatus Simulator::write(ViSession handle, const ViByte *data, ViUInt32 count,
                          ViUInt32 *written)
{
    std::lock_guard lock(mutex);
    refreshConfiguration();
    if (written)
        *written = 0;
    const auto session = sessionFor(handle);
    if (!session)
        return VI_ERROR_INV_OBJECT;
    if (!data && count > 0)
        return VI_ERROR_USER_BUF;
    Instrument &instrument = *session->instrument;
    if (instrument.removed)
        return VI_ERROR_CONN_LOST;

    const std::string_view message(reinterpret_cast<const char *>(data), count);
    trace::record(trace::Write, instrument.config.descriptor, message);
    // A new message makes the instrument forget what was not read.
    session->pending.clear();
    size_t start = 0;
    while (start < message.size()) {
        const size_t end = std::min(message.find('\n', start), message.size());
        Message reply;
        if (answerLine(instrument, message.substr(start, end - start), &reply))
            session->pending.push_back(std::move(reply));
        start = end + 1;
    }
    if (written)
        *written = count;
    changed.notify_all();
    return VI_SUCCESS;
}

// Waits until the session has a message to read, serving the instrument's
// latency once per message. On VI_SUCCESS the message is the first pending
// one; a failure message has been taken off and its status returned.
ViStatus Simulator::awaitMessage(std::unique_lock<std::mutex> &lock, ViSession handle,
                                 std::shared_ptr<Session> *found)
{
    const auto session = sessionFor(handle);
    if (!session)
        return VI_ERROR_INV_OBJECT;
    *found = session;
    const ViUInt32 timeout = session->timeoutMs;
    const bool unlimited = timeout == VI_TMO_INFINITE;
    const auto deadline = Clock::now() + std::chrono::milliseconds(unlimited ? 0 : timeout);
    const auto lost = [&]() { return session->closed || session->instrument->removed; };
    const auto failure = [&]() { return session->closed ? VI_ERROR_INV_OBJECT : VI_ERROR_CONN_LOST; };

    for (;;) {
        if (lost())
            return failure();
        if (!session->pending.empty()) {
            Message &message = session->pending.front();
            const ViUInt32 latency = session->instrument->config.latencyMs;
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
                if (lost() || session->pending.empty() || session->pending.front().id != id)
                    continue;
                session->pending.front().latencyServed = true;
            }
            if (session->pending.front().status != VI_SUCCESS) {
                const ViStatus status = session->pending.front().status;
                session->pending.pop_front();
                return status;
            }
            return VI_SUCCESS;
        }
        if (unlimited) {
            changed.wait(lock);
        } else if (changed.wait_until(lock, deadline) == std::cv_status::timeout
                   && session->pending.empty()) {
            return lost() ? failure() : VI_ERROR_TMO;
        }
    }
}

ViStatus Simulator::read(ViSession handle, ViByte *buffer, ViUInt32 count, ViUInt32 *received)
{
    std::unique_lock lock(mutex);
    refreshConfiguration();
    if (received)
        *received = 0;
    if (!buffer && count > 0)
        return VI_ERROR_USER_BUF;
    std::shared_ptr<Session> session;
    const ViStatus status = awaitMessage(lock, handle, &session);
    if (status != VI_SUCCESS)
        return status;

    Message &message = session->pending.front();
    const bool first = message.offset == 0;
    size_t n = std::min(size_t(count), message.text.size() - message.offset);
    bool termination = false;
    if (session->termCharEnabled) {
        const auto at = message.text.find(char(session->termChar), message.offset);
        if (at != std::string::npos && at < message.offset + n) {
            n = at - message.offset + 1;
            termination = true;
        }
    }
    if (n > 0)
        std::memcpy(buffer, message.text.data() + message.offset, n);
    if (first)
        trace::record(trace::Read, session->instrument->config.descriptor, message.text);
    message.offset += n;
    if (received)
        *received = ViUInt32(n);
    const bool end = message.offset == message.text.size();
    if (end)
        session->pending.pop_front();
    if (termination)
        return VI_SUCCESS_TERM_CHAR;
    return end ? VI_SUCCESS : VI_SUCCESS_MAX_CNT;
}

ViStatus Simulator::readMessage(ViSession handle, std::string *text)
{
    std::unique_lock lock(mutex);
    refreshConfiguration();
    std::shared_ptr<Session> session;
    const ViStatus status = awaitMessage(lock, handle, &session);
    if (status != VI_SUCCESS)
        return status;
    Message &message = session->pending.front();
    if (message.offset == 0)
        trace::record(trace::Read, session->instrument->config.descriptor, message.text);
    *text = message.text.substr(message.offset);
    session->pending.pop_front();
    return VI_SUCCESS;
}

namespace {

template<typename T>
ViStatus storeAttribute(void *target, T value)
{
    std::memcpy(target, &value, sizeof value);
    return VI_SUCCESS;
}

ViStatus storeString(void *target, std::string_view text)
{
    copyName(static_cast<char *>(target), text);
    return VI_SUCCESS;
}

bool isReadOnly(ViAttr attribute)
{
    return attribute == VI_ATTR_RSRC_NAME || attribute == VI_ATTR_RSRC_CLASS
           || attribute == VI_ATTR_INTF_TYPE || attribute == VI_ATTR_INTF_NUM
           || attribute == VI_ATTR_RSRC_MANF_NAME;
}

} // namespace

ViStatus Simulator::getAttribute(ViObject object, ViAttr attribute, void *value)
{
    std::lock_guard lock(mutex);
    refreshConfiguration();
    const auto session = sessionFor(object);
    const auto manager = managers.find(object);
    if (!session && manager == managers.end())
        return findLists.count(object) ? VI_ERROR_NSUP_ATTR : VI_ERROR_INV_OBJECT;
    if (!value)
        return VI_ERROR_USER_BUF;
    if (attribute == VI_ATTR_RSRC_MANF_NAME)
        return storeString(value, ManufacturerName);
    if (!session) {
        if (attribute == VI_ATTR_TMO_VALUE)
            return storeAttribute<ViUInt32>(value, manager->second.timeoutMs);
        return VI_ERROR_NSUP_ATTR;
    }
    const ResourceConfig &config = session->instrument->config;
    switch (attribute) {
    case VI_ATTR_TMO_VALUE:
        return storeAttribute<ViUInt32>(value, session->timeoutMs);
    case VI_ATTR_TERMCHAR:
        return storeAttribute<ViUInt8>(value, session->termChar);
    case VI_ATTR_TERMCHAR_EN:
        return storeAttribute<ViBoolean>(value, session->termCharEnabled ? VI_TRUE : VI_FALSE);
    case VI_ATTR_RSRC_NAME:
        return storeString(value, config.descriptor);
    case VI_ATTR_RSRC_CLASS:
        return storeString(value, config.name.resourceClass);
    case VI_ATTR_INTF_TYPE:
        return storeAttribute<ViUInt16>(value, config.name.interfaceType);
    case VI_ATTR_INTF_NUM:
        return storeAttribute<ViUInt16>(value, config.name.board);
    }
    return VI_ERROR_NSUP_ATTR;
}

ViStatus Simulator::setAttribute(ViObject object, ViAttr attribute, ViAttrState value)
{
    std::lock_guard lock(mutex);
    refreshConfiguration();
    const auto session = sessionFor(object);
    const auto manager = managers.find(object);
    if (!session && manager == managers.end())
        return findLists.count(object) ? VI_ERROR_NSUP_ATTR : VI_ERROR_INV_OBJECT;
    if (attribute == VI_ATTR_TMO_VALUE) {
        if (value > VI_TMO_INFINITE)
            return VI_ERROR_NSUP_ATTR_STATE;
        (session ? session->timeoutMs : manager->second.timeoutMs) = ViUInt32(value);
        return VI_SUCCESS;
    }
    if (isReadOnly(attribute))
        return VI_ERROR_ATTR_READONLY;
    if (!session)
        return VI_ERROR_NSUP_ATTR;
    switch (attribute) {
    case VI_ATTR_TERMCHAR:
        if (value > 0xFF)
            return VI_ERROR_NSUP_ATTR_STATE;
        session->termChar = ViUInt8(value);
        return VI_SUCCESS;
    case VI_ATTR_TERMCHAR_EN:
        if (value != VI_TRUE && value != VI_FALSE)
            return VI_ERROR_NSUP_ATTR_STATE;
        session->termCharEnabled = value == VI_TRUE;
        return VI_SUCCESS;
    }
    return VI_ERROR_NSUP_ATTR;
}

ViStatus Simulator::describeStatus(ViStatus status, char *description)
{
    {
        std::lock_guard lock(mutex);
        refreshConfiguration();
    }
    if (!description)
        return VI_ERROR_USER_BUF;
    static const struct
    {
        ViStatus status;
        const char *text;
    } texts[] = {
        {VI_SUCCESS, "Operation completed successfully."},
        {VI_SUCCESS_TERM_CHAR, "The specified termination character was read."},
        {VI_SUCCESS_MAX_CNT, "The number of bytes read is equal to the input count."},
        {VI_WARN_NULL_OBJECT, "The specified object reference is uninitialized."},
        {VI_WARN_UNKNOWN_STATUS, "The status code passed to the operation could not be interpreted."},
        {VI_ERROR_SYSTEM_ERROR, "Unknown system error."},
        {VI_ERROR_INV_OBJECT, "The given session or object reference is invalid."},
        {VI_ERROR_INV_EXPR, "Invalid expression specified for search."},
        {VI_ERROR_RSRC_NFOUND, "Insufficient location information or resource not present."},
        {VI_ERROR_INV_RSRC_NAME, "Invalid resource reference specified. Parsing error."},
        {VI_ERROR_TMO, "Timeout expired before operation completed."},
        {VI_ERROR_NSUP_ATTR, "The specified attribute is not defined by the referenced resource."},
        {VI_ERROR_NSUP_ATTR_STATE, "The specified state of the attribute is not valid."},
        {VI_ERROR_ATTR_READONLY, "The specified attribute is read-only."},
        {VI_ERROR_IO, "Could not perform operation because of I/O error."},
        {ErrorInvalidFormat, "A format specifier in the format string is invalid, or the data does not fit it."},
        {VI_ERROR_NSUP_OPER, "The operation is not supported by the referenced resource."},
        {VI_ERROR_USER_BUF, "A specified user buffer is not valid or cannot be accessed."},
        {VI_ERROR_RSRC_BUSY, "The resource is valid, but VISA cannot currently access it."},
        {VI_ERROR_CONN_LOST, "The connection for the given session has been lost."},
    };
    for (const auto &entry : texts) {
        if (entry.status == status) {
            copyName(description, entry.text);
            return VI_SUCCESS;
        }
    }
    char text[VI_FIND_BUFLEN];
    std::snprintf(text, sizeof text, "Unknown status %ld (0x%08lX).", long(status),
                  static_cast<unsigned long>(ViUInt32(status)));
    copyName(description, text);
    return VI_WARN_UNKNOWN_STATUS;
}

} // namespace sim
