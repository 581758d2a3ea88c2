#include "sim/visafront.h"

#include "sim/findexpression.h"
#include "sim/formattedio.h"

#include <cstdio>
#include <cstring>

namespace sim {
namespace {

constexpr const char *ManagerName = "DefaultRM";

// Copies text into a VISA string buffer of VI_FIND_BUFLEN bytes.
void copyName(char *target, std::string_view text)
{
    if (!target)
        return;
    const size_t n = std::min(text.size(), size_t(VI_FIND_BUFLEN - 1));
    std::memcpy(target, text.data(), n);
    target[n] = '\0';
}

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

VisaFront::VisaFront(std::unique_ptr<Backend> backend) : backend(std::move(backend)) {}

std::shared_ptr<VisaFront::Session> VisaFront::sessionFor(ViSession handle) const
{
    const auto found = sessions.find(handle);
    return found == sessions.end() ? nullptr : found->second;
}

ViStatus VisaFront::checkObject(ViObject object)
{
    std::lock_guard lock(mutex);
    return sessions.count(object) || managers.count(object) ? VI_SUCCESS : VI_ERROR_INV_OBJECT;
}

ViStatus VisaFront::openDefaultRM(ViSession *manager)
{
    std::lock_guard lock(mutex);
    backend->refresh();
    if (!manager)
        return VI_ERROR_USER_BUF;
    const ViObject handle = newHandle();
    managers.emplace(handle, Manager());
    *manager = handle;
    backend->note('O', ManagerName);
    return VI_SUCCESS;
}

ViStatus VisaFront::findResources(ViSession manager, const char *expression, ViFindList *list,
                                  ViUInt32 *count, char *descriptor)
{
    std::lock_guard lock(mutex);
    backend->refresh();
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
    for (const Listing &resource : backend->resources()) {
        if (resource.present && matcher.matches(resource.descriptor))
            found.names.push_back(resource.descriptor);
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

ViStatus VisaFront::findNext(ViFindList list, char *descriptor)
{
    std::lock_guard lock(mutex);
    const auto found = findLists.find(list);
    if (found == findLists.end())
        return VI_ERROR_INV_OBJECT;
    FindList &names = found->second;
    if (names.next >= names.names.size())
        return VI_ERROR_RSRC_NFOUND;
    copyName(descriptor, names.names[names.next++]);
    return VI_SUCCESS;
}

ViStatus VisaFront::parseResource(ViSession manager, const char *name, ViUInt16 *type,
                                  ViUInt16 *board, char *resourceClass, char *expanded,
                                  char *alias)
{
    std::lock_guard lock(mutex);
    backend->refresh();
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
    for (const Listing &resource : backend->resources()) {
        if (resource.name.key() == parsed->key())
            spelled = resource.descriptor;
    }
    copyName(expanded, spelled);
    copyName(alias, "");
    return VI_SUCCESS;
}

ViStatus VisaFront::open(ViSession manager, const char *name, ViSession *session)
{
    std::lock_guard lock(mutex);
    backend->refresh();
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
        backend->note('F', name);
        return VI_ERROR_INV_RSRC_NAME;
    }
    std::shared_ptr<Link> link;
    const ViStatus status = backend->open(*parsed, name, &link);
    if (status < VI_SUCCESS)
        return status;
    auto opened = std::make_shared<Session>();
    opened->manager = manager;
    opened->link = std::move(link);
    opened->timeoutMs = opened->link->initialTimeout();
    const ViObject handle = newHandle();
    sessions.emplace(handle, std::move(opened));
    *session = handle;
    return VI_SUCCESS;
}

void VisaFront::closeSession(ViSession handle)
{
    const auto found = sessions.find(handle);
    found->second->link->close();
    sessions.erase(found);
}

ViStatus VisaFront::close(ViObject object)
{
    std::lock_guard lock(mutex);
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
    // The manager's sessions close first, so every open is paired.
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
    backend->note('C', ManagerName);
    return VI_SUCCESS;
}

ViStatus VisaFront::write(ViSession handle, const ViByte *data, ViUInt32 count,
                          ViUInt32 *written)
{
    std::unique_lock lock(mutex);
    backend->refresh();
    if (written)
        *written = 0;
    const auto session = sessionFor(handle);
    if (!session)
        return VI_ERROR_INV_OBJECT;
    if (!data && count > 0)
        return VI_ERROR_USER_BUF;
    // A new message makes the instrument forget what was not read.
    session->replying = false;
    session->reply.clear();
    const std::shared_ptr<Link> link = session->link;
    const ViUInt32 timeout = session->timeoutMs;
    lock.unlock();
    const ViStatus status =
        link->write(std::string_view(reinterpret_cast<const char *>(data), count), timeout);
    if (status >= VI_SUCCESS && written)
        *written = count;
    return status;
}

ViStatus VisaFront::takeReply(std::unique_lock<std::mutex> &lock, ViSession handle,
                              std::shared_ptr<Session> *found)
{
    const auto session = sessionFor(handle);
    if (!session)
        return VI_ERROR_INV_OBJECT;
    *found = session;
    if (session->replying)
        return VI_SUCCESS;
    const std::shared_ptr<Link> link = session->link;
    const ViUInt32 timeout = session->timeoutMs;
    lock.unlock();
    std::string text;
    const ViStatus status = link->read(timeout, &text);
    lock.lock();
    if (status < VI_SUCCESS)
        return status;
    if (!sessions.count(handle))
        return VI_ERROR_INV_OBJECT; // closed while the reply came
    session->reply = std::move(text);
    session->offset = 0;
    session->replying = true;
    return VI_SUCCESS;
}

ViStatus VisaFront::read(ViSession handle, ViByte *buffer, ViUInt32 count, ViUInt32 *received)
{
    std::unique_lock lock(mutex);
    if (received)
        *received = 0;
    if (!buffer && count > 0)
        return VI_ERROR_USER_BUF;
    std::shared_ptr<Session> session;
    const ViStatus status = takeReply(lock, handle, &session);
    if (status != VI_SUCCESS)
        return status;

    const std::string &text = session->reply;
    size_t n = std::min(size_t(count), text.size() - session->offset);
    bool termination = false;
    if (session->termCharEnabled) {
        const auto at = text.find(char(session->termChar), session->offset);
        if (at != std::string::npos && at < session->offset + n) {
            n = at - session->offset + 1;
            termination = true;
        }
    }
    if (n > 0)
        std::memcpy(buffer, text.data() + session->offset, n);
    session->offset += n;
    if (received)
        *received = ViUInt32(n);
    const bool end = session->offset == text.size();
    if (end) {
        session->replying = false;
        session->reply.clear();
    }
    if (termination)
        return VI_SUCCESS_TERM_CHAR;
    return end ? VI_SUCCESS : VI_SUCCESS_MAX_CNT;
}

ViStatus VisaFront::readMessage(ViSession handle, std::string *text)
{
    std::unique_lock lock(mutex);
    std::shared_ptr<Session> session;
    const ViStatus status = takeReply(lock, handle, &session);
    if (status != VI_SUCCESS)
        return status;
    *text = session->reply.substr(session->offset);
    session->replying = false;
    session->reply.clear();
    return VI_SUCCESS;
}

ViStatus VisaFront::getAttribute(ViObject object, ViAttr attribute, void *value)
{
    std::lock_guard lock(mutex);
    const auto session = sessionFor(object);
    const auto manager = managers.find(object);
    if (!session && manager == managers.end())
        return findLists.count(object) ? VI_ERROR_NSUP_ATTR : VI_ERROR_INV_OBJECT;
    if (!value)
        return VI_ERROR_USER_BUF;
    if (attribute == VI_ATTR_RSRC_MANF_NAME)
        return storeString(value, backend->manufacturer());
    if (!session) {
        if (attribute == VI_ATTR_TMO_VALUE)
            return storeAttribute<ViUInt32>(value, manager->second.timeoutMs);
        return VI_ERROR_NSUP_ATTR;
    }
    const ResourceName &name = session->link->name();
    switch (attribute) {
    case VI_ATTR_TMO_VALUE:
        return storeAttribute<ViUInt32>(value, session->timeoutMs);
    case VI_ATTR_TERMCHAR:
        return storeAttribute<ViUInt8>(value, session->termChar);
    case VI_ATTR_TERMCHAR_EN:
        return storeAttribute<ViBoolean>(value, session->termCharEnabled ? VI_TRUE : VI_FALSE);
    case VI_ATTR_RSRC_NAME:
        return storeString(value, session->link->descriptor());
    case VI_ATTR_RSRC_CLASS:
        return storeString(value, name.resourceClass);
    case VI_ATTR_INTF_TYPE:
        return storeAttribute<ViUInt16>(value, name.interfaceType);
    case VI_ATTR_INTF_NUM:
        return storeAttribute<ViUInt16>(value, name.board);
    }
    return VI_ERROR_NSUP_ATTR;
}

ViStatus VisaFront::setAttribute(ViObject object, ViAttr attribute, ViAttrState value)
{
    std::lock_guard lock(mutex);
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

ViStatus VisaFront::describeStatus(ViStatus status, char *description)
{
    std::string detail;
    {
        std::lock_guard lock(mutex);
        detail = backend->describe(status);
    }
    if (!description)
        return VI_ERROR_USER_BUF;
    if (!detail.empty()) {
        copyName(description, detail);
        return VI_SUCCESS;
    }
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
