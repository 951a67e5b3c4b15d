#include "run_driver.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <termios.h>
#include <unistd.h>

#include <coatedmie/engine.h>

#include "angle_grid.h"
#include "output_file.h"
#include "parameter_file.h"
#include "result_files.h"

namespace coatedmie {
namespace {

// Angles go to the engine in chunks: it evaluates a chunk side by side, many
// times faster than one angle per call, and the chunk fits on the stack.
constexpr int kAngleChunk = 256;

void reportProblem(const std::string& text) {
    std::fprintf(stderr, "coatedmie: %s\n", text.c_str());
}

void reportWriteFailure(const char* fileName, int error, const char* note = "") {
    std::fprintf(stderr, "coatedmie: cannot write %s: %s%s\n", fileName, std::strerror(error), note);
}

termios savedTerminal;

extern "C" void restoreTerminalAndDie(int signalNumber) {
    tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}

// One key press, echoed, without Enter: the terminal leaves line mode for
// the read and gets its settings back afterwards, also on Ctrl-C. Scripts
// and CI (standard input not a terminal) never wait.
void waitForKeyPress() {
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &savedTerminal) != 0) return;
    termios oneKey = savedTerminal;
    oneKey.c_lflag &= ~static_cast<tcflag_t>(ICANON);
    oneKey.c_lflag |= ECHO;
    oneKey.c_cc[VMIN] = 1;
    oneKey.c_cc[VTIME] = 0;
    struct sigaction restore {};
    restore.sa_handler = restoreTerminalAndDie;
    sigemptyset(&restore.sa_mask);
    struct sigaction previousInterrupt {}, previousQuit {};
    sigaction(SIGINT, &restore, &previousInterrupt);
    sigaction(SIGQUIT, &restore, &previousQuit);
    if (tcsetattr(STDIN_FILENO, TCSANOW, &oneKey) == 0) {
        char key;
        while (read(STDIN_FILENO, &key, 1) < 0 && errno == EINTR) {
        }
        tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
    }
    sigaction(SIGINT, &previousInterrupt, nullptr);
    sigaction(SIGQUIT, &previousQuit, nullptr);
}

int stopAtCapacity() {
    std::fprintf(stderr, "%s\n", kCapacityMessage);
    waitForKeyPress();
    return kExitCapacity;
}

void writeTable(OutputFile& file, const AngleGrid& grid, const Engine& engine) {
    double degrees[kAngleChunk];
    double radians[kAngleChunk];
    double I1[kAngleChunk];
    double I2[kAngleChunk];
    writeTableColumnLine(file);
    for (std::int64_t first = 1; first <= grid.angleCount && file.error == 0; first += kAngleChunk) {
        const int count = static_cast<int>(std::min<std::int64_t>(kAngleChunk, grid.angleCount - first + 1));
        fillAngles(grid, first, count, degrees, radians);
        engine.intensities(radians, count, I1, I2);
        for (int k = 0; k < count; ++k) {
            writeTableLine(file, degrees[k], I1[k], I2[k]);
        }
    }
}

// Writes both files under temporary names and renames them into place once
// both are complete.
int writeResultFiles(const RunParameters& parameters, const Engine& engine) {
    static OutputFile file;
    static StagedFile header;
    static StagedFile table;
    removeOnInterrupt(header);
    removeOnInterrupt(table);

    const char* failedName = kHeaderFileName;
    int error = stageFile(header, kHeaderFileName, file);
    if (error == 0) {
        writeHeader(file, parameters, engine.efficiencies());
        error = closeOutputFile(file);
    }
    if (error == 0) {
        failedName = kTableFileName;
        error = stageFile(table, kTableFileName, file);
        if (error == 0) {
            writeTable(file, makeAngleGrid(parameters.angleCount, parameters.startAngle, parameters.endAngle),
                       engine);
            error = closeOutputFile(file);
        }
    }
    bool headerReplaced = false;
    if (error == 0) {
        failedName = kHeaderFileName;
        error = commitStagedFile(header);
        headerReplaced = error == 0;
    }
    if (error == 0) {
        failedName = kTableFileName;
        error = commitStagedFile(table);
    }
    discardStagedFile(header);
    discardStagedFile(table);
    releaseOnInterrupt(header);
    releaseOnInterrupt(table);
    if (error == 0) return kExitSuccess;
    reportWriteFailure(failedName, error,
                       headerReplaced ? " (Header_Coated_TA.txt holds the new results already)" : "");
    return kExitOutputFailure;
}

}  // namespace

int runDriver() {
    RunParameters parameters;
    std::string problem;
    if (!readParameterFile(kParameterFileName, parameters, problem)) {
        reportProblem(problem);
        return kExitBadInput;
    }

    // Decided before any file is touched.
    switch (checkRunParameters(parameters, kParameterFileName, problem)) {
        case InputProblem::none:
            break;
        case InputProblem::beyondCapacity:
            return stopAtCapacity();
        default:
            reportProblem(problem);
            return kExitBadInput;
    }

    const char* const outputNames[] = {kHeaderFileName, kTableFileName};
    for (const char* name : outputNames) {
        if (const int error = checkReplaceable(name)) {
            reportWriteFailure(name, error);
            return kExitOutputFailure;
        }
    }

    Engine engine;
    if (engine.compute({parameters.Alpha1, {parameters.index1Re, parameters.index1Im}},
                       {parameters.Alpha2, {parameters.index2Re, parameters.index2Im}}) == 0) {
        // The term count fitted, so the engine gave up on a continued
        // fraction that would not end (an index far too large for its
        // layer), or could not allocate its tables.
        reportProblem(std::string(kParameterFileName) +
                      ": a refractive index times its size parameter is too large "
                      "for the computation to finish");
        return kExitBadInput;
    }

    return writeResultFiles(parameters, engine);
}

}  // namespace coatedmie
