// Result files that are complete or absent: each is written under a
// temporary name in the folder of its final name, through a buffer of our
// own with every write checked, flushed to the disk, and renamed into place
// only when the caller has finished all of its files. A failed run leaves no
// temporary file and the previous results as they were.
#ifndef COATEDMIE_OUTPUT_FILE_H
#define COATEDMIE_OUTPUT_FILE_H

#include <cstddef>

namespace coatedmie {

inline constexpr std::size_t kOutputBufferSize = 64 * 1024;
inline constexpr std::size_t kTemporaryNameSize = 256;

// Buffered output to a file descriptor. The first failure is kept in error
// (an errno value) and later output is dropped.
struct OutputFile {
    int descriptor;
    int error;
    std::size_t used;
    char buffer[kOutputBufferSize];
};

void attachOutputFile(OutputFile& file, int descriptor);

// Space for count <= kOutputBufferSize bytes at the end of the buffered text;
// the caller fills some of it and then calls commitOutput with how many.
char* reserveOutput(OutputFile& file, std::size_t count);
void commitOutput(OutputFile& file, std::size_t count);
void appendOutput(OutputFile& file, const char* bytes, std::size_t count);

// Writes out the buffer, forces the file to the disk and closes it. Returns 0
// or the errno of the first failure of the file's life.
int closeOutputFile(OutputFile& file);

// A result file under construction: finalName is where it goes,
// temporaryName where it is written meanwhile.
struct StagedFile {
    const char* finalName;
    char temporaryName[kTemporaryNameSize];
    bool temporaryExists;
};

// Returns 0 when finalName can be replaced by a file: it is absent or not a
// folder, and its folder is writable. Otherwise an errno value that says why.
int checkReplaceable(const char* finalName);

// Creates the temporary file for finalName and attaches file to it. Returns 0
// or an errno value.
int stageFile(StagedFile& staged, const char* finalName, OutputFile& file);

// Renames the temporary file onto the final name. Returns 0 or an errno value.
int commitStagedFile(StagedFile& staged);

// Removes the temporary file if it is still there.
void discardStagedFile(StagedFile& staged);

// Until the matching release call, SIGINT, SIGTERM and SIGHUP remove the
// temporary file of staged before the process ends.
void removeOnInterrupt(StagedFile& staged);
void releaseOnInterrupt(StagedFile& staged);

}  // namespace coatedmie

#endif  // COATEDMIE_OUTPUT_FILE_H
