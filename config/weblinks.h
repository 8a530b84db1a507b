// The maker's web pages as HTML anchors, shared by the window, the help box and the About window.
#pragma once

#include "chronolume_config.h"

#include <QString>

namespace chronolume {

// An anchor to a page on the maker's web host, showing the host name as its text.
inline QString webLink(const QString& pathAndQuery)
{
    return QStringLiteral("<a href=\"http://%1%2\">%1</a>")
        .arg(QLatin1String(kWebHost), pathAndQuery);
}

// The update page, told which version asks.
inline QString updatePageLink()
{
    return webLink(QStringLiteral("/update_view.php?software=chronolume&currentversion=%1.%2.%3.%4")
                       .arg(kVersionMajor)
                       .arg(kVersionMinor)
                       .arg(kVersionPatch)
                       .arg(kVersionBuild));
}

inline QString helpPageLink()
{
    return webLink(QStringLiteral("/help.php?software=chronolume&currentversion=%1.%2.%3.%4")
                       .arg(kVersionMajor)
                       .arg(kVersionMinor)
                       .arg(kVersionPatch)
                       .arg(kVersionBuild));
}

// The download page keeps its own capitalisation and names only major and minor.
inline QString downloadPageLink()
{
    return webLink(
        QStringLiteral("/software/download/?Software=Chronolume&CurrentVersion=%1.%2.0.0")
            .arg(kVersionMajor)
            .arg(kVersionMinor));
}

// "v1.0.2", as the title and the node's long name show it.
inline QString versionText()
{
    return QStringLiteral("v%1.%2.%3").arg(kVersionMajor).arg(kVersionMinor).arg(kVersionPatch);
}

} // namespace chronolume
