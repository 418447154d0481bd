// Data-driven command-line cases: every *.cases file under L2_CASES_DIR holds
// cases in the format of tests/cases/README.md.  Each case becomes one test,
// named "e2e_cases.FILE_STEM/CASE_NAME", that runs the program once in a fresh
// temporary folder and compares standard output, the TAIHEN:/MESSAGE: lines
// of standard error, the exit status and every file left in the folder.
//
// "@DIR@" (the absolute temporary folder, without a trailing "/") is replaced
// in the arguments, and also in the expected standard output and standard
// error, so that a run with an absolute --dir can be checked as well.
//
// A case file that does not parse registers one failing test,
// "e2e_cases.FILE_STEM/parse_error" (no "-": a test filter reads it as
// "but not"), that names the file, line and reason.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "program_runner.h"

namespace fs = std::filesystem;

namespace {

struct Input {
    enum Kind { kFile, kFolder, kSymlink } kind;
    std::string name;
    std::string content;  // file content, or the symbolic link's target
};

struct Case {
    std::string where;  // "naming.cases:12" of its "===" line
    std::string name;
    std::vector<std::string> args;
    std::vector<Input> inputs;
    std::string out;
    std::vector<std::string> err;  // expected TAIHEN:/MESSAGE: lines
    int status = 0;
    std::vector<std::pair<std::string, std::string>> outputs;
};

struct ParseError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

bool starts_with(const std::string& s, const std::string& prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

std::vector<std::string> split_words(const std::string& s) {
    std::istringstream in(s);
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    return words;
}

std::string replace_all(std::string s, const std::string& from, const std::string& to) {
    for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
        s.replace(at, from.size(), to);
    return s;
}

bool valid_case_name(const std::string& name) {
    return !name.empty() && std::all_of(name.begin(), name.end(), [](unsigned char c) {
        return std::isalnum(c) || c == '_';
    });
}

// A relative path that stays inside the temporary folder.
bool valid_path(const std::string& name) {
    if (name.empty() || name[0] == '/') return false;
    for (const auto& part : fs::path(name))
        if (part == ".." || part == ".") return false;
    return true;
}

// Parses one section once its content is complete.
class CaseBuilder {
public:
    CaseBuilder(std::string where, std::string name) {
        c_.where = std::move(where);
        c_.name = std::move(name);
    }

    void section(const std::vector<std::string>& head, const std::vector<std::string>& lines) {
        const std::string& kind = head[0];
        auto arity = [&](size_t low, size_t high) {
            if (head.size() - 1 < low || head.size() - 1 > high)
                throw ParseError("wrong number of words in '--- " + kind + "' line");
        };
        auto once = [&](const char* what) {
            if (!seen_.insert(what).second)
                throw ParseError(std::string("second '--- ") + what + "' section");
        };
        auto text = [&](bool noeol) {
            std::string t;
            for (const auto& l : lines) t += l + "\n";
            if (noeol && !t.empty()) t.pop_back();
            return t;
        };
        auto noeol_flag = [&]() {
            if (head.size() < 3) return false;
            if (head[2] != "noeol") throw ParseError("unknown flag '" + head[2] + "'");
            return true;
        };
        auto path_arg = [&]() {
            if (!valid_path(head[1])) throw ParseError("bad path '" + head[1] + "'");
            return head[1];
        };
        auto no_content = [&]() {
            if (!lines.empty()) throw ParseError("'--- " + kind + "' takes no content");
        };

        if (kind == "args") {
            arity(0, 0);
            once("args");
            c_.args = lines;
        } else if (kind == "file") {
            arity(1, 2);
            add_input({Input::kFile, path_arg(), text(noeol_flag())});
        } else if (kind == "mkdir") {
            arity(1, 1);
            no_content();
            add_input({Input::kFolder, path_arg(), ""});
        } else if (kind == "symlink") {
            arity(2, 2);
            no_content();
            add_input({Input::kSymlink, path_arg(), head[2]});
        } else if (kind == "stdout") {
            arity(0, 0);
            once("stdout");
            c_.out = text(false);
        } else if (kind == "stderr") {
            arity(0, 0);
            once("stderr");
            c_.err = lines;
        } else if (kind == "status") {
            arity(0, 0);
            once("status");
            if (lines.size() != 1 || (lines[0] != "0" && lines[0] != "1" && lines[0] != "2" && lines[0] != "255"))
                throw ParseError("status must be one line: 0, 1, 2 or 255");
            c_.status = std::stoi(lines[0]);
        } else if (kind == "output") {
            arity(1, 2);
            std::string name = path_arg();
            for (const auto& o : c_.outputs)
                if (o.first == name) throw ParseError("output '" + name + "' listed twice");
            c_.outputs.emplace_back(name, text(noeol_flag()));
        } else {
            throw ParseError("unknown section '--- " + kind + "'");
        }
    }

    Case finish() { return std::move(c_); }

private:
    void add_input(Input in) {
        for (const auto& other : c_.inputs)
            if (other.name == in.name) throw ParseError("input '" + in.name + "' given twice");
        c_.inputs.push_back(std::move(in));
    }

    Case c_;
    std::set<std::string> seen_;
};

std::vector<Case> parse_case_file(const std::string& path, const std::string& label) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw ParseError(label + ": cannot be read");
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);

