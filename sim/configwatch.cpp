#include "sim/configwatch.h"

#ifdef __linux__
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

#include <pthread.h>
#include <sys/inotify.h>
#include <unistd.h>
#endif

namespace sim {

#ifdef __linux__
namespace {

// A forked child shares its parent's queue of notes, and whichever reads a
// note takes it from the other: the child starts a queue of its own.
std::atomic<unsigned> forks{0};

void forked()
{
    forks.fetch_add(1, std::memory_order_relaxed);
}

// A rename over the file drops its link count, which is an attribute change.
constexpr uint32_t FileEvents = IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_DELETE_SELF | IN_MOVE_SELF;
constexpr uint32_t FolderEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF
                                  | IN_MOVE_SELF | IN_ONLYDIR;

} // namespace

ConfigWatch::~ConfigWatch()
{
    stop();
}

void ConfigWatch::stop()
{
    // Closing drops only this process's hold on a queue a fork may share.
    if (fd >= 0)
        ::close(fd);
    fd = folderWatch = fileWatch = -1;
    watching = false;
}

bool ConfigWatch::watch()
{
    const size_t slash = path.rfind('/');
    if (path.empty() || path.front() != '/' || slash == path.size() - 1)
        return false; // a relative path follows the working folder, which may change
    if (fd < 0)
        fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0)
        return false;
    name = path.substr(slash + 1);
    if (folderWatch < 0)
        folderWatch = ::inotify_add_watch(fd, slash == 0 ? "/" : path.substr(0, slash).c_str(), FolderEvents);
    if (folderWatch < 0)
        return false;
    // The file may be another one now (renamed over, or made anew).
    const int previous = fileWatch;
    fileWatch = ::inotify_add_watch(fd, path.c_str(), FileEvents);
    const bool missing = fileWatch < 0 && (errno == ENOENT || errno == ENOTDIR);
    if (previous >= 0 && previous != fileWatch)
        ::inotify_rm_watch(fd, previous);
    // A missing file shows up as a note of its folder.
    return fileWatch >= 0 || missing;
}

bool ConfigWatch::drain()
{
    alignas(inotify_event) char buffer[4096];
    bool concerned = false;
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EAGAIN)
            return concerned;
        if (got <= 0)
            return true; // not knowing what happened, assume the worst
        for (ssize_t at = 0; at < got;) {
            const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
            at += ssize_t(sizeof(inotify_event) + event->len);
            if (event->wd == fileWatch || (event->mask & IN_Q_OVERFLOW)) {
                concerned = true;
            } else if (event->wd == folderWatch) {
                if (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) {
                    folderWatch = -1; // the folder is gone: watch whatever has the name now
                    concerned = true;
                } else if (event->len && std::strcmp(event->name, name.c_str()) == 0) {
                    concerned = true;
                }
            }
        }
    }
}

ConfigWatch::Answer ConfigWatch::check(const char *wanted)
{
    static std::once_flag registered;
    std::call_once(registered, [] { pthread_atfork(nullptr, nullptr, forked); });
    const unsigned now = forks.load(std::memory_order_relaxed);
    if (path != wanted || generation != now) {
        stop();
        path = wanted;
        generation = now;
        watching = watch();
        return Unknown;
    }
    if (!watching) {
        watching = watch();
        return Unknown;
    }
    if (!drain())
        return Unchanged;
    watching = watch();
    return watching ? Changed : Unknown;
}

#else

ConfigWatch::~ConfigWatch() = default;

ConfigWatch::Answer ConfigWatch::check(const char *)
{
    return Unknown;
}

#endif

} // namespace sim
