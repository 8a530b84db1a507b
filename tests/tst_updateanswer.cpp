// Reading one delivery of the update service's answer: which "version:" line names a release
// newer than ours. No network: the bytes are given as they would arrive.
#include "updateanswer.h"

#include <QtTest>

using UpdateAnswer::Version;
Q_DECLARE_METATYPE(Version)

class UpdateAnswerTest : public QObject
{
    Q_OBJECT

private slots:
    void newerVersion_data()
    {
        QTest::addColumn<QByteArray>("delivery");
        QTest::addColumn<Version>("own");
        QTest::addColumn<QList<int>>("named"); // empty: no newer release

        const auto row = [](const char* name, const QByteArray& delivery, const QList<int>& named,
                            const Version& own = {1, 0, 2, 0}) {
            QTest::newRow(name) << delivery << own << named;
        };
        row("1.0.3 is newer", "version:1.0.3", {1, 0, 3, 0});
        row("key in any case, a blank, build newer", "Version: 1.0.2.1", {1, 0, 2, 1});
        row("1.0.2 is ours", "version:1.0.2", {});
        row("2 alone is 2.0.0.0", "version:2", {2, 0, 0, 0});
        row("a piece that fails takes no place", "version:1.x.3", {1, 3, 0, 0});
        row("a fifth number is ignored", "version:1.0.2.0.9", {});
        row("3 beta does not convert", "version:1.0.3 beta", {});
        row("text before the key", "latestversion: 3.0", {3, 0, 0, 0});
        row("CRLF line ends", "software: chronolume\r\nversion:1.0.2.1\r\n", {1, 0, 2, 1});
        // Compared from the first number on: 0.5 is older although 5 > 0.
        row("the first newer line wins", "version:0.5\nversion:1.1\nversion:2.0", {1, 1, 0, 0});
        row("a zero byte ends the text", QByteArray("version:1.0.2\0version:1.0.3", 27), {});

        // Lines without a value above 0 name no release, even against a version below them.
        const Version below{-5, 0, 0, 0};
        row("version: alone", "version:", {}, below);
        row("0.0.0.0", "version:0.0.0.0", {}, below);
        row("-1.-2", "version:-1.-2", {}, below);
        row("-1.5 has a value above 0", "version:-1.5", {-1, 5, 0, 0}, below);
    }

    void newerVersion()
    {
        QFETCH(QByteArray, delivery);
        QFETCH(Version, own);
        QFETCH(QList<int>, named);

        const std::optional<Version> found = UpdateAnswer::newerVersion(delivery, own);
        QCOMPARE(found ? QList<int>(found->begin(), found->end()) : QList<int>(), named);
    }
};

// QTEST_APPLESS_MAIN written out: under clang, -Wpedantic rejects its empty variadic argument.
int main(int argc, char** argv)
{
    UpdateAnswerTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_updateanswer.moc"
