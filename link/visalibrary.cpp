#include "link/visalibrary.h"

#include "link/visadefs.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QVersionNumber>

#include <algorithm>

namespace {

// Upper bound on the chunks of one message: a device that never signals the
// end of its message must not hold the program forever.
constexpr int MaxChunks = 4096;
static_assert(visa::ReplyCut == VI_SUCCESS_MAX_CNT);

#if !defined(Q_OS_WIN) && !defined(Q_OS_MACOS)
// libvisa.so.<version> files in the usual library folders, newest first.
QStringList versionedLinuxLibraries()
{
    const QStringList folders = {
        QStringLiteral("/usr/lib/x86_64-linux-gnu"), QStringLiteral("/usr/lib/aarch64-linux-gnu"),
        QStringLiteral("/usr/lib64"), QStringLiteral("/usr/lib"), QStringLiteral("/usr/local/lib"),
    };
    QStringList found;
    for (const QString &folder : folders) {
        QFileInfoList files = QDir(folder).entryInfoList({QStringLiteral("libvisa.so.*")}, QDir::Files);
        std::sort(files.begin(), files.end(), [](const QFileInfo &a, const QFileInfo &b) {
            const auto version = [](const QFileInfo &f) {
                return QVersionNumber::fromString(f.fileName().mid(int(qstrlen("libvisa.so."))));
            };
            return version(a) > version(b);
        });
        for (const QFileInfo &file : files)
            found << file.absoluteFilePath();
    }
    return found;
}
#endif

} // namespace

struct VisaLibrary::Api
{
    ViOpenDefaultRMFn openDefaultRM = nullptr;
    ViFindRsrcFn findRsrc = nullptr;
    ViFindNextFn findNext = nullptr;
    ViOpenFn open = nullptr;
    ViCloseFn close = nullptr;
    ViReadFn read = nullptr;
    ViWriteFn write = nullptr;
};

VisaLibrary &VisaLibrary::instance()
{
    static VisaLibrary library(qEnvironmentVariable("USBSYNTH_VISA_LIBRARY"));
    return library;
}

QStringList VisaLibrary::candidates(const QString &choice)
{
    if (choice == QLatin1String("sim")) {
        QStringList names;
        if (QCoreApplication::instance())
            names << QCoreApplication::applicationDirPath() + QStringLiteral("/usbsynth-sim");
#ifdef USBSYNTH_INSTALL_LIBDIR
        names << QStringLiteral(USBSYNTH_INSTALL_LIBDIR "/usbsynth-sim");
#endif
        return names;
    }
    if (!choice.isEmpty())
        return {choice};

#if defined(Q_OS_WIN)
#if Q_PROCESSOR_WORDSIZE == 8
    return {QStringLiteral("visa64"), QStringLiteral("visa32")};
#else
    return {QStringLiteral("visa32")};
#endif
#elif defined(Q_OS_MACOS)
    return {QStringLiteral("/Library/Frameworks/VISA.framework/VISA"),
            QStringLiteral("/Library/Frameworks/RsVisa.framework/Versions/Current/RsVisa/librsvisa.dylib")};
#else
    QStringList names{QStringLiteral("libvisa.so")};
    names << versionedLinuxLibraries();
    names << QStringLiteral("/usr/local/vxipnp/linux/lib64/libvisa.so")
          << QStringLiteral("/opt/keysight/iolibs/libktvisa32.so")
          << QStringLiteral("/opt/keysight/iolibs/libvisa.so")
          << QStringLiteral("/usr/lib64/librsvisa.so") << QStringLiteral("/usr/lib/librsvisa.so");
    names.removeDuplicates();
    return names;
#endif
}

VisaLibrary::VisaLibrary(const QString &choice)
{
    QStringList failures;
    for (const QString &name : candidates(choice)) {
        QString why;
        if (tryLoad(name, &why)) {
            loaded = true;
            return;
        }
        failures << QStringLiteral("%1 (%2)").arg(name, why);
    }
    if (failures.isEmpty())
        failures << QStringLiteral("no candidate library");
    report = QStringLiteral("No VISA library could be used; tried: ") + failures.join(QStringLiteral("; "));
    qWarning().noquote() << report;
}

VisaLibrary::~VisaLibrary() = default;

