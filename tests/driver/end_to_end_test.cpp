// The real program in a fresh folder: result files byte for byte against
// hand-written golden files, and every failure with its exit status, its
// message, and the previous results left exactly as they were.
#include <fcntl.h>
#include <set>
#include <string>
#include <sys/stat.h>
#include <termios.h>
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

constexpr char kParameters[] = "Parameter_in.txt";
constexpr char kHeader[] = "Header_Coated_TA.txt";
constexpr char kTable[] = "Mie_Coated_TA.txt";

std::string golden(const std::string& name) {
    std::ifstream in(std::string(COATEDMIE_GOLDEN_DIR) + "/" + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

const std::string kReferenceParameters = "5\t1.5\t0.01\n3\t2.0\t0.5\n3\t0\t180\n";
const std::string kColumnLine = "Angle(Deg)\tI1\tI2\tItotal\r\n";
// The three lines of the published reference run.
const std::string kLineAt0 = "0.000000\t3.947263e+002\t3.947263e+002\t7.894525e+002\r\n";
const std::string kLineAt90 = "90.000000\t5.519364e+000\t7.590923e-001\t6.278456e+000\r\n";
const std::string kLineAt180 = "180.000000\t1.644918e+000\t1.644918e+000\t3.289836e+000\r\n";

const std::string kOldHeader = "results of an earlier run\r\n";
const std::string kOldTable = "Angle(Deg)\tI1\tI2\tItotal\r\nearlier table\r\n";

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
        lines.push_back(text.substr(start, end + 2 - start));
    }
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

void expectQuietSuccess(const RunResult& result) {
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.standardOutput, "");
    EXPECT_EQ(result.standardError, "");
}

const std::set<std::string> kAllThree{kParameters, kHeader, kTable};

TEST(ReferenceRun, WritesBothGoldenFilesByteForByte) {
    ScratchFolder folder;
    folder.write(kParameters, golden("reference/Parameter_in.txt"));
    expectQuietSuccess(runProgram(folder));
    EXPECT_EQ(folder.read(kHeader), golden("reference/Header_Coated_TA.txt"));
    EXPECT_EQ(folder.read(kTable), golden("reference/Mie_Coated_TA.txt"));
    EXPECT_EQ(folder.names(), kAllThree);
}

TEST(ReferenceRun, ReplacesTheResultsOfAnEarlierRun) {
    ScratchFolder folder;
    folder.write(kParameters, kReferenceParameters);
    folder.write(kHeader, kOldHeader + std::string(100000, 'x'));
    folder.write(kTable, kOldTable);
    expectQuietSuccess(runProgram(folder));
    EXPECT_EQ(folder.read(kHeader), golden("reference/Header_Coated_TA.txt"));
    EXPECT_EQ(folder.read(kTable), golden("reference/Mie_Coated_TA.txt"));
    EXPECT_EQ(folder.names(), kAllThree);
}

TEST(ReferenceRun, HeaderExampleWithAnEmptyGrid) {
    ScratchFolder folder;
    folder.write(kParameters, "1\t1.5\t0.01\n0.5\t1.33\t0\n0\t0\t180\n");
    expectQuietSuccess(runProgram(folder));
    const std::vector<std::string> header = splitLines(folder.read(kHeader));
    ASSERT_EQ(header.size(), 5u);
    EXPECT_EQ(header[0], "Alpha1=1.000000\tRefractive index_m1=(1.500000, 0.010000)\r\n");
    EXPECT_EQ(header[1], "Alpha2=0.500000\tRefractive index_m2=(1.330000, 0.000000)\r\n");
    EXPECT_EQ(header[2], "\r\n");
    // No published values for this sphere: the layout of the line only.
    EXPECT_EQ(header[3].find("Kext=0."), 0u) << header[3];
    EXPECT_NE(header[3].find(", Ksca=0."), std::string::npos) << header[3];
    EXPECT_NE(header[3].find(", Kabs=0."), std::string::npos) << header[3];
    EXPECT_EQ(header[4], "\r\n");
    EXPECT_EQ(folder.read(kTable), kColumnLine);
}

