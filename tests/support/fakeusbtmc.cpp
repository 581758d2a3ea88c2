#include "fakeusbtmc.h"

#include "sim/instrumentmodel.h"
#include "sim/tracelog.h"

#include <umockdev.h>

#include <linux/usb/tmc.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <optional>
#include <deque>
#include <functional>
#include <future>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// The driver's own default until a timeout is set on the file.
constexpr unsigned DriverDefaultTimeoutMs = 5000;

[[noreturn]] void fail(const char *why)
{
    std::fprintf(stderr, "fake usbtmc: %s\n", why);
    std::abort();
}

std::string hex4(unsigned value)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04x", value & 0xFFFF);
    return text;
}

// A line as the instrument compares it: without blanks around, in capitals.
std::string normalized(const std::string &line)
{
    const auto first = line.find_first_not_of(" \t\r\n");
    std::string text = first == std::string::npos ? std::string() : line.substr(first, line.find_last_not_of(" \t\r\n") - first + 1);
    for (char &c : text)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

} // namespace

struct FakeUsbtmc::Node
{
    Node(std::mutex &lock, const Stick &stick)
        : lock(lock), stick(stick), model(stick.productId, sim::defaultModelState(stick.productId))
    {
    }
    std::mutex &lock;
    Stick stick;
    sim::InstrumentModel model;
    std::string descriptor;
    std::string syspath; // of the USB device
    std::string devnode;
    std::deque<std::string> replies;
    size_t offset = 0; // of the first reply, already read
    unsigned timeoutMs = DriverDefaultTimeoutMs;
    std::vector<unsigned> timeouts;
    int clears = 0;
    bool silent = false;
    bool failRead = false;
    bool unplugged = false;
    UMockdevIoctlBase *handler = nullptr;
};

