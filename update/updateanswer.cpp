#include "updateanswer.h"

#include <QStringList>

#include <algorithm>
#include <cstring>

namespace UpdateAnswer {

namespace {

const QString kVersionKey = QStringLiteral("version:");

// Numbers that convert fill the next place; a piece that does not convert takes no place.
Version parseVersion(const QString& text)
{
    Version version{0, 0, 0, 0};
    size_t filled = 0;
    const QStringList pieces = text.split(QLatin1Char('.'));
    for (const QString& piece : pieces) {
        bool ok = false;
        const int value = piece.toInt(&ok, 10);
        if (!ok)
            continue;
        version[filled++] = value;
        if (filled == version.size())
            break;
    }
    return version;
}

bool isNewer(const Version& candidate, const Version& own)
{
    for (size_t i = 0; i < candidate.size(); ++i) {
        if (candidate[i] != own[i])
            return candidate[i] > own[i];
    }
    return false;
}

} // namespace

std::optional<Version> newerVersion(const QByteArray& delivery, const Version& own)
{
    // The answer is text; anything after a NUL is not.
    const char* bytes = delivery.constData();
    const void* nul = std::memchr(bytes, '\0', size_t(delivery.size()));
    const int length = nul ? int(static_cast<const char*>(nul) - bytes) : int(delivery.size());
    const QString text = QString::fromLatin1(bytes, length);

    const QStringList lines = text.split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        if (line.isEmpty())
            continue;
        const int position = line.indexOf(kVersionKey, 0, Qt::CaseInsensitive);
        if (position < 0)
            continue;
        const Version candidate = parseVersion(line.mid(position + kVersionKey.size()));
        // A line without any positive number names no release.
        if (std::none_of(candidate.begin(), candidate.end(), [](int value) { return value > 0; }))
            continue;
        if (isNewer(candidate, own))
            return candidate;
    }
    return std::nullopt;
}

QString versionText(const Version& version)
{
    return QStringLiteral("%1.%2.%3.%4")
        .arg(version[0])
        .arg(version[1])
        .arg(version[2])
        .arg(version[3]);
}

} // namespace UpdateAnswer