    std::vector<Case> cases;
    std::set<std::string> names;
    std::unique_ptr<CaseBuilder> current;
    std::vector<std::string> head;      // words of the open section's "---" line
    std::vector<std::string> content;   // its lines so far
    size_t head_line = 0;

    auto close_section = [&]() {
        if (head.empty()) return;
        try {
            current->section(head, content);
        } catch (const ParseError& e) {
            throw ParseError(label + ":" + std::to_string(head_line) + ": " + e.what());
        }
        head.clear();
        content.clear();
    };

    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        const std::string at = label + ":" + std::to_string(i + 1) + ": ";
        if (starts_with(line, "===")) {
            close_section();
            if (current) cases.push_back(current->finish());
            if (!starts_with(line, "=== ")) throw ParseError(at + "expected '=== NAME'");
            std::string name = line.substr(4);
            if (!valid_case_name(name))
                throw ParseError(at + "case name '" + name + "' is not letters, digits and _");
            if (!names.insert(name).second) throw ParseError(at + "case '" + name + "' twice");
            current = std::make_unique<CaseBuilder>(at.substr(0, at.size() - 2), name);
            while (i + 1 < lines.size() && starts_with(lines[i + 1], "#")) ++i;
        } else if (starts_with(line, "---")) {
            if (!current) throw ParseError(at + "section before the first '==='");
            close_section();
            head = split_words(line.substr(3));
            if (!starts_with(line, "--- ") || head.empty())
                throw ParseError(at + "expected '--- KIND ...'");
            head_line = i + 1;
        } else if (!head.empty()) {
            content.push_back(line);
        } else if (current) {
            throw ParseError(at + "text outside a section");
        }
    }
    close_section();
    if (current) cases.push_back(current->finish());
    if (cases.empty()) throw ParseError(label + ": holds no case");
    return cases;
}

std::string join_lines(const std::vector<std::string>& lines) {
    std::string s;
    for (const auto& l : lines) s += l + "\n";
    return s;
}

// The TAIHEN:/MESSAGE: lines of a standard error text.
std::vector<std::string> flagged_lines(const std::string& err) {
    std::vector<std::string> kept;
    std::istringstream in(err);
    for (std::string line; std::getline(in, line);)
        if (starts_with(line, "TAIHEN:") || starts_with(line, "MESSAGE:")) kept.push_back(line);
    return kept;
}

void make_inputs(const std::string& dir, const Case& c) {
    for (const Input& in : c.inputs) {
        const std::string path = dir + "/" + in.name;
        switch (in.kind) {
        case Input::kFile:
            e2e::write_file(path, in.content);
            break;
        case Input::kFolder:
            e2e::make_dir(path);
            break;
        case Input::kSymlink:
            if (fs::path(in.name).has_parent_path())
                e2e::make_dir(fs::path(path).parent_path().string());
            fs::create_symlink(in.content, path);
            break;
        }
    }
}

class CaseTest : public ::testing::Test {
public:
    explicit CaseTest(Case c) : c_(std::move(c)) {}

