// --help and --version on the real program: the text on standard output,
// status 0, and not a byte of the folder touched; every other argument is
// ignored and the run goes on as without arguments.
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "program_runner.h"
#include "scratch_folder.h"

namespace coatedmie {
namespace {

using testing::RunOptions;
using testing::RunResult;
using testing::ScratchFolder;
using testing::runProgram;

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string example(const std::string& name) { return readFile(std::string(COATEDMIE_GOLDEN_DIR) + "/" + name); }

std::map<std::string, std::string> contents(const ScratchFolder& folder) {
    std::map<std::string, std::string> result;
    for (const std::string& name : folder.names()) result[name] = folder.read(name);
    return result;
}

RunResult runWith(const ScratchFolder& folder, std::vector<std::string> arguments) {
    RunOptions options;
    options.arguments = std::move(arguments);
    return runProgram(folder, options);
}

enum class Expect { usage, version };

struct OptionCase {
    std::vector<std::string> arguments;
    Expect expect;
};

const OptionCase kOptionCases[] = {
    {{"--help"}, Expect::usage},
    {{"--version"}, Expect::version},
    {{"ignored", "--help"}, Expect::usage},
    {{"--version", "--help"}, Expect::version},
    {{"--help", "--version"}, Expect::usage},
};

std::string joined(const std::vector<std::string>& arguments) {
    std::string text;
    for (const std::string& argument : arguments) text += " " + argument;
    return text;
}

// Folders an option must leave exactly as they were: a complete run's folder
// with earlier results, a folder whose parameter file is bad, an empty one.
std::vector<std::map<std::string, std::string>> folderStates() {
    return {
        {{"Parameter_in.txt", example("reference/Parameter_in.txt")},
         {"Header_Coated_TA.txt", "earlier header\r\n"},
         {"Mie_Coated_TA.txt", "earlier table\r\n"}},
        {{"Parameter_in.txt", "5\t1.5\t0.01\n3\t2.0\t0.5\n181.0\t0\t180\n"}},
        {},
    };
}

TEST(Options, PrintTheirTextExitZeroAndTouchNoFile) {
    for (const OptionCase& option : kOptionCases) {
        for (const auto& state : folderStates()) {
            SCOPED_TRACE("coatedmie" + joined(option.arguments) + " in a folder of " +
                         std::to_string(state.size()) + " files");
            ScratchFolder folder;
            for (const auto& [name, bytes] : state) folder.write(name, bytes);
            const RunResult result = runWith(folder, option.arguments);
            EXPECT_EQ(result.exitStatus, 0);
            EXPECT_EQ(result.standardError, "");
            if (option.expect == Expect::version) {
                EXPECT_EQ(result.standardOutput, "coatedmie " COATEDMIE_VERSION "\n");
            } else {
                EXPECT_EQ(result.standardOutput.rfind("Usage: coatedmie [--help | --version]\n", 0), 0u)
                    << result.standardOutput;
            }
            EXPECT_EQ(contents(folder), state);
        }
    }
}

TEST(Options, UsageSaysWhatIsReadAndWrittenTheLayoutAndEveryExitStatus) {
    ScratchFolder folder;
    const std::string usage = runWith(folder, {"--help"}).standardOutput;
    const char* const facts[] = {
        "Parameter_in.txt", "Header_Coated_TA.txt", "Mie_Coated_TA.txt",
        "  Alpha1      index1 real    index1 imaginary\n",
        "  Alpha2      index2 real    index2 imaginary\n",
        "  angleCount  startAngle     endAngle\n",
        "  5   1.5   0.01\n  3   2.0   0.5\n  3   0     180\n",
        "\n  0  success", "\n  1  bad input", "\n  2  capacity", "\n  3  a result file could not be written",
        "  --help ", "  --version ",
    };
    for (const char* fact : facts) EXPECT_NE(usage.find(fact), std::string::npos) << "missing: " << fact;
    std::istringstream lines(usage);
    int number = 0;
    for (std::string line; std::getline(lines, line);) {
        ++number;
        EXPECT_LE(line.size(), 79u) << "line " << number << " is too wide for a terminal: " << line;
        EXPECT_EQ(line.find('\t'), std::string::npos) << "line " << number;
    }
}

TEST(Options, TheUsageExampleIsAValidParameterFileForTheReferenceRun) {
    ScratchFolder folder;
    const std::string usage = runWith(folder, {"--help"}).standardOutput;
    const std::string example = "  5   1.5   0.01\n  3   2.0   0.5\n  3   0     180\n";
    ASSERT_NE(usage.find(example), std::string::npos);
    folder.write("Parameter_in.txt", example);
    const RunResult result = runProgram(folder);
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    EXPECT_EQ(folder.read("Header_Coated_TA.txt"), readFile(std::string(COATEDMIE_GOLDEN_DIR) + "/reference/Header_Coated_TA.txt"));
    EXPECT_EQ(folder.read("Mie_Coated_TA.txt"), readFile(std::string(COATEDMIE_GOLDEN_DIR) + "/reference/Mie_Coated_TA.txt"));
}

TEST(Options, AnyOtherArgumentIsIgnored) {
    const std::vector<std::vector<std::string>> ignored = {
        {"-h"}, {"-v"}, {"help"}, {"--HELP"}, {"--help=yes"}, {"--versions"}, {"-"}, {""}, {"Parameter_in.txt", "x"},
    };
    for (const auto& arguments : ignored) {
        SCOPED_TRACE("coatedmie" + joined(arguments));
        ScratchFolder folder;
        folder.write("Parameter_in.txt", example("reference/Parameter_in.txt"));
        const RunResult result = runWith(folder, arguments);
        EXPECT_EQ(result.exitStatus, 0);
        EXPECT_EQ(result.standardOutput, "");
        EXPECT_EQ(result.standardError, "");
        EXPECT_EQ(folder.read("Header_Coated_TA.txt"), example("reference/Header_Coated_TA.txt"));
        EXPECT_EQ(folder.read("Mie_Coated_TA.txt"), example("reference/Mie_Coated_TA.txt"));
    }
}

TEST(Options, StandardOutputThatCannotBeWrittenIsAnOutputFailure) {
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    for (const char* option : {"--help", "--version"}) {
        SCOPED_TRACE(option);
        ScratchFolder folder;
        const std::string command = "cd '" + folder.path() + "' && exec '" COATEDMIE_EXECUTABLE "' " + option +
                                    " </dev/null >/dev/full 2>stderr";
        const int status = std::system(command.c_str());
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 3);
        EXPECT_EQ(folder.read("stderr"), "coatedmie: cannot write to standard output: No space left on device\n");
        EXPECT_EQ(folder.names(), std::set<std::string>{"stderr"});
    }
}

}  // namespace
}  // namespace coatedmie
