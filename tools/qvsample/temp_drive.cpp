// Temporary folders mapped as drives, removed with the object.
#include "qvsample/temp_drive.h"

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace qvtest {

namespace fs = std::filesystem;

TempDrives::TempDrives(const std::string &letters) {
    std::random_device rd;
    root_ = fs::temp_directory_path() / ("qvtest-" + std::to_string(rd()) + std::to_string(rd()));
    fs::create_directories(root_);
    for (char c : letters) {
        fs::path f = root_ / std::string(1, c);
        fs::create_directories(f);
        folders_[c] = f;
    }
    if (const char *old = std::getenv("QUORVANT_DRIVES")) oldSpec_ = old;
    setenv("QUORVANT_DRIVES", spec().c_str(), 1);
}

TempDrives::~TempDrives() {
    oldSpec_ ? setenv("QUORVANT_DRIVES", oldSpec_->c_str(), 1) : unsetenv("QUORVANT_DRIVES");
    std::error_code ec;
    fs::remove_all(root_, ec);
}

std::string TempDrives::spec() const {
    std::string s;
    for (auto &[c, f] : folders_) {
        if (!s.empty()) s += ';';
        s += std::string(1, c) + "=" + f.string();
    }
    return s;
}

fs::path TempDrives::linux(const std::string &windowsPath) const {
    if (windowsPath.size() < 2 || windowsPath[1] != ':') throw std::invalid_argument(windowsPath);
    fs::path p = folders_.at(static_cast<char>(std::toupper(windowsPath[0])));
    std::string rest = windowsPath.substr(2);
    std::stringstream ss(rest);
    std::string part;
    while (std::getline(ss, part, '\\'))
        if (!part.empty()) p /= part;
    return p;
}

void WriteFile(const fs::path &p, const std::string &content) {
    fs::create_directories(p.parent_path());
    std::ofstream f(p, std::ios::binary | std::ios::trunc);
    f << content;
}

std::string ReadFile(const fs::path &p) {
    std::ifstream f(p, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

}  // namespace qvtest
