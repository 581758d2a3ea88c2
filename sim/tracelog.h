#ifndef USBSYNTH_SIM_TRACELOG_H
#define USBSYNTH_SIM_TRACELOG_H

#include <string>
#include <string_view>

namespace sim {

// The trace of what the simulated instruments saw, one line per event, in
// the file named by USBSYNTH_SIM_TRACE (nothing is written when it is unset
// or empty):
//   <ms since load> <O|F|C|W|R> <descriptor>[ <text>]
// The text is a written or read message without its line end ("\n" or
// "\r\n"); other line feeds and carriage returns appear as \n and \r.
namespace trace {

enum Event : char { Open = 'O', FailedOpen = 'F', Close = 'C', Write = 'W', Read = 'R' };

// The line for one event, without its line feed.
std::string line(long long milliseconds, Event event, std::string_view descriptor,
                 const std::string_view *text);

// Appends the event's line to the trace file at once.
void record(Event event, std::string_view descriptor);
void record(Event event, std::string_view descriptor, std::string_view text);

} // namespace trace
} // namespace sim

#endif // USBSYNTH_SIM_TRACELOG_H
