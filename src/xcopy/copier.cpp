#include "xcopy/copier.h"

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "xcopy/file_writer.h"

namespace fs = std::filesystem;

namespace xcopy {
namespace {

// A refusal before anything is copied.
struct Refusal {
    std::string message;
};

bool IsSeparator(char c) { return c == '\\' || c == '/'; }
bool IsHidden(const std::string &name) { return !name.empty() && name[0] == '.'; }

// Maps a Windows path; an unmapped drive is refused as the command processor words it.
fs::path Map(const std::string &windowsPath) {
    try {
        if (windowsPath.empty()) return platform::MapPath(platform::CurDir());
        if (windowsPath.size() == 2 && windowsPath[1] == ':')  // "E:" is that drive's current folder
            return platform::MapPath(platform::CurDir(windowsPath[0]));
        return platform::MapPath(windowsPath);
    } catch (const platform::Error &e) {
        if (e.number == 68) throw Refusal{"Invalid drive"};
        throw Refusal{e.description + " - " + windowsPath};
    }
}

struct Source {
    fs::path folder;            // Linux folder the copy starts in
    std::string folderText;     // the same as written, for the listing of copied files
    std::string pattern = "*.*";
    bool singleFile = false;    // a file named without wildcards
};

Source ResolveSource(const std::string &text) {
    Source source;
    if (!IsSeparator(text.back())) {
        fs::path whole = Map(text);
        std::error_code ec;
        if (fs::is_directory(whole, ec)) {
            source.folder = whole;
            source.folderText = text;
            return source;
        }
        size_t cut = text.find_last_of("\\/");
        if (cut == std::string::npos && text.size() >= 2 && text[1] == ':') cut = 1;
        source.pattern = cut == std::string::npos ? text : text.substr(cut + 1);
        source.folderText = cut == std::string::npos ? std::string() : text.substr(0, cut + 1);
        source.singleFile = !platform::HasWildcard(source.pattern);
    } else {
        source.folderText = text;
    }
    source.folder = Map(source.folderText);
    std::error_code ec;
    if (!fs::is_directory(source.folder, ec)) throw Refusal{"File not found - " + source.pattern};
    if (source.singleFile && !fs::is_regular_file(source.folder / source.pattern, ec))
        throw Refusal{"File not found - " + source.pattern};
    while (!source.folderText.empty() && IsSeparator(source.folderText.back())) source.folderText.pop_back();
    return source;
}

// True when `inner` is `outer` or lies below it.
bool Inside(const fs::path &inner, const fs::path &outer) {
    fs::path rel = inner.lexically_relative(outer);
    return !rel.empty() && *rel.begin() != "..";
}

std::vector<fs::directory_entry> SortedEntries(const fs::path &folder) {
    std::vector<fs::directory_entry> entries;
    for (const auto &entry : fs::directory_iterator(folder)) entries.push_back(entry);
    std::sort(entries.begin(), entries.end(),
              [](const auto &a, const auto &b) { return a.path().filename() < b.path().filename(); });
    return entries;
}

class TreeCopy {
public:
    TreeCopy(const Options &options, const Source &source, fs::path destination, std::ostream &out,
             std::ostream &err)
        : options_(options), source_(source), destination_(std::move(destination)), out_(out), err_(err) {}

    int copied() const { return copied_; }

