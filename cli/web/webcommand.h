// chronolume-cli web: a clock page for every browser on the network, kept up to date.
#pragma once

#include <QStringList>

int runWeb(const QStringList& arguments);
