// The node's diagnostic lines on standard output.
#pragma once

class QString;

namespace ArtNetOutput {

// Writes the text and a line break, then flushes, so a watching console sees it at once.
void line(const QString& text);

// Writes the text as it is (it carries its own line break, if any); flushes only when asked.
void text(const QString& text, bool flush);

} // namespace ArtNetOutput
