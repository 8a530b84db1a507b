// The one writer thread of the window and every command, on a pipe made full so that the
// writer is held up as by a paused terminal: what waits is bounded to the byte, what does not
// fit is dropped, counted and told after what came before it, a status line not yet written
// gives way to a newer one, and a reader who left costs lines, never the program.
#include "linewriter.h"
#include "patience.h"

#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace {

// A pipe whose buffer is full: every write to it waits until the test reads.
class FullPipe
{
public:
    FullPipe()
    {
        if (pipe(ends) != 0)
            return;
        const int flags = fcntl(ends[1], F_GETFL);
        fcntl(ends[1], F_SETFL, flags | O_NONBLOCK);
        const QByteArray block(4096, 'f');
        while (::write(ends[1], block.constData(), size_t(block.size())) > 0)
            filler += block.size();
        while (::write(ends[1], "f", 1) == 1)
            ++filler;
        fcntl(ends[1], F_SETFL, flags);
        fcntl(ends[0], F_SETFL, fcntl(ends[0], F_GETFL) | O_NONBLOCK);
    }
    ~FullPipe()
    {
        if (ends[0] >= 0)
            ::close(ends[0]);
        ::close(ends[1]);
    }
    int in() const { return ends[1]; }
    // Closes the reading end: a writer still held up by the pipe then ends its write, so that a
    // test that failed ends at once.
    void leave()
    {
        ::close(ends[0]);
        ends[0] = -1;
    }

    // Reads what the pipe holds now.
    void readSome()
    {
        char buffer[4096];
        for (ssize_t n; (n = ::read(ends[0], buffer, sizeof buffer)) > 0;)
            read.append(buffer, n);
    }

    // Reads until the writer has written everything handed over; what it wrote after the filler.
    QByteArray drain(LineWriter& writer)
    {
        for (QDeadlineTimer patience(Patience::ms()); !patience.hasExpired();) {
            readSome();
            if (writer.flush(10))
                break;
        }
        readSome();
        return read.mid(filler);
    }

private:
    int ends[2] = {-1, -1};
    qsizetype filler = 0;
    QByteArray read;
};

LineWriter::Settings settingsFor(int descriptor, qint64 limit)
{
    LineWriter::Settings settings;
    settings.descriptor = descriptor;
    settings.limitBytes = limit;
    settings.noticeDescriptor = descriptor;
    settings.notice = [](quint64 lines) { return "lost " + QByteArray::number(lines) + '\n'; };
    return settings;
}

} // namespace

class LineWriterTest : public QObject
{
    Q_OBJECT

private slots:
    void bound_data()
    {
        QTest::addColumn<QStringList>("texts"); // handed over while the output is held up
        QTest::addColumn<QByteArray>("written");
        QTest::addColumn<int>("dropped");
        const QString sixty(60, QLatin1Char('a'));
        QTest::newRow("exactly at the limit: all of it waits")
            << QStringList{sixty, QString(40, QLatin1Char('b'))}
            << (sixty.toLatin1() + QByteArray(40, 'b')) << 0;
        QTest::newRow("one byte over: that text is dropped whole and told after the rest")
            << QStringList{sixty, QString(41, QLatin1Char('b'))} << (sixty.toLatin1() + "lost 1\n")
            << 1;
        QTest::newRow("a smaller text still fits after one that did not")
            << QStringList{sixty, QString(41, QLatin1Char('b')), QString(40, QLatin1Char('c'))}
            << (sixty.toLatin1() + QByteArray(40, 'c') + "lost 1\n") << 1;
        QTest::newRow("every drop counted, told once")
            << QStringList{sixty, sixty, sixty, sixty} << (sixty.toLatin1() + "lost 3\n") << 3;
    }

    // A limit of 100 bytes, counting the text in the write that waits.
    void bound()
    {
        QFETCH(QStringList, texts);
        QFETCH(QByteArray, written);
        QFETCH(int, dropped);
        FullPipe output;
        LineWriter writer(settingsFor(output.in(), 100));
        const auto leave = qScopeGuard([&output] { output.leave(); });
        for (const QString& text : texts)
            writer.append(text);
        QCOMPARE(int(writer.droppedLines()), dropped);
        QCOMPARE(output.drain(writer), written);
    }

