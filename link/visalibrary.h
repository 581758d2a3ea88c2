#ifndef USBSYNTH_VISALIBRARY_H
#define USBSYNTH_VISALIBRARY_H

#include <QByteArray>
#include <QLibrary>
#include <QString>
#include <QStringList>

#include <memory>

namespace visa {
// Handles and statuses as VISA defines them: 32-bit handles, signed status,
// negative meaning failure.
using Session = quint32;
using Status = qint32;

constexpr Session NullSession = 0;
// A reply keeps at most this many bytes; the rest of the message is discarded.
constexpr int ReplyLimit = 255;
// The status of a read whose reply filled ReplyLimit without its line feed
// (VI_SUCCESS_MAX_CNT): the reply was cut and must not be read as a value.
constexpr Status ReplyCut = 0x3FFF0006;
} // namespace visa

// One VISA library, loaded at run time and resolved once. When nothing could
// be loaded every operation fails with a negative status, so callers simply
// see "no instruments".
class VisaLibrary
{
public:
    // The library chosen by the environment (USBSYNTH_VISA_LIBRARY) or, when
    // that is unset, the platform's usual VISA libraries. Loaded on first use.
    static VisaLibrary &instance();

    // Loads from an explicit choice: a path, a library name, "sim" for the
    // bundled simulated instruments, or empty for the platform's candidates.
    explicit VisaLibrary(const QString &choice);
    ~VisaLibrary();
    VisaLibrary(const VisaLibrary &) = delete;
    VisaLibrary &operator=(const VisaLibrary &) = delete;

    // The names and paths tried for a choice, in order.
    static QStringList candidates(const QString &choice);

    bool isLoaded() const { return loaded; }
    QString fileName() const;
    // Every library tried and why it failed; empty when one loaded.
    QString failureReport() const { return report; }

    visa::Status openDefaultRM(visa::Session *rm);
    visa::Status findResources(visa::Session rm, const QByteArray &expression,
                               visa::Session *findList, quint32 *count, QByteArray *first);
    visa::Status findNext(visa::Session findList, QByteArray *descriptor);
    // Opens without a lock and with open timeout 0.
    visa::Status open(visa::Session rm, const QByteArray &descriptor, visa::Session *session);
    visa::Status close(visa::Session object);
    // Writes the bytes as they are: no format directives are interpreted.
    visa::Status write(visa::Session session, const QByteArray &bytes);
    // Reads one whole message (to its END indicator) and keeps its first
    // ReplyLimit bytes; visa::ReplyCut when those are full and do not end in
    // a line feed. The reply is empty whenever the read fails.
    visa::Status read(visa::Session session, QByteArray *reply);

private:
    struct Api;
    bool tryLoad(const QString &name, QString *why);

    std::unique_ptr<QLibrary> library;
    std::unique_ptr<Api> api;
    bool loaded = false;
    QString report;
};

#endif // USBSYNTH_VISALIBRARY_H
