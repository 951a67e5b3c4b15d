// --help and --version on the real program: the text on standard output,
// status 0, and not a byte of the folder touched; every other argument is
// ignored and the run goes on as without arguments.
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "program_runner.h"

namespace coatedmie {
namespace {

using namespace testing;

RunResult runWith(const ScratchFolder& folder, std::vector<std::string> arguments) {
    RunOptions options;
    options.arguments = std::move(arguments);
    return runProgram(folder, options);
}

std::string joined(const std::vector<std::string>& arguments) {
    std::string text = "coatedmie";
    for (const std::string& argument : arguments) text += " " + argument;
    return text;
}

TEST(Options, PrintTheirTextExitZeroAndTouchNoFile) {
    const struct {
        std::vector<std::string> arguments;
        bool version;  // else the usage text
    } cases[] = {
        {{"--help"}, false},         {{"--version"}, true},          {{"ignored", "--help"}, false},
        {{"--version", "--help"}, true}, {{"--help", "--version"}, false},
    };
    // Earlier results and a parameter file that a run would refuse: reading
    // it, running or writing would show in the status, the output or a file.
    const std::map<std::string, std::string> state = {
        {kParameters, "5\t1.5\t0.01\n3\t2.0\t0.5\n181.0\t0\t180\n"},
        {kHeader, "earlier header\r\n"},
        {kTable, "earlier table\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(joined(c.arguments));
        ScratchFolder folder;
        for (const auto& [name, bytes] : state) folder.write(name, bytes);
        const RunResult result = runWith(folder, c.arguments);
        EXPECT_EQ(result.exitStatus, 0);
        EXPECT_EQ(result.standardError, "");
        if (c.version) {
            EXPECT_EQ(result.standardOutput, "coatedmie " COATEDMIE_VERSION "\n");
        } else {
            EXPECT_EQ(result.standardOutput.rfind("Usage: coatedmie [--help | --version]\n", 0), 0u);
        }
        std::map<std::string, std::string> after;
        for (const std::string& name : folder.names()) after[name] = folder.read(name);
        EXPECT_EQ(after, state);
    }
}

TEST(Options, UsageSaysWhatIsReadAndWrittenTheLayoutAndEveryExitStatus) {
    ScratchFolder folder;
    const std::string usage = runWith(folder, {"--help"}).standardOutput;
    const std::string example = "  5   1.5   0.01\n  3   2.0   0.5\n  3   0     180\n";
    const std::string facts[] = {
        kParameters, kHeader, kTable,
        "  Alpha1      index1 real    index1 imaginary\n"
        "  Alpha2      index2 real    index2 imaginary\n"
        "  angleCount  startAngle     endAngle\n",
        example,
        "\n  0  success", "\n  1  bad input", "\n  2  capacity", "\n  3  a result file could not be written",
    };
    for (const std::string& fact : facts) EXPECT_NE(usage.find(fact), std::string::npos) << "missing: " << fact;
    std::istringstream lines(usage);
    for (std::string line; std::getline(lines, line);) {
        EXPECT_LE(line.size(), 79u) << "too wide for a terminal: " << line;
        EXPECT_EQ(line.find('\t'), std::string::npos) << line;
    }
    // The example is a valid parameter file for the reference run.
    folder.write(kParameters, example);
    EXPECT_EQ(runProgram(folder).exitStatus, 0);
    EXPECT_EQ(folder.read(kTable), golden("reference/Mie_Coated_TA.txt"));
}

TEST(Options, AnyOtherArgumentIsIgnored) {
    ScratchFolder folder;
    folder.write(kParameters, golden("reference/Parameter_in.txt"));
    const RunResult result = runWith(folder, {"-h", "-v", "--HELP", "--help=yes", "--versions", "", "x"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.standardOutput + result.standardError, "");
    EXPECT_EQ(folder.read(kTable), golden("reference/Mie_Coated_TA.txt"));
}

TEST(Options, StandardOutputThatCannotBeWrittenIsAnOutputFailure) {
    for (const char* option : {"--help", "--version"}) {
        SCOPED_TRACE(option);
        ScratchFolder folder;
        RunOptions options;
        options.arguments = {option};
        options.standardOutput = "/dev/full";
        const RunResult result = runProgram(folder, options);
        EXPECT_EQ(result.exitStatus, 3);
        EXPECT_EQ(result.standardError, "coatedmie: cannot write to standard output: No space left on device\n");
        EXPECT_TRUE(folder.names().empty());
    }
}

}  // namespace
}  // namespace coatedmie
