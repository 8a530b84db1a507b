// chronolume-cli nodes: polls every local IPv4 network and lists the Art-Net nodes that answer.
#pragma once

#include <QStringList>

// Takes the arguments after "nodes"; returns the exit status.
int runNodes(const QStringList& arguments);
