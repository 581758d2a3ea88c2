#ifndef USBSYNTH_SIM_FORMATTEDIO_H
#define USBSYNTH_SIM_FORMATTEDIO_H

#include "link/visadefs.h"

#include <cstdarg>
#include <string>
#include <string_view>

namespace sim {

// VISA's code for a bad or unsupported format string (0xBFFF003F).
constexpr ViStatus ErrorInvalidFormat = ViStatus(0xBFFF003Fu);

// Strings read by %s and %t without a width keep at most this many
// characters (plus the NUL), so a 256-byte buffer is always enough.
constexpr size_t DefaultStringWidth = 255;

// Formats like viPrintf: the printf directives (flags, width, precision, *,
// h/l/ll/L; l means ViInt32 as in VISA) and the backslash escapes \n \r \t
// \\ \" \' and \ooo of the format text. The C locale is used whatever the
// program's locale.
ViStatus formatMessage(const char *format, va_list args, std::string *out);

// Reads a message like viScanf: %t (the rest of the message, line end
// kept), %s, %c, %d %i %u %x %o, %f %e %g (float, l: double, L: long
// double), optional width and * to skip; white space in the format skips
// white space; other characters must match. Fails with ErrorInvalidFormat
// when the format is bad or the text does not fit it.
ViStatus scanMessage(std::string_view text, const char *format, va_list args);

} // namespace sim

#endif // USBSYNTH_SIM_FORMATTEDIO_H
