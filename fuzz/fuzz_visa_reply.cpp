// Reading one reply through the VISA layer from a library that answers as
// the input says: in chunks, with completion codes or errors, cut short,
// never ending, or overstating how much it wrote. The reply keeps the first
// ReplyLimit bytes of the message, is empty after a failed read, is cut at
// its first NUL and decoded as UTF-8, and the number of reads stays bounded.
#include "fuzz/fakevisa.h"
#include "fuzz/fuzzcheck.h"
#include "link/visa.h"
#include "link/visalibrary.h"

#include <QByteArray>

namespace {

// The bound visalibrary.cpp puts on the reads of one message.
constexpr size_t MaxReads = 4096;

visa::Session instrument = visa::NullSession;

fakevisa::ReadPlan planFrom(const uint8_t *data, size_t size)
{
    static const ViStatus statuses[] = {
        VI_SUCCESS, VI_SUCCESS_MAX_CNT, VI_SUCCESS_TERM_CHAR, VI_SUCCESS_MAX_CNT,
        VI_ERROR_TMO, VI_SUCCESS_MAX_CNT, VI_ERROR_IO, VI_WARN_UNKNOWN_STATUS,
    };
    fuzz::Input in(data, size);
    fakevisa::ReadPlan plan;
    // A message that never ends costs thousands of reads: one flag value only.
    plan.endless = in.byte() == 0xFF;
    while (!in.atEnd()) {
        const uint8_t head = in.byte();
        fakevisa::ReadStep step;
        step.status = statuses[head & 7];
        if (head & 0x08) {
            step.overstates = true;
            const uint8_t excess = in.byte();
            step.excess = excess == 0xFF ? UINT32_MAX : excess;
        }
        const size_t length = in.byte() + ((head & 0x10) ? 256 : 0);
        step.bytes = in.take(length);
        plan.steps.push_back(step);
    }
    return plan;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qputenv("USBSYNTH_VISA_LIBRARY", USBSYNTH_FUZZ_VISA_LIBRARY);
    FUZZ_CHECK(VisaLibrary::instance().isLoaded());
    visa::Session rm = visa::NullSession;
    FUZZ_CHECK(visa::openDefaultRM(&rm) >= 0);
    FUZZ_CHECK(visa::open(rm, QStringLiteral("USB0::0x3A7C::0x000F::QX10001::INSTR"), &instrument) >= 0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const fakevisa::ReadPlan plan = planFrom(data, size);

    // The raw read: which calls were made and what the reply kept.
    fakevisa::planReads(plan);
    QByteArray raw("left over");
    const visa::Status status = VisaLibrary::instance().read(instrument, &raw);
    const std::vector<fakevisa::ReadCall> calls = fakevisa::readCalls();
    FUZZ_CHECK(!calls.empty()); // the loaded library is this fake
    FUZZ_CHECK(calls.size() <= MaxReads);
    for (size_t i = 0; i + 1 < calls.size(); ++i)
        FUZZ_CHECK(calls[i].status == VI_SUCCESS_MAX_CNT);
    const fakevisa::ReadCall &last = calls.back();
    FUZZ_CHECK(status == last.status);
    // Reading stops at the end of the message, or at the bound.
    FUZZ_CHECK(last.status != VI_SUCCESS_MAX_CNT || calls.size() == MaxReads);
    if (status < 0) {
        FUZZ_CHECK(raw.isEmpty());
    } else {
        std::string message;
        for (const fakevisa::ReadCall &call : calls)
            message += call.handed;
        message.resize(std::min<size_t>(message.size(), visa::ReplyLimit));
        FUZZ_CHECK(raw == QByteArray(message.data(), qsizetype(message.size())));
    }

    // The same message as a reply: cut at its first NUL, decoded as UTF-8.
    fakevisa::planReads(plan);
    QString reply = QStringLiteral("left over");
    FUZZ_CHECK(visa::readReply(instrument, &reply) == status);
    FUZZ_CHECK(fakevisa::readCalls().size() == calls.size());
    const qsizetype nul = raw.indexOf('\0');
    FUZZ_CHECK(reply == QString::fromUtf8(nul >= 0 ? raw.left(nul) : raw));
    return 0;
}
