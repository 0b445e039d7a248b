#pragma once
// Collects the benchmark's figures and prints the table of project against reference.

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace bench {

// Passes every run on to the console and keeps the median time of each case, in seconds.
class CollectingReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override;
    const std::map<std::string, double>& medians() const { return medians_; }

private:
    std::map<std::string, double> medians_;
};

enum class Unit { Milliseconds, Megabytes };

struct Row {
    std::string label;
    std::string project;    // case name, or a figure set with SetFigure
    std::string reference;
    double referenceScale;  // the reference figure is multiplied by this
    double target;          // largest acceptable ratio
    Unit unit = Unit::Milliseconds;
};

// Figures measured outside the timing framework (memory), in the row's unit's base (bytes).
void SetFigure(const std::string& name, double value);

// Prints the table; returns how many rows miss their target.
int PrintTable(const std::vector<Row>& rows, const std::map<std::string, double>& medians);

}  // namespace bench
