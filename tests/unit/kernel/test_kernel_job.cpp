// The job file: its keys, its refusals, and the kernel's answer to a bad job.
#include "kernel/engine.hpp"
#include "kernel/error.hpp"
#include "kernel/job.hpp"
#include "tests/support/temp_folder.hpp"

#include <gtest/gtest.h>

namespace plexmill::kernel {
namespace {

const std::string validJob = "# a comment\n"
                             "model = part.stl\n"
                             "cutter = bullnose\r\n"
                             "diameter = 10\n"
                             "corner_radius = 1.5\n"
                             "length = 25\n"
                             "strategy = zlevel\n"
                             "stepdown = 2\n"
                             "stepover = 4\n"
                             "area = -5 -5 45 25.5\n"
                             "feed = 1500\n"
                             "plunge_feed = 400\n"
                             "spindle = 9000\n";

TEST(JobFile, ReadsEveryKey) {
    Job job = parseJob(validJob + "angle = 30\npattern = oneway\nstock_allowance = 0.3\n"
                                  "tolerance = 0.005\nclearance_height = 40\nname = Bracket\n");
    EXPECT_EQ(job.model, "part.stl");
    EXPECT_EQ(job.cutter.kind, CutterKind::bullNose);
    EXPECT_EQ(job.cutter.cornerRadius, 1.5);
    EXPECT_EQ(job.strategy, Strategy::zlevel);
    EXPECT_EQ(job.stepdown, 2);
    ASSERT_TRUE(job.area);
    EXPECT_EQ(job.area->maxY, 25.5);
    EXPECT_EQ(job.angle, 30);
    EXPECT_FALSE(job.zigzag);
    EXPECT_EQ(job.allowance, 0.3);
    EXPECT_EQ(job.tolerance, 0.005);
    EXPECT_EQ(job.clearanceHeight, 40);
    EXPECT_EQ(job.name, "Bracket");
    Job ball = parseJob("model=a.stl\ncutter=ball\ndiameter=6\nlength=20\nstepover=1\nfeed=1\n"
                        "plunge_feed=1\nspindle=1\n");
    EXPECT_EQ(ball.cutter.cornerRadius, 3);
    EXPECT_EQ(ball.strategy, Strategy::raster);
}

TEST(JobFile, RefusesWithTheLineAndTheReason) {
    auto without = [](const std::string& key) {
        std::string job = validJob;
        std::size_t at = job.find(key + " =");
        return job.erase(at, job.find('\n', at) + 1 - at);
    };
    struct Case {
        std::string text;
        const char* message;
    };
    const Case cases[] = {
        {validJob + "stepovr = 3\n", "job line 14: unknown key 'stepovr'"},
        {validJob + "\x01key\x1b = 1\n", "job line 14: unknown key '?key?'"},
        {validJob + "feed = 10\n", "job line 14: feed is given twice"},
        {validJob + "angle 30\n", "job line 14: expected 'key = value', found 'angle 30'"},
        {validJob + "angle =\n", "job line 14: angle has no value"},
        {validJob + "tolerance = 0\n", "job line 14: tolerance must be greater than 0"},
        {validJob + "tolerance = 2\n", "job line 14: tolerance must lie between 0.001 and 1 mm"},
        {validJob + "margin = -1\n", "job line 14: margin must be 0 or more"},
        {validJob + "units = inch\n",
         "job line 14: units must be mm (the kernel works in millimetres)"},
        {validJob + "pattern = spiral\n",
         "job line 14: pattern must be one of zigzag, oneway, not 'spiral'"},
        {without("model") + "model = ../etc/passwd\n",
         "job line 13: model must be the plain name of a file sent with the job, not "
         "'../etc/passwd'"},
        {without("diameter") + "diameter = 1e999\n",
         "job line 13: diameter must be a number, not '1e999'"},
        {without("area") + "area = 1 2 3\n",
         "job line 13: area must be four numbers: min x, min y, max x, max y"},
        {without("area") + "area = 5 0 1 10\n",
         "job line 13: area must have min x below max x and min y below max y"},
        {without("spindle"), "job: spindle is missing"},
        {without("corner_radius"), "job: corner_radius is missing (a bullnose cutter needs it)"},
        {without("stepdown"), "job: stepdown is missing (strategy zlevel needs it)"},
        {without("corner_radius") + "corner_radius = 5\n",
         "job: corner_radius must be less than half the diameter (for a corner radius of half "
         "the diameter, use cutter = ball)"},
        {without("stepover") + "stepover = 11\n",
         "job: stepover must not exceed the cutter's diameter (it would leave uncut ribs)"},
        {validJob + "margin = 3\n", "job: give either area or margin, not both"},
        {validJob + "safe_height = 10\nclearance_height = 20\n",
         "job: safe_height must not lie below clearance_height"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        try {
            parseJob(c.text);
            ADD_FAILURE() << "accepted";
        } catch (const JobError& error) {
            EXPECT_STREQ(error.what(), c.message);
        }
    }
}

TEST(JobFile, ABadJobAnswersWithOneErrorLine) {
    tnw::test::TempFolder folder;
    tnw::test::writeFile(folder / "job", validJob);
    std::FILE* out = std::tmpfile();
    std::FILE* log = std::tmpfile();
    ASSERT_TRUE(out && log);
    RunOptions options;
    options.log = log;
    EXPECT_EQ(runJob(folder / "job", options, out), 1);
    auto contents = [](std::FILE* file) {
        std::rewind(file);
        std::string text;
        for (int c; (c = std::fgetc(file)) != EOF;) {
            text += static_cast<char>(c);
        }
        std::fclose(file);
        return text;
    };
    EXPECT_EQ(contents(out), "ERROR: model 'part.stl' was not sent with the job\n");
    EXPECT_EQ(contents(log), "millcore: error: model 'part.stl' was not sent with the job\n");
}

} // namespace
} // namespace plexmill::kernel
