#include "sim/tracelog.h"

#include <chrono>
#include <cstdlib>

#include <fcntl.h>
#include <unistd.h>

namespace sim::trace {
namespace {

// Set when the library is loaded; trace times count from here.
const auto loadTime = std::chrono::steady_clock::now();

void append(Event event, std::string_view descriptor, const std::string_view *text)
{
    const char *path = std::getenv("USBSYNTH_SIM_TRACE");
    if (!path || !*path)
        return;
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - loadTime);
    const std::string entry = line(elapsed.count(), event, descriptor, text) + '\n';
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    // One write with O_APPEND: lines of concurrent sessions never interleave.
    const ssize_t written = ::write(fd, entry.data(), entry.size());
    (void)written;
    ::close(fd);
}

} // namespace

std::string line(long long milliseconds, Event event, std::string_view descriptor,
                 const std::string_view *text)
{
    std::string result = std::to_string(milliseconds) + ' ' + char(event) + ' ';
    result += descriptor;
    if (!text)
        return result;
    std::string_view body = *text;
    if (!body.empty() && body.back() == '\n') {
        body.remove_suffix(1);
        if (!body.empty() && body.back() == '\r')
            body.remove_suffix(1);
    }
    result += ' ';
    for (char c : body) {
        if (c == '\n')
            result += "\\n";
        else if (c == '\r')
            result += "\\r";
        else
            result += c;
    }
    return result;
}

void record(Event event, std::string_view descriptor)
{
    append(event, descriptor, nullptr);
}

void record(Event event, std::string_view descriptor, std::string_view text)
{
    append(event, descriptor, &text);
}

} // namespace sim::trace
