#include "bench/results.h"

#include <cstdio>

namespace bench {

namespace {

std::map<std::string, double>& Figures()
{
    static std::map<std::string, double> figures;
    return figures;
}

}  // namespace

void CollectingReporter::ReportRuns(const std::vector<Run>& runs)
{
    for (const Run& run : runs) {
        if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
            medians_[run.run_name.function_name] =
                run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
    }
    ConsoleReporter::ReportRuns(runs);
}

void SetFigure(const std::string& name, double value)
{
    Figures()[name] = value;
}

int PrintTable(const std::vector<Row>& rows, const std::map<std::string, double>& medians)
{
    auto find = [&](const std::string& name, double& value) {
        if (auto it = medians.find(name); it != medians.end()) {
            value = it->second;
            return true;
        }
        if (auto it = Figures().find(name); it != Figures().end()) {
            value = it->second;
            return true;
        }
        return false;
    };
    int missed = 0;
    std::printf("\n| case | project | reference | ratio | target | met |\n");
    std::printf("|---|---:|---:|---:|---:|---|\n");
    for (const Row& row : rows) {
        double project = 0, reference = 0;
        if (!find(row.project, project) || !find(row.reference, reference)) {
            std::printf("| %s | - | - | - | %.2f | not run |\n", row.label.c_str(), row.target);
            continue;
        }
        reference *= row.referenceScale;
        const double ratio = project / reference;
        const bool met = ratio <= row.target;
        missed += met ? 0 : 1;
        const double scale = row.unit == Unit::Megabytes ? 1.0 / (1024 * 1024) : 1e3;
        const char* unit = row.unit == Unit::Megabytes ? "MiB" : "ms";
        std::printf("| %s | %.3f %s | %.3f %s | %.2f | %.2f | %s |\n", row.label.c_str(),
                    project * scale, unit, reference * scale, unit, ratio, row.target,
                    met ? "met" : "NOT MET");
    }
    return missed;
}

}  // namespace bench