TEST(ReferenceRun, HeaderShowsTheInputsAsReadNotReorderedNorSignNormalised) {
    ScratchFolder folder;
    folder.write(kParameters, "3\t2.0\t-0.5\n5\t1.5\t-0.01\n0\t0\t180\n");
    expectQuietSuccess(runProgram(folder));
    const std::vector<std::string> header = splitLines(folder.read(kHeader));
    ASSERT_EQ(header.size(), 5u);
    EXPECT_EQ(header[0], "Alpha1=3.000000\tRefractive index_m1=(2.000000, -0.500000)\r\n");
    EXPECT_EQ(header[1], "Alpha2=5.000000\tRefractive index_m2=(1.500000, -0.010000)\r\n");
    // Layer order and sign convention change nothing physical.
    EXPECT_EQ(header[3], "Kext=3.135894, Ksca=2.011933, Kabs=1.123961\r\n");
}

struct LayoutCase {
    const char* name;
    std::string parameters;
};

TEST(ParameterLayouts, EveryLayoutGivesTheGoldenFiles) {
    const LayoutCase cases[] = {
        {"one line, single spaces", "5 1.5 0.01 3 2.0 0.5 3 0 180"},
        {"CR LF line ends", "5\t1.5\t0.01\r\n3\t2.0\t0.5\r\n3\t0\t180\r\n"},
        {"extra blank lines", "\n\n5\t1.5\t0.01\n\n\n3\t2.0\t0.5\n\r\n\n3\t0\t180\n\n\n\n"},
        {"0x1A after the ninth number, then garbage",
         std::string("5\t1.5\t0.01\n3\t2.0\t0.5\n3\t0\t180\x1A") + "\xFF\xFE garbage 1 2 3\n"},
        {"UTF-8 byte-order mark", "\xEF\xBB\xBF" "5\t1.5\t0.01\n3\t2.0\t0.5\n3\t0\t180\n"},
        {"other spellings of the same numbers", "+5e0 15E-1 .01\n3. 2 0.5e0\n+3 0.0 1.8e2\n"},
    };
    for (const LayoutCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchFolder folder;
        folder.write(kParameters, c.parameters);
        expectQuietSuccess(runProgram(folder));
        EXPECT_EQ(folder.read(kHeader), golden("reference/Header_Coated_TA.txt"));
        EXPECT_EQ(folder.read(kTable), golden("reference/Mie_Coated_TA.txt"));
    }
}

std::string referenceSphereWithGrid(const std::string& gridLine) {
    return "5\t1.5\t0.01\n3\t2.0\t0.5\n" + gridLine + "\n";
}

TEST(AngleGridRuns, WholeDegreesFrom0To180) {
    ScratchFolder folder;
    folder.write(kParameters, referenceSphereWithGrid("181\t0\t180"));
    expectQuietSuccess(runProgram(folder));
    const std::vector<std::string> lines = splitLines(folder.read(kTable));
    ASSERT_EQ(lines.size(), 182u);
    EXPECT_EQ(lines[0], kColumnLine);
    for (int degree = 0; degree <= 180; ++degree) {
        const std::string& line = lines[static_cast<std::size_t>(degree) + 1];
        EXPECT_EQ(line.substr(0, line.find('\t')), std::to_string(degree) + ".000000");
        EXPECT_EQ(line.size() - line.find('\t'), 3 * 14 + 2) << line;  // three exponent forms, CR LF
    }
    EXPECT_EQ(lines[1], kLineAt0);
    EXPECT_EQ(lines[91], kLineAt90);
    EXPECT_EQ(lines[181], kLineAt180);
    EXPECT_EQ(folder.read(kHeader), golden("reference/Header_Coated_TA.txt"));
}

struct GridCase {
    const char* name;
    const char* gridLine;
    std::string table;
};

TEST(AngleGridRuns, GridVariants) {
    const GridCase cases[] = {
        {"start above end runs downwards", "3\t180\t0", kColumnLine + kLineAt180 + kLineAt90 + kLineAt0},
        {"count 0 gives the column line only", "0\t0\t180", kColumnLine},
        {"negative count gives the column line only", "-5\t0\t180", kColumnLine},
        {"lowest count gives the column line only", "-2147483648\t0\t180", kColumnLine},
        {"count 1 gives one line at startAngle", "1\t90\t0", kColumnLine + kLineAt90},
        {"count 1 with start equal to end", "1\t180\t180", kColumnLine + kLineAt180},
        {"two angles", "2\t0\t180", kColumnLine + kLineAt0 + kLineAt180},
    };
    for (const GridCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchFolder folder;
        folder.write(kParameters, referenceSphereWithGrid(c.gridLine));
        expectQuietSuccess(runProgram(folder));
        EXPECT_EQ(folder.read(kTable), c.table);
        EXPECT_EQ(folder.read(kHeader), golden("reference/Header_Coated_TA.txt"));
    }
}

