// libFuzzer target: arbitrary bytes as one delivery of the update service's answer.
#include "updateanswer.h"

#include <QByteArray>
#include <QString>

#include <climits>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray delivery =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    // Our own release, and a version below every other, so that any release named is newer
    // and its text is built too.
    for (const UpdateAnswer::Version& own :
         {UpdateAnswer::Version{1, 0, 2, 0}, UpdateAnswer::Version{INT_MIN, 0, 0, 0}}) {
        if (const auto newer = UpdateAnswer::newerVersion(delivery, own))
            (void)UpdateAnswer::versionText(*newer);
    }
    return 0;
}
