// The output buffer and the temporary names, where a run of the program does
// not reach: pieces as large as the buffer, and a temporary name taken by an
// earlier process with the same id. Failures, discards and renames are
// checked on the program itself (end_to_end_test.cpp).
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include <gtest/gtest.h>

#include "output_file.h"
#include "program_runner.h"

namespace coatedmie {
namespace {

using testing::ScratchFolder;

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
    const std::size_t sizes[] = {1, 100, kOutputBufferSize - 7, 3, kOutputBufferSize, 5,
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

TEST(StagedFile, ATemporaryNameLeftBehindIsNotReused) {
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
}

}  // namespace
}  // namespace coatedmie
