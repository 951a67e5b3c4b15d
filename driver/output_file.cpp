#include "output_file.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace coatedmie {
namespace {

void writeAll(OutputFile& file, const char* bytes, std::size_t count) {
    while (count > 0 && file.error == 0) {
        const ssize_t written = write(file.descriptor, bytes, count);
        if (written < 0) {
            if (errno != EINTR) file.error = errno;
            continue;
        }
        if (written == 0) {
            file.error = EIO;
            break;
        }
        bytes += written;
        count -= static_cast<std::size_t>(written);
    }
}

void flushOutput(OutputFile& file) {
    writeAll(file, file.buffer, file.used);
    file.used = 0;
}

// Temporary files that a signal handler removes before the process ends.
constexpr int kInterruptSlots = 4;
StagedFile* volatile interruptSlots[kInterruptSlots];
bool handlersInstalled = false;

extern "C" void removeTemporariesAndDie(int signalNumber) {
    for (StagedFile* staged : interruptSlots) {
        if (staged != nullptr && staged->temporaryExists) unlink(staged->temporaryName);
    }
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}

void installInterruptHandlers() {
    struct sigaction action {};
    action.sa_handler = removeTemporariesAndDie;
    sigemptyset(&action.sa_mask);
    const int signalNumbers[] = {SIGINT, SIGTERM, SIGHUP};
    for (int signalNumber : signalNumbers) {
        struct sigaction previous {};
        // A signal that the caller of this program ignores stays ignored.
        if (sigaction(signalNumber, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
        sigaction(signalNumber, &action, nullptr);
    }
    handlersInstalled = true;
}

}  // namespace

void attachOutputFile(OutputFile& file, int descriptor) {
    file.descriptor = descriptor;
    file.error = 0;
    file.used = 0;
}

char* reserveOutput(OutputFile& file, std::size_t count) {
    if (kOutputBufferSize - file.used < count) flushOutput(file);
    return file.buffer + file.used;
}

void commitOutput(OutputFile& file, std::size_t count) { file.used += count; }

void appendOutput(OutputFile& file, const char* bytes, std::size_t count) {
    if (count > kOutputBufferSize - file.used) {
        flushOutput(file);
        if (count >= kOutputBufferSize) {
            writeAll(file, bytes, count);
            return;
        }
    }
    std::memcpy(file.buffer + file.used, bytes, count);
    file.used += count;
}

int closeOutputFile(OutputFile& file) {
    flushOutput(file);
    // Forced to the disk before the rename, so that a crash of the system
    // cannot leave an empty file under the final name. Special files such as
    // /dev/null cannot be synchronised (EINVAL) and need not be.
    if (file.error == 0 && fsync(file.descriptor) != 0 && errno != EINVAL) file.error = errno;
    if (close(file.descriptor) != 0 && file.error == 0 && errno != EINTR) file.error = errno;
    file.descriptor = -1;
    return file.error;
}

int checkReplaceable(const char* finalName) {
    struct stat status {};
    if (lstat(finalName, &status) == 0 && S_ISDIR(status.st_mode)) return EISDIR;
    char folder[kTemporaryNameSize] = ".";
    if (const char* slash = std::strrchr(finalName, '/')) {
        const std::size_t length = static_cast<std::size_t>(slash - finalName);
        if (length + 1 > sizeof folder) return ENAMETOOLONG;
        std::memcpy(folder, finalName, length);
        folder[length] = '\0';
        if (length == 0) std::strcpy(folder, "/");
    }
    if (access(folder, W_OK | X_OK) != 0) return errno;
    return 0;
}

int stageFile(StagedFile& staged, const char* finalName, OutputFile& file) {
    staged.finalName = finalName;
    staged.temporaryExists = false;
    const long processId = static_cast<long>(getpid());
    for (int attempt = 0;; ++attempt) {
        const int length =
            attempt == 0
                ? std::snprintf(staged.temporaryName, kTemporaryNameSize, "%s.%ld.tmp", finalName, processId)
                : std::snprintf(staged.temporaryName, kTemporaryNameSize, "%s.%ld-%d.tmp", finalName,
                                processId, attempt);
        if (length < 0 || static_cast<std::size_t>(length) >= kTemporaryNameSize) return ENAMETOOLONG;
        // A signal between creating the file and recording it would leave
        // the file behind: hold the interrupting signals back until both are done.
        sigset_t interrupting;
        sigset_t previousMask;
        sigemptyset(&interrupting);
        sigaddset(&interrupting, SIGINT);
        sigaddset(&interrupting, SIGTERM);
        sigaddset(&interrupting, SIGHUP);
        sigprocmask(SIG_BLOCK, &interrupting, &previousMask);
        const int descriptor =
            open(staged.temporaryName, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        const int openError = errno;
        if (descriptor >= 0) staged.temporaryExists = true;
        sigprocmask(SIG_SETMASK, &previousMask, nullptr);
        if (descriptor >= 0) {
            attachOutputFile(file, descriptor);
            return 0;
        }
        // A name left behind by an earlier process with the same id.
        if (openError != EEXIST || attempt >= 100) return openError;
    }
}

int commitStagedFile(StagedFile& staged) {
    if (rename(staged.temporaryName, staged.finalName) != 0) return errno;
    staged.temporaryExists = false;
    return 0;
}

void discardStagedFile(StagedFile& staged) {
    if (staged.temporaryExists) unlink(staged.temporaryName);
    staged.temporaryExists = false;
}

void removeOnInterrupt(StagedFile& staged) {
    if (!handlersInstalled) installInterruptHandlers();
    for (StagedFile* volatile& slot : interruptSlots) {
        if (slot == nullptr) {
            slot = &staged;
            return;
        }
    }
}

void releaseOnInterrupt(StagedFile& staged) {
    for (StagedFile* volatile& slot : interruptSlots) {
        if (slot == &staged) slot = nullptr;
    }
}

}  // namespace coatedmie
