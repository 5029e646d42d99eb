#pragma once
// What the rounds measured, and the targets held against it.

#include "bench/bench.h"

#include <QString>
#include <QTextStream>
#include <map>
#include <vector>

namespace bench {

// The middle value (the mean of the two middle ones for an even count).
double median(std::vector<double> s);

struct Result {
    std::vector<double> seconds; // one a round; every peer runs once a round
    int64_t peak = 0;
};

struct Scenario {
    QString title;
    Amount walked;                  // files the tools look at
    Amount written;                 // files and bytes they must copy
    std::map<QString, Result> runs; // by peer
};

enum ScenarioId {
    FullCopy,
    NoOp,
    OnePercent,
    Large,
    SecondNoOp,
    Verify,
    VerifyLarge,
    ScenarioCount
};

// A verification scenario, whose peers are Pelivor's verification and cmp.
inline bool verifies(int id) {
    return id == Verify || id == VerifyLarge;
}

// Pelivor's time over the peer's, one figure a round, so that a round in
// which the disk was busy for everyone weighs as little as a quiet one.
struct Ratio {
    double ofMedians = 0, low = 0, high = 0;
};

Ratio ratio(const Result& ours, const Result& theirs);

// Prints each target of the volume `options` names, "met" or "MISSED" or
// "not measured", and keeps it in `into`; then ESC on a share and the peak
// memory where the Pelivor timed ran in this process (`inProcess`).
void printTargets(QTextStream& out, const BenchOptions& options,
                  const Scenario (&scenarios)[ScenarioCount], const std::vector<double>& stopMs,
                  bool inProcess, std::vector<TargetResult>& into);

} // namespace bench
