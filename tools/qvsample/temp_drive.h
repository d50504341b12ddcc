#pragma once
// Temporary folders mapped as drives through QUORVANT_DRIVES for the life of the object.
#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace qvtest {

class TempDrives {
public:
    // Maps each letter to a fresh empty folder under one temporary root.
    explicit TempDrives(const std::string &letters = "C");
    ~TempDrives();
    TempDrives(const TempDrives &) = delete;
    TempDrives &operator=(const TempDrives &) = delete;

    const std::filesystem::path &root() const { return root_; }
    std::filesystem::path folder(char letter) const { return folders_.at(letter); }
    // The Linux path of a Windows path on one of these drives ("C:\a\b" -> <root>/C/a/b).
    std::filesystem::path linux(const std::string &windowsPath) const;
    // The QUORVANT_DRIVES text in force.
    std::string spec() const;

private:
    std::filesystem::path root_;
    std::map<char, std::filesystem::path> folders_;
    std::optional<std::string> oldSpec_;
};

// Writes a file with the given content, creating its folders.
void WriteFile(const std::filesystem::path &p, const std::string &content);
std::string ReadFile(const std::filesystem::path &p);

}  // namespace qvtest
