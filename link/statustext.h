#ifndef USBSYNTH_STATUSTEXT_H
#define USBSYNTH_STATUSTEXT_H

#include "link/visalibrary.h"

#include <QString>

#include <functional>

// Words for VISA status codes, for the operator.
namespace statustext {

// A short description of a standard VISA status, or an empty text for a
// code the standard does not define.
QString standardDescription(visa::Status status);

// The message with a description after each "Code <status>" it holds, in
// parentheses: the one describe() gives, else the standard one. A code
// without either stays as it is.
QString explained(const QString &message, const std::function<QString(visa::Status)> &describe);

} // namespace statustext

#endif // USBSYNTH_STATUSTEXT_H
