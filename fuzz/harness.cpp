// The fuzz targets: one per reader of instrument or VISA text, each a check
// of invariants on the input, chosen by USBSYNTH_FUZZ_TARGET. A violated
// invariant aborts, so libFuzzer (or the corpus replay) reports the input.
#include "fuzz/fakevisa.h"
#include "link/discovery.h"
#include "link/replyparser.h"
#include "link/visa.h"
#include "link/visalibrary.h"
#include "viewer/profile_viewer.h"

#include <QApplication>
#include <QLocale>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QTableWidget>

#include <cmath>
#include <cstdio>
#include <cstring>

#define CHECK(condition) \
    ((condition) ? void() : (std::fprintf(stderr, "harness.cpp:%d: invariant violated: %s\n", __LINE__, #condition), std::abort()))

namespace {

// Reads a fuzz input as a script: bytes one at a time, zero past the end.
struct Input
{
    const char *p, *end;
    uint8_t byte() { return p < end ? uint8_t(*p++) : 0; }
    std::string take(size_t n)
    {
        const char *start = p;
        p += std::min<size_t>(n, size_t(end - p));
        return std::string(start, p);
    }
};

// VISA hands text over as C strings: up to the first NUL. A reply reaches
// the readers as visa::readReply hands it over: that, decoded as UTF-8.
QByteArray beforeNul(const QByteArray &bytes) { return bytes.left(qsizetype(qstrnlen(bytes.constData(), uint(bytes.size())))); }
QString text(const QByteArray &bytes) { return QString::fromUtf8(beforeNul(bytes)); }

// A product id reads as 1 to 8 hex digits, with or without "0x"/"0X",
// within int range.
void checkProductId(const QString &text)
{
    static const QRegularExpression hex(QStringLiteral("\\A(0[xX])?([0-9a-fA-F]{1,8})\\z"));
    const QRegularExpressionMatch match = hex.match(text);
    const qint64 expected = match.captured(2).toLongLong(nullptr, 16);
    const std::optional<int> value = discovery::productIdValue(text);
    CHECK(value == (match.hasMatch() && expected <= 0x7FFFFFFF ? std::optional<int>(int(expected)) : std::nullopt));
    CHECK(discovery::isSupportedProductId(text) == (value && *value >= 0x0F && *value <= 0x15));
}

void descriptor(const QByteArray &bytes)
{
    // Descriptors come from the VISA library as 8-bit C strings.
    const QString descriptor = QString::fromLocal8Bit(beforeNul(bytes));
    const discovery::DescriptorFields fields = discovery::descriptorFields(descriptor);
    const QStringList expected = descriptor.split(QStringLiteral("::"));
    CHECK(fields.complete == (expected.size() >= 4));
    CHECK(fields.productId == (fields.complete ? expected.at(2) : QString()));
    CHECK(fields.serial == (fields.complete ? expected.at(3) : QString()));
    checkProductId(fields.productId);
    checkProductId(descriptor);
}

void identification(const QByteArray &bytes)
{
    const QString reply = text(bytes);
    const discovery::Identification id = discovery::parseIdentification(reply);
    const QStringList fields = reply.split(QLatin1Char(','));
    CHECK(id.complete == (fields.size() >= 4));
    CHECK(id.model == (id.complete ? fields.at(1) : QString()));
    CHECK(id.firmware == (id.complete ? QString(fields.at(3)).remove(QLatin1Char('\n')) : QString()));
    // The model rule looks at a prefix only, and is case-sensitive.
    const bool supported = discovery::isSupportedModel(id.model);
    CHECK(discovery::isSupportedModel(id.model + QStringLiteral("-X")) == supported);
    CHECK(!supported || id.model.contains(QLatin1String("774")));
    CHECK(!supported || !id.model.at(0).isUpper() || !discovery::isSupportedModel(id.model.toLower()));
    const QString shown = reply::withoutLastCharacter(reply);
    CHECK(shown.size() == std::max<qsizetype>(0, reply.size() - 1) && reply.startsWith(shown));
}

void numbers(const QByteArray &bytes)
{
    const QString text = ::text(bytes);
    const std::optional<int> integer = reply::readInteger(text);
    const std::optional<float> decimal = reply::readDecimal(text);
    CHECK(!decimal || std::isfinite(*decimal));
    // Line feeds and blanks around the number change nothing.
    CHECK(reply::readInteger(QLatin1Char(' ') + text + QLatin1String("\r\n")) == integer);
    CHECK(reply::readDecimal(QLatin1Char(' ') + text + QLatin1String("\r\n")) == decimal);
    if (integer && *integer >= -(1 << 24) && *integer <= (1 << 24))
        CHECK(decimal && *decimal == float(*integer));
    CHECK(!integer || reply::readInteger(QString::number(*integer)) == integer);
    CHECK(!decimal || reply::readDecimal(QString::number(double(*decimal), 'g', 9)) == decimal);
}

void power(const QByteArray &bytes)
{
    const QString text = ::text(bytes);
    const reply::PowerReading reading = reply::readPower(text);
    // The power part is the second comma field, or the whole reply; its
    // number is its first word when a MIN/MAX word is in it.
    const QStringList fields = QString(text).remove(QLatin1Char('\n')).split(QLatin1Char(','));
    CHECK(reading.powerText == fields.value(fields.size() >= 2 ? 1 : 0));
    const bool word = reading.powerText.contains(QLatin1String("MIN")) || reading.powerText.contains(QLatin1String("MAX"));
    const QStringList words = reading.powerText.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    CHECK(reading.value == (word ? (words.isEmpty() ? std::nullopt : reply::readDecimal(words.first()))
                                 : reply::readDecimal(reading.powerText)));
}

void states(const QByteArray &bytes)
{
    const QString text = ::text(bytes);
    const QList<QStringList> states = reply::splitStates(text);
    QStringList joined;
    for (const QStringList &state : states) {
        for (const QString &field : state)
            CHECK(!field.contains(QLatin1Char(';')) && !field.contains(QLatin1Char(',')));
        joined << state.join(QLatin1Char(','));
    }
    // Nothing lost or added, empty pieces included.
    CHECK(states.size() == text.count(QLatin1Char(';')) + 1 && joined.join(QLatin1Char(';')) == text);
}

profile_viewer *viewer = nullptr;
QTableWidget *table = nullptr;

// The viewer fed a split dump stays within the dump and its 6 x 8 table and
// blanks the cells the dump does not reach, whatever they held before.
void showStates(const QByteArray &bytes)
{
    const QList<QStringList> states = reply::splitStates(text(bytes));
    for (int cell = 0; cell < 48; ++cell) {
        delete table->takeItem(cell / 8, cell % 8);
        if (cell % 3)
            table->setItem(cell / 8, cell % 8, new QTableWidgetItem(QStringLiteral("kept")));
    }
    viewer->showStates(states);
    // The code columns may show the word for code 0 or 1 instead of the field.
    const QStringList words[8] = {{"Fractional", "Integer"}, {}, {}, {"Internal", "External"}, {}, {}, {}, {"OFF", "ON"}};
    for (int cell = 0; cell < 48; ++cell) {
        const int row = cell / 8, column = cell % 8;
        const QTableWidgetItem *item = table->item(row, column);
        if (row >= states.size() || column >= states.at(row).size()) {
            CHECK(!item || item->text().isEmpty());
            continue;
        }
        const QString field = QString(states.at(row).at(column)).remove(QLatin1Char('\n'));
        bool isNumber = false;
        const int code = field.toInt(&isNumber); // not a number is shown as received
        CHECK(item && (item->text() == field || (isNumber && (code == 0 || code == 1) && item->text() == words[column].value(code, "\n"))));
    }
}

visa::Session rm = visa::NullSession, instrument = visa::NullSession;

// Reading one reply from a library that answers in chunks, with completion
// codes or errors, cut short, never ending, or overstating what it wrote.
void visaReply(const QByteArray &bytes)
{
    static const ViStatus statuses[] = {VI_SUCCESS, VI_SUCCESS_MAX_CNT, VI_SUCCESS_TERM_CHAR, VI_SUCCESS_MAX_CNT,
                                        VI_ERROR_TMO, VI_SUCCESS_MAX_CNT, VI_ERROR_IO, VI_WARN_UNKNOWN_STATUS};
    Input in{bytes.data(), bytes.end()};
    fakevisa::Plan plan;
    // A message that never ends costs thousands of reads: one flag value only.
    if (in.byte() == 0xFF)
        plan.after = {VI_SUCCESS_MAX_CNT, "~", false, 0};
    while (in.p < in.end) {
        const uint8_t head = in.byte();
        const bool overstates = head & 0x08;
        const uint8_t excess = overstates ? in.byte() : 0;
        // Braced initializers are evaluated in order: the length byte follows.
        plan.steps.push_back({statuses[head & 7], in.take(in.byte() + ((head & 0x10) ? 256 : 0)), overstates,
                              excess == 0xFF ? UINT32_MAX : excess});
    }
    const auto &calls = fakevisa::plan(plan).calls;
    QByteArray raw("left over");
    const visa::Status status = VisaLibrary::instance().read(instrument, &raw);
    CHECK(!calls.empty() && calls.size() <= 4096);
    const visa::Status last = calls.back().first;
    std::string message;
    for (size_t i = 0; i < calls.size(); ++i) {
        CHECK(i + 1 == calls.size() || calls[i].first == VI_SUCCESS_MAX_CNT);
        message += calls[i].second;
    }
    // Reading stops at the end of the message, or at the bound.
    CHECK(last != VI_SUCCESS_MAX_CNT || calls.size() == 4096);
    message.resize(last < 0 ? 0 : std::min<size_t>(message.size(), visa::ReplyLimit));
    CHECK(raw == QByteArray(message.data(), qsizetype(message.size())));
    // A reply that fills the limit without its line feed is reported cut.
    const bool cut = message.size() == size_t(visa::ReplyLimit) && message.back() != '\n';
    CHECK(status == (cut ? visa::ReplyCut : last));
    fakevisa::plan(plan);
    QString reply = QStringLiteral("left over");
    CHECK(visa::readReply(instrument, &reply) == status && reply == text(raw));
}

// Listing instruments from a library with failing searches, any match count,
// descriptors filling the whole buffer without a NUL, failures part way
// through the list, or a list that never ends.
void visaFind(const QByteArray &bytes)
{
    static const ViStatus statuses[] = {VI_SUCCESS, VI_SUCCESS, VI_SUCCESS, VI_WARN_UNKNOWN_STATUS,
                                        VI_ERROR_RSRC_NFOUND, VI_SUCCESS, VI_SUCCESS, VI_ERROR_IO};
    constexpr uint32_t MaxResources = 10000; // the cap on one listing
    Input in{bytes.data(), bytes.end()};
    fakevisa::Plan plan;
    const uint8_t flags = in.byte();
    plan.after = {flags == 0xFF ? VI_SUCCESS : VI_ERROR_RSRC_NFOUND, flags == 0xFF ? "USB0::MORE" : "", false, 0};
    const int mode = flags >> 6;
    const uint8_t b = mode == 1 ? 0 : in.byte();
    plan.count = mode < 2 ? b : mode == 2 ? UINT32_MAX - b : (b & 0x80) ? UINT32_MAX - (b & 0x7F) : MaxResources - 2 + b % 4;
    do {
        const uint8_t head = in.byte();
        // Lengths up to 256 (the whole buffer, no NUL) and a little beyond.
        const size_t length = in.byte() + ((head & 0x08) ? 8 : 0) + ((head & 0x10) ? 248 : 0);
        plan.steps.push_back({statuses[head & 7], in.take(length), false, 0});
    } while (in.p < in.end);
    const fakevisa::Log &log = fakevisa::plan(plan);
    const QStringList found = visa::findResources(rm, QStringLiteral("USB?*INSTR"));
    // The descriptors of the leading successful calls, no more than the
    // count and the cap allow, each up to its first NUL.
    const auto failed = std::find_if(log.calls.cbegin(), log.calls.cend(), [](const auto &call) { return call.first < 0; });
    const size_t limit = std::min<size_t>(plan.count, MaxResources);
    const size_t listed = std::min(size_t(failed - log.calls.cbegin()), limit);
    CHECK(size_t(found.size()) == listed && log.calls.size() == (listed < limit ? listed + 1 : std::max<size_t>(listed, 1)));
    for (size_t i = 0; i < listed; ++i)
        CHECK(found.at(qsizetype(i)) == QString::fromLocal8Bit(log.calls[i].second.c_str()));
    CHECK(log.openLists == 0); // a list handed out is always given back, once
}

void (*target)(const QByteArray &) = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    const QByteArray name = qgetenv("USBSYNTH_FUZZ_TARGET");
    target = QHash<QByteArray, void (*)(const QByteArray &)>{
        {"descriptor", descriptor}, {"identification", identification}, {"numbers", numbers}, {"power", power},
        {"states", states}, {"viewer", showStates}, {"visa_reply", visaReply}, {"visa_find", visaFind}}.value(name);
    if (!target)
        qFatal("USBSYNTH_FUZZ_TARGET names none of the targets");
    // Debug output (the viewer reports unknown codes) is noise at millions of inputs.
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    if (target == showStates) {
        static int argc = 1;
        static char *argv[] = {const_cast<char *>("fuzz"), nullptr};
        new QApplication(argc, argv); // lives for the whole run
        viewer = new profile_viewer;
        CHECK((table = viewer->findChild<QTableWidget *>(QStringLiteral("state_tbl"))));
        // Taken down at exit, before the leak check, as a real program does.
        std::atexit([] {
            delete viewer;
            delete qApp;
        });
    } else if (name.startsWith("visa_")) {
        qputenv("USBSYNTH_VISA_LIBRARY", USBSYNTH_FUZZ_VISA_LIBRARY);
        CHECK(visa::openDefaultRM(&rm) >= 0);
        CHECK(visa::open(rm, QStringLiteral("USB0::0x3A7C::0x000F::QX10001::INSTR"), &instrument) >= 0);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    target(QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size)));
    return 0;
}
