#ifndef USBSYNTH_FUZZCHECK_H
#define USBSYNTH_FUZZCHECK_H

// Helpers shared by the fuzz targets.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

// A violated invariant ends the run at once, so libFuzzer (or the corpus
// replay) reports the input that broke it.
#define FUZZ_CHECK(condition)                                                                    \
    do {                                                                                         \
        if (!(condition)) {                                                                      \
            std::fprintf(stderr, "%s:%d: invariant violated: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                        \
        }                                                                                        \
    } while (false)

namespace fuzz {

// The bytes up to the first NUL: VISA hands text over as C strings, and
// visa::readReply cuts a reply there too.
inline QByteArray bytesBeforeNul(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype nul = bytes.indexOf('\0');
    return nul >= 0 ? bytes.left(nul) : bytes;
}

// The input as the readers get a reply from visa::readReply: cut at the
// first NUL and decoded as UTF-8 (malformed bytes included).
inline QString text(const uint8_t *data, size_t size)
{
    return QString::fromUtf8(bytesBeforeNul(data, size));
}

// Splits on every occurrence of separator, keeping empty pieces. Written out
// by hand so the checks do not lean on the QString::split the code uses.
inline QStringList pieces(const QString &text, const QString &separator)
{
    QStringList result;
    qsizetype start = 0;
    qsizetype i = 0;
    while (i + separator.size() <= text.size()) {
        if (QStringView(text).mid(i, separator.size()) == separator) {
            result << text.mid(start, i - start);
            i += separator.size();
            start = i;
        } else {
            ++i;
        }
    }
    result << text.mid(start);
    return result;
}

// Reads a fuzz input as a script: bytes one at a time, zero past the end.
class Input
{
public:
    Input(const uint8_t *data, size_t size) : p(data), end(data + size) {}
    bool atEnd() const { return p == end; }
    uint8_t byte() { return p < end ? *p++ : 0; }
    // The next n bytes, or as many as are left.
    std::string take(size_t n)
    {
        n = std::min<size_t>(n, size_t(end - p));
        std::string bytes(reinterpret_cast<const char *>(p), n);
        p += n;
        return bytes;
    }

private:
    const uint8_t *p;
    const uint8_t *end;
};

} // namespace fuzz

#endif // USBSYNTH_FUZZCHECK_H
