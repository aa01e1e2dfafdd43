// SPDX-License-Identifier: GPL-3.0-or-later
#include "spectrum.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>
#include <vector>

namespace Noise::Welch {

namespace {

// FFTW's planner keeps state of its own: making and destroying plans is not
// thread-safe, executing them on arrays of one's own is.
std::mutex& plannerMutex()
{
    static std::mutex mutex;
    return mutex;
}

// One segment length's transform with its buffers, in single precision:
// a segment's samples, its mean taken out, need no more than 24 bits, and
// the transform takes little more than half the time it takes in double.
// The powers are summed in double.
class Transform
{
public:
    explicit Transform(int n)
        : in(fftwf_alloc_real(std::size_t(n)))
        , out(fftwf_alloc_complex(std::size_t(n / 2 + 1)))
    {
        const std::lock_guard<std::mutex> lock(plannerMutex());
        plan = fftwf_plan_dft_r2c_1d(n, in, out, FFTW_ESTIMATE);
    }
    ~Transform()
    {
        {
            const std::lock_guard<std::mutex> lock(plannerMutex());
            fftwf_destroy_plan(plan);
        }
        fftwf_free(in);
        fftwf_free(out);
    }
    Transform(const Transform&) = delete;
    Transform& operator=(const Transform&) = delete;

    float* input() { return in; }
    const fftwf_complex* output() const { return out; }
    void run() { fftwf_execute(plan); }

private:
    float* in;
    fftwf_complex* out;
    fftwf_plan plan = nullptr;
};

double median(std::vector<double> values)
{
    if (values.empty())
        return 0.0;
    const auto middle = values.begin() + std::ptrdiff_t(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    if (values.size() % 2 == 1)
        return *middle;
    return (*middle + *std::max_element(values.begin(), middle)) / 2.0;
}

QVector<Peak> peaksOf(const QVector<double>& hz, const QVector<double>& asd)
{
    QVector<Peak> peaks;
    const int bins = asd.size();
    for (int k = 1; k + 1 < bins; ++k) {
        if (!(asd[k] > asd[k - 1]) || !(asd[k] >= asd[k + 1]))
            continue;
        std::vector<double> around;
        for (int j = std::max(1, k - PeakNeighbourhood); j <= std::min(bins - 1, k + PeakNeighbourhood); ++j)
            around.push_back(asd[j]);
        if (asd[k] > PeakFactor * median(std::move(around)))
            peaks.append({hz[k], asd[k]});
    }
    std::sort(peaks.begin(), peaks.end(), [](const Peak& a, const Peak& b) { return a.asd > b.asd; });
    if (peaks.size() > MaximumPeaks)
        peaks.resize(MaximumPeaks);
    return peaks;
}

} // namespace

int segmentLength(qint64 n)
{
    qint64 length = MinimumSegment;
    while (length * 2 <= MaximumSegment && length * 2 * SegmentsWanted <= n)
        length *= 2;
    while (length > n && length > 1)
        length /= 2;
    return int(length);
}

namespace {

// The difference of two phase values: the sum of the rate samples between.
double difference(const double* x, qint64 from, qint64 to)
{
    return x[to] - x[from];
}

double difference(const quint32* x, qint64 from, qint64 to)
{
    return qint32(x[to] - x[from]);
}

template<typename Phase>
Spectrum welchOf(const Phase* x, qint64 points, double rateHz, double sampleScale, const QString& unit)
{
    Spectrum s;
    s.unit = unit;
    const qint64 n = points - 1;
    const int length = segmentLength(n);
    if (length < 2)
        return s;
    s.nperseg = length;
    const int bins = length / 2 + 1;

    // Periodic Hann: w[i] = 0.5 - 0.5 cos(2 pi i / length).
    std::vector<double> window(static_cast<std::size_t>(length));
    double windowPower = 0.0;
    for (int i = 0; i < length; ++i) {
        window[std::size_t(i)] = 0.5 - 0.5 * std::cos(2.0 * M_PI * i / length);
        windowPower += window[std::size_t(i)] * window[std::size_t(i)];
    }

    Transform transform(length);
    std::vector<double> power(std::size_t(bins), 0.0);
    const double* w = window.data();
    const qint64 step = length / 2;
    for (qint64 start = 0; start + length <= n; start += step) {
        const Phase* segment = x + start;
        const double mean = difference(segment, 0, length) / length;
        float* in = transform.input();
        for (int i = 0; i < length; ++i)
            in[i] = float((difference(segment, i, i + 1) - mean) * w[i]);
        transform.run();
        const fftwf_complex* out = transform.output();
        double* p = power.data();
        for (int k = 0; k < bins; ++k)
            p[k] += double(out[k][0]) * out[k][0] + double(out[k][1]) * out[k][1];
        ++s.segments;
    }

    // One-sided: every bin but DC and (an even length's) Nyquist holds the
    // power of its negative frequency too.
    const double scale = sampleScale * sampleScale / (rateHz * windowPower * s.segments);
    s.hz.resize(bins);
    s.asd.resize(bins);
    std::vector<double> floorBins;
    for (int k = 0; k < bins; ++k) {
        const double twoSided = (k == 0 || k == length / 2) ? 1.0 : 2.0;
        s.hz[k] = k * rateHz / length;
        s.asd[k] = std::sqrt(power[std::size_t(k)] * scale * twoSided);
        if (k > 0 && s.hz[k] >= FloorFromHz)
            floorBins.push_back(s.asd[k]);
    }
    // A rate under 2 Hz has no band from 1 Hz: the floor is over all bins
    // but DC then.
    if (floorBins.empty())
        floorBins.assign(s.asd.cbegin() + 1, s.asd.cend());
    s.floor = median(std::move(floorBins));
    s.peaks = peaksOf(s.hz, s.asd);
    return s;
}

} // namespace

Spectrum welch(const double* x, qint64 points, double rateHz, double sampleScale, const QString& unit)
{
    return welchOf(x, points, rateHz, sampleScale, unit);
}

Spectrum welch(const quint32* x, qint64 points, double rateHz, double sampleScale, const QString& unit)
{
    return welchOf(x, points, rateHz, sampleScale, unit);
}

} // namespace Noise::Welch
