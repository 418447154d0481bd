// Shared plumbing of the libFuzzer harnesses that run the whole program:
// the driver's entry run(), a private scratch folder, and the comparison of
// two runs of the same input.
//
// Every run starts from a reset state; the product harnesses run each input
// twice and compare the two results, so that any state that survives a run
// shows up as a crash of the harness.
#ifndef L2_FUZZ_DRIVER_H
#define L2_FUZZ_DRIVER_H

#include "program.h"

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <getopt.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace fuzz {

[[noreturn]] inline void fail(const char* what, const std::string& detail = "")
{
    std::fprintf(stderr, "HARNESS: %s %s\n", what, detail.c_str());
    std::fflush(stderr);
    std::abort();
}

// A fresh folder under /dev/shm (or $TMPDIR, or /tmp), with a trailing "/".
inline std::string make_scratch_dir()
{
    const char* base = std::getenv("TMPDIR");
    std::string root = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : (base ? base : "/tmp");
    std::string pattern = root + "/l2fuzz.XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr)
        fail("cannot make scratch folder", pattern);
    return std::string(buffer.data()) + "/";
}

// Removes a scratch folder and everything in it (at exit).
inline void remove_scratch_dir(const std::string& dir)
{
    nftw(
        dir.c_str(),
        [](const char* path, const struct stat*, int, struct FTW*) { return remove(path); }, 16,
        FTW_DEPTH | FTW_PHYS);
}

// A harness's scratch folder, made on first use and removed at exit: `root`
// holds what the harness keeps, `work` is the program's working directory.
struct Scratch {
    std::string root = make_scratch_dir();
    std::string work = root + "w/";
    Scratch() { mkdir(work.c_str(), 0755); }
    ~Scratch() { remove_scratch_dir(root); }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
};

// The harness's scratch folder, with nothing in it yet.
inline Scratch& plain_scratch()
{
    static Scratch s;
    return s;
}

inline void write_file(const std::string& path, const uint8_t* data, size_t size)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        fail("cannot write", path);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n <= 0)
            fail("cannot write", path);
        done += static_cast<size_t>(n);
    }
    close(fd);
}

inline void write_file(const std::string& path, const std::string& text)
{
    write_file(path, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

inline std::string read_file(const std::string& path)
{
    std::string content;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr)
        return content;
    char chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        content.append(chunk, n);
    std::fclose(f);
    return content;
}

// Names in `dir` (no "." and ".."), sorted.
inline std::vector<std::string> list_dir(const std::string& dir)
{
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (const dirent* e = readdir(d))
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                names.push_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Removes everything in `dir` not named in `keep` (files and empty folders;
// the program makes nothing else).
inline void clean_dir(const std::string& dir, const std::vector<std::string>& keep)
{
    for (const std::string& name : list_dir(dir))
        if (std::find(keep.begin(), keep.end(), name) == keep.end()) {
            const std::string path = dir + name;
            if (unlink(path.c_str()) != 0)
                rmdir(path.c_str());
        }
}

// What one run left: exit status, standard output and the files it made.
struct Outcome {
    int status = 0;
    std::string out;
    std::string files;  // "name\ncontent\n" per file, sorted by name

    bool operator==(const Outcome& o) const
    {
        return status == o.status && out == o.out && files == o.files;
    }
};

// Runs the driver with `args` (argv[1] onwards), standard output going to
// `stdout_path`, and collects what it left in `dir` besides `keep`.
inline Outcome run_driver(const std::vector<std::string>& args, const std::string& dir,
                          const std::vector<std::string>& keep, const std::string& stdout_path)
{
    std::vector<std::string> words{"l2xml2ascii"};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<std::vector<char>> storage;
    for (const std::string& w : words)
        storage.emplace_back(w.c_str(), w.c_str() + w.size() + 1);
    std::vector<char*> argv;
    for (std::vector<char>& s : storage)
        argv.push_back(s.data());
    argv.push_back(nullptr);

    std::fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    const int fd = open(stdout_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (saved < 0 || fd < 0)
        fail("cannot redirect standard output to", stdout_path);
    dup2(fd, STDOUT_FILENO);
    close(fd);

    opterr = 0;  // keep the option parser's complaints off the fuzzer's log
    Outcome outcome;
    outcome.status = run(static_cast<int>(argv.size() - 1), argv.data());

    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    outcome.out = read_file(stdout_path);

    if (outcome.status != kExitOk && outcome.status != kExitFailure &&
        outcome.status != kExitNoInput && outcome.status != kExitUsageError)
        fail("unexpected exit status", std::to_string(outcome.status));

    for (const std::string& name : list_dir(dir))
        if (std::find(keep.begin(), keep.end(), name) == keep.end())
            outcome.files += name + "\n" + read_file(dir + name) + "\n";
    clean_dir(dir, keep);
    return outcome;
}

// Runs the same command twice; a difference means that a run leaves state
// behind that changes the next one.
inline void run_twice_and_compare(const std::vector<std::string>& args, const std::string& dir,
                                  const std::vector<std::string>& keep,
                                  const std::string& stdout_path)
{
    const Outcome first = run_driver(args, dir, keep, stdout_path);
    const Outcome second = run_driver(args, dir, keep, stdout_path);
    if (!(first == second))
        fail("second run of the same input differs from the first:",
             "status " + std::to_string(first.status) + "/" + std::to_string(second.status) +
                 "\n--- first stdout\n" + first.out + "--- second stdout\n" + second.out);
}

}  // namespace fuzz

#endif  // L2_FUZZ_DRIVER_H
