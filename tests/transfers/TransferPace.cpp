#include "TransferPace.h"

#include <algorithm>
#include <limits>

#include "TransferPacer.h"

TransferPace::TransferPace(const Samples& samples, qint64 fromMs, qint64 longestStepMs)
{
    const QPair<qint64, qint64>* last = nullptr;
    for (int i = 0; i < samples.size(); ++i) {
        const auto& sample = samples[i];
        if (sample.first < fromMs || (last && sample.second == last->second))
            continue;
        const bool stoodAfter = i + 1 < samples.size() && samples[i + 1].second == sample.second;
        if (last && sample.first - last->first <= longestStepMs && !stoodAfter) {
            m_movingMs += sample.first - last->first;
            m_moved += sample.second - last->second;
        }
        last = &sample;
    }
}

double TransferPace::KibPerSecond() const
{
    return m_movingMs > 0 ? double(m_moved) * 1000 / 1024 / double(m_movingMs) : 0;
}

qint64 TransferPace::At(const Samples& samples, qint64 ms)
{
    qint64 position = 0;
    for (const auto& sample : samples) {
        if (sample.first > ms)
            break;
        position = sample.second;
    }
    return position;
}

qint64 TransferPace::MostAhead(const QList<Samples>& transfers, double limitKib)
{
    qint64 most = std::numeric_limits<qint64>::min();
    for (const Samples& samples : transfers)
        for (const auto& sample : samples) {
            qint64 moved = 0;
            for (const Samples& each : transfers)
                moved += At(each, sample.first);
            most = std::max(most, moved - qint64(limitKib * 1024 * double(sample.first) / 1000));
        }
    return most;
}

qint64 TransferPace::FirstChunks(int transfers, int limitKib)
{
    return transfers * std::clamp(qint64(limitKib) * 1024 / 10, TransferPacer::MinChunk, TransferPacer::MaxChunk);
}

qint64 TransferPace::LongestGap(const Samples& samples, qint64 fromMs, qint64 toMs)
{
    qint64 longest = 0;
    for (int i = 1; i < samples.size(); ++i)
        if (samples[i].first >= fromMs && samples[i - 1].first <= toMs)
            longest = std::max(longest, samples[i].first - samples[i - 1].first);
    return longest;
}