bool VisaLibrary::tryLoad(const QString &name, QString *why)
{
    auto candidate = std::make_unique<QLibrary>(name);
    if (!candidate->load()) {
        *why = candidate->errorString();
        return false;
    }
    auto resolved = std::make_unique<Api>();
    QStringList missing;
    const auto resolve = [&](auto &pointer, const char *symbol) {
        pointer = reinterpret_cast<std::remove_reference_t<decltype(pointer)>>(candidate->resolve(symbol));
        if (!pointer)
            missing << QString::fromLatin1(symbol);
    };
    resolve(resolved->openDefaultRM, "viOpenDefaultRM");
    resolve(resolved->findRsrc, "viFindRsrc");
    resolve(resolved->findNext, "viFindNext");
    resolve(resolved->open, "viOpen");
    resolve(resolved->close, "viClose");
    resolve(resolved->read, "viRead");
    resolve(resolved->write, "viWrite");
    if (!missing.isEmpty()) {
        *why = QStringLiteral("%1 lacks %2").arg(candidate->fileName(), missing.join(QStringLiteral(", ")));
        candidate->unload();
        return false;
    }
    library = std::move(candidate);
    api = std::move(resolved);
    return true;
}

QString VisaLibrary::fileName() const
{
    return library ? library->fileName() : QString();
}

visa::Status VisaLibrary::openDefaultRM(visa::Session *rm)
{
    *rm = visa::NullSession;
    if (!loaded)
        return VI_ERROR_LIBRARY_NFOUND;
    return api->openDefaultRM(rm);
}

visa::Status VisaLibrary::findResources(visa::Session rm, const QByteArray &expression,
                                        visa::Session *findList, quint32 *count, QByteArray *first)
{
    *findList = visa::NullSession;
    *count = 0;
    first->clear();
    if (!loaded)
        return VI_ERROR_LIBRARY_NFOUND;
    // One byte more than VISA's buffer, so the text is terminated whatever the
    // library writes.
    char descriptor[VI_FIND_BUFLEN + 1] = {};
    const ViStatus status = api->findRsrc(rm, expression.constData(), findList, count, descriptor);
    if (status < 0)
        *count = 0;
    else
        *first = QByteArray(descriptor);
    return status;
}

visa::Status VisaLibrary::findNext(visa::Session findList, QByteArray *descriptor)
{
    descriptor->clear();
    if (!loaded)
        return VI_ERROR_LIBRARY_NFOUND;
    char buffer[VI_FIND_BUFLEN + 1] = {};
    const ViStatus status = api->findNext(findList, buffer);
    if (status >= 0)
        *descriptor = QByteArray(buffer);
    return status;
}

visa::Status VisaLibrary::open(visa::Session rm, const QByteArray &descriptor, visa::Session *session)
{
    *session = visa::NullSession;
    if (!loaded)
        return VI_ERROR_LIBRARY_NFOUND;
    return api->open(rm, descriptor.constData(), VI_NO_LOCK, 0, session);
}

visa::Status VisaLibrary::close(visa::Session object)
{
    if (!loaded)
        return VI_ERROR_LIBRARY_NFOUND;
    return api->close(object);
}

visa::Status VisaLibrary::write(visa::Session session, const QByteArray &bytes)
{
    if (!loaded)
        return VI_ERROR_LIBRARY_NFOUND;
    ViUInt32 written = 0;
    return api->write(session, reinterpret_cast<const ViByte *>(bytes.constData()),
                      ViUInt32(bytes.size()), &written);
}

visa::Status VisaLibrary::read(visa::Session session, QByteArray *reply)
{
    reply->clear();
    if (!loaded)
        return VI_ERROR_LIBRARY_NFOUND;
    ViByte chunk[visa::ReplyLimit + 1];
    ViStatus status = VI_SUCCESS;
    for (int round = 0; round < MaxChunks; ++round) {
        ViUInt32 got = 0;
        status = api->read(session, chunk, ViUInt32(sizeof chunk), &got);
        if (status < 0) {
            reply->clear();
            return status;
        }
        got = std::min<ViUInt32>(got, ViUInt32(sizeof chunk));
        const int room = visa::ReplyLimit - int(reply->size());
        if (room > 0)
            reply->append(reinterpret_cast<const char *>(chunk), std::min(room, int(got)));
        if (status != VI_SUCCESS_MAX_CNT)
            break;
    }
    // A reply that fills the limit without the line feed ending it was cut:
    // what is left is no value, whatever it reads as.
    if (reply->size() == visa::ReplyLimit && !reply->endsWith('\n'))
        return visa::ReplyCut;
    return status;
}
