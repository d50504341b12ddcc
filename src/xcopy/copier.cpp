// The copier's passes over the source tree, with its counts, its stop on a signal and its words.
#include "xcopy/copier.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/copy_tree.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/safe_file.h"
#include "xcopy/file_writer.h"

namespace fs = std::filesystem;

namespace xcopy {
namespace {

// A refusal before anything is copied.
struct Refusal {
    std::string message;
};

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Maps a Windows path; an unmapped drive is refused as the command processor words it.
fs::path Map(const std::string &windowsPath) {
    try {
        if (windowsPath.empty()) return platform::MapPath(platform::CurDir());
        if (windowsPath.size() == 2 && windowsPath[1] == ':')  // "E:" is that drive's current folder
            return platform::MapPath(platform::CurDir(windowsPath[0]));
        return platform::MapPath(windowsPath);
    } catch (const platform::Error &e) {
        if (e.number == 68) throw Refusal{"Invalid drive"};
        throw Refusal{platform::Message(e) + " - " + windowsPath};
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

class TreeCopy {
public:
    TreeCopy(const Options &options, const Source &source, fs::path destination, std::ostream &out,
             std::ostream &err)
        : options_(options), source_(source), destination_(std::move(destination)), out_(out), err_(err) {}

    int copied() const { return copied_; }
    int kept() const { return kept_; }
    // The links made by another user that were not followed, as shown.
    const std::vector<std::string> &refused() const { return refused_; }

    // Walks the source tree and copies; a write failure throws WriteFailure.
    void Run() {
        platform::WalkCopySource(
            source_.folder, source_.pattern, options_.subfolders || options_.structureOnly, destination_,
            {[this](const fs::path &relative) { File(relative); },
             [this](const fs::path &relative, const fs::path *ancestor) {
                 err_ << "Skipped " << Shown(relative) << ": "
                      << (ancestor ? "it leads back to " + Shown(*ancestor) + ", which is being copied"
                                   : "it leads into the destination " + platform::ShownPath(destination_))
                      << '\n';
             },
             [this](const fs::path &relative, const fs::path &link) { Refused(relative, link); },
             options_.databasesApart ? [](const fs::path &) {} : std::function<void(const fs::path &)>()});
    }

private:
    // /T makes the file's folder; otherwise the file is copied when /D allows.
    void File(const fs::path &relative) {
        const fs::path folder = relative.has_parent_path() ? destination_ / relative.parent_path() : destination_;
        if (options_.structureOnly) {
            if (made_.insert(folder).second) MakeFolder(folder);
            return;
        }
        const fs::path from = source_.folder / relative;
        const std::string name = relative.filename().string();
        try {
            if (!folder_ || folder_->path() != folder) {
                folder_.reset();
                folder_.emplace(folder);
                if (made_.insert(folder).second) platform::RemoveStaleTemporaries(folder);  // of killed copies
            }
            if (options_.newerOnly && folder_->HoldsAsNew(name, from)) return;
            if (!options_.keepReplaced.empty() &&
                folder_->Keep(name, fs::path(options_.keepReplaced) / relative.parent_path()))
                ++kept_;
            folder_->Copy(from, name);
        } catch (const platform::CopyFailure &f) {
            if (f.reading && !f.refusedLink.empty()) return Refused(relative, f.refusedLink);
            if (f.err == EINTR && platform::StopSignal())
                throw WriteFailure{"The copy was stopped before " + Shown(relative) + " was copied."};
            const fs::path failed = f.reading ? from : !folder_ ? folder : folder / name;
            throw WriteFailure{Describe(f.err, failed, f.reading, f.refusedLink)};
        }
        out_ << Shown(relative) << '\n';
        ++copied_;
    }

    // Nothing of what a link of another user names is read; the link is named, for an administrator to remove.
    void Refused(const fs::path &relative, const fs::path &link) {
        const std::string shown = "'" + platform::ShownPath(link) + "'";
        err_ << "Skipped " << Shown(relative) << ": " << platform::LinkOfAnotherUser(shown) << "; it was not followed\n";
        refused_.push_back(shown);
    }

    // A source path as the listing names it: the source folder as written, then the relative part.
    std::string Shown(const fs::path &relative) const {
        std::string text = relative.lexically_normal().string();
        std::replace(text.begin(), text.end(), '/', '\\');
        if (text.empty() || text == ".") return source_.folderText;
        return source_.folderText + "\\" + text;
    }

    const Options &options_;
    const Source &source_;
    fs::path destination_;
    std::ostream &out_;
    std::ostream &err_;
    std::set<fs::path> made_;             // the folders made (/T) or written into
    std::optional<platform::CopyFolder> folder_;  // the folder the last file went into
    int copied_ = 0;
    int kept_ = 0;  // earlier copies moved to Options::keepReplaced
    std::vector<std::string> refused_;
};

// The reason of a copy that left out what links of another user name.
std::string LeftOut(const std::vector<std::string> &links) {
    if (links.size() == 1)
        return platform::LinkOfAnotherUser(links[0]) +
               ": it was not followed, and nothing it leads to was copied. An administrator should remove it.";
    std::string names;
    constexpr std::size_t kNamed = 5;
    for (std::size_t i = 0; i < links.size() && i < kNamed; ++i) names += (i ? ", " : "") + links[i];
    if (links.size() > kNamed) names += " and " + std::to_string(links.size() - kNamed) + " more";
    return std::to_string(links.size()) + " links made by another user were not followed, and nothing they lead "
           "to was copied: " + names + ". An administrator should remove them.";
}

}  // namespace

Result Copy(const Options &options, std::ostream &out, std::ostream &err) {
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
        return {kBadCommand, r.message};
    }

    TreeCopy copy(options, source, destination, out, err);
    Result result;
    try {
        // A destination written with a trailing backslash is made only when something goes into it.
        if (!options.destination || !IsSeparator(options.destination->back())) MakeFolder(destination);
        copy.Run();
        // Copied means written out, as far as the file system can tell.
        if (!options.structureOnly && copy.copied() > 0 && !platform::SyncFileSystem(destination))
            throw WriteFailure{Describe(errno, destination)};
    } catch (const WriteFailure &failure) {
        result = {kWriteFailure, failure.message};
    } catch (const fs::filesystem_error &e) {  // reading the source tree failed
        result = {kWriteFailure, Describe(e.code().value(), e.path1(), true)};
    }
    // The files pass tells of the links it did not follow; the structure pass only notes them.
    if (result.status == kSuccess && !options.structureOnly && !copy.refused().empty())
        result = {kLeftOut, LeftOut(copy.refused())};
    if (!result.reason.empty()) out << result.reason << '\n';
    if (copy.kept() > 0)
        out << copy.kept() << " earlier File(s) kept in " << platform::ShownPath(options.keepReplaced) << '\n';
    out << copy.copied() << " File(s) copied" << std::endl;
    return result;
}

Result Run(std::string_view argumentText, std::ostream &out, std::ostream &err, const Options &backup) {
    try {
        Options options = ParseCommandLine(argumentText);
        options.keepReplaced = backup.keepReplaced;
        options.databasesApart = backup.databasesApart;
        return Copy(options, out, err);
    } catch (const CommandLineError &e) {
        out << e.message << '\n' << "0 File(s) copied" << std::endl;
        return {kBadCommand, e.message};
    }
}

}  // namespace xcopy
