// SPDX-License-Identifier: Apache-2.0
// Tests of sequence patterns: frame fields, file names, and frames found on disk.
#include "media/sequence/pattern.h"

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/Error.h"
#include "tests/media/media_test_support.h"

namespace tweenora::media {
namespace {

namespace fs = std::filesystem;

TEST(SequencePattern, NamesFramesAsPrintfWould) {
    struct Row {
        const char* pattern;
        int frame;
        const char* path;
    };
    const Row rows[] = {
        {"out/name.####.exr", 7, "out/name.0007.exr"},
        {"name.%04d.exr", 12, "name.0012.exr"},
        {"name.#.png", 7, "name.7.png"},
        {"name.#.png", 1234, "name.1234.png"},
        {"name.%d.png", 42, "name.42.png"},
        {"name.####.exr", 12345, "name.12345.exr"},
        {"name.####.exr", -3, "name.-003.exr"},
        {"a.b/shot_##_v2.exr", 5, "a.b/shot_05_v2.exr"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.pattern);
        EXPECT_EQ(SequencePattern(row.pattern).path(row.frame), row.path);
    }
}

TEST(SequencePattern, RefusesPatternsWithoutExactlyOneField) {
    for (const char* pattern :
         {"name.exr", "name.%04x.exr", "a.##.b.###.exr", "x.%04d.#.exr", "frames/name.0001.exr"}) {
        SCOPED_TRACE(pattern);
        try {
            SequencePattern sequence(pattern);
            FAIL() << "accepted";
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find(pattern), std::string::npos) << e.what();
        }
    }
}

TEST(SequencePattern, ReadsOnlyItsOwnSpellingOfAFrame) {
    struct Row {
        const char* pattern;
        const char* fileName;
        std::optional<int> frame;
    };
    const Row rows[] = {
        {"name.####.exr", "name.0007.exr", 7},
        {"name.####.exr", "name.12345.exr", 12345},
        {"name.####.exr", "name.-003.exr", -3},
        {"name.####.exr", "name.7.exr", std::nullopt},
        {"name.####.exr", "name.00007.exr", std::nullopt},
        {"name.####.exr", "name.00a7.exr", std::nullopt},
        {"name.####.exr", "name..exr", std::nullopt},
        {"name.####.exr", "other.0007.exr", std::nullopt},
        {"name.####.exr", "name.0007.exr.bak", std::nullopt},
        {"name.####.exr", "name.99999999999.exr", std::nullopt},
        {"name.#.png", "name.7.png", 7},
        {"name.#.png", "name.0007.png", std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.pattern) + " " + row.fileName);
        EXPECT_EQ(SequencePattern(row.pattern).frameOf(row.fileName), row.frame);
    }
}

class SequenceOnDiskTest : public testing::ScratchFolderTest {
protected:
    SequenceOnDiskTest() : ScratchFolderTest("sequence") {}
    void TearDown() override { fs::remove_all(folder_); }
    void touch(const std::string& name) { std::ofstream(folder_ / name) << "x"; }
    std::string pattern(const std::string& name) const { return (folder_ / name).string(); }
};

TEST_F(SequenceOnDiskTest, FindsTheFramesPresentAndTheirSpan) {
    for (const char* name : {"shot.0006.exr", "shot.0003.exr", "shot.0004.exr", "shot.4.exr",
                             "shot.0005.exr.partial", "shot.0009.png", "take.0001.exr"})
        touch(name);
    fs::create_directories(folder_ / "shot.0010.exr");  // a folder is no frame
    const SequencePattern sequence(pattern("shot.####.exr"));
    EXPECT_EQ(sequence.framesOnDisk(), (std::vector<int>{3, 4, 6}));
    const FrameSpan span = sequence.spanOnDisk();
    EXPECT_EQ(span.first, 3);
    EXPECT_EQ(span.last, 6);
}

TEST_F(SequenceOnDiskTest, AnEmptyMatchNamesThePattern) {
    touch("shot.0001.png");
    const SequencePattern sequence(pattern("shot.####.exr"));
    try {
        sequence.spanOnDisk();
        FAIL() << "found frames";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("shot.####.exr"), std::string::npos) << e.what();
    }
}

TEST_F(SequenceOnDiskTest, CanonicalPathsSeeThroughLinksAndDots) {
    touch("a.0001.exr");
    fs::create_directories(folder_ / "sub");
    fs::create_directory_symlink(folder_, folder_ / "sub" / "link");
    const std::string direct = canonicalPath(pattern("a.0001.exr"));
    EXPECT_EQ(canonicalPath(pattern("sub/../a.0001.exr")), direct);
    EXPECT_EQ(canonicalPath(pattern("sub/link/a.0001.exr")), direct);
    // A file still to be written, below a linked folder.
    EXPECT_EQ(canonicalPath(pattern("sub/link/b.0001.exr")), canonicalPath(pattern("b.0001.exr")));
    EXPECT_NE(canonicalPath(pattern("a.0002.exr")), direct);
}

}  // namespace
}  // namespace tweenora::media