TEST(AngleGridRuns, LongTableCrossesTheOutputBufferIntact) {
    // About 3 MB: many flushes of the writer's buffer.
    ScratchFolder folder;
    folder.write(kParameters, referenceSphereWithGrid("60001\t0\t180"));
    expectQuietSuccess(runProgram(folder));
    const std::vector<std::string> lines = splitLines(folder.read(kTable));
    ASSERT_EQ(lines.size(), 60002u);
    EXPECT_EQ(lines[1], kLineAt0);
    EXPECT_EQ(lines[30001], kLineAt90);
    EXPECT_EQ(lines[60001], kLineAt180);
    for (const std::string& line : lines) ASSERT_EQ(line.substr(line.size() - 2), "\r\n");
}

// A failed run: previous results exactly as they were and nothing added.
struct FailureCase {
    const char* name;
    std::string parameters;  // empty: no parameter file at all
    int exitStatus;
    std::string message;
};

void expectFailureLeavesEverythingAsItWas(const FailureCase& c) {
    SCOPED_TRACE(c.name);
    ScratchFolder folder;
    if (!c.parameters.empty()) folder.write(kParameters, c.parameters);
    folder.write(kHeader, kOldHeader);
    folder.write(kTable, kOldTable);
    const std::set<std::string> before = folder.names();
    const RunResult result = runProgram(folder);
    EXPECT_EQ(result.exitStatus, c.exitStatus);
    EXPECT_EQ(result.standardError, c.message);
    EXPECT_EQ(result.standardOutput, "");
    EXPECT_EQ(folder.read(kHeader), kOldHeader);
    EXPECT_EQ(folder.read(kTable), kOldTable);
    EXPECT_EQ(folder.names(), before);
}

TEST(BadInput, MessageStatusOneAndPreviousResultsUntouched) {
    const FailureCase cases[] = {
        {"no parameter file", "", 1, "coatedmie: cannot open Parameter_in.txt: No such file or directory\n"},
        {"fewer than nine numbers", "5\t1.5\t0.01\n3\t2.0\t0.5\n3\t0\n", 1,
         "coatedmie: Parameter_in.txt, line 4: expected endAngle (a number), found the end of the file\n"},
        {"text where a number is due", "5\t1.5\t0.01\n3\t2.0\tlots\n3\t0\t180\n", 1,
         "coatedmie: Parameter_in.txt, line 2: expected the imaginary part of index2 (a number), "
         "found \"lots\"\n"},
        {"angle count that is not whole", "5\t1.5\t0.01\n3\t2.0\t0.5\n181.0\t0\t180\n", 1,
         "coatedmie: Parameter_in.txt, line 3: angleCount must be a whole number, found \"181.0\"\n"},
        {"angle count out of range", "5\t1.5\t0.01\n3\t2.0\t0.5\n4294967296\t0\t180\n", 1,
         "coatedmie: Parameter_in.txt, line 3: angleCount is out of range (-2147483648 to 2147483647), "
         "found \"4294967296\"\n"},
        {"size parameter overflowing to infinity", "5\t1.5\t0.01\n1e999\t2.0\t0.5\n3\t0\t180\n", 1,
         "coatedmie: Parameter_in.txt, line 2: Alpha2 is too large for a double, found \"1e999\"\n"},
        {"index overflowing to infinity", "5\t1e999\t0.01\n3\t2.0\t0.5\n3\t0\t180\n", 1,
         "coatedmie: Parameter_in.txt, line 1: the real part of index1 is too large for a double, "
         "found \"1e999\"\n"},
        {"angle overflowing to infinity", "5\t1.5\t0.01\n3\t2.0\t0.5\n3\t0\t-1e999\n", 1,
         "coatedmie: Parameter_in.txt, line 3: endAngle is too large for a double, found \"-1e999\"\n"},
        {"zero size parameter", "0\t1.5\t0.01\n3\t2.0\t0.5\n3\t0\t180\n", 1,
         "coatedmie: Parameter_in.txt, line 1: Alpha1 must be greater than 0, found \"0\"\n"},
        {"negative size parameter", "5\t1.5\t0.01\n-3\t2.0\t0.5\n3\t0\t180\n", 1,
         "coatedmie: Parameter_in.txt, line 2: Alpha2 must be greater than 0, found \"-3\"\n"},
        {"UTF-16 file", std::string("\xFF\xFE" "5\0\t\0" "1\0.\0" "5\0", 12), 1,
         "coatedmie: Parameter_in.txt is UTF-16 text; save it as plain text (ASCII or UTF-8)\n"},
        {"infinity spelt out", "inf\t1.5\t0.01\n3\t2.0\t0.5\n3\t0\t180\n", 1,
         "coatedmie: Parameter_in.txt, line 1: expected Alpha1 (a number), found \"inf\"\n"},
        {"index so large the series start would run for hours", "1\t1e12\t0\n0.5\t1.33\t0\n3\t0\t180\n", 1,
         "coatedmie: Parameter_in.txt: |index1| * Alpha1 is 1e+12, above the limit of 1e7 that keeps a run "
         "under a few seconds\n"},
        {"angles too far apart", "5\t1.5\t0.01\n3\t2.0\t0.5\n3\t-1e308\t1e308\n", 1,
         "coatedmie: Parameter_in.txt, line 3: startAngle and endAngle are too far apart, found \"-1e308\" "
         "and \"1e308\"\n"},
    };
    for (const FailureCase& c : cases) expectFailureLeavesEverythingAsItWas(c);
}

