// A fresh folder in the build tree for one test, removed with its contents
// when the test ends.
#ifndef COATEDMIE_TESTS_SCRATCH_FOLDER_H
#define COATEDMIE_TESTS_SCRATCH_FOLDER_H

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <stdexcept>
#include <string>

namespace coatedmie::testing {

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

    std::string read(const std::string& name) const {
        std::ifstream in(*this / name, std::ios::binary);
        if (!in) return "<missing>";
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

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

}  // namespace coatedmie::testing

#endif  // COATEDMIE_TESTS_SCRATCH_FOLDER_H