    void redraw_data()
    {
        QTest::addColumn<QStringList>("steps"); // "line:", "table:" (lines split by |), or text
        QTest::addColumn<QByteArray>("written");
        QTest::newRow("a status line not yet written gives way to the newer one")
            << QStringList{"x", "line:one", "line:two", "line:three"}
            << QByteArray("x\rthree\x1b[K");
        QTest::newRow("text between them keeps both, in order")
            << QStringList{"x", "line:one", "y", "line:two"}
            << QByteArray("x\rone\x1b[Ky\rtwo\x1b[K");
        QTest::newRow("a table not yet drawn gives way; the next goes up over the one drawn")
            << QStringList{"x", "table:a|b", "table:c", "\n", "table:d"}
            << QByteArray("x\rc\x1b[K\n\x1b[J\n\x1b[1A\rd\x1b[K\n\x1b[J");
    }

    void redraw()
    {
        QFETCH(QStringList, steps);
        QFETCH(QByteArray, written);
        FullPipe output;
        LineWriter writer(settingsFor(output.in(), 1000));
        const auto leave = qScopeGuard([&output] { output.leave(); });
        for (const QString& step : steps) {
            if (step.startsWith(QLatin1String("line:")))
                writer.redrawLine(step.mid(5));
            else if (step.startsWith(QLatin1String("table:")))
                writer.redrawTable(step.mid(6).split(QLatin1Char('|')));
            else
                writer.append(step);
        }
        QCOMPARE(output.drain(writer), written);
        QCOMPARE(writer.droppedLines(), quint64(0));
    }

    // What must not be lost waits for room instead of being dropped.
    void atEndWaitsForRoom()
    {
        FullPipe output;
        LineWriter writer(settingsFor(output.in(), 100));
        writer.append(QString(100, QLatin1Char('a')));
        std::atomic<bool> handedOver{false};
        std::thread end([&] {
            writer.appendAtEnd(QStringLiteral("summary\n"));
            handedOver = true;
        });
        const auto leave = qScopeGuard([&] {
            output.leave();
            end.join();
        });
        QTest::qWait(100);
        QVERIFY(!handedOver);
        for (QDeadlineTimer patience(Patience::ms()); !handedOver && !patience.hasExpired();)
            output.readSome();
        const QByteArray written = output.drain(writer);
        QCOMPARE(written, QByteArray(100, 'a') + "summary\n");
        QCOMPARE(writer.droppedLines(), quint64(0));
    }

    // A reader who left (EPIPE): the lines for it are dropped and counted, SIGPIPE ends nothing,
    // the refusal is said once where notices go, and the other output goes on.
    void readerWhoLeft()
    {
        std::signal(SIGPIPE, SIG_DFL);
        int gone[2];
        int kept[2];
        QCOMPARE(pipe(gone), 0);
        QCOMPARE(pipe(kept), 0);
        ::close(gone[0]);
        {
            LineWriter::Settings settings = settingsFor(gone[1], 1000);
            settings.noticeDescriptor = kept[1];
            settings.refused = [](int, int error) {
                return "refused: " + QByteArray::number(error) + '\n';
            };
            LineWriter writer(settings);
            for (int i = 0; i < 3; ++i)
                writer.append(QStringLiteral("nobody reads this\n"));
            writer.append(kept[1], "still read\n");
            QVERIFY(writer.flush(Patience::ms()));
            QCOMPARE(writer.droppedLines(), quint64(3));
        }
        char buffer[64] = {};
        QVERIFY(::read(kept[0], buffer, sizeof buffer - 1) > 0);
        QCOMPARE(QByteArray(buffer), "refused: " + QByteArray::number(EPIPE) + "\nstill read\n");
        ::close(gone[1]);
        ::close(kept[0]);
        ::close(kept[1]);
    }
};

QTEST_GUILESS_MAIN(LineWriterTest)
#include "tst_linewriter.moc"
