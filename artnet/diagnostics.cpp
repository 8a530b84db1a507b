#include "diagnostics.h"

#include <QString>

#include <cstdio>

namespace ArtNetOutput {

void line(const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void text(const QString& text, bool flush)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    if (flush)
        std::fflush(stdout);
}

} // namespace ArtNetOutput
