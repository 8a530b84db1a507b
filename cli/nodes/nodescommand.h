// chronolume-cli nodes: polls every local IPv4 network and lists the Art-Net nodes that answer.
#pragma once

#include <QStringList>

struct NodesOptions
{
    bool json = false;
    int waitMs = 0; // how long answers are collected
};

// Parses and checks the arguments after "nodes". True when the poll is to run; otherwise the
// help was shown (*status kOk) or the input complained about on stderr (*status kUsage).
bool parseNodesOptions(const QStringList& arguments, NodesOptions* options, int* status);

// Takes the arguments after "nodes"; returns the exit status.
int runNodes(const QStringList& arguments);