namespace {

using Node = FakeUsbtmc::Node;

// Runs the action on the handler thread and waits for it.
void runOn(GMainContext *context, std::function<void()> action)
{
    std::promise<void> done;
    struct Call
    {
        std::function<void()> action;
        std::promise<void> *done;
    };
    auto *call = new Call{std::move(action), &done};
    g_main_context_invoke_full(
        context, G_PRIORITY_DEFAULT,
        [](gpointer data) -> gboolean {
            auto *call = static_cast<Call *>(data);
            call->action();
            call->done->set_value();
            return G_SOURCE_REMOVE;
        },
        call, [](gpointer data) { delete static_cast<Call *>(data); });
    done.get_future().wait();
}

void onWrite(Node *node, UMockdevIoctlClient *client, UMockdevIoctlData *arg)
{
    const std::string message(reinterpret_cast<const char *>(arg->data), size_t(arg->data_len));
    sim::trace::record(sim::trace::Write, node->descriptor, message);
    node->replies.clear();
    node->offset = 0;
    size_t start = 0;
    while (start < message.size()) {
        const size_t end = std::min(message.find('\n', start), message.size());
        const std::string line = message.substr(start, end - start);
        start = end + 1;
        const std::optional<std::string> answer =
            normalized(line) == "*IDN?" ? std::optional<std::string>(node->stick.idn) : node->model.execute(line);
        if (answer && !node->silent)
            node->replies.push_back(*answer + "\n");
    }
    umockdev_ioctl_client_complete(client, arg->data_len, 0);
}

void onRead(Node *node, UMockdevIoctlClient *client, UMockdevIoctlData *arg)
{
    if (node->failRead) {
        node->failRead = false;
        node->replies.clear();
        node->offset = 0;
        umockdev_ioctl_client_complete(client, 0, 0);
        return;
    }
    if (node->replies.empty()) {
        // Nothing comes: the transfer times out after the file's timeout.
        GSource *source = g_timeout_source_new(node->timeoutMs);
        g_source_set_callback(
            source,
            [](gpointer waiting) -> gboolean {
                umockdev_ioctl_client_complete(static_cast<UMockdevIoctlClient *>(waiting), -1, ETIMEDOUT);
                return G_SOURCE_REMOVE;
            },
            g_object_ref(client), g_object_unref);
        g_source_attach(source, g_main_context_get_thread_default());
        g_source_unref(source);
        return;
    }
    // One reply per read; a buffer too small for it leaves the rest for the
    // next read.
    std::string &reply = node->replies.front();
    if (node->offset == 0)
        sim::trace::record(sim::trace::Read, node->descriptor, reply);
    const size_t n = std::min(reply.size() - node->offset, size_t(std::max(arg->data_len, 0)));
    umockdev_ioctl_data_update(arg, 0, reinterpret_cast<guint8 *>(reply.data() + node->offset), int(n));
    umockdev_ioctl_client_complete(client, glong(n), 0);
    node->offset += n;
    if (node->offset == reply.size()) {
        node->replies.pop_front();
        node->offset = 0;
    }
}

void onIoctl(Node *node, UMockdevIoctlClient *client, UMockdevIoctlData *arg)
{
    const gulong request = umockdev_ioctl_client_get_request(client);
    const bool timeout = request == USBTMC_IOCTL_SET_TIMEOUT || request == USBTMC_IOCTL_GET_TIMEOUT;
    GError *error = nullptr;
    UMockdevIoctlData *value = nullptr;
    if ((timeout || request == USBTMC_IOCTL_MSG_IN_ATTR)
        && !(value = umockdev_ioctl_data_resolve(arg, 0, timeout ? sizeof(guint32) : 1, &error))) {
        g_clear_error(&error);
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return;
    }
    guint32 ms = node->timeoutMs;
    // The last read ended the device's message unless part of it is left.
    guint8 attributes = node->offset == 0 ? 0x01 : 0x00;
    if (request == USBTMC_IOCTL_GET_TIMEOUT) {
        umockdev_ioctl_data_update(value, 0, reinterpret_cast<guint8 *>(&ms), sizeof ms);
    } else if (request == USBTMC_IOCTL_SET_TIMEOUT) {
        std::memcpy(&ms, value->data, sizeof ms);
        if (ms < 100) {
            umockdev_ioctl_client_complete(client, -1, EINVAL);
            return;
        }
        node->timeoutMs = ms;
        node->timeouts.push_back(ms);
    } else if (request == USBTMC_IOCTL_MSG_IN_ATTR) {
        umockdev_ioctl_data_update(value, 0, &attributes, 1);
    } else if (request == USBTMC_IOCTL_CLEAR) {
        node->replies.clear();
        node->offset = 0;
        ++node->clears;
    } else {
        umockdev_ioctl_client_complete(client, -1, ENOTTY);
        return;
    }
    umockdev_ioctl_client_complete(client, 0, 0);
}

// Every request on a node, under the fake's lock; an unplugged node fails
// them all.
template<void (*Handle)(Node *, UMockdevIoctlClient *, UMockdevIoctlData *)>
gboolean handler(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer data)
{
    auto *node = static_cast<Node *>(data);
    std::lock_guard lock(node->lock);
    if (node->unplugged)
        umockdev_ioctl_client_complete(client, -1, ENODEV);
    else
        Handle(node, client, umockdev_ioctl_client_get_arg(client));
    return TRUE;
}

// One testbed for the whole process: a finished testbed may clear
// UMOCKDEV_DIR late, under the feet of the next one.
UMockdevTestbed *sharedTestbed()
{
    static UMockdevTestbed *testbed = umockdev_testbed_new();
    return testbed;
}

} // namespace

FakeUsbtmc::FakeUsbtmc()
{
    // The testbed keeps a node's name after its device is removed: every
    // fake numbers its nodes afresh.
    static int fakes = 0;
    firstNode = 10 * fakes++;
    testbed = sharedTestbed();
    context = g_main_context_new();
    loop = g_main_loop_new(context, FALSE);
    worker = std::thread([this] {
        g_main_context_push_thread_default(context);
        g_main_loop_run(loop);
        g_main_context_pop_thread_default(context);
    });
    runOn(context, [] {}); // the handler thread is serving
}

FakeUsbtmc::~FakeUsbtmc()
{
    runOn(context, [this] {
        for (auto &entry : nodes) {
            Node &node = *entry.second;
            umockdev_testbed_detach_ioctl(testbed, node.devnode.c_str(), nullptr);
            g_object_unref(node.handler);
            if (!node.unplugged)
                umockdev_testbed_remove_device(testbed, node.syspath.c_str());
        }
    });
    g_main_loop_quit(loop);
    worker.join();
    g_main_loop_unref(loop);
    g_main_context_unref(context);
}

