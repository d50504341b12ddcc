#pragma once
// An output stream that passes everything on to another one and keeps its last lines, so that a
// failure can be told again in the system log.
#include <deque>
#include <ostream>
#include <streambuf>
#include <string>

namespace xcopy {

class OutputTail : private std::streambuf, public std::ostream {
public:
    OutputTail(std::ostream &target, std::size_t lines) : std::ostream(this), target_(target), keep_(lines) {}
    // The kept lines, joined by "; ".
    std::string Text() const {
        std::string text;
        for (const auto &line : lines_) text += (text.empty() ? "" : "; ") + line;
        return text;
    }

private:
    int overflow(int c) override {
        if (c == std::char_traits<char>::eof()) return std::char_traits<char>::not_eof(c);
        target_.put(static_cast<char>(c));
        if (c != '\n') {
            current_ += static_cast<char>(c);
        } else if (!current_.empty()) {
            lines_.push_back(std::move(current_));
            current_.clear();
            if (lines_.size() > keep_) lines_.pop_front();
        }
        return c;
    }
    int sync() override { return target_.flush() ? 0 : -1; }

    std::ostream &target_;
    std::size_t keep_;
    std::deque<std::string> lines_;
    std::string current_;
};

}  // namespace xcopy
