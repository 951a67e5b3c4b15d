// Scratch folders in the build tree, and runs of the real coatedmie
// executable in them: standard input from /dev/null (or a given descriptor),
// exit status and output captured.
#ifndef COATEDMIE_TESTS_PROGRAM_RUNNER_H
#define COATEDMIE_TESTS_PROGRAM_RUNNER_H

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace coatedmie::testing {

// The bytes of a file, or "<missing>" when it cannot be opened.
inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "<missing>";
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
        out << bytes;
        if (!out) throw std::runtime_error("cannot write " + name);
    }

    std::string read(const std::string& name) const { return readFile(*this / name); }

    std::set<std::string> names() const {
        std::set<std::string> result;
        for (const auto& entry : std::filesystem::directory_iterator(path_)) {
            result.insert(entry.path().filename().string());
        }
        return result;
    }

private:
    std::string path_;
};

inline constexpr char kParameters[] = "Parameter_in.txt";
inline constexpr char kHeader[] = "Header_Coated_TA.txt";
inline constexpr char kTable[] = "Mie_Coated_TA.txt";

// A file of the examples folder, e.g. "reference/Mie_Coated_TA.txt".
inline std::string golden(const std::string& name) {
    return readFile(std::string(COATEDMIE_GOLDEN_DIR) + "/" + name);
}

struct RunOptions {
    int standardInput = -1;               // -1: /dev/null
    rlim_t fileSizeLimit = RLIM_INFINITY;  // bytes any one file may grow to
    std::vector<std::string> arguments;    // after the program name
    std::string standardOutput;            // a file to write to; empty: captured
};

struct RunResult {
    int exitStatus = -1;  // -1 when the program did not exit normally
    std::string standardOutput;
    std::string standardError;
};

// Starts the program; the caller waits with finishProgram.
inline pid_t startProgram(const std::string& folder, const ScratchFolder& capture,
                          const RunOptions& options = {}) {
    const std::string outPath = capture / "stdout";
    const std::string errPath = capture / "stderr";
    std::vector<char*> argv{const_cast<char*>("coatedmie")};
    for (const std::string& argument : options.arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    const pid_t child = fork();
    if (child != 0) return child;
    const int input = options.standardInput >= 0 ? options.standardInput : open("/dev/null", O_RDONLY);
    const std::string& outputPath = options.standardOutput.empty() ? outPath : options.standardOutput;
    const int output = open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int error = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (input < 0 || output < 0 || error < 0 || chdir(folder.c_str()) != 0) _exit(126);
    dup2(input, STDIN_FILENO);
    dup2(output, STDOUT_FILENO);
    dup2(error, STDERR_FILENO);
    if (options.standardInput >= 0) setsid();
    if (options.fileSizeLimit != RLIM_INFINITY) {
        const rlimit limit{options.fileSizeLimit, options.fileSizeLimit};
        setrlimit(RLIMIT_FSIZE, &limit);
        // Writes past the limit then fail with EFBIG instead of killing the process.
        signal(SIGXFSZ, SIG_IGN);
    }
    execv(COATEDMIE_EXECUTABLE, argv.data());
    _exit(127);
}

// Waits for the program, at most timeoutSeconds; a program still running
// then is killed and reported with exit status -1.
inline RunResult finishProgram(pid_t child, const ScratchFolder& capture, int timeoutSeconds = 60) {
    RunResult result;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    while (waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            result.standardError = "<killed after " + std::to_string(timeoutSeconds) + " s>";
            return result;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (WIFEXITED(status)) result.exitStatus = WEXITSTATUS(status);
    result.standardOutput = capture.read("stdout");
    result.standardError = capture.read("stderr");
    return result;
}

inline RunResult runProgram(const ScratchFolder& folder, const RunOptions& options = {}) {
    ScratchFolder capture;
    return finishProgram(startProgram(folder.path(), capture, options), capture);
}

}  // namespace coatedmie::testing

#endif  // COATEDMIE_TESTS_PROGRAM_RUNNER_H
