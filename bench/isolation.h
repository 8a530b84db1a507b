// Benchmarks send only inside a network namespace of their own, where loopback is the only
// network: the program runs itself again under `unshare -n` (which needs root), with lo up.
#pragma once

#include <QNetworkInterface>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <vector>

inline bool onlyLoopback()
{
    for (const QNetworkInterface& interface : QNetworkInterface::allInterfaces()) {
        if (interface.type() != QNetworkInterface::Loopback)
            return false;
    }
    return true;
}

// Runs this program again in a network namespace of its own. Returns only if that failed.
inline void reexecIsolated(int argc, char* argv[])
{
    std::vector<char*> args;
    args.push_back(const_cast<char*>("unshare"));
    args.push_back(const_cast<char*>("-n"));
    args.push_back(const_cast<char*>("--"));
    args.push_back(const_cast<char*>("sh"));
    args.push_back(const_cast<char*>("-c"));
    args.push_back(const_cast<char*>("ip link set lo up && exec \"$0\" \"$@\""));
    for (int i = 0; i < argc; ++i)
        args.push_back(argv[i]);
    args.push_back(nullptr);
    setenv("CHRONOLUME_BENCH_ISOLATED", "1", 1);
    execvp("unshare", args.data());
}

// True where this process may send: loopback is its only network. Elsewhere the program runs
// itself again in a namespace of its own and does not return; if that fails, it says why and
// returns false.
inline bool ensureIsolated(int argc, char* argv[])
{
    if (onlyLoopback())
        return true;
    if (!getenv("CHRONOLUME_BENCH_ISOLATED"))
        reexecIsolated(argc, argv);
    std::fprintf(stderr, "refusing to run: networks other than loopback are attached, and "
                         "no private network namespace could be made (run as root)\n");
    return false;
}
