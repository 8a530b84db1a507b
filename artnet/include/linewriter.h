// Lines written from a thread of their own: the window's and the node's diagnostic lines (see
// diagnostics.h) and every command's output. Handing text over takes a short lock, never a
// write, so a paused terminal (Ctrl-S) or a pipe nobody reads holds up nothing but this thread.
// What waits is bounded: text that does not fit is dropped and counted, and once the output
// moves again a line says how many were lost. An output that refuses a write (a reader who left,
// EPIPE) is closed for good: what is handed over for it is dropped and counted, and the program
// goes on.
//
// A status line, or a table standing still on a terminal, may be redrawn in place: while the
// output is held up, a newer one replaces the one not yet written, so the newest is written
// once it moves.
#pragma once

#include "writerqueue.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <vector>

class LineWriter
{
public:
    struct Settings
    {
        int descriptor = 1;            // where text goes unless told: standard output
        qint64 limitBytes = 64 * 1024; // what may wait
        int noticeDescriptor = 1;      // where the line about dropped lines goes
        // That line, given how many were dropped for want of room.
        std::function<QByteArray(quint64 lines)> notice;
        // The line said there, once, when an output refuses a write, given the output and the
        // system's error number; none: nobody is told.
        std::function<QByteArray(int descriptor, int error)> refused;
        // Raised while a status line stands unfinished at the end of the output, lowered once a
        // line ends it: for a last line written from a signal handler.
        std::atomic<bool>* lineOpen = nullptr;
    };

    explicit LineWriter(Settings settings);
    // Writes everything handed over, then ends the thread.
    ~LineWriter();
    LineWriter(const LineWriter&) = delete;
    LineWriter& operator=(const LineWriter&) = delete;

    // Text written in full and in order (it carries its own line breaks), or dropped whole.
    void append(const QString& text);
    void append(int descriptor, QByteArray bytes);
    // Text that must not be lost once the work is done (a summary): waits for room rather than
    // drop it, so never on a thread that keeps time.
    void appendAtEnd(const QString& text);
    // A status line, redrawn in place with the cursor left at its end.
    void redrawLine(const QString& text);
    // Lines drawn over the last ones drawn, the cursor ending below them.
    void redrawTable(const QStringList& lines);

    // Waits until everything handed over so far is written, or timeoutMs passed (never when
    // negative); true when it all was. Not for a thread that keeps time or draws.
    bool flush(int timeoutMs = -1);
    // Texts dropped so far, for want of room or for a closed output.
    quint64 droppedLines() const;

private:
    struct Text
    {
        enum Kind { Plain, StatusLine, Table };
        Kind kind = Plain;
        int descriptor = 1;
        QByteArray bytes;
        int tableLines = 0; // of a Table
    };
    bool write(Text& text);
    bool closed(int descriptor) const;

    const Settings settings;
    // The writing thread's own.
    int tableDrawn = 0;
    std::vector<int> closedDescriptors;
    WriterQueue<Text> queue; // last: its thread ends before the members it uses go
};
