// Reading one delivery of the update service's answer: which "version:" line names a release
// newer than ours. No network: the answer's bytes are given as they would arrive.
#include "updateanswer.h"

#include <QtTest>

#include <optional>

using UpdateAnswer::Version;

Q_DECLARE_METATYPE(Version)
Q_DECLARE_METATYPE(std::optional<Version>)

namespace {

const Version kOwn{1, 0, 2, 0};
const std::optional<Version> kNone;

std::optional<Version> v(int major, int minor, int patch, int build)
{
    return Version{major, minor, patch, build};
}

QByteArray describe(const std::optional<Version>& version)
{
    if (!version)
        return "none";
    return UpdateAnswer::versionText(*version).toLatin1();
}

} // namespace

class UpdateAnswerTest : public QObject
{
    Q_OBJECT

private slots:
    void newerVersion_data()
    {
        QTest::addColumn<QByteArray>("delivery");
        QTest::addColumn<Version>("own");
        QTest::addColumn<std::optional<Version>>("expected");

        // What the service names, against our own 1.0.2.0.
        QTest::newRow("1.0.3 is newer") << QByteArray("version:1.0.3") << kOwn << v(1, 0, 3, 0);
        QTest::newRow("other case and a blank, build higher")
            << QByteArray("Version: 1.0.2.1") << kOwn << v(1, 0, 2, 1);
        QTest::newRow("upper case key") << QByteArray("VERSION:1.1") << kOwn << v(1, 1, 0, 0);
        QTest::newRow("1.0.2.0 is ours") << QByteArray("version:1.0.2.0") << kOwn << kNone;
        QTest::newRow("1.0.2 is ours") << QByteArray("version:1.0.2") << kOwn << kNone;
        QTest::newRow("0.9.9.9 is older") << QByteArray("version:0.9.9.9") << kOwn << kNone;
        QTest::newRow("1.0.1.9 is older") << QByteArray("version:1.0.1.9") << kOwn << kNone;
        QTest::newRow("2 alone names 2.0.0.0") << QByteArray("version:2") << kOwn << v(2, 0, 0, 0);
        QTest::newRow("a failing piece takes no place")
            << QByteArray("version:1.x.3") << kOwn << v(1, 3, 0, 0);
        QTest::newRow("an empty piece takes no place")
            << QByteArray("version:1..3") << kOwn << v(1, 3, 0, 0);
        QTest::newRow("a number too large for int takes no place")
            << QByteArray("version:1.99999999999.3") << kOwn << v(1, 3, 0, 0);
        QTest::newRow("a fifth number is ignored")
            << QByteArray("version:1.0.2.0.9") << kOwn << kNone;
        QTest::newRow("a fifth number cannot make it newer")
            << QByteArray("version:1.0.2.0.9.9") << Version{1, 0, 2, -1} << v(1, 0, 2, 0);
        QTest::newRow("3 beta does not convert")
            << QByteArray("version:1.0.3 beta") << kOwn << kNone;
        QTest::newRow("blanks around the numbers")
            << QByteArray("version: 1 . 0 . 3 ") << kOwn << v(1, 0, 3, 0);
        QTest::newRow("a plus sign is allowed")
            << QByteArray("version:+1.+1") << kOwn << v(1, 1, 0, 0);
        QTest::newRow("a negative build is older")
            << QByteArray("version:1.0.2.-1") << kOwn << kNone;

        // Lines without a value above 0 name no release, even against a version below them.
        QTest::newRow("version: alone") << QByteArray("version:") << Version{-1, 0, 0, 0} << kNone;
        QTest::newRow("0.0.0.0") << QByteArray("version:0.0.0.0") << Version{-1, 0, 0, 0} << kNone;
        QTest::newRow("-1.-2") << QByteArray("version:-1.-2") << Version{-5, 0, 0, 0} << kNone;
        QTest::newRow("-1.5 is compared")
            << QByteArray("version:-1.5") << Version{-5, 0, 0, 0} << v(-1, 5, 0, 0);
        QTest::newRow("-1.5 is older than ours") << QByteArray("version:-1.5") << kOwn << kNone;
        QTest::newRow("a skipped line does not end the search")
            << QByteArray("version:0.0.0.0\nversion:1.0.3") << kOwn << v(1, 0, 3, 0);

        // Where the key stands.
        QTest::newRow("latestversion: 3.0 counts")
            << QByteArray("latestversion: 3.0") << kOwn << v(3, 0, 0, 0);
        QTest::newRow("text before the key")
            << QByteArray("the current version: 1.0.3") << kOwn << v(1, 0, 3, 0);
        QTest::newRow("first occurrence in the line")
            << QByteArray("version:version:1.0.3") << kOwn << kNone;
        QTest::newRow("without colon") << QByteArray("version 1.0.3") << kOwn << kNone;
        QTest::newRow("key split by a line feed") << QByteArray("version\n:1.0.3") << kOwn << kNone;

        // Line ends and several lines.
        QTest::newRow("line feeds")
            << QByteArray("software: chronolume\nversion:1.0.3\nend\n") << kOwn << v(1, 0, 3, 0);
        QTest::newRow("carriage return and line feed")
            << QByteArray("software: chronolume\r\nversion:1.0.3\r\nend\r\n") << kOwn
            << v(1, 0, 3, 0);
        QTest::newRow("carriage return after the last number")
            << QByteArray("version:1.0.2.1\r\n") << kOwn << v(1, 0, 2, 1);
        QTest::newRow("older then newer: the second is named")
            << QByteArray("version:0.5\nversion:1.1") << kOwn << v(1, 1, 0, 0);
        QTest::newRow("two newer: the first is named")
            << QByteArray("version:1.1\nversion:2.0") << kOwn << v(1, 1, 0, 0);
        QTest::newRow("empty lines between")
            << QByteArray("\n\n\nversion:1.1\n\n") << kOwn << v(1, 1, 0, 0);
        QTest::newRow("no version line") << QByteArray("hello\nworld\n") << kOwn << kNone;
        QTest::newRow("empty delivery") << QByteArray() << kOwn << kNone;

        // The answer is text up to its first zero byte.
        QTest::newRow("nothing after a zero byte counts")
            << QByteArray("version:1.0.2\0version:1.0.3", 27) << kOwn << kNone;
        QTest::newRow("a zero byte ends the number")
            << QByteArray("version:1.0.3\0.5", 16) << kOwn << v(1, 0, 3, 0);
        QTest::newRow("zero byte first") << QByteArray("\0version:1.0.3", 14) << kOwn << kNone;
    }

    void newerVersion()
    {
        QFETCH(QByteArray, delivery);
        QFETCH(Version, own);
        QFETCH(std::optional<Version>, expected);

        const std::optional<Version> found = UpdateAnswer::newerVersion(delivery, own);
        QCOMPARE(describe(found), describe(expected));
    }

    void versionText_data()
    {
        QTest::addColumn<Version>("version");
        QTest::addColumn<QString>("text");
        QTest::newRow("release") << Version{1, 0, 3, 0} << QStringLiteral("1.0.3.0");
        QTest::newRow("no field width")
            << Version{10, 200, 3000, 40000} << QStringLiteral("10.200.3000.40000");
        QTest::newRow("negative") << Version{-1, 5, 0, 0} << QStringLiteral("-1.5.0.0");
    }

    void versionText()
    {
        QFETCH(Version, version);
        QFETCH(QString, text);
        QCOMPARE(UpdateAnswer::versionText(version), text);
    }
};

QTEST_APPLESS_MAIN(UpdateAnswerTest)
#include "tst_updateanswer.moc"
