// SPDX-License-Identifier: Apache-2.0
// End-to-end tests: the built tweenora plans retimes through the real plug-in.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace tweenora::cli {
namespace {

struct PlanRun {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs `tweenora plan args` (arguments need no quoting: numbers, commas, '=').
PlanRun plan(const std::string& args) {
    // One file per test process: ctest runs the cases of this suite side by side.
    const std::string errFile =
        ::testing::TempDir() + "plan_stderr." + std::to_string(getpid()) + ".txt";
    const std::string command = std::string(TWEENORA_TOOL) + " plan " + args + " 2>" + errFile;
    PlanRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return run;
    char buffer[4096];
    size_t got = 0;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        run.out.append(buffer, got);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (FILE* err = fopen(errFile.c_str(), "r")) {
        while ((got = fread(buffer, 1, sizeof buffer, err)) > 0)
            run.err.append(buffer, got);
        fclose(err);
    }
    return run;
}

std::string rangeOf(const std::string& json) {
    return json.substr(0, json.find(", \"frames\""));
}

TEST(Plan, PublishesTheOutputRangeOfTheTables) {
    const struct {
        const char* args;
        const char* range;
    } rows[] = {
        {"--range 1001-1100 --speed 0.5", "{\"first\": 1001, \"last\": 1198"},
        {"--range 1-1 --speed 0.5", "{\"first\": 1, \"last\": 0"},
        {"--range 10-1 --speed 1", "{\"first\": 10, \"last\": 1"},
        {"--range 1-10 --set mode=1", "{\"first\": 1, \"last\": 10"},
        {"--range 1-10 --frame-keys 5:3,40:20,17:8", "{\"first\": 5, \"last\": 40"},
        {"--range 1-10 --frame-keys=-5:3,-1:4,20:5", "{\"first\": -5, \"last\": 20"},
        // 99 / 1e-9 overflows int32: the last frame is clamped, not garbage.
        {"--range 1-100 --speed 1e-9", "{\"first\": 1, \"last\": 2147483647"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.args);
        const PlanRun run = plan(std::string(row.args) + " --frames 1 --json");
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(rangeOf(run.out), row.range);
    }
}

TEST(Plan, RangeOnlyPrintsFirstAndLastForAShell) {
    const struct {
        const char* args;
        const char* out;
    } rows[] = {
        {"--range 1001-1100 --speed 0.5", "1001 1198\n"},
        {"--range 1-10 --frame-keys=-5:3,-1:4,20:5", "-5 20\n"},
        {"--range 1-1 --speed 0.5", "1 0\n"},
        // Far more frames than a listing allows: the range alone is still printed.
        {"--range 1-100 --speed 1e-9", "1 2147483647\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.args);
        const PlanRun run = plan(std::string(row.args) + " --range-only");
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, row.out);
    }
    for (const char* args :
         {"--range 1-10 --range-only --json", "--range 1-10 --range-only --frames 1"}) {
        SCOPED_TRACE(args);
        const PlanRun run = plan(args);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find("--range-only"), std::string::npos) << run.err;
    }
}

TEST(Plan, JsonListsTheMappingTable) {
    const PlanRun run = plan("--range 1-100 --speed 0.5 --frames=250,-100,0,1,2,198,199 --json");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
              "{\"first\": 1, \"last\": 198, \"frames\": [\n"
              "  {\"frame\": -100, \"position\": 0.75, \"frame0\": 0, \"frame1\": 1, "
              "\"timestep\": 0.75, \"road\": \"interpolate\"},\n"
              "  {\"frame\": 0, \"position\": 0.75, \"frame0\": 0, \"frame1\": 1, "
              "\"timestep\": 0.75, \"road\": \"interpolate\"},\n"
              "  {\"frame\": 1, \"position\": 1.25, \"frame0\": 1, \"frame1\": 2, "
              "\"timestep\": 0.25, \"road\": \"interpolate\"},\n"
              "  {\"frame\": 2, \"position\": 1.75, \"frame0\": 1, \"frame1\": 2, "
              "\"timestep\": 0.75, \"road\": \"interpolate\"},\n"
              "  {\"frame\": 198, \"position\": 99.75, \"frame0\": 99, \"frame1\": 100, "
              "\"timestep\": 0.75, \"road\": \"interpolate\"},\n"
              "  {\"frame\": 199, \"position\": 100.25, \"frame0\": 100, \"frame1\": 101, "
              "\"timestep\": 0.25, \"road\": \"interpolate\"},\n"
              "  {\"frame\": 250, \"position\": 100.25, \"frame0\": 100, \"frame1\": 101, "
              "\"timestep\": 0.25, \"road\": \"interpolate\"}\n"
              "]}\n");
}

