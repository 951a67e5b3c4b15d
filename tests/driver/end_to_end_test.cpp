// The real program in a fresh folder: result files byte for byte against
// hand-written golden files, and every failure with its exit status, its
// message, and the previous results left exactly as they were.
#include <fcntl.h>
#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

#include <coatedmie/engine.h>
#include <gtest/gtest.h>

#include "angle_grid.h"
#include "number_text.h"
#include "parameter_file.h"
#include "program_runner.h"

namespace coatedmie {
namespace {

using namespace testing;

const std::string kReferenceParameters = "5\t1.5\t0.01\n3\t2.0\t0.5\n3\t0\t180\n";
const std::string kColumnLine = "Angle(Deg)\tI1\tI2\tItotal\r\n";
// The three lines of the published reference run.
const std::string kLineAt0 = "0.000000\t3.947263e+002\t3.947263e+002\t7.894525e+002\r\n";
const std::string kLineAt90 = "90.000000\t5.519364e+000\t7.590923e-001\t6.278456e+000\r\n";
const std::string kLineAt180 = "180.000000\t1.644918e+000\t1.644918e+000\t3.289836e+000\r\n";

const std::string kOldHeader = "results of an earlier run\r\n";
const std::string kOldTable = "Angle(Deg)\tI1\tI2\tItotal\r\nearlier table\r\n";
const std::set<std::string> kAllThree{kParameters, kHeader, kTable};

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

std::string referenceSphereWithGrid(const std::string& gridLine) {
    return "5\t1.5\t0.01\n3\t2.0\t0.5\n" + gridLine + "\n";
}

TEST(SuccessfulRun, WritesTheExpectedFilesQuietlyOverAnEarlierRun) {
    const std::string header = golden("reference/Header_Coated_TA.txt");
    const std::string table = golden("reference/Mie_Coated_TA.txt");
    const struct {
        const char* name;
        std::string parameters, header, table;
    } cases[] = {
        {"the reference run", golden("reference/Parameter_in.txt"), header, table},
        {"one line, single spaces", "5 1.5 0.01 3 2.0 0.5 3 0 180", header, table},
        {"CR LF line ends", "5\t1.5\t0.01\r\n3\t2.0\t0.5\r\n3\t0\t180\r\n", header, table},
        {"extra blank lines", "\n\n5\t1.5\t0.01\n\n\n3\t2.0\t0.5\n\r\n\n3\t0\t180\n\n\n\n", header, table},
        {"0x1A after the ninth number, then garbage",
         std::string("5\t1.5\t0.01\n3\t2.0\t0.5\n3\t0\t180\x1A") + "\xFF\xFE garbage 1 2 3\n", header, table},
        {"UTF-8 byte-order mark", "\xEF\xBB\xBF" + kReferenceParameters, header, table},
        {"start above end runs downwards", referenceSphereWithGrid("3\t180\t0"), header,
         kColumnLine + kLineAt180 + kLineAt90 + kLineAt0},
        {"count 0 gives the column line only", referenceSphereWithGrid("0\t0\t180"), header, kColumnLine},
        {"lowest count gives the column line only", referenceSphereWithGrid("-2147483648\t0\t180"), header,
         kColumnLine},
        {"count 1 gives one line at startAngle", referenceSphereWithGrid("1\t90\t0"), header,
         kColumnLine + kLineAt90},
        // Layer order and sign convention change nothing physical; the header
        // shows the values as read, in file order with their signs.
        {"layers swapped, imaginary parts negative", "3\t2.0\t-0.5\n5\t1.5\t-0.01\n0\t0\t180\n",
         "Alpha1=3.000000\tRefractive index_m1=(2.000000, -0.500000)\r\n"
         "Alpha2=5.000000\tRefractive index_m2=(1.500000, -0.010000)\r\n\r\n"
         "Kext=3.135894, Ksca=2.011933, Kabs=1.123961\r\n\r\n",
         kColumnLine},
        // Small particles, where the series cancels unless computed with
        // care. The digits come from the quadruple-precision solution of the
        // tests of the engine (tests/engine/quad_reference.h), printed with
        // the number text rules; at 1e-9 the computation once gave NaN.
        {"small particle", "0.005\t2.0\t1.0\n0.003\t1.6\t0.3\n5\t0\t180\n",
         "Alpha1=0.005000\tRefractive index_m1=(2.000000, 1.000000)\r\n"
         "Alpha2=0.003000\tRefractive index_m2=(1.600000, 0.300000)\r\n\r\n"
         "Kext=0.005574, Ksca=0.000000, Kabs=0.005574\r\n\r\n",
         kColumnLine + "0.000000\t6.363590e-015\t6.363590e-015\t1.272718e-014\r\n"
                       "45.000000\t6.363565e-015\t3.181792e-015\t9.545356e-015\r\n"
                       "90.000000\t6.363503e-015\t1.038217e-025\t6.363503e-015\r\n"
                       "135.000000\t6.363442e-015\t3.181712e-015\t9.545154e-015\r\n"
                       "180.000000\t6.363417e-015\t6.363417e-015\t1.272683e-014\r\n"},
        {"tiny particle", "1e-9\t1.33\t0\n5e-10\t1.5\t0\n3\t0\t180\n",
         "Alpha1=0.000000\tRefractive index_m1=(1.330000, 0.000000)\r\n"
         "Alpha2=0.000000\tRefractive index_m2=(1.500000, 0.000000)\r\n\r\n"
         "Kext=0.000000, Ksca=0.000000, Kabs=0.000000\r\n\r\n",
         kColumnLine + "0.000000\t4.648675e-056\t4.648675e-056\t9.297350e-056\r\n"
                       "90.000000\t4.648675e-056\t1.744629e-088\t4.648675e-056\r\n"
                       "180.000000\t4.648675e-056\t4.648675e-056\t9.297350e-056\r\n"},
    };
    const mode_t previousMask = umask(022);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchFolder folder;
        folder.write(kParameters, c.parameters);
        folder.write(kHeader, kOldHeader + std::string(100000, 'x'));
        folder.write(kTable, kOldTable);
        expectQuietSuccess(runProgram(folder));
        EXPECT_EQ(folder.read(kHeader), c.header);
        EXPECT_EQ(folder.read(kTable), c.table);
        EXPECT_EQ(folder.names(), kAllThree);
        struct stat status {};
        ASSERT_EQ(stat((folder / kTable).c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 0777, 0644u) << "result files get the usual permissions";
    }
    umask(previousMask);
}

TEST(SuccessfulRun, HeaderExample) {
    ScratchFolder folder;
    folder.write(kParameters, "1\t1.5\t0.01\n0.5\t1.33\t0\n0\t0\t180\n");
    expectQuietSuccess(runProgram(folder));
    const std::string inputs =
        "Alpha1=1.000000\tRefractive index_m1=(1.500000, 0.010000)\r\n"
        "Alpha2=0.500000\tRefractive index_m2=(1.330000, 0.000000)\r\n\r\n";
    const std::string header = folder.read(kHeader);
    ASSERT_EQ(header.substr(0, inputs.size()), inputs);
    // No published efficiencies for this sphere: the layout of their line only.
    std::string efficiencies = header.substr(inputs.size());
    std::replace_if(efficiencies.begin(), efficiencies.end(), [](char c) { return c >= '0' && c <= '9'; }, '#');
    EXPECT_EQ(efficiencies, "Kext=#.######, Ksca=#.######, Kabs=#.######\r\n\r\n");
    EXPECT_EQ(folder.read(kTable), kColumnLine);
}

TEST(SuccessfulRun, WholeDegreesFrom0To180) {
    ScratchFolder folder;
    folder.write(kParameters, referenceSphereWithGrid("181\t0\t180"));
    expectQuietSuccess(runProgram(folder));
    const std::vector<std::string> lines = splitLines(folder.read(kTable));
    ASSERT_EQ(lines.size(), 182u);
    EXPECT_EQ(lines[0], kColumnLine);
    for (int degree = 0; degree <= 180; ++degree) {
        const std::string& line = lines[static_cast<std::size_t>(degree) + 1];
        EXPECT_EQ(line.substr(0, line.find('\t')), std::to_string(degree) + ".000000");
    }
    EXPECT_EQ(lines[1], kLineAt0);
    EXPECT_EQ(lines[91], kLineAt90);
    EXPECT_EQ(lines[181], kLineAt180);
}

// The table of the program, evaluated many angles per engine call, against
// the same table built here one angle at a time with computeIntensity: the
// same bytes, over grids that cross the program's chunks of angles and its
// output buffer.
std::string tableOneAngleAtATime(const RunParameters& p) {
    EfficiencyRecord efficiencies;
    const int termCount =
        computeCoatedSphere(p.Alpha1, p.index1Re, p.index1Im, p.Alpha2, p.index2Re, p.index2Im, efficiencies);
    const AngleGrid grid = makeAngleGrid(p.angleCount, p.startAngle, p.endAngle);
    std::string table = kColumnLine;
    char text[kMaxNumberText];
    for (int i = 1; i <= p.angleCount; ++i) {
        double degrees;
        double radians;
        fillAngles(grid, i, 1, &degrees, &radians);
        IntensityRecord r{};
        computeIntensity(termCount, radians, r);
        table.append(text, formatFixed(degrees, text)).append("\t");
        table.append(text, formatExponent(r.I1, text)).append("\t");
        table.append(text, formatExponent(r.I2, text)).append("\t");
        table.append(text, formatExponent(r.I1 + r.I2, text)).append("\r\n");
    }
    return table;
}

TEST(SuccessfulRun, TableHasTheSameBytesAsOneAngleAtATime) {
    for (const std::string parameters : {"300\t1.33\t0.001\n240\t1.5\t0.01\n1801\t0\t180\n",
                                         "5\t1.5\t0.01\n3\t2.0\t0.5\n513\t180\t-180\n",
                                         "0.5\t1.33\t0\n0.2\t1.7\t0.1\n257\t0\t1e5\n"}) {
        SCOPED_TRACE(parameters);
        ScratchFolder folder;
        folder.write(kParameters, parameters);
        ASSERT_EQ(runProgram(folder).exitStatus, 0);
        RunParameters p{};
        std::string problem;
        ASSERT_TRUE(parseParameterText(parameters.data(), parameters.size(), "", p, problem)) << problem;
        EXPECT_TRUE(folder.read(kTable) == tableOneAngleAtATime(p)) << "the tables differ";
    }
}

const std::string kCapacityText =
    "\t\t\tCaution:\n\t\t\t\tThe parameter for the array is not large enough!!!\n";
// What ScratchFolder::read gives for an absent file.
const std::string kNoFile = "<missing>";

struct FailureCase {
    const char* name;
    std::string parameters;  // the bytes of Parameter_in.txt, or kNoFile
    int exitStatus;
    std::string message;
    const char* folderInstead = nullptr;   // a folder stands where this file should be
    rlim_t fileSizeLimit = RLIM_INFINITY;  // a full disk; it binds the captured standard error too
    bool readOnlyFolder = false;
};

// A failed run: its status and message, nothing on standard output, and the
// previous results exactly as they were, with nothing added.
TEST(FailedRun, MessageStatusAndPreviousResultsUntouched) {
    const std::string grid1000 = referenceSphereWithGrid("1000\t0\t180");
    const FailureCase cases[] = {
        {"no parameter file", kNoFile, 1, "coatedmie: cannot open Parameter_in.txt: No such file or directory\n"},
        {"parameter file that cannot be read", kReferenceParameters, 1,
         "coatedmie: cannot read Parameter_in.txt: Is a directory\n", kParameters},
        {"fewer than nine numbers", "5\t1.5\t0.01\n3\t2.0\t0.5\n3\t0\n", 1,
         "coatedmie: Parameter_in.txt, line 4: expected endAngle (a number), found the end of the file\n"},
        {"text where a number is due", "5\t1.5\t0.01\n3\t2.0\tlots\n3\t0\t180\n", 1,
         "coatedmie: Parameter_in.txt, line 2: expected the imaginary part of index2 (a number), "
         "found \"lots\"\n"},
        {"angle count that is not whole", "5\t1.5\t0.01\n3\t2.0\t0.5\n181.0\t0\t180\n", 1,
         "coatedmie: Parameter_in.txt, line 3: angleCount must be a whole number, found \"181.0\"\n"},
        {"UTF-16 file", std::string("\xFF\xFE" "5\0\t\0" "1\0.\0" "5\0", 12), 1,
         "coatedmie: Parameter_in.txt is UTF-16 text; save it as plain text (ASCII or UTF-8)\n"},
        {"size parameter overflowing to infinity", "5\t1.5\t0.01\n1e999\t2.0\t0.5\n3\t0\t180\n", 1,
         "coatedmie: Parameter_in.txt, line 2: Alpha2 is too large for a double, found \"1e999\"\n"},
        {"index overflowing to infinity", "5\t1e999\t0.01\n3\t2.0\t0.5\n3\t0\t180\n", 1,
         "coatedmie: Parameter_in.txt, line 1: the real part of index1 is too large for a double, "
         "found \"1e999\"\n"},
        {"angle overflowing to infinity", "5\t1.5\t0.01\n3\t2.0\t0.5\n3\t0\t-1e999\n", 1,
         "coatedmie: Parameter_in.txt, line 3: endAngle is too large for a double, found \"-1e999\"\n"},
        {"angles too far apart for a finite step", "5\t1.5\t0.01\n3\t2.0\t0.5\n3\t-1e308\t1e308\n", 1,
         "coatedmie: Parameter_in.txt, line 3: startAngle and endAngle are too far apart, found \"-1e308\" "
         "and \"1e308\"\n"},
        {"zero size parameter", "0\t1.5\t0.01\n3\t2.0\t0.5\n3\t0\t180\n", 1,
         "coatedmie: Parameter_in.txt, line 1: Alpha1 must be greater than 0, found \"0\"\n"},
        {"negative size parameter", "5\t1.5\t0.01\n-3\t2.0\t0.5\n3\t0\t180\n", 1,
         "coatedmie: Parameter_in.txt, line 2: Alpha2 must be greater than 0, found \"-3\"\n"},
        {"whole particle too small, outer layer second", "1e-35\t1.5\t0.01\n2e-31\t2.0\t0.5\n3\t0\t180\n", 1,
         "coatedmie: Parameter_in.txt, line 2: Alpha2 must be at least 1e-30, found \"2e-31\"; the "
         "intensities of a particle that small are beyond double precision\n"},
        {"equal sizes too small", "9e-31 1.5 0.01 9e-31 2.0 0.5 3 0 180", 1,
         "coatedmie: Parameter_in.txt, line 1: Alpha1 must be at least 1e-30, found \"9e-31\"; the "
         "intensities of a particle that small are beyond double precision\n"},
        {"core too small", "5\t1.5\t0.01\n1e-160\t2.0\t0.5\n3\t0\t180\n", 1,
         "coatedmie: Parameter_in.txt, line 2: Alpha2 must be at least 1e-30, found \"1e-160\"; a core that "
         "small changes no digit of the results: for the sphere without it give layer 2 the size parameter "
         "and index of layer 1\n"},
        {"core too small, given first", "1e-200\t1.5\t0.01\n1\t2.0\t0.5\n3\t0\t180\n", 1,
         "coatedmie: Parameter_in.txt, line 1: Alpha1 must be at least 1e-30, found \"1e-200\"; a core that "
         "small changes no digit of the results: for the sphere without it give layer 1 the size parameter "
         "and index of layer 2\n"},
        {"index 0", "1\t0\t0\n0.5\t2.0\t0.5\n3\t0\t180\n", 1,
         "coatedmie: Parameter_in.txt, line 1: |index1| must be at least 1e-4, found \"0\" and \"0\"; give "
         "the refractive index of the layer relative to the surrounding medium\n"},
        {"index just too close to 0", "1\t1.5\t0.01\n0.5\t-3e-5\t4e-5\n3\t0\t180\n", 1,
         "coatedmie: Parameter_in.txt, line 2: |index2| must be at least 1e-4, found \"-3e-5\" and \"4e-5\"; "
         "give the refractive index of the layer relative to the surrounding medium\n"},
        {"index so large the series start would run for hours", "1\t1e12\t0\n0.5\t1.33\t0\n3\t0\t180\n", 1,
         "coatedmie: Parameter_in.txt: |index1| * Alpha1 is 1e+12, above the limit of 1e7 that keeps a run "
         "under a few seconds\n"},
        // Standard input is not a terminal here: no wait for a key.
        {"capacity stop, outer size parameter second", "1\t1.5\t0.01\n99622\t1.33\t0\n3\t0\t180\n", 2,
         kCapacityText},
        {"capacity stop, huge outer size parameter first", "1e300\t1.33\t0\n1\t1.5\t0.01\n3\t0\t180\n", 2,
         kCapacityText},
        {"folder where the header should be", grid1000, 3,
         "coatedmie: cannot write Header_Coated_TA.txt: Is a directory\n", kHeader},
        {"folder where the table should be", grid1000, 3,
         "coatedmie: cannot write Mie_Coated_TA.txt: Is a directory\n", kTable},
        {"disk full in the header", grid1000, 3,
         "coatedmie: cannot write Header_Coated_TA.txt: File too large\n", nullptr, 100},
        {"disk full in the table", grid1000, 3,
         "coatedmie: cannot write Mie_Coated_TA.txt: File too large\n", nullptr, 4096},
        {"read-only folder", grid1000, 3,
         "coatedmie: cannot write Header_Coated_TA.txt: Permission denied\n", nullptr, RLIM_INFINITY, true},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.readOnlyFolder && geteuid() == 0) continue;  // permissions do not bind root
        ScratchFolder folder;
        // A folder in a file's place keeps that file's bytes inside it.
        auto kept = [&](const char* name) {
            return c.folderInstead == name ? std::string(name) + "/inside.txt" : std::string(name);
        };
        if (c.folderInstead != nullptr) std::filesystem::create_directory(folder / c.folderInstead);
        const std::map<std::string, std::string> previous{
            {kept(kParameters), c.parameters}, {kept(kHeader), kOldHeader}, {kept(kTable), kOldTable}};
        for (const auto& [name, bytes] : previous) {
            if (bytes != kNoFile) folder.write(name, bytes);
        }
        if (c.readOnlyFolder) chmod(folder.path().c_str(), 0555);
        const std::set<std::string> before = folder.names();
        RunOptions options;
        options.fileSizeLimit = c.fileSizeLimit;
        const RunResult result = runProgram(folder, options);
        EXPECT_EQ(result.exitStatus, c.exitStatus);
        EXPECT_EQ(result.standardError, c.message);
        EXPECT_EQ(result.standardOutput, "");
        for (const auto& [name, bytes] : previous) EXPECT_EQ(folder.read(name), bytes) << name;
        EXPECT_EQ(folder.names(), before);
    }
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
    const pid_t child = startProgram(folder.path(), capture, options);

    // The message comes first, then the program waits for the key.
    for (int i = 0; i < 5000 && capture.read("stderr") != kCapacityText; ++i) usleep(1000);
    ASSERT_EQ(capture.read("stderr"), kCapacityText);
    usleep(100000);
    int status = 0;
    EXPECT_EQ(waitpid(child, &status, WNOHANG), 0) << "ended without waiting for a key";

    ASSERT_EQ(write(master, "k", 1), 1);  // one key, no Enter
    EXPECT_EQ(finishProgram(child, capture, 10).exitStatus, 2);

    char echoed[16] = {};
    EXPECT_EQ(read(master, echoed, sizeof echoed), 1);
    EXPECT_EQ(echoed[0], 'k');
    termios after{};
    ASSERT_EQ(tcgetattr(terminal, &after), 0);
    EXPECT_EQ(after.c_lflag, before.c_lflag) << "the terminal was left out of line mode";
    EXPECT_EQ(folder.names(), std::set<std::string>{kParameters});
    close(terminal);
    close(master);
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
        const pid_t child = startProgram(folder.path(), capture);
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

}  // namespace
}  // namespace coatedmie
