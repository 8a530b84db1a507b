// A per-user settings store of the test run's own, so no test reads or writes the user's.
#pragma once

#include "chronolume_config.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>

namespace TestSupport {

class SettingsStore
{
public:
    // Points Qt's user settings at a fresh temporary folder; call before any QSettings exists.
    SettingsStore()
    {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path());
    }

    bool isValid() const { return dir.isValid(); }

    // The file the program reads: <web domain>/Chronolume.conf.
    QString file() const
    {
        return dir.filePath(QLatin1String(chronolume::kWebDomain) +
                            QStringLiteral("/Chronolume.conf"));
    }

    // Replaces the file's content; an empty content removes the file.
    bool write(const QByteArray& content) const
    {
        QFile::remove(file());
        if (content.isEmpty())
            return true;
        QDir().mkpath(QFileInfo(file()).absolutePath());
        QFile out(file());
        return out.open(QIODevice::WriteOnly) && out.write(content) == content.size();
    }

    QByteArray read() const
    {
        QFile in(file());
        return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
    }

private:
    QTemporaryDir dir;
};

} // namespace TestSupport