TEST(Plan, TableShowsEveryFrameAndItsRoad) {
    // Speed 1.5 samples a quarter frame either side of a source frame; with
    // threshold 0.3 each is close enough to show that source frame as is.
    const PlanRun run = plan("--range 1-10 --speed 1.5 --set threshold=0.3");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
              "Output range: 1 to 6 (6 frames)\n"
              "     frame       position     frame0     frame1     timestep  road\n"
              "         1           1.25          1          2         0.25  source0\n"
              "         2           2.75          2          3         0.75  source1\n"
              "         3           4.25          4          5         0.25  source0\n"
              "         4           5.75          5          6         0.75  source1\n"
              "         5           7.25          7          8         0.25  source0\n"
              "         6           8.75          8          9         0.75  source1\n");
}

TEST(Plan, FrameModeAndUnusualPositions) {
    const struct {
        const char* args;
        const char* row;
    } rows[] = {
        {"--range 1-30 --frame-keys 1:17.4,9:17.4 --frames 4",
         "{\"frame\": 4, \"position\": 17.4, \"frame0\": 17, \"frame1\": 18, "
         "\"timestep\": 0.39999962, \"road\": \"interpolate\"}"},
        {"--range 1-30 --frame-keys 1:-2.5,9:-2.5 --frames 2",
         "{\"frame\": 2, \"position\": -2.5, \"frame0\": -3, \"frame1\": -2, "
         "\"timestep\": 0.5, \"road\": \"interpolate\"}"},
        {"--range 1-10 --speed 2 --frames 6",
         "{\"frame\": 6, \"position\": 11, \"frame0\": 11, \"frame1\": 11, "
         "\"timestep\": 0, \"road\": \"source0\"}"},
        // A huge speed at an unclamped frame: the source frame saturates.
        {"--range 1-10 --speed 1e30 --frames 2",
         "{\"frame\": 2, \"position\": 1e+30, \"frame0\": 2147483647, \"frame1\": 2147483647, "
         "\"timestep\": 0, \"road\": \"source0\"}"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.args);
        const PlanRun run = plan(std::string(row.args) + " --json");
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.out.find(row.row), std::string::npos) << run.out;
    }
}

TEST(Plan, SaysWhereTheSourceHoldsItsNearestFrame) {
    // Retime reads source frame 1 for both inputs of frames mapped before the
    // range: the plan's frame0 and frame1 are the host's, so it says so.
    PlanRun run = plan("--range 1-10 --frame-keys 1:-2.5,9:12 --frames 1,5,9");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err,
              "tweenora: note: 2 output frames (the first 1) map to source frames outside the "
              "input range 1-10, where the source holds its nearest frame (1 and 1 for frame 1)\n");
    run = plan("--range 1-10 --speed 0.5");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
}

TEST(Plan, FrameListsAreAscendingAndUnique) {
    const PlanRun run = plan("--range 1-10 --speed 1 --frames 3,1,2-4,-1 --json");
    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<std::string> frames;
    for (size_t at = run.out.find("\"frame\": "); at != std::string::npos;
         at = run.out.find("\"frame\": ", at + 1))
        frames.push_back(run.out.substr(at + 9, run.out.find(',', at) - at - 9));
    EXPECT_EQ(frames, (std::vector<std::string>{"-1", "1", "2", "3", "4"}));
}

TEST(Plan, RejectsBadOptionsNamingThem) {
    const struct {
        const char* args;
        const char* message;
    } rows[] = {
        {"--speed 1", "--range A-B is required"},
        {"--range 5", "--range: '5' is not a frame range A-B"},
        {"--range 1-10 --speed abc", "--speed: 'abc' is not a finite number"},
        {"--range 1-10 --speed nan", "--speed: 'nan' is not a finite number"},
        {"--range 1-10 --speed", "--speed: missing value"},
        {"--range 1-10 --frames 5-3", "--frames: '5-3' is not a range A-B with A <= B"},
        {"--range 1-10 --frames 1,x", "--frames: 'x' is not a frame or a frame range A-B"},
        {"--range 1-10 --frames 1-2000000", "--frames: '1-2000000' lists more than 1000000"},
        {"--range 1-10 --frame-keys 5", "--frame-keys: '5' is not a key F:V"},
        {"--range 1-10 --speed 1 --frame-keys 1:2", "--frame-keys: cannot be used with --speed"},
        {"--range 1-10 --set speed", "--set: 'speed' is not knob=value"},
        {"--range 1-10 --set nosuch=1", "--set: 'nosuch=1': node Tweenora1 has no knob nosuch"},
        {"--range 1-100 --speed 1e-9", "has more than 1000000 frames; choose some with --frames"},
        // Speeds that are no speed: the plan refuses them as retime does.
        {"--range 1-10 --speed -1 --frames 3", "--speed: '-1' is not a number above 0"},
        {"--range 1-10 --speed 0", "--speed: '0' is not a number above 0"},
        {"--range 1-10 --speed 1e300", "--speed: '1e300' is not a number above 0"},
        {"--range 1-10 --set steps=9", "'steps=9': steps must be a whole number from 1 to 6"},
        {"--range 1-10 --bogus", "plan: unknown option '--bogus' (see tweenora plan --help)"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.args);
        const PlanRun run = plan(row.args);
        EXPECT_EQ(run.status, 2);
        EXPECT_NE(run.err.find(row.message), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "");
    }
}

}  // namespace
}  // namespace tweenora::cli
