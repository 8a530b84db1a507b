// What the timecode font's fit costs on a big screen: the window's search against trying every
// point size in turn, side by side in one run, for the timecode label of a full-screen window
// on a 3840 x 2160 display.
//
// Each way fits, round after round, a label that a drag makes a few pixels smaller each time; the
// search goes first, so the sizes the one-by-one fit measures cannot speed it up. Reported are the
// median time per fit over the rounds, for one, two and three senders, and the search's first fit,
// which finds none of its sizes in the font cache; the sizes found must be the same, or the
// program fails. It needs no display: it uses Qt's offscreen platform unless another
// is set. The last line is "ratio: N", how many times faster the search fits one sender's text.
#include "fitreference.h"
#include "timecodetext.h"

#include <QElapsedTimer>
#include <QFont>
#include <QGuiApplication>
#include <QSize>
#include <QString>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kRounds = 15;
const QSize kLabel(3840, 2160);

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct Measured
{
    double oneByOneMs = 0;
    double searchMs = 0;
    double firstSearchMs = 0; // with none of its sizes in the font cache yet
    bool same = true;
};

Measured measure(const QString& family, const QString& text)
{
    const auto label = [](int round) { return kLabel - QSize(round * 3, round * 2); };
    const auto timed = [](std::vector<double>& times, auto fit) {
        QElapsedTimer clock;
        clock.start();
        const int size = fit();
        times.push_back(double(clock.nsecsElapsed()) / 1e6);
        return size;
    };
    // The search first: it then finds in the font cache only what it put there itself.
    std::vector<double> searchTimes, oneByOneTimes;
    std::vector<int> searched;
    for (int round = 0; round < kRounds; ++round) {
        const QSize size = label(round);
        searched.push_back(timed(searchTimes, [&] {
            return TimecodeText::fittedPointSize(family, text, size.height(), size.width());
        }));
    }
    bool same = true;
    for (int round = 0; round < kRounds; ++round) {
        const QSize size = label(round);
        const int slow =
            timed(oneByOneTimes, [&] { return FitReference::oneByOne(family, text, size); });
        if (slow != searched[size_t(round)]) {
            std::fprintf(stderr, "bench_fitting: %d x %d, %lld lines: %d one by one, %d searched\n",
                         size.width(), size.height(), qlonglong(text.count(QLatin1Char('\n')) + 1),
                         slow, searched[size_t(round)]);
            same = false;
        }
    }
    return {median(oneByOneTimes), median(searchTimes), searchTimes.front(), same};
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    const QString family = QGuiApplication::font().family();

    const QString one = QStringLiteral("01:02:03:04");
    const QString two = one + QStringLiteral("\n10:00:59:29");
    const QString three = two + QStringLiteral("\n23:59:59:29");

    std::printf("fitting the timecode label of %d x %d, median of %d fits each:\n", kLabel.width(),
                kLabel.height(), kRounds);
    bool same = true;
    double oneSender = 0;
    // One sender first, with the font cache as cold as a new program's.
    for (const auto& [senders, text] :
         {std::pair{1, one}, std::pair{2, two}, std::pair{3, three}}) {
        const Measured measured = measure(family, text);
        same = same && measured.same;
        const double ratio = measured.oneByOneMs / measured.searchMs;
        if (senders == 1)
            oneSender = ratio;
        std::printf(
            "%d sender%s: one by one %7.2f ms, searched %5.2f ms (the first %5.2f ms), %6.1f "
            "times faster\n",
            senders, senders == 1 ? " " : "s", measured.oneByOneMs, measured.searchMs,
            measured.firstSearchMs, ratio);
    }
    if (!same) {
        std::fprintf(stderr, "bench_fitting: the two ways found different sizes\n");
        return 1;
    }
    std::printf("ratio: %.1f\n", oneSender);
    return 0;
}
