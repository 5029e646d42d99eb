#include "bench/targets.h"

#include <algorithm>

namespace bench {

double median(std::vector<double> s) {
    std::sort(s.begin(), s.end());
    const size_t n = s.size();
    return n == 0 ? 0 : n % 2 ? s[n / 2] : (s[n / 2 - 1] + s[n / 2]) / 2;
}

Ratio ratio(const Result& ours, const Result& theirs) {
    Ratio r;
    r.ofMedians = median(ours.seconds) / median(theirs.seconds);
    r.low = 1e300;
    for (size_t i = 0; i < std::min(ours.seconds.size(), theirs.seconds.size()); ++i) {
        const double x = ours.seconds[i] / theirs.seconds[i];
        r.low = std::min(r.low, x);
        r.high = std::max(r.high, x);
    }
    return r;
}

void printTargets(QTextStream& out, const BenchOptions& options,
                  const Scenario (&scenarios)[ScenarioCount], const std::vector<double>& stopMs,
                  bool inProcess, std::vector<TargetResult>& into) {
    // `faster`: the peer's time over ours, at least `limit`; otherwise our
    // time over the peer's, at most `limit`. `ours` is the Pelivor held to it.
    struct Target {
        ScenarioId scenario;
        const char* ours;
        const char* peer;
        bool faster;
        double limit;
    };
    // The user's view: the flushed floor is the one a run that flushes is
    // held against.
    static const Target disk[] = {{NoOp, "pelivor", "floor", false, 1.10},
                                  {SecondNoOp, "pelivor", "floor", false, 1.10},
                                  {NoOp, "pelivor", "rsync+sync", false, 0.6},
                                  {FullCopy, "pelivor", "floorR+sync", false, 1.05},
                                  {OnePercent, "pelivor", "floorR+sync", false, 1.10},
                                  {Large, "pelivor", "cp+sync", true, 0.95},
                                  {Verify, "pelivor", "cmp", true, 0.9},
                                  {VerifyLarge, "pelivor", "cmp", true, 0.9}};
    // No disk: on one thread no cost over the floor, and with the pool both
    // cores at work.
    static const Target tmpfs[] = {{FullCopy, "pelivor1", "floorR", false, 1.05},
                                   {OnePercent, "pelivor1", "floorR", false, 1.05},
                                   {NoOp, "pelivor1", "floor", false, 1.05},
                                   {FullCopy, "pelivor", "cp", true, 1.6},
                                   {FullCopy, "pelivor", "floorR", true, 1.6},
                                   {NoOp, "pelivor", "floor", true, 1.4},
                                   {Verify, "pelivor", "cmp", true, 0.9},
                                   {VerifyLarge, "pelivor", "cmp", true, 0.9}};
    static const Target share[] = {
        {NoOp, "pelivor", "rsync", true, 4},       {NoOp, "pelivor", "cp", true, 4},
        {OnePercent, "pelivor", "rsync", true, 4}, {OnePercent, "pelivor", "cp", true, 4},
        {FullCopy, "pelivor", "rsync", true, 1.5}, {FullCopy, "pelivor", "cp", true, 1.5},
        {Verify, "pelivor", "cmp", true, 0.9},     {VerifyLarge, "pelivor", "cmp", true, 0.9}};
    static const Target farShare[] = {
        {NoOp, "pelivor", "rsync", true, 10},      {NoOp, "pelivor", "cp", true, 10},
        {OnePercent, "pelivor", "rsync", true, 6}, {OnePercent, "pelivor", "cp", true, 6},
        {FullCopy, "pelivor", "cp", true, 3},      {FullCopy, "pelivor", "rsync", true, 6},
        {Verify, "pelivor", "cmp", true, 0.9},     {VerifyLarge, "pelivor", "cmp", true, 0.9}};
    const bool far = options.latencyMs >= farShareMs;
    out << QStringLiteral("\nTargets:\n");
    const auto check = [&](const Target& t) {
        // A tree without large files (the tmpfs's and the shares' default)
        // has nothing to hold the large-file targets to.
        if ((t.scenario == Large || t.scenario == VerifyLarge) && options.shape.large == 0)
            return;
        const Scenario& s = scenarios[t.scenario];
        const QString ours = QLatin1String(t.ours), peer = QLatin1String(t.peer);
        TargetResult result;
        result.text = QStringLiteral("%1, %2 vs %3: ").arg(s.title, ours, peer);
        if (!s.runs.contains(ours) || !s.runs.contains(peer)) {
            result.text += QStringLiteral("not measured");
            report(out, into, result);
            return;
        }
        const Ratio r = ratio(s.runs.at(ours), s.runs.at(peer));
        bool met = false;
        if (t.faster) {
            // As fast as: the inverse, its range turned round.
            const double x = 1 / r.ofMedians;
            result.text += QStringLiteral("%1x %2 (%3-%4 per round), at least %5x")
                               .arg(x, 0, 'f', 2)
                               .arg(t.scenario == Large || verifies(t.scenario)
                                        ? QStringLiteral("its throughput")
                                        : QStringLiteral("as fast"))
                               .arg(1 / r.high, 0, 'f', 2)
                               .arg(1 / r.low, 0, 'f', 2)
                               .arg(t.limit);
            met = x >= t.limit;
        } else {
            result.text += QStringLiteral("%1x its time (%2-%3 per round), at most %4x")
                               .arg(r.ofMedians, 0, 'f', 2)
                               .arg(r.low, 0, 'f', 2)
                               .arg(r.high, 0, 'f', 2)
                               .arg(t.limit, 0, 'f', 2);
            met = r.ofMedians <= t.limit;
        }
        result.state = met ? TargetResult::Met : TargetResult::Missed;
        report(out, into, result);
    };
    switch (options.volume) {
    case Volume::Disk:
        std::for_each(std::begin(disk), std::end(disk), check);
        break;
    case Volume::Tmpfs:
        std::for_each(std::begin(tmpfs), std::end(tmpfs), check);
        break;
    case Volume::Share:
        if (far)
            std::for_each(std::begin(farShare), std::end(farShare), check);
        else
            std::for_each(std::begin(share), std::end(share), check);
        break;
    }

    if (options.volume == Volume::Share && inProcess) {
        const double limit = far ? 100 : 50;
        TargetResult stop{QStringLiteral("ESC in a full copy: ")};
        if (stopMs.empty()) {
            stop.text += QStringLiteral("not measured (every run ended before the key)");
        } else {
            const double worst = *std::max_element(stopMs.begin(), stopMs.end());
            stop.text += QStringLiteral("stopped %1 ms after the key (at most %2 in %3 runs), at "
                                        "most %4")
                             .arg(median(stopMs), 0, 'f', 1)
                             .arg(worst, 0, 'f', 1)
                             .arg(stopMs.size())
                             .arg(limit);
            stop.state = worst <= limit ? TargetResult::Met : TargetResult::Missed;
        }
        report(out, into, stop);
    }

    int64_t peak = 0;
    for (const Scenario& s : scenarios)
        for (const auto& [name, result] : s.runs)
            peak = std::max(peak, result.peak);
    if (inProcess && options.volume != Volume::Share)
        report(out, into,
               {QStringLiteral("peak memory in these runs: %1 MiB, at most 64")
                    .arg(double(peak) / (1 << 20), 0, 'f', 1),
                peak <= (int64_t(64) << 20) ? TargetResult::Met : TargetResult::Missed});
}

void report(QTextStream& out, std::vector<TargetResult>& into, TargetResult result) {
    out << QStringLiteral("  ") << result.text;
    if (result.state != TargetResult::NotMeasured)
        out << (result.state == TargetResult::Met ? QStringLiteral(": met")
                                                  : QStringLiteral(": MISSED"));
    out << '\n';
    into.push_back(std::move(result));
}

} // namespace bench
