#include "linewriter.h"
#include "diagnostics.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <pthread.h>

namespace WriterQueueThread {

namespace {

sigset_t keptAway()
{
    sigset_t kept;
    sigemptyset(&kept);
    sigaddset(&kept, SIGINT);
    sigaddset(&kept, SIGTERM);
    sigaddset(&kept, SIGPIPE);
    return kept;
}

} // namespace

std::thread start(std::function<void()> work)
{
    const sigset_t kept = keptAway();
    sigset_t before;
    pthread_sigmask(SIG_BLOCK, &kept, &before);
    std::thread thread(std::move(work));
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    return thread;
}

void discardSigpipe()
{
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    const timespec now{0, 0};
    // Nothing is pending where the program ignores SIGPIPE.
    while (sigtimedwait(&pipe, nullptr, &now) == SIGPIPE) {
    }
}

} // namespace WriterQueueThread

LineWriter::LineWriter(Settings settings)
    : settings(std::move(settings)),
      queue(
          this->settings.limitBytes, [this](Text& text) { return write(text); },
          [this](quint64 lines) {
              if (!this->settings.notice)
                  return;
              Text said{Text::Plain, this->settings.noticeDescriptor, this->settings.notice(lines)};
              write(said);
          })
{
}

LineWriter::~LineWriter() = default;

void LineWriter::append(const QString& text)
{
    append(settings.descriptor, text.toLocal8Bit());
}

void LineWriter::append(int descriptor, QByteArray bytes)
{
    const qint64 size = bytes.size();
    queue.push(Text{Text::Plain, descriptor, std::move(bytes)}, size);
}

void LineWriter::appendAtEnd(const QString& text)
{
    QByteArray bytes = text.toLocal8Bit();
    const qint64 size = bytes.size();
    queue.pushWaiting(Text{Text::Plain, settings.descriptor, std::move(bytes)}, size);
}

void LineWriter::redrawLine(const QString& text)
{
    // Carriage return, the text, then "erase to end of line" for what a longer text left.
    QByteArray bytes = (QLatin1Char('\r') + text + QStringLiteral("\x1b[K")).toLocal8Bit();
    const qint64 size = bytes.size();
    const int descriptor = settings.descriptor;
    queue.pushOrReplace(Text{Text::StatusLine, descriptor, std::move(bytes)}, size,
                        [descriptor](const Text& last) {
                            return last.kind == Text::StatusLine && last.descriptor == descriptor;
                        });
}

void LineWriter::redrawTable(const QStringList& lines)
{
    QString text;
    for (const QString& line : lines)
        text += QLatin1Char('\r') + line + QStringLiteral("\x1b[K\n");
    text += QStringLiteral("\x1b[J"); // anything a longer table left below
    QByteArray bytes = text.toLocal8Bit();
    const qint64 size = bytes.size();
    const int descriptor = settings.descriptor;
    queue.pushOrReplace(Text{Text::Table, descriptor, std::move(bytes), int(lines.size())}, size,
                        [descriptor](const Text& last) {
                            return last.kind == Text::Table && last.descriptor == descriptor;
                        });
}

bool LineWriter::flush(int timeoutMs)
{
    return queue.flush(timeoutMs);
}

quint64 LineWriter::droppedLines() const
{
    return queue.droppedItems();
}

bool LineWriter::closed(int descriptor) const
{
    return std::find(closedDescriptors.begin(), closedDescriptors.end(), descriptor) !=
           closedDescriptors.end();
}

bool LineWriter::write(Text& text)
{
    if (closed(text.descriptor))
        return false;
    QByteArray bytes = std::move(text.bytes);
    if (text.kind == Text::Table) {
        // Up to the first line of the table drawn last, counted as it was written.
        if (tableDrawn > 0)
            bytes.prepend("\x1b[" + QByteArray::number(tableDrawn) + 'A');
        tableDrawn = text.tableLines;
    }
    if (!ArtNetOutput::writeAll(text.descriptor, bytes)) {
        const int error = errno;
        if (error == EPIPE)
            WriterQueueThread::discardSigpipe();
        closedDescriptors.push_back(text.descriptor);
        if (settings.refused && !closed(settings.noticeDescriptor))
            ArtNetOutput::writeAll(settings.noticeDescriptor,
                                   settings.refused(text.descriptor, error));
        return false;
    }
    if (settings.lineOpen) {
        std::atomic<bool>& open = *settings.lineOpen;
        if (text.kind == Text::StatusLine)
            open = true;
        else if (text.kind == Text::Table || bytes.contains('\n'))
            open = false;
    }
    return true;
}
