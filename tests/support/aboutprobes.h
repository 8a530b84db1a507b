// Read access to the About window's parts.
#pragma once

#include "aboutinfo.h"

class AboutInfoProbe
{
public:
    static QLabel* infoLabel(const AboutInfo& about) { return about.infoLabel; }
    static QLabel* creditsLabel(const AboutInfo& about) { return about.creditsLabel; }
    static QPushButton* okButton(const AboutInfo& about) { return about.okButton; }
};
