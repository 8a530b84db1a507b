// Reading the update service's answer: which release a "version:" line names, and whether it is
// newer than ours.
#pragma once

#include <QByteArray>
#include <QString>

#include <array>
#include <optional>

namespace UpdateAnswer {

using Version = std::array<int, 4>; // major, minor, patch, build

// The version named by the first line of this delivery that is newer than own, if any.
// Lines carry "version:" anywhere, in any case, followed by up to four dotted numbers.
std::optional<Version> newerVersion(const QByteArray& delivery, const Version& own);

// "1.0.3.0"
QString versionText(const Version& version);

} // namespace UpdateAnswer
