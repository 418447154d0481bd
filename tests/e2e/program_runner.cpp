#include "program_runner.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <signal.h>
#include <sstream>
#include <stdexcept>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace e2e {
namespace {

[[noreturn]] void fail(const std::string& what, int error) {
    throw std::runtime_error(what + ": " + std::strerror(error));
}

// A pipe whose two ends are closed with the object unless released.
struct Pipe {
    int fd[2] = {-1, -1};
    Pipe() {
        if (pipe2(fd, O_CLOEXEC) != 0) fail("pipe", errno);
    }
    ~Pipe() {
        close_end(0);
        close_end(1);
    }
    void close_end(int i) {
        if (fd[i] >= 0) ::close(fd[i]);
        fd[i] = -1;
    }
};

// Child side of run_command, between fork and exec: only async-signal-safe
// calls.  On failure the errno goes to `report` and the child ends with 127.
[[noreturn]] void exec_child(const char* program, char* const argv[], const char* cwd,
                             int out_fd, int err_fd, int report) {
    int null_fd = ::open("/dev/null", O_RDONLY);
    if (null_fd < 0 || dup2(null_fd, 0) < 0 || dup2(out_fd, 1) < 0 || dup2(err_fd, 2) < 0 ||
        chdir(cwd) != 0) {
        int error = errno;
        ssize_t ignored = ::write(report, &error, sizeof error);
        (void)ignored;
        _exit(127);
    }
    execv(program, argv);
    int error = errno;
    ssize_t ignored = ::write(report, &error, sizeof error);
    (void)ignored;
    _exit(127);
}

}  // namespace

const char* program_path() { return L2_PROGRAM; }

ArgumentVector::ArgumentVector(const std::string& program, const std::vector<std::string>& args)
    : words_{program} {
    words_.insert(words_.end(), args.begin(), args.end());
    for (std::string& w : words_) pointers_.push_back(&w[0]);
    pointers_.push_back(nullptr);
}

RunResult run_command(const std::string& program, const std::vector<std::string>& args,
                      const std::string& cwd, double timeout_seconds) {
    ArgumentVector argv(program, args);

    Pipe out, err, report;
    pid_t pid = fork();
    if (pid < 0) fail("fork", errno);
    if (pid == 0) exec_child(program.c_str(), argv.get(), cwd.c_str(), out.fd[1], err.fd[1],
                             report.fd[1]);

    out.close_end(1);
    err.close_end(1);
    report.close_end(1);

    RunResult result;
    using Clock = std::chrono::steady_clock;
    auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                       std::chrono::duration<double>(timeout_seconds));
    std::string* sinks[2] = {&result.out, &result.err};
    int* fds[2] = {&out.fd[0], &err.fd[0]};
    while (out.fd[0] >= 0 || err.fd[0] >= 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            if (result.timed_out) break;  // killed, yet something holds the pipes open
            kill(pid, SIGKILL);
            result.timed_out = true;
            deadline = Clock::now() + std::chrono::seconds(2);
            continue;
        }
        pollfd polled[2];
        for (int i = 0; i < 2; ++i) polled[i] = pollfd{*fds[i], POLLIN, 0};
        int ready = poll(polled, 2, static_cast<int>(left.count()));
        if (ready < 0) {
            if (errno == EINTR) continue;
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            fail("poll", errno);
        }
        for (int i = 0; i < 2; ++i) {
            if (*fds[i] < 0 || polled[i].revents == 0) continue;
            char buffer[65536];
            ssize_t n = ::read(*fds[i], buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                ::close(*fds[i]);
                *fds[i] = -1;
            }
        }
    }

    int wstatus = 0;
    while (waitpid(pid, &wstatus, 0) < 0) {
        if (errno != EINTR) fail("waitpid", errno);
    }
    if (WIFEXITED(wstatus))
        result.status = WEXITSTATUS(wstatus);
    else if (WIFSIGNALED(wstatus))
        result.status = 128 + WTERMSIG(wstatus);

    int child_error = 0;
    if (::read(report.fd[0], &child_error, sizeof child_error) ==
        static_cast<ssize_t>(sizeof child_error)) {
        result.status = 127;
        result.err += "cannot start " + program + " in " + cwd + ": " +
                      std::strerror(child_error) + "\n";
    }
    return result;
}

RunResult run_program(const std::vector<std::string>& args, const std::string& cwd,
                      double timeout_seconds) {
    return run_command(program_path(), args, cwd, timeout_seconds);
}

std::string make_temp_dir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = (base && *base) ? base : "/tmp";
    while (pattern.size() > 1 && pattern.back() == '/') pattern.pop_back();
    pattern += "/l2e2e.XXXXXX";
    if (!mkdtemp(&pattern[0])) fail("mkdtemp " + pattern, errno);
    std::error_code ec;
    fs::path real = fs::canonical(pattern, ec);
    if (ec) fail("realpath " + pattern, ec.value());
    return real.string();
}

void remove_tree(const std::string& path) noexcept {
    std::error_code ec;
    fs::remove_all(path, ec);
}

void make_dir(const std::string& path) {
    std::error_code ec;
    fs::create_directories(path, ec);
    if (ec) fail("mkdir " + path, ec.value());
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) fail("open " + path, errno);
    std::ostringstream content;
    content << in.rdbuf();
    if (in.bad()) fail("read " + path, errno);
    return content.str();
}

void write_file(const std::string& path, const std::string& content) {
    fs::path parent = fs::path(path).parent_path();
    if (!parent.empty()) make_dir(parent.string());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) fail("create " + path, errno);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    out.close();
    if (!out) fail("write " + path, errno);
}

std::vector<std::string> list_files(const std::string& root, bool with_folders) {
    std::vector<std::string> found;
    std::error_code ec;
    fs::recursive_directory_iterator it(root, ec), end;
    if (ec) fail("list " + root, ec.value());
    for (; it != end; it.increment(ec)) {
        if (ec) fail("list " + root, ec.value());
        std::string relative = it->path().lexically_relative(root).generic_string();
        if (it->is_directory() && !it->is_symlink()) {
            if (with_folders) found.push_back(relative + "/");
        } else {
            found.push_back(relative);
        }
    }
    if (ec) fail("list " + root, ec.value());
    std::sort(found.begin(), found.end());
    return found;
}

std::string base64(const std::string& bytes)
{
    static const char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t left = bytes.size() - i;
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        if (left > 1) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (left > 2) v |= static_cast<unsigned char>(bytes[i + 2]);
        text += alphabet[(v >> 18) & 63];
        text += alphabet[(v >> 12) & 63];
        text += left > 1 ? alphabet[(v >> 6) & 63] : '=';
        text += left > 2 ? alphabet[v & 63] : '=';
    }
    return text;
}

}  // namespace e2e
