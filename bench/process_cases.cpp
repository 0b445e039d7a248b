// Cases that run a process: start-up to the first painted window, and peak memory.

#include "bench/cases.h"
#include "app/form1.h"

#include <QFile>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <spawn.h>
#include <string>
#include <sys/wait.h>

extern char** environ;

namespace bench {

namespace {

// Wall time from starting the program until it has exited after its first paint.
void StartUp(benchmark::State& state, const char* program)
{
    for (auto _ : state) {
        char* args[] = {const_cast<char*>(program), nullptr};
        const auto start = std::chrono::steady_clock::now();
        pid_t pid = 0;
        if (posix_spawn(&pid, program, nullptr, nullptr, args, environ) != 0) {
            state.SkipWithError("cannot start the program");
            break;
        }
        int status = 0;
        waitpid(pid, &status, 0);
        const auto end = std::chrono::steady_clock::now();
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("the program failed");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
    }
}

// A field of /proc/self/status, in bytes.
double StatusBytes(const std::string& field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field + ":", 0) == 0)
            return std::atof(line.c_str() + field.size() + 1) * 1024.0;
    }
    return 0;
}

}  // namespace

std::vector<Row> RegisterProcessCases()
{
    auto configure = [](benchmark::internal::Benchmark* b) {
        b->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(10)->Repetitions(3)->ReportAggregatesOnly(true);
    };
    configure(benchmark::RegisterBenchmark("startup/mozario",
                                           [](benchmark::State& s) { StartUp(s, MOZARIO_STARTUP_PROBE); }));
    configure(benchmark::RegisterBenchmark("startup/minimal",
                                           [](benchmark::State& s) { StartUp(s, MINIMAL_WINDOW_PROBE); }));
    return {{"start-up to first painted window (vs minimal Qt Widgets window)", "startup/mozario",
             "startup/minimal", 1, 1.3}};
}

int MemoryChild(const QString& jpegPath)
{
    TForm1* form = CreateMainWindow();
    auto paint = [form] { PaintBoardAndPreview(form); };
    paint();
    const double base = StatusBytes("VmRSS");
    // Resets the peak to the present size, so the peak measured covers only what follows.
    std::ofstream("/proc/self/clear_refs") << "5";

    form->TakePicture(jpegPath);
    paint();
    const double pictureBytes = double(form->Image2->Picture().image().sizeInBytes());
    form->N811Click(form);
    form->N2Click(form);
    paint();
    const int last = form->Game.GridSide * form->Game.GridSide - 1;
    for (int i = 0; i < 10; ++i) {
        if (form->Game.Playing != 1)
            form->N2Click(form);
        PressCell(form, i % last);
        paint();
        PressCell(form, last - i % last);
        paint();
        form->Timer2Timer(form);
        paint();
    }
    const double peak = StatusBytes("VmHWM");
    std::printf("%.0f %.0f %.0f\n", base, peak, pictureBytes);
    return 0;
}

std::vector<Row> MeasureMemory(const char* self)
{
    const std::string command = "'" + std::string(self) + "' --memory-child '"
        + QFile::encodeName(Shared().colourJpeg).toStdString() + "'";
    double base = 0, peak = 0, pictureBytes = 0;
    if (std::FILE* child = popen(command.c_str(), "r")) {
        if (std::fscanf(child, "%lf %lf %lf", &base, &peak, &pictureBytes) != 3)
            peak = 0;
        pclose(child);
    }
    if (peak > 0) {
        SetFigure("memory/peak_above_base", peak - base);
        SetFigure("memory/picture_bytes", pictureBytes);
    }
    return {{"peak memory above start after load, New game, 10 exchanges (vs picture bytes)",
             "memory/peak_above_base", "memory/picture_bytes", 1, 3.3, Unit::Megabytes}};
}

}  // namespace bench