std::string FakeUsbtmc::add(int number, const Stick &stick)
{
    auto node = std::make_unique<Node>(mutex, stick);
    const std::string name = "usbtmc" + std::to_string(firstNode + number);
    // A bus port of its own for every node ever added, so that trees never
    // meet the remains of earlier ones in the shared testbed.
    static int ports = 0;
    const std::string port = "1-" + std::to_string(++ports);
    node->syspath = "/sys/devices/pci0000:00/0000:00:14.0/usb1/" + port;
    node->devnode = "/dev/" + name;
    char ids[40];
    std::snprintf(ids, sizeof ids, "USB0::0x%04X::0x%04X::", stick.vendorId, stick.productId);
    node->descriptor = ids + stick.serial + "::INSTR";
    const std::string interface = node->syspath + "/" + port + ":1.0";
    const std::string records =
        "P: " + node->syspath.substr(4) + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n"
        "A: idVendor=" + hex4(stick.vendorId) + "\nA: idProduct=" + hex4(stick.productId)
        + "\nA: serial=" + stick.serial + "\nA: manufacturer=Quorvex Electronics\n\n"
        "P: " + interface.substr(4) + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\n"
        "A: bInterfaceClass=" + hex4(stick.interfaceClass).substr(2)
        + "\nA: bInterfaceSubClass=03\nA: bInterfaceProtocol=01\nA: bInterfaceNumber=00\n\n"
        "P: " + interface.substr(4) + "/usbmisc/" + name + "\nN: " + name
        + "\nE: SUBSYSTEM=usbmisc\nE: DEVNAME=" + node->devnode + "\n";
    Node *raw = node.get();
    {
        std::lock_guard lock(mutex);
        nodes[number] = std::move(node);
    }
    runOn(context, [&] {
        GError *error = nullptr;
        if (!umockdev_testbed_add_from_string(testbed, records.c_str(), &error))
            fail(error ? error->message : "cannot add the device");
        // A class device's "device" link leads to the interface, as in sysfs.
        gchar *root = umockdev_testbed_get_root_dir(testbed);
        const std::string link = std::string(root) + interface + "/usbmisc/" + name + "/device";
        g_free(root);
        if (::symlink(("../../../" + port + ":1.0").c_str(), link.c_str()) != 0)
            fail("cannot link the interface");
        raw->handler = umockdev_ioctl_base_new();
        g_signal_connect(raw->handler, "handle-write", G_CALLBACK(handler<onWrite>), raw);
        g_signal_connect(raw->handler, "handle-read", G_CALLBACK(handler<onRead>), raw);
        g_signal_connect(raw->handler, "handle-ioctl", G_CALLBACK(handler<onIoctl>), raw);
        if (!umockdev_testbed_attach_ioctl(testbed, raw->devnode.c_str(), raw->handler, &error))
            fail(error ? error->message : "cannot attach the handler");
    });
    return raw->descriptor;
}

void FakeUsbtmc::setSilent(int number, bool silent)
{
    std::lock_guard lock(mutex);
    nodes.at(number)->silent = silent;
}

void FakeUsbtmc::failNextRead(int number)
{
    std::lock_guard lock(mutex);
    nodes.at(number)->failRead = true;
}

void FakeUsbtmc::unplug(int number)
{
    Node *node = nullptr;
    {
        std::lock_guard lock(mutex);
        node = nodes.at(number).get();
        node->unplugged = true;
    }
    runOn(context, [&] { umockdev_testbed_remove_device(testbed, node->syspath.c_str()); });
}

void FakeUsbtmc::denyAccess(int number)
{
    gchar *root = umockdev_testbed_get_root_dir(testbed);
    const std::string path = std::string(root) + nodes.at(number)->devnode;
    g_free(root);
    if (::chmod(path.c_str(), 0) != 0)
        fail("cannot take the node's permissions");
}

int FakeUsbtmc::clears(int number) const
{
    std::lock_guard lock(mutex);
    return nodes.at(number)->clears;
}

std::vector<unsigned> FakeUsbtmc::timeouts(int number) const
{
    std::lock_guard lock(mutex);
    return nodes.at(number)->timeouts;
}