    void TestBody() override {
        const std::string dir = e2e::make_temp_dir();
        struct Cleanup {
            std::string dir;
            ~Cleanup() { e2e::remove_tree(dir); }
        } cleanup{dir};
        SCOPED_TRACE("case " + c_.name + " at " + c_.where);

        make_inputs(dir, c_);
        std::vector<std::string> args;
        for (const auto& a : c_.args) args.push_back(replace_all(a, "@DIR@", dir));
        const e2e::RunResult run = e2e::run_program(args, dir, 30.0);
        ASSERT_FALSE(run.timed_out) << "the run did not end within 30 s\nstdout:\n"
                                    << run.out << "stderr:\n" << run.err;

        const std::string expected_stdout = replace_all(c_.out, "@DIR@", dir);
        const std::string& actual_stdout = run.out;
        EXPECT_EQ(expected_stdout, actual_stdout) << "standard output differs";
        const std::string expected_stderr_lines = replace_all(join_lines(c_.err), "@DIR@", dir);
        const std::string actual_stderr_lines = join_lines(flagged_lines(run.err));
        EXPECT_EQ(expected_stderr_lines, actual_stderr_lines)
            << "TAIHEN:/MESSAGE: lines of standard error differ";
        const int expected_status = c_.status, actual_status = run.status;
        EXPECT_EQ(expected_status, actual_status) << "exit status differs";

        std::set<std::string> known, folders;
        auto note_parents = [&](const std::string& name) {
            for (fs::path p = fs::path(name).parent_path(); !p.empty(); p = p.parent_path())
                folders.insert(p.generic_string() + "/");
        };
        for (const Input& in : c_.inputs) {
            (in.kind == Input::kFolder ? folders : known)
                .insert(in.kind == Input::kFolder ? in.name + "/" : in.name);
            note_parents(in.name);
        }
        for (const auto& [name, content] : c_.outputs) {
            known.insert(name);
            note_parents(name);
            const std::string path = dir + "/" + name;
            std::error_code ec;
            if (!fs::is_regular_file(fs::symlink_status(path, ec))) {
                ADD_FAILURE() << "output file " << name << " is missing or not a regular file";
                continue;
            }
            const std::string& expected_content = content;
            const std::string actual_content = e2e::read_file(path);
            EXPECT_EQ(expected_content, actual_content) << "content of output file " << name;
        }
        std::vector<std::string> unexpected;
        for (const auto& entry : e2e::list_files(dir, true)) {
            bool folder = entry.back() == '/';
            if (!(folder ? folders : known).count(entry)) unexpected.push_back(entry);
        }
        EXPECT_TRUE(unexpected.empty())
            << "the run left files that the case does not list: "
            << ::testing::PrintToString(unexpected);

        if (HasFailure()) std::cout << "full standard error of the run:\n" << run.err;
    }

private:
    Case c_;
};

class ParseErrorTest : public ::testing::Test {
public:
    explicit ParseErrorTest(std::string message) : message_(std::move(message)) {}
    void TestBody() override { FAIL() << "malformed case file: " << message_; }

private:
    std::string message_;
};

constexpr const char* kSuite = "e2e_cases";

void register_one_file(const fs::path& path) {
    const std::string stem = path.stem().string();
    const std::string file = path.string();
    std::vector<Case> cases;
    try {
        cases = parse_case_file(file, path.filename().string());
    } catch (const std::exception& e) {
        const std::string message = e.what();
        ::testing::RegisterTest(kSuite, (stem + "/parse_error").c_str(), nullptr, nullptr,
                                file.c_str(), 1,
                                [message]() -> ::testing::Test* {
                                    return new ParseErrorTest(message);
                                });
        return;
    }
    for (Case& c : cases) {
        const std::string test_name = stem + "/" + c.name;
        ::testing::RegisterTest(kSuite, test_name.c_str(), nullptr, nullptr, file.c_str(), 1,
                                [c]() -> ::testing::Test* { return new CaseTest(c); });
    }
}

void register_all() {
    std::vector<fs::path> files;
    std::error_code ec;
    for (fs::directory_iterator it(L2_CASES_DIR, ec), end; !ec && it != end; it.increment(ec))
        if (it->path().extension() == ".cases") files.push_back(it->path());
    std::sort(files.begin(), files.end());
    if (ec || files.empty()) {
        const std::string message = std::string("no *.cases file in ") + L2_CASES_DIR;
        ::testing::RegisterTest(kSuite, "no_case_files", nullptr, nullptr, __FILE__, __LINE__,
                                [message]() -> ::testing::Test* {
                                    return new ParseErrorTest(message);
                                });
        return;
    }
    for (const auto& f : files) register_one_file(f);
}

[[maybe_unused]] const bool registered = (register_all(), true);

}  // namespace
