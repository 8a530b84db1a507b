// chronolume-cli web: a clock page for every browser on the network, kept up to date.
#pragma once

#include <QHostAddress>
#include <QStringList>

struct WebOptions
{
    quint16 port = 8080;
    int maxClients = 500;
    QHostAddress address = QHostAddress(QHostAddress::Any); // --bind, or every address
    bool everyAddress = true;                               // no --bind given
};

// Parses and checks the arguments after "web". True when the page is to be served; otherwise
// the help was shown (*status kOk) or the input complained about on stderr (*status kUsage).
bool parseWebOptions(const QStringList& arguments, WebOptions* options, int* status);

int runWeb(const QStringList& arguments);
