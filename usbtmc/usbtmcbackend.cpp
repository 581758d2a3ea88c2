#include "usbtmc/usbtmcbackend.h"

#include "sim/visafront.h"
#include "usbtmc/usbtmcnodes.h"

#include <cerrno>
#include <cstdint>

#include <fcntl.h>
#include <linux/usb/tmc.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace usbtmc {
namespace {

// The driver refuses shorter timeouts.
constexpr ViUInt32 MinimumTimeoutMs = 100;
// One read() asks for this much; a longer reply is read on in further calls.
constexpr size_t ReadChunk = 4096;
// bmTransferAttributes of the last read: the device ended its message.
constexpr unsigned char EndOfMessage = 0x01;

// The udev rule the package installs for access to the nodes.
constexpr const char *RuleName = "70-usbsynth-usbtmc.rules";

} // namespace

class UsbtmcBackend::Connection : public sim::Link
{
public:
    Connection(int fd, Node node, sim::ResourceName name)
        : fd(fd), node(std::move(node)), resource(std::move(name)), spelled(this->node.descriptor())
    {
    }
    ~Connection() override { ::close(fd); }
    const std::string &descriptor() const override { return spelled; }
    const sim::ResourceName &name() const override { return resource; }
    ViStatus write(std::string_view message, ViUInt32 timeoutMs) override;
    ViStatus read(ViUInt32 timeoutMs, std::string *reply) override;
    void close() override {}

private:
    bool applyTimeout(ViUInt32 timeoutMs);
    ViStatus failure(int error);

    const int fd;
    const Node node;
    const sim::ResourceName resource;
    const std::string spelled;
    std::mutex io; // one transfer at a time on this file
    ViUInt32 driverTimeout = 0; // what the driver was last given; 0: its own default
    bool lost = false;
};

// Gives the driver the session's timeout when it changed; VI_TMO_IMMEDIATE
// becomes the driver's shortest.
bool UsbtmcBackend::Connection::applyTimeout(ViUInt32 timeoutMs)
{
    std::uint32_t value = std::max(timeoutMs, MinimumTimeoutMs);
    if (value == driverTimeout)
        return true;
    if (::ioctl(fd, USBTMC_IOCTL_SET_TIMEOUT, &value) != 0)
        return false;
    driverTimeout = value;
    return true;
}

// The status for a failed transfer. After a timeout the device is cleared,
// so the next query is not answered with the late reply of this one.
ViStatus UsbtmcBackend::Connection::failure(int error)
{
    if (error == ETIMEDOUT) {
        ::ioctl(fd, USBTMC_IOCTL_CLEAR);
        return VI_ERROR_TMO;
    }
    // An unplugged device fails with ENODEV, sometimes first with EIO or
    // EPIPE; then its sysfs node is gone too.
    struct stat status;
    const bool gone = ::stat(("/sys/class/usbmisc/" + node.name).c_str(), &status) != 0;
    if (error == ENODEV || error == ESHUTDOWN || gone) {
        lost = true;
        return VI_ERROR_CONN_LOST;
    }
    return VI_ERROR_IO;
}

ViStatus UsbtmcBackend::Connection::write(std::string_view message, ViUInt32 timeoutMs)
{
    std::lock_guard lock(io);
    if (lost)
        return VI_ERROR_CONN_LOST;
    if (!applyTimeout(timeoutMs))
        return failure(errno);
    for (;;) {
        const ssize_t written = ::write(fd, message.data(), message.size());
        if (written == ssize_t(message.size()))
            return VI_SUCCESS;
        if (written < 0 && errno == EINTR)
            continue;
        return written < 0 ? failure(errno) : VI_ERROR_IO;
    }
}

ViStatus UsbtmcBackend::Connection::read(ViUInt32 timeoutMs, std::string *reply)
{
    std::lock_guard lock(io);
    if (lost)
        return VI_ERROR_CONN_LOST;
    if (!applyTimeout(timeoutMs))
        return failure(errno);
    std::string text;
    for (;;) {
        const size_t had = text.size();
        text.resize(had + ReadChunk);
        const ssize_t got = ::read(fd, text.data() + had, ReadChunk);
        if (got < 0 && errno == EINTR) {
            text.resize(had);
            continue;
        }
        if (got < 0)
            return failure(errno);
        // The driver's sign of a malformed reply header: never an empty reply.
        if (got == 0)
            return VI_ERROR_IO;
        text.resize(had + size_t(got));
        if (size_t(got) < ReadChunk)
            break;
        // A full buffer: the message may go on. The driver knows whether the
        // device marked its end; without that answer the reply is taken as
        // it is rather than waiting for more that may never come.
        unsigned char attributes = 0;
        if (::ioctl(fd, USBTMC_IOCTL_MSG_IN_ATTR, &attributes) != 0 || (attributes & EndOfMessage))
            break;
    }
    *reply = std::move(text);
    return VI_SUCCESS;
}

std::vector<sim::Listing> UsbtmcBackend::resources()
{
    std::vector<sim::Listing> listed;
    for (const Node &node : listNodes()) {
        const std::string descriptor = node.descriptor();
        if (const auto name = sim::parseResourceName(descriptor))
            listed.push_back({*name, descriptor, true});
    }
    return listed;
}

ViStatus UsbtmcBackend::open(const sim::ResourceName &name, const char *spelled,
                             std::shared_ptr<sim::Link> *link)
{
    (void)spelled;
    for (const Node &node : listNodes()) {
        const auto parsed = sim::parseResourceName(node.descriptor());
        if (!parsed || parsed->key() != name.key())
            continue;
        const int fd = ::open(node.devicePath.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0) {
            if (errno == EACCES || errno == EPERM) {
                std::lock_guard lock(mutex);
                deniedNode = node.devicePath;
                return VI_ERROR_RSRC_BUSY;
            }
            return VI_ERROR_RSRC_NFOUND;
        }
        *link = std::make_shared<Connection>(fd, node, *parsed);
        return VI_SUCCESS;
    }
    return VI_ERROR_RSRC_NFOUND;
}

const char *UsbtmcBackend::manufacturer() const
{
    return "usbsynth usbtmc";
}

std::string UsbtmcBackend::describe(ViStatus status)
{
    std::lock_guard lock(mutex);
    if (status != VI_ERROR_RSRC_BUSY || deniedNode.empty())
        return {};
    return "Permission denied on " + deniedNode + ": install the udev rule " + RuleName
           + " and replug the instrument.";
}

} // namespace usbtmc

namespace sim {

VisaFront &visaFront()
{
    static VisaFront front(std::make_unique<usbtmc::UsbtmcBackend>());
    return front;
}

} // namespace sim