TEST(BadInput, ParameterFileThatCannotBeRead) {
    ScratchFolder folder;
    std::filesystem::create_directory(folder / kParameters);
    const RunResult result = runProgram(folder);
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.standardError, "coatedmie: cannot read Parameter_in.txt: Is a directory\n");
    EXPECT_EQ(folder.names(), std::set<std::string>{kParameters});
}

const std::string kCapacityText =
    "\t\t\tCaution:\n\t\t\t\tThe parameter for the array is not large enough!!!\n";

TEST(CapacityStop, ExactMessageStatusTwoNoWaitAndNoFileTouched) {
    const FailureCase cases[] = {
        {"outer size parameter second", "1\t1.5\t0.01\n99622\t1.33\t0\n3\t0\t180\n", 2, kCapacityText},
        {"outer size parameter first", "99622\t1.33\t0\n1\t1.5\t0.01\n3\t0\t180\n", 2, kCapacityText},
        {"huge but finite", "1e300\t1.33\t0\n1\t1.5\t0.01\n3\t0\t180\n", 2, kCapacityText},
    };
    for (const FailureCase& c : cases) expectFailureLeavesEverythingAsItWas(c);
}

TEST(CapacityStop, NoFileIsCreatedWhereNoneWas) {
    ScratchFolder folder;
    folder.write(kParameters, "1\t1.5\t0.01\n99622\t1.33\t0\n3\t0\t180\n");
    const RunResult result = runProgram(folder);
    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_EQ(folder.names(), std::set<std::string>{kParameters});
}

TEST(CapacityStop, LargestAcceptedSizeParameterRuns) {
    ScratchFolder folder;
    folder.write(kParameters, "1\t1.5\t0.01\n99621\t1.33\t0\n0\t0\t180\n");
    expectQuietSuccess(runProgram(folder));
    EXPECT_EQ(folder.names(), kAllThree);
}

TEST(CapacityStop, OnATerminalWaitsForOneKeyAndRestoresTheTerminal) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const int terminal = open(ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(terminal, 0);
    termios before{};
    ASSERT_EQ(tcgetattr(terminal, &before), 0);

    ScratchFolder folder;
    ScratchFolder capture;
    folder.write(kParameters, "1\t1.5\t0.01\n99622\t1.33\t0\n3\t0\t180\n");
    RunOptions options;
    options.standardInput = terminal;
    const pid_t child = testing::startProgram(folder.path(), capture, options);

    // The message comes first, then the program waits for the key.
    for (int i = 0; i < 5000 && capture.read("stderr") != kCapacityText; ++i) usleep(1000);
    ASSERT_EQ(capture.read("stderr"), kCapacityText);
    usleep(100000);
    int status = 0;
    EXPECT_EQ(waitpid(child, &status, WNOHANG), 0) << "ended without waiting for a key";

    ASSERT_EQ(write(master, "k", 1), 1);  // one key, no Enter
    const RunResult result = testing::finishProgram(child, capture, 10);
    EXPECT_EQ(result.exitStatus, 2);

    char echoed[16] = {};
    EXPECT_EQ(read(master, echoed, sizeof echoed), 1);
    EXPECT_EQ(echoed[0], 'k');
    termios after{};
    ASSERT_EQ(tcgetattr(terminal, &after), 0);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_cc[VMIN], before.c_cc[VMIN]);
    EXPECT_EQ(after.c_cc[VTIME], before.c_cc[VTIME]);
    EXPECT_EQ(folder.names(), std::set<std::string>{kParameters});
    close(terminal);
    close(master);
}

