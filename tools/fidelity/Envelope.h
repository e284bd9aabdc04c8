// Loudness envelopes of two renderings and how well they match.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace korvalin::fidelity {

// RMS of each whole frame of `frameLength` samples (a last partial frame is
// dropped: it would read as a short dip in loudness).
inline std::vector<double> rmsEnvelope(const std::vector<float>& samples, std::size_t frameLength) {
    std::vector<double> env;
    if (frameLength == 0) return env;
    for (std::size_t start = 0; start + frameLength <= samples.size(); start += frameLength) {
        double sum = 0.0;
        for (std::size_t i = start; i < start + frameLength; ++i)
            sum += static_cast<double>(samples[i]) * static_cast<double>(samples[i]);
        env.push_back(std::sqrt(sum / static_cast<double>(frameLength)));
    }
    return env;
}

// Pearson correlation of a[i] with b[i + lag] over the frames both have.
// Fewer than two common frames, or a flat series, give 0.
inline double correlationAtLag(const std::vector<double>& a, const std::vector<double>& b,
                               long lag) {
    const long na = static_cast<long>(a.size()), nb = static_cast<long>(b.size());
    const long first = lag < 0 ? -lag : 0;
    const long last = std::min(na, nb - lag);  // exclusive
    if (last - first < 2) return 0.0;
    double ma = 0, mb = 0;
    for (long i = first; i < last; ++i) {
        ma += a[static_cast<std::size_t>(i)];
        mb += b[static_cast<std::size_t>(i + lag)];
    }
    const double n = static_cast<double>(last - first);
    ma /= n;
    mb /= n;
    double sab = 0, saa = 0, sbb = 0;
    for (long i = first; i < last; ++i) {
        const double da = a[static_cast<std::size_t>(i)] - ma;
        const double db = b[static_cast<std::size_t>(i + lag)] - mb;
        sab += da * db;
        saa += da * da;
        sbb += db * db;
    }
    if (saa <= 0 || sbb <= 0) return 0.0;
    return sab / std::sqrt(saa * sbb);
}

struct BestLag {
    double correlation = 0.0;
    long lag = 0;  // frames; positive when b lags behind a
};

// The lag within +-maxLag frames with the highest correlation; on equal
// values the smaller shift wins.
inline BestLag bestCorrelation(const std::vector<double>& a, const std::vector<double>& b,
                               long maxLag) {
    BestLag best{correlationAtLag(a, b, 0), 0};
    for (long d = 1; d <= maxLag; ++d) {
        for (long lag : {d, -d}) {
            const double c = correlationAtLag(a, b, lag);
            if (c > best.correlation) best = {c, lag};
        }
    }
    return best;
}

// Onset strength: how much louder each frame is than the one before (rises
// only), so two renderings agree on it when their notes start together.
inline std::vector<double> onsetStrength(const std::vector<double>& env) {
    std::vector<double> onsets(env.size(), 0.0);
    for (std::size_t i = 1; i < env.size(); ++i) onsets[i] = std::max(0.0, env[i] - env[i - 1]);
    return onsets;
}

// Length in seconds up to the end of the last frame louder than `floorDb`
// below the loudest frame: the audible length, without a silent tail.
inline double soundingSeconds(const std::vector<double>& env, double frameSeconds,
                              double floorDb = -50.0) {
    double peak = 0;
    for (double v : env) peak = std::max(peak, v);
    if (peak <= 0) return 0.0;
    const double threshold = peak * std::pow(10.0, floorDb / 20.0);
    for (std::size_t i = env.size(); i-- > 0;)
        if (env[i] > threshold) return static_cast<double>(i + 1) * frameSeconds;
    return 0.0;
}

}  // namespace korvalin::fidelity
