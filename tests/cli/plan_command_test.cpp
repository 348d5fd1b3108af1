// SPDX-License-Identifier: Apache-2.0
// End-to-end tests: the built tweenora plans retimes through the real plug-in.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <ostream>
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
    std::remove(errFile.c_str());
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
        {"--range 1-4 --factor 2", "{\"first\": 1, \"last\": 7"},
        {"--range 1-3 --from-fps 30 --to-fps 60", "{\"first\": 1, \"last\": 6"},
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
        {"--range 1-100 --speed 1e-6", "1 99000001\n"},
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
        {"--speed 1", "give INPUT, or --range A-B"},
        {"a.####.exr b.####.exr --speed 1", "plan: give one INPUT"},
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
        {"--range 1-100 --speed 1e-6", "has more than 1000000 frames; choose some with --frames"},
        // Frame numbers beyond int32: 99 / 1e-9 frames, or a huge speed's source frame.
        {"--range 1-100 --speed 1e-9", "output frame 2147483648 cannot be numbered"},
        {"--range 1-10 --speed 1e30 --frames 2", "cannot be numbered"},
        {"--range 2147483640-2147483647 --speed 0.25", "cannot be numbered"},
        {"--range 1-10 --factor 2 --speed 1", "--speed: cannot be used with --factor"},
        {"--range 1-10 --to-fps 60", "give it with --from-fps"},
        {"--range 1-10 --factor 0", "--factor: '0' is not a whole number of at least 1"},
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

struct ShownRow {
    std::string frame, position, timestep, road;
    bool operator==(const ShownRow& o) const {
        return frame == o.frame && position == o.position && timestep == o.timestep &&
               road == o.road;
    }
};

std::ostream& operator<<(std::ostream& out, const ShownRow& row) {
    return out << row.frame << ": " << row.position << " (" << row.timestep << ", " << row.road
               << ")";
}

// The rows of plan --json, as printed.
std::vector<ShownRow> rowsOf(const std::string& json) {
    auto field = [&json](const std::string& name, size_t from) {
        const size_t at = json.find("\"" + name + "\": ", from) + name.size() + 4;
        std::string value = json.substr(at, json.find_first_of(",}", at) - at);
        if (!value.empty() && value.front() == '"')
            value = value.substr(1, value.size() - 2);
        return value;
    };
    std::vector<ShownRow> rows;
    for (size_t at = json.find("{\"frame\": "); at != std::string::npos;
         at = json.find("{\"frame\": ", at + 1))
        rows.push_back(
            {field("frame", at), field("position", at), field("timestep", at), field("road", at)});
    return rows;
}

TEST(Plan, FactorAndToFpsKeepEverySourceFrameTheyMeet) {
    const struct {
        const char* args;
        std::vector<ShownRow> rows;
    } cases[] = {
        {"--range 1-4 --factor 2",
         {{"1", "1", "0", "source0"},
          {"2", "1.5", "0.5", "interpolate"},
          {"3", "2", "0", "source0"},
          {"4", "2.5", "0.5", "interpolate"},
          {"5", "3", "0", "source0"},
          {"6", "3.5", "0.5", "interpolate"},
          {"7", "4", "0", "source0"}}},
        // 3 frames of 30 fps last 0.1 s: 6 frames of 60, the last holding frame 3.
        {"--range 1-3 --from-fps 30 --to-fps 60",
         {{"1", "1", "0", "source0"},
          {"2", "1.5", "0.5", "interpolate"},
          {"3", "2", "0", "source0"},
          {"4", "2.5", "0.5", "interpolate"},
          {"5", "3", "0", "source0"},
          {"6", "3", "0", "source0"}}},
        // 24 to 60: every second source frame falls on the new grid (timesteps
        // as float32 positions of the clip's own numbering have them).
        {"--range 1001-1004 --from-fps 24 --to-fps 60",
         {{"1001", "1001", "0", "source0"},
          {"1002", "1001.4", "0.4", "interpolate"},
          {"1003", "1001.8", "0.8", "interpolate"},
          {"1004", "1002.2", "0.20000005", "interpolate"},
          {"1005", "1002.6", "0.6", "interpolate"},
          {"1006", "1003", "0", "source0"},
          {"1007", "1003.4", "0.4000001", "interpolate"},
          {"1008", "1003.8", "0.79999995", "interpolate"},
          {"1009", "1004", "0", "source0"},
          {"1010", "1004", "0", "source0"}}},
        // 25 to 30: the first and the sixth source frames lie on the grid.
        {"--range 1-6 --from-fps 25 --to-fps 30",
         {{"1", "1", "0", "source0"},
          {"2", "1.8333333", "0.8333333", "interpolate"},
          {"3", "2.6666666", "0.6666666", "interpolate"},
          {"4", "3.5", "0.5", "interpolate"},
          {"5", "4.3333333", "0.33333325", "interpolate"},
          {"6", "5.1666665", "0.16666651", "interpolate"},
          {"7", "6", "0", "source0"},
          {"8", "6", "0", "source0"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        const PlanRun run = plan(std::string(c.args) + " --json");
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(rowsOf(run.out), c.rows) << run.out;
    }
}

TEST(Plan, LargeFrameNumbersTimeAsSmallOnesDo) {
    const struct {
        const char* args;
        std::vector<ShownRow> rows;
    } cases[] = {
        // Beyond 2^22 float32 has no room for quarters: every frame was source0.
        {"--range 5000001-5000004 --speed 0.5 --frames 5000001-5000003",
         {{"5000001", "5000001.25", "0.25", "interpolate"},
          {"5000002", "5000001.75", "0.75", "interpolate"},
          {"5000003", "5000002.25", "0.25", "interpolate"}}},
        // 2^24 + 1 is no float32: it was read as 2^24.
        {"--range 16777217-16777220 --speed 1 --frames 16777217",
         {{"16777217", "16777217", "0", "source0"}}},
        // 01:00:00:00 at 24 fps: 0.05, not 0.046875.
        {"--range 86400-86410 --speed 0.1 --frames 86400-86401",
         {{"86400", "86400.05", "0.05", "interpolate"},
          {"86401", "86400.15", "0.15", "interpolate"}}},
        // 24 hours at 60 fps, with --factor.
        {"--range 5184000-5184003 --factor 4 --frames 5184001,5184012",
         {{"5184001", "5184000.25", "0.25", "interpolate"},
          {"5184012", "5184003", "0", "source0"}}},
        {"--range 2147483646-2147483647 --speed 0.5",
         {{"2147483646", "2147483646.25", "0.25", "interpolate"},
          {"2147483647", "2147483646.75", "0.75", "interpolate"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        const PlanRun run = plan(std::string(c.args) + " --json");
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(rowsOf(run.out), c.rows) << run.out;
    }
}

TEST(Plan, SaysWhichTimingAppliesWhenNoneIsChosen) {
    PlanRun run = plan("--range 1-4 --range-only");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "1 6\n");
    EXPECT_NE(run.err.find("tweenora: note: no --speed, --factor, --to-fps or --frame-keys: the "
                           "node's default speed 0.5"),
              std::string::npos)
        << run.err;
    for (const char* chosen : {"--speed 0.5", "--factor 2", "--set mode=1", "--frame-keys 1:1"}) {
        SCOPED_TRACE(chosen);
        run = plan(std::string("--range 1-4 --range-only ") + chosen);
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err, "");
    }
}

}  // namespace
}  // namespace tweenora::cli
