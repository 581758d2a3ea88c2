#ifndef USBSYNTH_TESTS_FAKEUSBTMC_H
#define USBSYNTH_TESTS_FAKEUSBTMC_H

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

typedef struct _UMockdevTestbed UMockdevTestbed;
typedef struct _GMainContext GMainContext;
typedef struct _GMainLoop GMainLoop;

// The Linux kernel's usbtmc driver as a process under umockdev's preload
// library sees it: a mocked sysfs tree per instrument (USB device, interface
// of class 0xFE subclass 3, usbmisc/usbtmcN) and /dev/usbtmcN served by a
// handler thread. Behind each node stands the simulator's instrument model.
// Every message written and every reply read is traced like the simulator
// does (USBSYNTH_SIM_TRACE), under the node's VISA descriptor.
class FakeUsbtmc
{
public:
    struct Stick
    {
        unsigned vendorId = 0x3A7C;
        unsigned productId = 0x000F;
        std::string serial;
        std::string idn;                // the *IDN? reply without line feed
        unsigned interfaceClass = 0xFE; // anything else: not a USB-TMC interface
    };

    FakeUsbtmc();
    ~FakeUsbtmc();

    // Adds an instrument as the fake's node <number> (0-9); its VISA descriptor.
    std::string add(int number, const Stick &stick);
    // A silent instrument takes messages but never replies: reads fail with
    // ETIMEDOUT once the timeout set on the file has passed.
    void setSilent(int number, bool silent);
    // The next read returns 0, as the driver does for a malformed header.
    void failNextRead(int number);
    // Takes the instrument away: sysfs and node disappear, open files fail
    // with ENODEV.
    void unplug(int number);
    // Makes the node unreadable for everyone but root.
    void denyAccess(int number);

    int nodeNumber(int number) const { return firstNode + number; } // N of /dev/usbtmcN
    int clears(int number) const;
    std::vector<unsigned> timeouts(int number) const; // every SET_TIMEOUT value accepted

    struct Node; // served on the fake's own thread

private:
    void serve();

    UMockdevTestbed *testbed = nullptr;
    GMainContext *context = nullptr;
    GMainLoop *loop = nullptr;
    std::thread worker;
    mutable std::mutex mutex;
    std::map<int, std::unique_ptr<Node>> nodes;
    int firstNode = 0; // the kernel's number of node 0
};

#endif // USBSYNTH_TESTS_FAKEUSBTMC_H
