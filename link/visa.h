#ifndef USBSYNTH_VISA_H
#define USBSYNTH_VISA_H

#include "link/visalibrary.h"

#include <QString>
#include <QStringList>

// The VISA operations the panel uses, on the process-wide library. Texts go
// out in the local 8-bit encoding; replies come back decoded as UTF-8.
namespace visa {

// A failure is reported on the debug output, naming the library and status.
Status openDefaultRM(Session *rm);
Status close(Session object);
Status open(Session rm, const QString &descriptor, Session *session);
// Sends one whole command line as it is; a '%' in it is just a character.
Status writeLine(Session session, const QString &line);
// Reads one reply: at most ReplyLimit bytes, cut at the first NUL, decoded
// as UTF-8. The reply is empty when the read fails; ReplyCut says that it
// is only the start of a longer one.
Status readReply(Session session, QString *reply);
// Every descriptor matching the expression, in the library's order. A failed
// search gives an empty list.
QStringList findResources(Session rm, const QString &expression);

} // namespace visa

#endif // USBSYNTH_VISA_H
