// Buffered output with every failure kept, and result files that appear
// under their final names only when committed.
#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "output_file.h"
#include "scratch_folder.h"

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

TEST(OutputFile, DiskFullIsReportedAtCloseAndLaterOutputIsDropped) {
    const int descriptor = open("/dev/full", O_WRONLY);
    ASSERT_GE(descriptor, 0);
    attachOutputFile(file, descriptor);
    const std::string piece = patternBytes(kOutputBufferSize / 2 + 1, 1);
    for (int i = 0; i < 5; ++i) appendOutput(file, piece.data(), piece.size());
    EXPECT_EQ(file.error, ENOSPC);
    EXPECT_EQ(closeOutputFile(file), ENOSPC);
}

TEST(OutputFile, SmallOutputThatFailsOnlyAtCloseIsReported) {
    const int descriptor = open("/dev/full", O_WRONLY);
    ASSERT_GE(descriptor, 0);
    attachOutputFile(file, descriptor);
    appendOutput(file, "x", 1);
    EXPECT_EQ(file.error, 0);
    EXPECT_EQ(closeOutputFile(file), ENOSPC);
}

TEST(StagedFile, FinalNameChangesOnlyAtCommit) {
    ScratchFolder folder;
    folder.write("result.txt", "previous results");
    const std::string finalName = folder / "result.txt";
    StagedFile staged{};
    ASSERT_EQ(stageFile(staged, finalName.c_str(), file), 0);
    const std::string temporary = "result.txt." + std::to_string(getpid()) + ".tmp";
    EXPECT_EQ(staged.temporaryName, folder / temporary);
    appendOutput(file, "new results\r\n", 13);
    ASSERT_EQ(closeOutputFile(file), 0);
    EXPECT_EQ(folder.read("result.txt"), "previous results");
    EXPECT_EQ(folder.names(), (std::set<std::string>{"result.txt", temporary}));

    ASSERT_EQ(commitStagedFile(staged), 0);
    EXPECT_EQ(folder.read("result.txt"), "new results\r\n");
    EXPECT_EQ(folder.names(), (std::set<std::string>{"result.txt"}));
    discardStagedFile(staged);  // nothing left to remove; the result stays
    EXPECT_EQ(folder.read("result.txt"), "new results\r\n");
}

TEST(StagedFile, DiscardRemovesTheTemporaryAndKeepsThePreviousFile) {
    ScratchFolder folder;
    folder.write("result.txt", "previous results");
    const std::string finalName = folder / "result.txt";
    StagedFile staged{};
    ASSERT_EQ(stageFile(staged, finalName.c_str(), file), 0);
    appendOutput(file, "half", 4);
    closeOutputFile(file);
    discardStagedFile(staged);
    EXPECT_EQ(folder.names(), (std::set<std::string>{"result.txt"}));
    EXPECT_EQ(folder.read("result.txt"), "previous results");
}

TEST(StagedFile, ATemporaryNameLeftBehindIsNotReused) {
    ScratchFolder folder;
    const std::string stale = "result.txt." + std::to_string(getpid()) + ".tmp";
    folder.write(stale, "left by an earlier run");
    const std::string finalName = folder / "result.txt";
    StagedFile staged{};
    ASSERT_EQ(stageFile(staged, finalName.c_str(), file), 0);
    EXPECT_NE(staged.temporaryName, folder / stale);
    closeOutputFile(file);
    discardStagedFile(staged);
    EXPECT_EQ(folder.read(stale), "left by an earlier run");
}

TEST(StagedFile, NewFilesGetTheUsualPermissions) {
    ScratchFolder folder;
    const mode_t previousMask = umask(022);
    const std::string finalName = folder / "result.txt";
    StagedFile staged{};
    ASSERT_EQ(stageFile(staged, finalName.c_str(), file), 0);
    closeOutputFile(file);
    ASSERT_EQ(commitStagedFile(staged), 0);
    umask(previousMask);
    struct stat status {};
    ASSERT_EQ(stat(finalName.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0644u);
}

TEST(CheckReplaceable, RefusesAFolderAndAMissingFolder) {
    ScratchFolder folder;
    folder.write("file.txt", "x");
    std::filesystem::create_directory(folder / "folder.txt");
    EXPECT_EQ(checkReplaceable((folder / "absent.txt").c_str()), 0);
    EXPECT_EQ(checkReplaceable((folder / "file.txt").c_str()), 0);
    EXPECT_EQ(checkReplaceable((folder / "folder.txt").c_str()), EISDIR);
    EXPECT_EQ(checkReplaceable((folder / "no-such-folder/file.txt").c_str()), ENOENT);
}

TEST(CheckReplaceable, RefusesAReadOnlyFolder) {
    if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
    ScratchFolder folder;
    chmod(folder.path().c_str(), 0555);
    EXPECT_EQ(checkReplaceable((folder / "result.txt").c_str()), EACCES);
}

}  // namespace
}  // namespace coatedmie