    // Walks one folder (relative to the source folder); a write failure throws WriteFailure.
    // Links to folders and files are followed; a folder that is already being copied on the current
    // path (a link back to an ancestor) or that is the destination is passed over with a note on `err`.
    void Walk(const fs::path &relative) {
        bool createdHere = false;
        walking_.push_back(relative);
        for (const auto &entry : SortedEntries(source_.folder / relative)) {
            std::string name = entry.path().filename().string();
            if (IsHidden(name)) continue;
            std::error_code ec;
            if (entry.is_directory(ec)) {
                if (!(options_.subfolders || options_.structureOnly)) continue;
                if (std::string loop = Loop(entry.path()); !loop.empty())
                    err_ << "Skipped " << Shown(relative / name) << ": " << loop << '\n';
                else
                    Walk(relative / name);
                continue;
            }
            if (!entry.is_regular_file(ec) || !platform::WildcardMatch(source_.pattern, name)) continue;
            if (options_.structureOnly) {
                if (!createdHere) MakeFolder(destination_ / relative);
                createdHere = true;
                continue;
            }
            if (CopyFile(entry.path(), relative, name, createdHere)) createdHere = true;
        }
        walking_.pop_back();
    }

private:
    // Copies one file when /D allows; returns whether its destination folder now exists.
    bool CopyFile(const fs::path &from, const fs::path &relative, const std::string &name, bool folderMade) {
        fs::path folder = destination_ / relative;
        fs::path to = folder / name;
        fs::file_time_type fromTime = fs::last_write_time(from);
        if (options_.newerOnly) {
            std::error_code ec;
            fs::file_time_type toTime = fs::last_write_time(to, ec);
            if (!ec && toTime >= fromTime) return folderMade;
        }
        if (!folderMade) MakeFolder(folder);
        WriteCopy(from, to, fromTime, generator_);
        out_ << Shown(relative / name) << '\n';
        ++copied_;
        return true;
    }

    // A source path as the listing names it: the source folder as written, then the relative part.
    std::string Shown(const fs::path &relative) const {
        std::string text = relative.lexically_normal().string();
        std::replace(text.begin(), text.end(), '/', '\\');
        if (text.empty() || text == ".") return source_.folderText;
        return source_.folderText + "\\" + text;
    }

    // Why a folder must not be entered: it is (by device and inode) a folder on the current path or
    // the destination; empty when it is neither.
    std::string Loop(const fs::path &folder) const {
        std::error_code ec;
        for (const fs::path &open : walking_)
            if (fs::equivalent(folder, source_.folder / open, ec))
                return "it leads back to " + Shown(open) + ", which is being copied";
        if (fs::equivalent(folder, destination_, ec))
            return "it leads into the destination " + platform::ShownPath(destination_);
        return {};
    }

    const Options &options_;
    const Source &source_;
    fs::path destination_;
    std::ostream &out_;
    std::ostream &err_;
    std::vector<fs::path> walking_;  // the folders on the current path, relative to the source folder
    int copied_ = 0;
    std::mt19937_64 generator_{std::random_device{}()};
};

}  // namespace

int Copy(const Options &options, std::ostream &out, std::ostream &err) {
    Source source;
    fs::path destination;
    try {
        source = ResolveSource(options.source);
        destination = Map(options.destination.value_or(std::string()));
        std::error_code ec;
        fs::path from = fs::canonical(source.folder, ec);
        fs::path to = fs::weakly_canonical(destination, ec);
        bool recursive = options.subfolders || options.structureOnly;
        if (recursive && Inside(to, from)) throw Refusal{"Cannot perform a cyclic copy"};
        if (!recursive && to == from) throw Refusal{"File cannot be copied onto itself"};
        if (fs::exists(destination, ec) && !fs::is_directory(destination, ec))
            throw Refusal{"Cannot create folder - " + *options.destination + " is a file"};
    } catch (const Refusal &r) {
        out << r.message << '\n' << "0 File(s) copied" << std::endl;
        return kBadCommand;
    }

    TreeCopy copy(options, source, destination, out, err);
    int status = kSuccess;
    try {
        // A destination written with a trailing backslash is made only when something goes into it.
        if (!options.destination || !IsSeparator(options.destination->back())) MakeFolder(destination);
        copy.Walk({});
    } catch (const WriteFailure &failure) {
        out << failure.message << '\n';
        status = kWriteFailure;
    } catch (const fs::filesystem_error &e) {  // reading the source tree failed
        out << e.what() << '\n';
        status = kWriteFailure;
    }
    out << copy.copied() << " File(s) copied" << std::endl;
    return status;
}

int Run(std::string_view argumentText, std::ostream &out, std::ostream &err) {
    try {
        return Copy(ParseCommandLine(argumentText), out, err);
    } catch (const CommandLineError &e) {
        out << e.message << '\n' << "0 File(s) copied" << std::endl;
        return kBadCommand;
    }
}

}  // namespace xcopy
