// SPDX-License-Identifier: GPL-3.0-or-later
#include "noiseanalysis.h"

#include "allan.h"

namespace Noise {

// Per channel the rate samples in whole steps (an acceleration's samples
// themselves, an angle's unwrapped step from the record before) and per
// octave the sums of the newest m of them and of the m before: their
// difference is the newest second difference of the phase. The squares
// are summed exactly, as the batch estimator sums them, so both give the
// same deviation.
struct LiveAllan::State
{
    struct Octave
    {
        qint64 m = 0;
        qint64 newer = 0;
        qint64 older = 0;
        __int128 squares = 0;
        qint64 terms = 0;
    };

    std::array<std::vector<qint16>, Channels> raw;
    std::array<std::vector<qint16>, 3> angleSteps; // yaw, pitch, roll
    std::array<std::vector<Octave>, Channels> octaves;
    qint64 lost = 0;
    qint64 firstMs = 0;
    qint64 lastMs = 0;

    const std::vector<qint16>& rates(int channel) const
    {
        return isAngle(channel) ? angleSteps[std::size_t(channel)] : raw[std::size_t(channel)];
    }

    // The newest rate sample, at index j, into one octave.
    static void add(Octave& o, const std::vector<qint16>& rate, qint64 j)
    {
        o.newer += rate[std::size_t(j)];
        if (j >= o.m) {
            const qint16 middle = rate[std::size_t(j - o.m)];
            o.newer -= middle;
            o.older += middle;
        }
        if (j >= 2 * o.m)
            o.older -= rate[std::size_t(j - 2 * o.m)];
        if (j + 1 >= 2 * o.m) {
            const qint64 d = o.newer - o.older;
            o.squares += __int128(d) * d;
            ++o.terms;
        }
    }

    void addRate(int channel)
    {
        const std::vector<qint16>& rate = rates(channel);
        const qint64 j = qint64(rate.size()) - 1;
        if (j < 0)
            return;
        for (Octave& o : octaves[std::size_t(channel)])
            add(o, rate, j);
    }

    // A new octave once the records reach four times its factor, summed
    // over the samples so far once and kept up from then on.
    void growOctaves(int channel)
    {
        std::vector<Octave>& list = octaves[std::size_t(channel)];
        const qint64 m = list.empty() ? 1 : list.back().m * 2;
        if (m > Allan::maximumFactor(qint64(raw[0].size())))
            return;
        Octave o;
        o.m = m;
        const std::vector<qint16>& rate = rates(channel);
        for (qint64 j = 0; j < qint64(rate.size()); ++j)
            add(o, rate, j);
        list.push_back(o);
    }
};

void LiveAllan::clear()
{
    state.reset();
}

void LiveAllan::append(const std::array<qint16, Channels>& raw, qint64 msSinceEpoch, bool indexBroken)
{
    if (!state)
        state = std::make_shared<State>();
    State& s = *state;
    const bool first = s.raw[0].empty();
    if (first)
        s.firstMs = msSinceEpoch;
    else if (indexBroken)
        ++s.lost;
    s.lastMs = msSinceEpoch;
    for (int c = 0; c < Channels; ++c) {
        std::vector<qint16>& values = s.raw[std::size_t(c)];
        if (isAngle(c) && !first)
            s.angleSteps[std::size_t(c)].push_back(qint16(unwrapStep(values.back(), raw[std::size_t(c)])));
        values.push_back(raw[std::size_t(c)]);
        s.addRate(c);
        s.growOctaves(c);
    }
}

qint64 LiveAllan::size() const
{
    return state ? qint64(state->raw[0].size()) : 0;
}

qint64 LiveAllan::lostFrames() const
{
    return state ? state->lost : 0;
}

QVector<AdevPoint> LiveAllan::adev(int channel, double rateHz) const
{
    QVector<AdevPoint> result;
    if (!state || channel < 0 || channel >= Channels)
        return result;
    const qint64 records = size();
    const bool angle = isAngle(channel);
    const qint64 points = angle ? records : records + 1;
    const double scale = angle ? 0.01 : 1.0 / rateHz;
    for (const State::Octave& o : state->octaves[std::size_t(channel)]) {
        if (o.terms > 0)
            result.append(Allan::point(o.m, o.terms, double(o.squares), points, rateHz, scale));
    }
    return result;
}

Span LiveAllan::span() const
{
    Span span;
    if (!state)
        return span;
    span.raw = state->raw;
    span.lostFrames = state->lost;
    span.firstMs = state->firstMs;
    span.lastMs = state->lastMs;
    span.rateHz = Span::rateFrom(span.size(), span.firstMs, span.lastMs);
    return span;
}

} // namespace Noise
