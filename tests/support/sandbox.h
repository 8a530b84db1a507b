// Guards for tests that use the network: they run only where nothing they send can leave.
#pragma once

#include <QString>
#include <QtTest>

namespace TestSupport {

// Empty when this process sits in a private network namespace made for the tests: only
// loopback and the test's own veth links exist. Otherwise the reason it does not.
QString privateNetworkProblem();

} // namespace TestSupport

// Skips the calling test function unless the network is private to the tests. QSKIP's own
// expansion, written out: QSKIP with its message alone leaves its variadic arguments empty, which
// -Wpedantic rejects under clang.
#define REQUIRE_PRIVATE_NETWORK()                                                                  \
    do {                                                                                           \
        const QString problem_ = TestSupport::privateNetworkProblem();                             \
        if (!problem_.isEmpty()) {                                                                 \
            QTest::qSkip(qPrintable(QStringLiteral("no private network namespace: ") + problem_),  \
                         __FILE__, __LINE__);                                                      \
            return;                                                                                \
        }                                                                                          \
    } while (false)