TEST(OutputFailure, FolderWhereAResultFileShouldBe) {
    for (const char* blocked : {kHeader, kTable}) {
        SCOPED_TRACE(blocked);
        ScratchFolder folder;
        folder.write(kParameters, kReferenceParameters);
        const char* other = blocked == kHeader ? kTable : kHeader;
        folder.write(other, kOldTable);
        std::filesystem::create_directory(folder / blocked);
        folder.write(std::string(blocked) + "/inside.txt", "kept");
        const std::set<std::string> before = folder.names();
        const RunResult result = runProgram(folder);
        EXPECT_EQ(result.exitStatus, 3);
        EXPECT_EQ(result.standardError, std::string("coatedmie: cannot write ") + blocked + ": Is a directory\n");
        EXPECT_EQ(folder.read(other), kOldTable);
        EXPECT_EQ(folder.read(std::string(blocked) + "/inside.txt"), "kept");
        EXPECT_EQ(folder.names(), before);
    }
}

TEST(OutputFailure, FileSizeLimitStopsTheWriteAndLeavesNoTemporaryFile) {
    const struct {
        const char* name;
        rlim_t limit;
        const char* failedFile;
    } cases[] = {
        // The limit binds the captured standard error too: room for the message.
        {"header cannot be completed", 100, kHeader},
        {"table cannot be completed", 4096, kTable},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchFolder folder;
        folder.write(kParameters, referenceSphereWithGrid("1000\t0\t180"));
        folder.write(kHeader, kOldHeader);
        folder.write(kTable, kOldTable);
        RunOptions options;
        options.fileSizeLimit = c.limit;
        const RunResult result = runProgram(folder, options);
        EXPECT_EQ(result.exitStatus, 3);
        EXPECT_EQ(result.standardError, std::string("coatedmie: cannot write ") + c.failedFile + ": File too large\n");
        EXPECT_EQ(folder.read(kHeader), kOldHeader);
        EXPECT_EQ(folder.read(kTable), kOldTable);
        EXPECT_EQ(folder.names(), kAllThree);
    }
}

TEST(OutputFailure, InterruptedRunRemovesItsTemporaryFile) {
    for (int signalNumber : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signalNumber);
        ScratchFolder folder;
        ScratchFolder capture;
        // A table that would never finish in a test's time.
        folder.write(kParameters, referenceSphereWithGrid("2147483647\t0\t180"));
        folder.write(kHeader, kOldHeader);
        folder.write(kTable, kOldTable);
        const pid_t child = testing::startProgram(folder.path(), capture);
        const std::string temporary = std::string(kTable) + "." + std::to_string(child) + ".tmp";
        for (int i = 0; i < 10000 && folder.names().count(temporary) == 0; ++i) usleep(1000);
        ASSERT_EQ(folder.names().count(temporary), 1u) << "the table was never started";
        kill(child, signalNumber);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signalNumber);
        EXPECT_EQ(folder.read(kHeader), kOldHeader);
        EXPECT_EQ(folder.read(kTable), kOldTable);
        EXPECT_EQ(folder.names(), kAllThree);
    }
}

TEST(OutputFailure, ReadOnlyFolder) {
    if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
    ScratchFolder folder;
    folder.write(kParameters, kReferenceParameters);
    folder.write(kHeader, kOldHeader);
    chmod(folder.path().c_str(), 0555);
    const RunResult result = runProgram(folder);
    EXPECT_EQ(result.exitStatus, 3);
    EXPECT_EQ(result.standardError, "coatedmie: cannot write Header_Coated_TA.txt: Permission denied\n");
    EXPECT_EQ(folder.read(kHeader), kOldHeader);
}

}  // namespace
}  // namespace coatedmie
