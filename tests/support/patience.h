// How long a test waits for a program under test: what the program itself promises (the run it
// was asked for, a tick, a frame period) plus a margin that a busy two-core machine does not use
// up, never a bare time that a slow start or a loaded machine can miss. The margin is long; a
// test that passes never waits for it, and ctest ends any test after 300 s.
#pragma once

namespace Patience {

// What no promise covers: a program's start, its end after the work, a loaded machine's stalls.
inline constexpr int kMarginMs = 60'000;

// Something the program does within `promisedMs` (0: what it promises nothing about, such as
// how soon it starts listening).
constexpr int ms(double promisedMs = 0)
{
    return int(promisedMs) + kMarginMs;
}

// A run that lasts `seconds` by the program's own clock.
constexpr int seconds(double seconds)
{
    return ms(seconds * 1000);
}

// `count` frames at `fps` frames a second.
constexpr int frames(int count, double fps)
{
    return ms(count * 1000.0 / fps);
}

} // namespace Patience
