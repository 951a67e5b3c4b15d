// The whole program, as a user runs it: Parameter_in.txt in a fresh folder
// asking for y = 99621 (99998 series terms) and 1801 angles, both result
// files written. Reports the wall time of the process, its processor time
// (user + system, which other load on the machine disturbs less) and its peak
// resident memory (the maximum resident set size that /usr/bin/time -v shows).
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const char kProgram[] = COATEDMIE_PROGRAM_PATH;

const char kParameters[] =
    "99621\t1.33\t0.001\n"
    "79696.8\t1.5\t0.01\n"
    "1801\t0\t180\n";

// Runs the program in folder; returns its exit status (-1 if it did not
// exit normally), its processor time in seconds and its peak resident
// memory in KiB.
int runProgram(const std::string& folder, double& seconds, long& peakKiB) {
    const pid_t child = fork();
    if (child == 0) {
        if (chdir(folder.c_str()) != 0) _exit(127);
        execl(kProgram, kProgram, static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || wait4(child, &status, 0, &usage) != child) return -1;
    seconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
              1e-6 * static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
    peakKiB = usage.ru_maxrss;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void wholeRun(benchmark::State& state) {
    char folderTemplate[] = "/tmp/coatedmie-run-XXXXXX";
    const char* folder = mkdtemp(folderTemplate);
    if (folder == nullptr) {
        state.SkipWithError("cannot create a temporary folder");
        return;
    }
    const std::string parameterFile = std::string(folder) + "/Parameter_in.txt";
    if (std::FILE* f = std::fopen(parameterFile.c_str(), "wb")) {
        std::fputs(kParameters, f);
        std::fclose(f);
    }
    long peakKiB = 0;
    double processorSeconds = 0.0;
    for (auto _ : state) {
        long runPeak = 0;
        double runSeconds = 0.0;
        if (runProgram(folder, runSeconds, runPeak) != 0) {
            state.SkipWithError("the program did not end with status 0");
            break;
        }
        processorSeconds += runSeconds;
        peakKiB = runPeak > peakKiB ? runPeak : peakKiB;
    }
    state.counters["process_cpu_s"] = benchmark::Counter(processorSeconds, benchmark::Counter::kAvgIterations);
    state.counters["peak_MiB"] = static_cast<double>(peakKiB) / 1024.0;
    for (const char* name : {"Parameter_in.txt", "Header_Coated_TA.txt", "Mie_Coated_TA.txt"}) {
        std::remove((std::string(folder) + "/" + name).c_str());
    }
    rmdir(folder);
}

BENCHMARK(wholeRun)->Name("whole_run/y=99621/angles=1801")->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
