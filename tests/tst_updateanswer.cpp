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

        const Version ours{1, 0, 2, 0};
        const QList<int> none;
        QTest::newRow("1.0.3 is newer") << QByteArray("version:1.0.3") << ours << QList{1, 0, 3, 0};
        QTest::newRow("key in any case, a blank, build newer")
            << QByteArray("Version: 1.0.2.1") << ours << QList{1, 0, 2, 1};
        QTest::newRow("1.0.2.0 is ours") << QByteArray("version:1.0.2.0") << ours << none;
        QTest::newRow("1.0.2 is ours") << QByteArray("version:1.0.2") << ours << none;
        QTest::newRow("0.9.9.9 is older") << QByteArray("version:0.9.9.9") << ours << none;
        QTest::newRow("2 alone is 2.0.0.0") << QByteArray("version:2") << ours << QList{2, 0, 0, 0};
        QTest::newRow("a piece that fails takes no place")
            << QByteArray("version:1.x.3") << ours << QList{1, 3, 0, 0};
        QTest::newRow("a fifth number is ignored")
            << QByteArray("version:1.0.2.0.9") << ours << none;
        QTest::newRow("3 beta does not convert")
            << QByteArray("version:1.0.3 beta") << ours << none;
        QTest::newRow("text before the key")
            << QByteArray("latestversion: 3.0") << ours << QList{3, 0, 0, 0};

        // Lines without a value above 0 name no release, even against a version below them.
        const Version below{-5, 0, 0, 0};
        QTest::newRow("version: alone") << QByteArray("version:") << below << none;
        QTest::newRow("0.0.0.0") << QByteArray("version:0.0.0.0") << below << none;
        QTest::newRow("-1.-2") << QByteArray("version:-1.-2") << below << none;
        QTest::newRow("-1.5 has a value above 0")
            << QByteArray("version:-1.5") << below << QList{-1, 5, 0, 0};

        QTest::newRow("CRLF line ends") << QByteArray("software: chronolume\r\nversion:1.0.2.1\r\n")
                                        << ours << QList{1, 0, 2, 1};
        QTest::newRow("the first newer line wins")
            << QByteArray("version:0.5\nversion:1.1\nversion:2.0") << ours << QList{1, 1, 0, 0};
        QTest::newRow("a zero byte ends the text")
            << QByteArray("version:1.0.2\0version:1.0.3", 27) << ours << none;
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
