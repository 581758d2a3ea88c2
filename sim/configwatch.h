#ifndef USBSYNTH_SIM_CONFIGWATCH_H
#define USBSYNTH_SIM_CONFIGWATCH_H

#include <string>

namespace sim {

// Tells whether the configuration file changed since it was last asked,
// without touching the file system when nothing happened. On Linux the
// kernel queues a note of every change to the file, or to its name in its
// folder, before the call that made the change returns, so a change is seen
// on the very next VISA call, as if the file were looked at every time.
// Where it cannot watch (a relative path, a missing folder, no inotify) the
// answer is Unknown and the caller looks at the file itself.
class ConfigWatch
{
public:
    enum Answer { Unchanged, Changed, Unknown };

    ConfigWatch() = default;
    ConfigWatch(const ConfigWatch &) = delete;
    ConfigWatch &operator=(const ConfigWatch &) = delete;
    ~ConfigWatch();

    // Unknown on the first call for a path; then whether anything happened
    // to the file (or to its name) since the previous call.
    Answer check(const char *path);

private:
    void stop();
    // Watches the folder and the file (if there is one); false when the
    // file's changes cannot be watched.
    bool watch();
    // Consumes the queued notes; true when one concerns the file.
    bool drain();

    std::string path;
    std::string name; // the last part of path
    int fd = -1;
    int folderWatch = -1;
    int fileWatch = -1;
    bool watching = false;
    unsigned generation = 0; // of the process: a forked child watches anew
};

} // namespace sim

#endif // USBSYNTH_SIM_CONFIGWATCH_H
