// The reference kernel behind a real server: a job and its model sent with --connect come
// back as the G-code the kernel computes on its own, byte for byte; the model is taken from
// the server's file cache the second time; a bad job comes back as its error line.
#include "tests/support/child_process.hpp"
#include "tests/support/server_process.hpp"
#include "tests/support/temp_folder.hpp"

#include <cstring>
#include <gtest/gtest.h>
#include <thread>

namespace tnw::test {
namespace {

// A square pyramid 20 wide and 8 high on a base plate, as a binary STL.
std::string pyramidStl() {
    using P = std::array<float, 3>;
    P apex{10, 10, 8};
    P corners[4] = {{0, 0, 0}, {20, 0, 0}, {20, 20, 0}, {0, 20, 0}};
    std::vector<std::array<P, 3>> triangles;
    for (int i = 0; i < 4; ++i) {
        triangles.push_back({corners[i], corners[(i + 1) % 4], apex});
    }
    triangles.push_back({corners[0], corners[2], corners[1]});
    triangles.push_back({corners[0], corners[3], corners[2]});
    std::string bytes(80, ' ');
    auto put = [&](const void* data, std::size_t size) {
        bytes.append(static_cast<const char*>(data), size);
    };
    auto count = static_cast<std::uint32_t>(triangles.size());
    put(&count, 4);
    for (const auto& triangle : triangles) {
        float normal[3] = {0, 0, 0};
        put(normal, 12);
        for (const P& p : triangle) {
            put(p.data(), 12);
        }
        bytes += std::string(2, '\0');
    }
    return bytes;
}

template <typename Condition>
bool waitUntil(Condition condition, std::chrono::milliseconds deadline) {
    auto end = std::chrono::steady_clock::now() + deadline;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

TEST(KernelJob, ConnectReturnsTheGcodeTheKernelComputes) {
    ServerHome home;
    ServerProcess server(home, {"--rating", "5000", "--kernel", MILLCORE_KERNEL_DIR});
    ASSERT_TRUE(server.waitUntilReady()) << server.process().errors();
    std::filesystem::path model = home.path() / "pyramid.stl";
    std::filesystem::path job = home.path() / "pyramid.job";
    writeFile(model, pyramidStl());
    writeFile(job,
              "name = pyramid\nmodel = pyramid.stl\ncutter = ball\ndiameter = 4\nlength = 20\n"
              "stepover = 0.8\nangle = 45\nmargin = 1\nfeed = 1200\nplunge_feed = 300\n"
              "spindle = 15000\n");
    // The kernel on its own, in this process's folder, on one thread.
    auto local = run({std::string(MILLCORE_KERNEL_DIR) + "/millcore.exe",
                      "-k",
                      std::string(MILLCORE_KERNEL_DIR) + "/millcore.dll",
                      job.string()});
    ASSERT_EQ(local.exitCode, 0) << local.errors;
    ASSERT_TRUE(
        local.output.starts_with("%\n(Plexmill millcore: raster finishing)\n(Job: pyramid)\n"))
        << local.output;
    ASSERT_TRUE(local.output.ends_with("M5\nM30\n%\n"));

    std::vector<std::string> connect = {PLEXMILLD_PATH,
                                        "--connect",
                                        "127.0.0.1",
                                        job.string(),
                                        (home.path() / "result.ngc").string(),
                                        model.string(),
                                        "--debug"};
    auto first = run(connect, home.environment());
    EXPECT_EQ(first.exitCode, 0) << first.errors;
    EXPECT_EQ(readText(home.path() / "result.ngc"), local.output + "ACK\n");
    // The server takes received files into its cache on a thread of its own.
    ASSERT_TRUE(waitUntil(
        [&] {
            return run({PLEXMILLD_PATH, "--iscached", "127.0.0.1", model.string()},
                       home.environment())
                       .exitCode == 0;
        },
        10s));
    auto second = run(connect, home.environment());
    EXPECT_NE(second.output.find("Using file from cache PATH=" + model.string()), std::string::npos)
        << second.output;
    EXPECT_EQ(readText(home.path() / "result.ngc"), local.output + "ACK\n");

    writeFile(job, "model = pyramid.stl\ncutter = drill\n");
    auto bad = run(connect, home.environment());
    EXPECT_EQ(bad.exitCode, 0) << bad.errors;
    EXPECT_EQ(readText(home.path() / "result.ngc"),
              "ERROR: job line 2: cutter must be one of ball, flat, bullnose, not 'drill'\nACK\n");
    EXPECT_EQ(server.stop(), 0);
}

TEST(KernelJob, CommandLineMistakesAnswerWithAnErrorLine) {
    TempFolder folder;
    writeFile(folder / "job", "model = m.stl\n");
    writeFile(folder / "millcore.dll", "not a library");
    std::string exe = std::string(MILLCORE_KERNEL_DIR) + "/millcore.exe";
    std::string dll = std::string(MILLCORE_KERNEL_DIR) + "/millcore.dll";
    std::string job = (folder / "job").string();
    // A shared library, but not a kernel module.
    std::string library = "/lib/x86_64-linux-gnu/libm.so.6";
    struct Case {
        std::vector<std::string> arguments;
        std::string message;
    };
    const Case cases[] = {
        {{"-k", dll}, "usage: millcore [-p|--proc [N]] -k MODULE [-orrin MODULE] JOB"},
        {{"-x", job},
         "unknown option -x; usage: millcore [-p|--proc [N]] -k MODULE [-orrin "
         "MODULE] JOB"},
        {{"-k"}, "-k needs a path after it"},
        {{"-k", dll, job, job}, "more than one job given: " + job + " and " + job},
        {{"-k", library, job}, "the kernel module " + library + " is not a millcore module"},
        {{"-p", "--proc", "-k", dll, "-orrin", "pxmkernel.dll", (folder / "none").string()},
         "cannot read the job file '" + (folder / "none").string() + "'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        std::vector<std::string> argv = {exe};
        argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
        auto result = run(argv);
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(result.output, "ERROR: " + c.message + "\n");
        EXPECT_NE(result.errors.find("millcore: error: " + c.message + "\n"), std::string::npos)
            << result.errors;
    }
    auto broken = run({exe, "-k", (folder / "millcore.dll").string(), job});
    EXPECT_EQ(broken.exitCode, 1);
    EXPECT_TRUE(broken.output.starts_with("ERROR: cannot load the kernel module " +
                                          (folder / "millcore.dll").string() + ": "))
        << broken.output;
}

} // namespace
} // namespace tnw::test
