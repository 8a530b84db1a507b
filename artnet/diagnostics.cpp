#include "diagnostics.h"
#include "artnet.h"

#include <QString>

#include <atomic>
#include <cstdio>

namespace {
std::atomic<bool> linesEnabled{true};
}

void artnet::setDiagnosticLines(bool enabled)
{
    linesEnabled.store(enabled);
}

namespace ArtNetOutput {

void line(const QString& text)
{
    if (!linesEnabled.load(std::memory_order_relaxed))
        return;
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void text(const QString& text, bool flush)
{
    if (!linesEnabled.load(std::memory_order_relaxed))
        return;
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    if (flush)
        std::fflush(stdout);
}

} // namespace ArtNetOutput
