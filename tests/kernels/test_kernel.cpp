// A CAM kernel for tests, installed as millcore.exe. The job file's first word says what to do:
//   copy          writes its command line, the job and every file of its working folder
//   large N       writes N bytes of a repeating pattern
//   silent S      computes silently for S seconds, then writes "done"
//   child         starts a child that keeps standard output open, then exits
//   crash         aborts
//   stderr        writes to standard error (the kernel log) and "ok" to standard output
//   where         writes the path of its own executable, so a test sees which copy ran
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <signal.h>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::string readAll(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

void writeAll(const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t wrote = ::write(1, text.data() + done, text.size() - done);
        if (wrote <= 0) {
            std::exit(3);
        }
        done += static_cast<std::size_t>(wrote);
    }
}

void copy(int argc, char** argv, const std::string& job) {
    std::string out = "ARGS";
    for (int i = 0; i < argc; ++i) {
        out += " [" + std::string(argv[i]) + "]";
    }
    const char* temp = std::getenv("TEMP");
    const char* tmpdir = std::getenv("TMPDIR");
    out +=
        "\nTEMP " + std::string(temp ? temp : "") + "\nTMPDIR " + std::string(tmpdir ? tmpdir : "");
    out += "\nCWD " + std::filesystem::current_path().string() + "\nJOB " + job + "\n";
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(".")) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    for (const auto& name : names) {
        if (name != "millcore.log") {
            out += "FILE " + name + " " + readAll(name) + "\n";
        }
    }
    writeAll(out);
}

void large(std::uint64_t size) {
    std::string block(1 << 16, '\0');
    for (std::size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<char>('a' + i % 26);
    }
    while (size > 0) {
        std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(size, block.size()));
        writeAll(block.substr(0, piece));
        size -= piece;
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        return 2;
    }
    std::string job = readAll(argv[argc - 1]);
    std::istringstream words(job);
    std::string command;
    words >> command;
    if (command == "copy") {
        copy(argc, argv, job);
    } else if (command == "large") {
        std::uint64_t size = 0;
        words >> size;
        large(size);
    } else if (command == "silent") {
        unsigned seconds = 0;
        words >> seconds;
        ::sleep(seconds);
        writeAll("done\n");
    } else if (command == "child") {
        writeAll("parent\n");
        if (::fork() == 0) {
            ::sleep(3600);
            ::_exit(0);
        }
    } else if (command == "crash") {
        writeAll("before crash\n");
        std::abort();
    } else if (command == "where") {
        writeAll(std::filesystem::read_symlink("/proc/self/exe").string() + "\n");
    } else if (command == "stderr") {
        std::fputs("kernel log line\n", stderr);
        writeAll("ok\n");
    } else {
        return 2;
    }
    return 0;
}
