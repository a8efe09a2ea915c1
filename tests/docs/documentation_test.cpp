// The documentation keeps up with the program: every option is in the
// README's table and in the man page, every shipped example is in the
// README, and every message the sources can print (fatal errors, warnings,
// the option mistakes) is in the README's tables, so that a user finds what
// each means. Messages are read from the sources themselves: the first
// string literal of each call that prints one, cut at its printf
// conversions into the pieces the README must hold.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "driver/options.h"
#include "test_support.h"

namespace fs = std::filesystem;
using namespace morvane_test;

namespace {

std::string readme() { return read_file(source_dir() + "/README.md"); }

TEST(documentation, every_option_is_in_the_readme_and_the_man_page) {
    const std::string text = readme();
    const std::string man = read_file(source_dir() + "/doc/morvane.1");
    ASSERT_FALSE(man.empty());
    for (const option_entry& o : option_table()) {
        const std::string name(o.name);
        EXPECT_NE(text.find("| `--" + name), std::string::npos) << "README option table lacks --" << name;
        // The man page writes each minus sign of an option as \-.
        std::string escaped = "\\-\\-";
        for (char c : name) escaped += c == '-' ? std::string("\\-") : std::string(1, c);
        const bool in_man = man.find(".B " + escaped) != std::string::npos ||
                            man.find(".BR " + escaped) != std::string::npos ||
                            man.find(".BI " + escaped) != std::string::npos;
        EXPECT_TRUE(in_man) << "man page lacks --" << name;
    }
}

TEST(documentation, every_example_is_in_the_readme) {
    const std::string text = readme();
    int examples = 0;
    for (const auto& e : fs::directory_iterator(source_dir() + "/examples")) {
        ++examples;
        const std::string name = e.path().filename().string();
        EXPECT_NE(text.find("| `" + name + "` |"), std::string::npos) << name;
    }
    EXPECT_GT(examples, 0);
}

// The sources with comments and preprocessor lines blanked, literals kept.
std::string code_of(const std::string& source) {
    std::string out;
    out.reserve(source.size());
    for (std::size_t i = 0; i < source.size();) {
        const char c = source[i];
        if (c == '"' || c == '\'') {
            const std::size_t start = i++;
            while (i < source.size() && source[i] != c) i += source[i] == '\\' ? 2 : 1;
            ++i;
            out += source.substr(start, i - start);
        } else if (source.compare(i, 2, "//") == 0 || (c == '#' && (out.empty() || out.back() == '\n'))) {
            while (i < source.size() && source[i] != '\n') ++i;
        } else if (source.compare(i, 2, "/*") == 0) {
            const std::size_t end = source.find("*/", i + 2);
            i = end == std::string::npos ? source.size() : end + 2;
        } else {
            out += c;
            ++i;
        }
    }
    return out;
}

// The text of the first string literal in code[from, to), escapes undone,
// with the literals written right after it (the compiler joins them).
bool first_literal(const std::string& code, std::size_t from, std::size_t to, std::string& text) {
    std::size_t i = code.find('"', from);
    if (i == std::string::npos || i >= to) return false;
    text.clear();
    while (i < code.size() && code[i] == '"') {
        for (++i; i < code.size() && code[i] != '"'; ++i) {
            if (code[i] == '\\' && i + 1 < code.size()) {
                ++i;
                text += code[i] == 'n' ? '\n' : code[i];
            } else {
                text += code[i];
            }
        }
        i = code.find_first_not_of(" \t\n", i + 1);
    }
    return true;
}

// Where the argument list opening at code[open] ends.
std::size_t closing_bracket(const std::string& code, std::size_t open) {
    int depth = 0;
    for (std::size_t i = open; i < code.size(); ++i) {
        if (code[i] == '"' || code[i] == '\'') {
            const char quote = code[i++];
            while (i < code.size() && code[i] != quote) i += code[i] == '\\' ? 2 : 1;
        } else if (code[i] == '(') {
            ++depth;
        } else if (code[i] == ')' && --depth == 0) {
            return i;
        }
    }
    return code.size();
}

struct message_piece {
    std::string file, piece;
    bool operator<(const message_piece& o) const { return file + piece < o.file + o.piece; }
};

// Where a printf conversion starts at message[i], its length; else 0.
std::size_t conversion_at(const std::string& m, std::size_t i) {
    if (m[i] != '%') return 0;
    std::size_t j = i + 1;
    while (j < m.size() && std::strchr("-+ #0123456789.lz", m[j])) ++j;
    return j < m.size() && std::strchr("diuxXcsgfe", m[j]) ? j + 1 - i : 0;
}

// The message cut at its conversions; short pieces (a bracket, "Couldn't
// read " before a name) say nothing alone and are left out.
std::vector<std::string> pieces_of(const std::string& message) {
    std::vector<std::string> pieces;
    std::string piece;
    auto keep = [&] {
        piece.erase(0, piece.find_first_not_of(" \n"));
        piece.erase(piece.find_last_not_of(" \n") + 1);
        if (piece.size() >= 6) pieces.push_back(piece);
        piece.clear();
    };
    for (std::size_t i = 0; i < message.size();) {
        if (const std::size_t n = conversion_at(message, i)) {
            keep();
            i += n;
        } else {
            piece += message[i++];
        }
    }
    keep();
    return pieces;
}

bool identifier_char(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// Every message of the sources: the first literal of each printing call, and
// of each assignment to a problem or message text.
std::set<message_piece> source_messages() {
    static const char* const calls[] = {"fatal_error", "fail_if",    "fail",      "cannot",
                                        "warn",        "error_text", "clear_tab", "reduce_search_width",
                                        "fprintf",     "fputs"};
    static const char* const assigned[] = {"problem", "message[]"};
    std::set<message_piece> found;
    for (const auto& e : fs::recursive_directory_iterator(source_dir() + "/src")) {
        if (e.path().extension() != ".cpp") continue;
        const std::string code = code_of(read_file(e.path().string()));
        const std::string file = e.path().lexically_relative(source_dir()).string();
        auto add = [&](const std::string& message) {
            for (const std::string& p : pieces_of(message)) found.insert({file, p});
        };
        // A whole word at i, then white space, then the character after.
        auto word_then = [&](std::size_t i, const std::string& word, char after) -> std::size_t {
            if (code.compare(i, word.size(), word) != 0 || (i > 0 && identifier_char(code[i - 1]))) return 0;
            std::size_t j = i + word.size();
            if (j < code.size() && identifier_char(code[j]) && identifier_char(word.back())) return 0;
            j = code.find_first_not_of(" \t\n", j);
            return j != std::string::npos && code[j] == after ? j : 0;
        };
        for (std::size_t i = 0; i < code.size(); ++i) {
            for (const std::string name : calls) {
                const std::size_t open = word_then(i, name, '(');
                if (!open) continue;
                const std::size_t close = closing_bracket(code, open);
                const bool to_stream = name == "fprintf" || name == "fputs";
                if (to_stream && code.substr(open, close - open).find("stderr") == std::string::npos) continue;
                std::string text;
                if (first_literal(code, open, close, text)) add(text);
            }
            for (const std::string name : assigned) {
                const std::size_t equals = word_then(i, name, '=');
                if (!equals || code[equals + 1] == '=') continue;
                const std::size_t at = code.find_first_not_of(" \t\n", equals + 1);
                std::string text;
                if (at != std::string::npos && code[at] == '"' && first_literal(code, at, at + 1, text)) add(text);
            }
        }
    }
    return found;
}

TEST(documentation, every_message_of_the_sources_is_in_the_readme) {
    const std::set<message_piece> messages = source_messages();
    // The reader itself must find the messages it is meant to find.
    for (const char* known :
         {"M must be positive", "Warning: setting progressive_frame = 1", "vbv_delay overflow!", "invalid motion_type",
          "unknown option", "malloc failed", "frames per second; the parameter file's frame_rate_code"})
        EXPECT_TRUE(std::any_of(messages.begin(), messages.end(), [&](const message_piece& m) {
            return m.piece == known;
        })) << known;
    EXPECT_GT(messages.size(), 150u);
    const std::string text = readme();
    for (const message_piece& m : messages)
        EXPECT_NE(text.find(m.piece), std::string::npos)
            << m.file << ": the README does not explain \"" << m.piece << "\"";
}

}  // namespace
