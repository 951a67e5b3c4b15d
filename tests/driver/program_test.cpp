// The real program in scratch folders of the build tree: golden result files
// byte for byte; failures and options with status, output and the folder left
// as it was; the capacity stop on a terminal; an interrupted run. Then the
// output buffer and the temporary names where a run does not reach.
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "output_file.h"
#include "parameter_file.h"

namespace coatedmie {
namespace {

const std::string kNoFile = "<missing>";

// The bytes of a file, or kNoFile when it cannot be opened.
std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return kNoFile;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class ScratchFolder {
public:
    ScratchFolder() {
        std::filesystem::create_directories(COATEDMIE_TEST_SCRATCH_ROOT);
        std::string pattern = std::string(COATEDMIE_TEST_SCRATCH_ROOT) + "/run-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    void write(const std::string& name, const std::string& bytes) const {
        std::ofstream out(*this / name, std::ios::binary | std::ios::trunc);
        if (!(out << bytes)) throw std::runtime_error("cannot write " + name);
    }
    std::string read(const std::string& name) const { return readFile(*this / name); }
    std::set<std::string> names() const {
        std::set<std::string> result;
        for (const auto& entry : std::filesystem::directory_iterator(path_)) result.insert(entry.path().filename());
        return result;
    }

private:
    std::string path_;
};

constexpr char kParameters[] = "Parameter_in.txt";
constexpr char kHeader[] = "Header_Coated_TA.txt";
constexpr char kTable[] = "Mie_Coated_TA.txt";

struct RunOptions {
    std::vector<std::string> arguments = {};  // after the program name
    std::string standardOutput = "";          // a file to write to; empty: captured
    rlim_t fileSizeLimit = RLIM_INFINITY;     // bytes any one file may grow to
    int standardInput = -1;                   // -1: /dev/null
};

struct RunResult {
    int exitStatus;  // -1 when the program did not exit normally
    std::string standardOutput, standardError;
    long peakKiB;    // the largest resident memory of the program, from its rusage
};

// Starts the program in folder; SIGALRM ends it should it run for a minute.
pid_t startProgram(const std::string& folder, const ScratchFolder& capture, const RunOptions& options = {}) {
    std::vector<char*> argv{const_cast<char*>("coatedmie")};
    for (const std::string& argument : options.arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    const pid_t child = fork();
    if (child != 0) return child;
    const int input = options.standardInput >= 0 ? options.standardInput : open("/dev/null", O_RDONLY);
    const std::string output = options.standardOutput.empty() ? capture / "stdout" : options.standardOutput;
    const int out = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int error = open((capture / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (input < 0 || out < 0 || error < 0 || chdir(folder.c_str()) != 0) _exit(126);
    dup2(input, STDIN_FILENO);
    dup2(out, STDOUT_FILENO);
    dup2(error, STDERR_FILENO);
    if (options.standardInput >= 0) setsid();
    // Writes past the limit then fail with EFBIG instead of killing the process.
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{options.fileSizeLimit, options.fileSizeLimit};
    setrlimit(RLIMIT_FSIZE, &limit);
    alarm(60);
    execv(COATEDMIE_EXECUTABLE, argv.data());
    _exit(127);
}

RunResult runProgram(const ScratchFolder& folder, const RunOptions& options = {}) {
    ScratchFolder capture;
    int status = 0;
    rusage usage{};
    wait4(startProgram(folder.path(), capture, options), &status, 0, &usage);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, capture.read("stdout"), capture.read("stderr"),
            usage.ru_maxrss};
}

const std::string kOldHeader = "results of an earlier run\r\n";
const std::string kOldTable = "Angle(Deg)\tI1\tI2\tItotal\r\nearlier table\r\n";
const std::set<std::string> kAllThree{kParameters, kHeader, kTable};
const std::string kCapacityText = "\t\t\tCaution:\n\t\t\t\tThe parameter for the array is not large enough!!!\n";
const std::string kUsageStart = "Usage: coatedmie [--help | --version]\n";

// The folders of runs/ (the examples run as Example.*): their values come
// from the quadruple-precision reference of the engine's tests or
// tools/verify_example.py. A folder without a header runs the reference
// particle on another grid.
TEST(SuccessfulRun, WritesTheGoldenFilesQuietlyOverAnEarlierRun) {
    const mode_t previousMask = umask(022);
    for (const auto& run : std::filesystem::directory_iterator(COATEDMIE_TEST_RUNS_DIR)) {
        const std::string golden = run.path();
        SCOPED_TRACE(golden);
        ScratchFolder folder;
        folder.write(kParameters, readFile(golden + "/" + kParameters));
        folder.write(kHeader, kOldHeader + std::string(100000, 'x'));
        folder.write(kTable, kOldTable);
        const RunResult result = runProgram(folder);
        EXPECT_EQ(result.exitStatus, 0);
        EXPECT_EQ(result.standardOutput + result.standardError, "");
        EXPECT_EQ(folder.names(), kAllThree);
        for (const char* name : {kHeader, kTable}) {
            std::string expected = readFile(golden + "/" + name);
            if (expected == kNoFile) expected = readFile(COATEDMIE_GOLDEN_DIR "/reference/" + std::string(name));
            EXPECT_TRUE(folder.read(name) == expected) << name << " differs";
            struct stat status {};
            EXPECT_EQ(stat((folder / name).c_str(), &status), 0);
            EXPECT_EQ(status.st_mode & 0777, 0644u) << name << " lacks the usual permissions";
        }
    }
    umask(previousMask);
}

struct UnchangedCase {
    const char* name;
    std::string parameters;  // the bytes of Parameter_in.txt, or kNoFile
    int exitStatus;
    std::string standardError;
    std::string standardOutput = "";      // kUsageStart: the usage text
    RunOptions options = {};
    const char* folderInstead = nullptr;  // a folder stands where this file should be
    bool readOnlyFolder = false;
};

// A run that fails, or only prints: its status and output, and the earlier
// files exactly as they were, with nothing added.
TEST(UnchangedFolder, FailuresAndOptionsLeaveEveryFileAsItWas) {
    const std::string grid1000 = "5\t1.5\t0.01\n3\t2.0\t0.5\n1000\t0\t180\n";
    const std::string refused = "5\t1.5\t0.01\n3\t2.0\t0.5\n181.0\t0\t180\n";
    const std::string refusal =
        "coatedmie: Parameter_in.txt, line 3: angleCount must be a whole number, found \"181.0\"\n";
    const std::string version = "coatedmie " COATEDMIE_VERSION "\n";
    const std::string noSpace = "coatedmie: cannot write to standard output: No space left on device\n";
    const std::string cannot = "coatedmie: cannot write ";
    const UnchangedCase cases[] = {
        {"no parameter file", kNoFile, 1, "coatedmie: cannot open Parameter_in.txt: No such file or directory\n"},
        {"parameter file that cannot be read", grid1000, 1, "coatedmie: cannot read Parameter_in.txt: Is a directory\n",
         "", {}, kParameters},
        {"the reader's refusal", refused, 1, refusal},
        {"index so large the series start would run for hours", "1\t1e12\t0\n0.5\t1.33\t0\n3\t0\t180\n", 1,
         "coatedmie: Parameter_in.txt: |index1| * Alpha1 is 1e+12, above the limit of 1e7 that keeps a run "
         "under a few seconds\n"},
        // Standard input is not a terminal here: no wait for a key.
        {"capacity stop, outer size parameter second", "1\t1.5\t0.01\n99622\t1.33\t0\n3\t0\t180\n", 2, kCapacityText},
        {"capacity stop before the index limit, outer first", "1e300\t1.33\t0\n1\t1.5\t0.01\n3\t0\t180\n", 2,
         kCapacityText},
        {"folder where the header should be", grid1000, 3, cannot + "Header_Coated_TA.txt: Is a directory\n", "", {},
         kHeader},
        {"folder where the table should be", grid1000, 3, cannot + "Mie_Coated_TA.txt: Is a directory\n", "", {},
         kTable},
        // A full disk: the limit binds the captured standard error too.
        {"disk full in the header", grid1000, 3, cannot + "Header_Coated_TA.txt: File too large\n", "", {{}, "", 100}},
        {"disk full in the table", grid1000, 3, cannot + "Mie_Coated_TA.txt: File too large\n", "", {{}, "", 4096}},
        {"read-only folder", grid1000, 3, cannot + "Header_Coated_TA.txt: Permission denied\n", "", {}, nullptr, true},
        {"--help", refused, 0, "", kUsageStart, {{"--help"}}},
        {"--version", refused, 0, "", version, {{"--version"}}},
        {"the first option decides", refused, 0, "", kUsageStart, {{"ignored", "--help", "--version"}}},
        {"the first option decides, again", refused, 0, "", version, {{"--version", "--help"}}},
        {"other arguments are ignored", refused, 1, refusal, "",
         {{"-h", "-v", "--HELP", "--help=yes", "--versions", "", "x"}}},
        {"--help, standard output full", refused, 3, noSpace, kNoFile, {{"--help"}, "/dev/full"}},
        {"--version, standard output full", refused, 3, noSpace, kNoFile, {{"--version"}, "/dev/full"}},
    };
    for (const UnchangedCase& c : cases) {
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
        const RunResult result = runProgram(folder, c.options);
        EXPECT_EQ(result.exitStatus, c.exitStatus);
        EXPECT_EQ(result.standardError, c.standardError);
        EXPECT_EQ(c.standardOutput == kUsageStart ? result.standardOutput.substr(0, kUsageStart.size())
                                                  : result.standardOutput,
                  c.standardOutput);
        for (const auto& [name, bytes] : previous) EXPECT_EQ(folder.read(name), bytes) << name;
        EXPECT_EQ(folder.names(), before);
    }
}

TEST(UnchangedFolder, UsageSaysWhatIsReadAndWrittenTheLayoutAndEveryExitStatus) {
    ScratchFolder folder;
    const std::string usage = runProgram(folder, {{"--help"}}).standardOutput;
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
    for (std::size_t start = 0, end; (end = usage.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = usage.substr(start, end - start);
        EXPECT_TRUE(line.size() <= 79 && line.find('\t') == std::string::npos) << "not for a terminal: " << line;
    }
    // The example is a valid parameter file for the reference run.
    folder.write(kParameters, example);
    EXPECT_EQ(runProgram(folder).exitStatus, 0);
    EXPECT_EQ(folder.read(kTable), readFile(COATEDMIE_GOLDEN_DIR "/reference/Mie_Coated_TA.txt"));
}

// Nothing after the ninth number is read and white space passed is dropped:
// the reference run padded to 256 MiB, with white space before its numbers or
// NUL bytes after them (a sparse file, 1.5 split by the end of the reader's
// first chunk), runs in a few MiB; a link to /dev/zero is refused at once.
TEST(ParameterFile, IsReadInBoundedMemoryWhateverItHolds) {
    const std::string numbers = "5\t1.5\t0.01\n3\t2.0\t0.5\n3\t0\t180\n";
    const std::size_t padding = std::size_t{256} << 20;
    const long boundKiB = 64 << 10;  // the reference run takes 4 MiB, 10 under AddressSanitizer
    const std::size_t spacesBefore[] = {padding, kParameterChunkSize - 3};
    for (std::size_t spaces : spacesBefore) {
        ScratchFolder folder;
        folder.write(kParameters, std::string(spaces, ' ') + numbers);
        if (spaces < padding) std::filesystem::resize_file(folder / kParameters, padding);
        const RunResult result = runProgram(folder);
        EXPECT_EQ(result.exitStatus, 0);
        EXPECT_TRUE(folder.read(kTable) == readFile(COATEDMIE_GOLDEN_DIR "/reference/Mie_Coated_TA.txt"));
        EXPECT_LT(result.peakKiB, boundKiB);
    }
    ScratchFolder folder;
    std::filesystem::create_symlink("/dev/zero", folder / kParameters);
    const RunResult result = runProgram(folder);
    EXPECT_EQ(result.exitStatus, 1);
    std::string nulBytes;
    while (nulBytes.size() < 24 * 4) nulBytes += "\\x00";
    EXPECT_EQ(result.standardError,
              "coatedmie: Parameter_in.txt, line 1: expected Alpha1 (a number), found \"" + nulBytes + "...\"\n");
}

TEST(CapacityStop, OnATerminalWaitsForOneKeyAndRestoresTheTerminal) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_TRUE(master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0);
    const int terminal = open(ptsname(master), O_RDWR | O_NOCTTY);
    termios before{};
    ASSERT_EQ(tcgetattr(terminal, &before), 0);

    ScratchFolder folder;
    ScratchFolder capture;
    folder.write(kParameters, "1\t1.5\t0.01\n99622\t1.33\t0\n3\t0\t180\n");
    const pid_t child = startProgram(folder.path(), capture, {{}, "", RLIM_INFINITY, terminal});

    // The message comes first, then the program waits for the key.
    for (int i = 0; i < 5000 && capture.read("stderr") != kCapacityText; ++i) usleep(1000);
    ASSERT_EQ(capture.read("stderr"), kCapacityText);
    usleep(100000);
    int status = 0;
    EXPECT_EQ(waitpid(child, &status, WNOHANG), 0) << "ended without waiting for a key";

    ASSERT_EQ(write(master, "k", 1), 1);  // one key, no Enter
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2);
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
        folder.write(kParameters, "5\t1.5\t0.01\n3\t2.0\t0.5\n2147483647\t0\t180\n");
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

OutputFile file;  // 64 KiB: static rather than on a test's stack

std::string patternBytes(std::size_t count, unsigned seed) {
    std::string bytes(count, '\0');
    for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<char>((i * 131 + seed) % 251);
    return bytes;
}

TEST(OutputFile, PiecesOfEverySizeArriveInOrderAcrossBufferBoundaries) {
    ScratchFolder folder;
    const int descriptor = open((folder / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(descriptor, 0);
    attachOutputFile(file, descriptor);
    std::string expected;
    const std::size_t sizes[] = {1, 100, kOutputBufferSize - 7, 3, kOutputBufferSize, 5, kOutputBufferSize + 1,
                                 2 * kOutputBufferSize + 11, 0, 517, kOutputBufferSize - 1};
    unsigned seed = 0;
    for (std::size_t size : sizes) {
        const std::string piece = patternBytes(size, ++seed);
        appendOutput(file, piece.data(), piece.size());
        expected += piece;
        // The reserve-and-commit path, as the table writer uses it.
        const std::string line = patternBytes(400, ++seed);
        char* room = reserveOutput(file, 1200);
        line.copy(room, line.size());
        commitOutput(file, line.size());
        expected += line;
    }
    EXPECT_EQ(closeOutputFile(file), 0);
    EXPECT_TRUE(folder.read("out") == expected) << "contents differ";
}

TEST(StagedFile, ATemporaryNameLeftBehindIsNotReusedAndAFailedRenameIsReported) {
    ScratchFolder folder;
    const std::string stale = "result.txt." + std::to_string(getpid()) + ".tmp";
    folder.write(stale, "left by an earlier run");
    const std::string finalName = folder / "result.txt";
    StagedFile staged{};
    ASSERT_EQ(stageFile(staged, finalName.c_str(), file), 0);
    EXPECT_NE(staged.temporaryName, folder / stale);
    appendOutput(file, "new", 3);
    ASSERT_EQ(closeOutputFile(file), 0);
    ASSERT_EQ(commitStagedFile(staged), 0);
    EXPECT_EQ(folder.read("result.txt"), "new");
    EXPECT_EQ(folder.read(stale), "left by an earlier run");
    // A folder with something in it where the file should go: the rename fails, and says so.
    const std::string taken = folder / "taken";
    std::filesystem::create_directories(taken + "/inside");
    ASSERT_EQ(stageFile(staged, taken.c_str(), file), 0);
    ASSERT_EQ(closeOutputFile(file), 0);
    EXPECT_NE(commitStagedFile(staged), 0);
    discardStagedFile(staged);
}

}  // namespace
}  // namespace coatedmie
