// The node's DMX input used from threads of the caller's own while the node's thread receives:
// pixel arrays registered and replaced, and the caller's buffer, its bytes and the own universe
// read. The ThreadSanitizer build runs this program; elsewhere the frames' shape catches a torn
// copy and guard pixels a write past a registration.
#include "artnet.h"
#include "sandbox.h"
#include "steppedclock.h"
#include "traffic.h"

#include <QColor>
#include <QtTest>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

using namespace TestSupport;

namespace {

const QHostAddress kController(QStringLiteral("127.0.0.2"));

// Every frame sets all 512 slots of each universe to one value, different from frame to frame:
// a copy that mixes two frames is not uniform.
constexpr quint16 kUniverses = 4;

QByteArray frame(int number)
{
    return QByteArray(512, char(1 + number % 250));
}

bool uniform(const quint8* bytes, int size)
{
    for (int i = 1; i < size; ++i) {
        if (bytes[i] != bytes[0])
            return false;
    }
    return true;
}

// Sends frames of every universe from the node's own thread until done is set; false as soon
// as the node leaves a frame unread.
[[nodiscard]] bool sendFramesUntil(artnet& node, const std::atomic<bool>& done)
{
    Controller controller(kController);
    for (int frames = 0; !done; ++frames) {
        for (quint16 universe = 0; universe < kUniverses; ++universe)
            controller.send(artDmx(universe, frame(frames)));
        if (!settle(node))
            return false;
    }
    return true;
}

// The colour the node never writes: its components differ, and no frame has two values.
const QColor kGuard(1, 2, 3);

} // namespace

class ThreadsTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { REQUIRE_PRIVATE_NETWORK(); }

    // The caller swaps between a large and a small pixel array from its own thread. After each
    // array come guard pixels that no write may reach, and an array the node has let go of is
    // the caller's again: it is guarded whole from then on.
    void pixelsCanBeReplacedFromAnotherThread()
    {
        artnet node;
        QVERIFY(node.enableDmxInput()); // on the node's own thread
        std::atomic<bool> done{false};
        std::atomic<int> spoiled{0};
        std::atomic<int> reached{0};
        std::thread caller([&] {
            constexpr int kGuards = 16;
            const quint32 counts[] = {kUniverses * 170, 5, 300, 1};
            std::unique_ptr<std::vector<QColor>> current;
            quint32 currentCount = 0;
            for (int round = 0; round < 400; ++round) {
                const quint32 count = counts[round % 4];
                auto next = std::make_unique<std::vector<QColor>>(count + kGuards, kGuard);
                node.setPixelBuffer(next->data(), count, 3);
                if (current) {
                    // Everything of the released array that the node wrote lies before its
                    // count; then it is guarded whole for a moment, while frames go on coming.
                    for (quint32 i = 0; i < current->size(); ++i) {
                        if (i >= currentCount && (*current)[i] != kGuard)
                            ++spoiled;
                        if (i < currentCount && (*current)[i] != kGuard)
                            ++reached;
                        (*current)[i] = kGuard;
                    }
                    std::this_thread::sleep_for(std::chrono::microseconds(200));
                    for (const QColor& pixel : *current)
                        spoiled += pixel != kGuard;
                }
                current = std::move(next);
                currentCount = count;
            }
            node.setPixelBuffer(nullptr, 0, 0);
            done = true;
        });
        const bool delivered = sendFramesUntil(node, done);
        caller.join();
        QVERIFY(delivered);
        QCOMPARE(spoiled.load(), 0);
        QVERIFY2(reached > 0, "no array ever received a frame: the race was not run");
    }

    // One caller thread replaces the DMX buffer while another reads it through getDmxBuffer and
    // getDmxValue, and reads the own universe: every read sees one whole frame of one buffer.
    void readersSeeWholeFrames()
    {
        artnet node;
        QVERIFY(node.enableDmxInput());
        constexpr quint32 kSizes[] = {kUniverses * 512, 512, 3 * 512 + 7};
        std::atomic<bool> done{false};
        std::atomic<bool> replacing{true};
        std::atomic<int> torn{0};
        std::atomic<int> seen{0};
        std::thread registrar([&] {
            for (int round = 0; round < 600; ++round) {
                const quint32 size = kSizes[round % 3];
                std::vector<quint8> next(size, 0);
                node.setDmxBuffer(next.data(), size, 512);
                std::this_thread::sleep_for(std::chrono::microseconds(100));
                // Removed, then freed: a read of it after this is the address sanitizer's to see.
                node.setDmxBuffer(nullptr, 0, 0);
            }
            replacing = false;
        });
        std::thread reader([&] {
            quint8 own[600];
            while (replacing) {
                quint16 length = sizeof own;
                if (node.readUniverse(own, &length) && length != 0) {
                    torn += length != 512 || !uniform(own, length);
                    ++seen;
                }
                quint8* buffer = nullptr;
                quint32 size = 0;
                node.getDmxBuffer(&buffer, &size);
                // A buffer and a size that belong together: none, or one of the sizes given.
                const bool known = size == kSizes[0] || size == kSizes[1] || size == kSizes[2];
                torn += buffer ? !known : size != 0;
                quint8 value = 0;
                for (quint16 universe = 0; universe < kUniverses; ++universe)
                    node.getDmxValue(universe, 511, &value);
            }
            done = true;
        });
        const bool delivered = sendFramesUntil(node, done);
        registrar.join();
        reader.join();
        QVERIFY(delivered);
        QCOMPARE(torn.load(), 0);
        QVERIFY2(seen > 0, "the own universe was never read while frames came");
    }

    // The node's thread turns DMX input off and on while a caller's thread reads the own
    // universe: each read finds the input on or off, under the lock (the ThreadSanitizer build
    // sees a look without it), and a read on the caller's thread never turns it on again.
    void universeReadWhileInputIsSwitched()
    {
        artnet node;
        QVERIFY(node.enableDmxInput());
        std::atomic<bool> switching{true};
        std::atomic<int> read{0};
        std::atomic<int> refused{0};
        std::atomic<int> tooLong{0};
        std::thread reader([&] {
            quint8 own[600];
            while (switching) {
                quint16 length = sizeof own;
                if (node.readUniverse(own, &length)) {
                    tooLong += length > 512;
                    ++read;
                } else {
                    ++refused;
                }
            }
        });
        for (int round = 0; round < 200'000 && (read < 1000 || refused < 1000); ++round) {
            node.disableDmxInput();
            std::this_thread::yield();
            QVERIFY(node.enableDmxInput());
        }
        switching = false;
        reader.join();
        QCOMPARE(tooLong.load(), 0);
        QVERIFY2(read >= 1000 && refused >= 1000, "the reads did not meet the switching");

        node.disableDmxInput();
        quint8 byte = 0;
        quint16 length = 1;
        bool readElsewhere = true;
        std::thread([&] { readElsewhere = node.readUniverse(&byte, &length); }).join();
        QVERIFY(!readElsewhere);
        QVERIFY(node.readUniverse(&byte, &length)); // on the node's thread it turns input on
    }

    // The caller commits from its thread while the node's thread replaces the hold's clock:
    // the commit restarts the clock in place, never one already deleted (the sanitized builds
    // see it).
    void syncClockCanBeReplacedWhileCommitting()
    {
        artnet node;
        QVERIFY(node.enableDmxInput());
        std::atomic<bool> replacing{true};
        std::atomic<int> commits{0};
        std::thread committer([&] {
            while (replacing) {
                node.commitDmx();
                ++commits;
            }
        });
        while (commits == 0)
            std::this_thread::yield();
        // As long as it takes the other thread to commit a few thousand times.
        const int before = commits;
        for (int round = 0; round < 5'000'000 && commits - before < 5000; ++round)
            node.setSyncClock(new SteppedClock(round));
        const int during = commits - before;
        replacing = false;
        committer.join();
        QVERIFY2(during >= 5000, "the commits did not run while the clock was replaced");
    }
};

QTEST_GUILESS_MAIN(ThreadsTest)
#include "tst_threads.moc"
