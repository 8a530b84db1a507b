// The node's diagnostic lines on standard output, and any other line a program wants written
// the same way. Nothing here waits for the output: the lines go to the process's one LineWriter
// (linewriter.h), whose thread alone writes, and a line that finds 64 KiB waiting is dropped and
// counted, so that a paused terminal or a pipe nobody reads never holds up the thread that
// receives or draws.
#pragma once

#include <QtGlobal>

class QByteArray;
class QString;

namespace ArtNetOutput {

// Writes all of the bytes, however many writes it takes: a terminal or pipe may take part of
// them, a signal may interrupt, and another program may have made a shared descriptor
// non-blocking. False when the descriptor refuses them. It waits for the output: only for a
// thread that does nothing else.
bool writeAll(int descriptor, const QByteArray& bytes);

// Whether the node's lines are written at all (artnet::setDiagnosticLines): a line built for
// nobody is work for nothing.
bool linesWritten();

// Queues the text and a line break for standard output.
void line(const QString& text);

// Queues the text as it is (it carries its own line break, if any). The flush flag is kept for
// the callers' sake: every queued text is written as soon as the output takes it.
void text(const QString& text, bool flush);

// Queues the text as it is for standard error.
void errorText(const QString& text);

// Lines dropped so far because the output did not take them or was closed; after a drop for
// want of room, once the output moves again, a line says how many were lost.
quint64 droppedLines();

// Waits until everything queued so far is written, or the output has stopped taking it for
// timeoutMs; true when all of it was written. For tests and the end of a program, never for a
// thread that keeps time or draws.
bool flush(int timeoutMs = 2000);

} // namespace ArtNetOutput
