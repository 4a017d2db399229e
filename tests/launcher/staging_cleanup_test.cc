// Emptying the staging folder, through the fake platform.
#include "launcher/staging_cleanup.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/fake/fake_platform.h"

namespace lumo {
namespace {

// Index of exactly this log line, or -1.
int index_of(const FakePlatform& fake, const std::string& line) {
    auto it = std::find(fake.log.begin(), fake.log.end(), line);
    return it == fake.log.end() ? -1 : int(it - fake.log.begin());
}

class CleanupTest : public ::testing::Test {
protected:
    void SetUp() override { fake.add_directory("/tmp/Lumo.40"); }
    void file(const std::string& path) {
        fake.add_directory(path.substr(0, path.rfind('/')));
        fake.files.insert_or_assign(path, std::string("x"));
    }
    FakePlatform fake;
};

TEST_F(CleanupTest, MissingFolderIsTrueAndNothingIsCreated) {
    FakePlatform empty;
    EXPECT_TRUE(empty_staging_folder(empty, "/tmp/Lumo.40/"));
    EXPECT_FALSE(empty.directories.count("/tmp/Lumo.40"));
    EXPECT_TRUE(empty.log.empty());
}

TEST_F(CleanupTest, EmptyFolderIsTrueAndStays) {
    EXPECT_TRUE(empty_staging_folder(fake, "/tmp/Lumo.40/"));
    EXPECT_TRUE(fake.directories.count("/tmp/Lumo.40"));
    EXPECT_TRUE(fake.log.empty());
}

TEST_F(CleanupTest, TwoLevelsGoDepthFirstWithOrWithoutTrailingSeparator) {
    for (const char* folder : {"/tmp/Lumo.40/", "/tmp/Lumo.40"}) {
        SCOPED_TRACE(folder);
        fake.log.clear();
        file("/tmp/Lumo.40/README");  // no dot in the name: matched all the same
        file("/tmp/Lumo.40/outer/a.txt");
        file("/tmp/Lumo.40/outer/inner/b.txt");
        file("/tmp/Lumo.40/outer/inner/c.txt");
        EXPECT_TRUE(empty_staging_folder(fake, folder));
        EXPECT_TRUE(fake.files.empty());
        EXPECT_EQ(fake.directories, (std::set<std::string>{"/tmp", "/tmp/Lumo.40"}));
        int inner_removed = index_of(fake, "remove_directory /tmp/Lumo.40/outer/inner");
        ASSERT_GE(inner_removed, 0);
        EXPECT_LT(index_of(fake, "delete_file /tmp/Lumo.40/outer/inner/b.txt"), inner_removed);
        EXPECT_LT(index_of(fake, "delete_file /tmp/Lumo.40/outer/inner/c.txt"), inner_removed);
        EXPECT_LT(inner_removed, index_of(fake, "remove_directory /tmp/Lumo.40/outer"));
    }
}

TEST_F(CleanupTest, ReadOnlyFileKeepsItsFoldersAndTheRestGoes) {
    file("/tmp/Lumo.40/a/b/locked.txt");
    file("/tmp/Lumo.40/a/b/other.txt");
    file("/tmp/Lumo.40/a/sibling.txt");
    file("/tmp/Lumo.40/z/gone.txt");
    fake.read_only.insert("/tmp/Lumo.40/a/b/locked.txt");
    EXPECT_FALSE(empty_staging_folder(fake, "/tmp/Lumo.40/"));
    EXPECT_EQ(fake.files.size(), 1u);
    EXPECT_TRUE(fake.files.count("/tmp/Lumo.40/a/b/locked.txt"));
    EXPECT_EQ(fake.directories, (std::set<std::string>{"/tmp", "/tmp/Lumo.40", "/tmp/Lumo.40/a", "/tmp/Lumo.40/a/b"}));
    // Removing the folders was tried all the same.
    EXPECT_TRUE(fake.logged("remove_directory /tmp/Lumo.40/a/b failed"));
    EXPECT_TRUE(fake.logged("remove_directory /tmp/Lumo.40/a failed"));
}

TEST_F(CleanupTest, UnreadableSubfolderMakesTheResultFalse) {
    file("/tmp/Lumo.40/closed/secret");
    fake.unreadable_folders.insert("/tmp/Lumo.40/closed");
    EXPECT_FALSE(empty_staging_folder(fake, "/tmp/Lumo.40/"));
    EXPECT_TRUE(fake.files.count("/tmp/Lumo.40/closed/secret"));
}

// A link leads out of the staging folder: it goes as the link itself, and
// nothing seen through it is deleted.
TEST_F(CleanupTest, LinksAreRemovedNeverFollowed) {
    file("/tmp/Lumo.40/to_folder/precious.txt");  // what the folder link shows
    fake.links.insert("/tmp/Lumo.40/to_folder");
    file("/tmp/Lumo.40/to_file");
    fake.links.insert("/tmp/Lumo.40/to_file");
    EXPECT_TRUE(empty_staging_folder(fake, "/tmp/Lumo.40/"));
    EXPECT_TRUE(fake.logged("remove_directory /tmp/Lumo.40/to_folder"));
    EXPECT_TRUE(fake.logged("delete_file /tmp/Lumo.40/to_file"));
    EXPECT_EQ(fake.log_index("delete_file /tmp/Lumo.40/to_folder/"), -1);
    EXPECT_TRUE(fake.files.count("/tmp/Lumo.40/to_folder/precious.txt"));
}

TEST(CleanupWindowsPaths, BackslashFoldersAndTheFullPathBase) {
    FakePlatform fake('\\');
    fake.add_directory("C:\\Temp\\Lumo.40\\sub");
    fake.files.insert_or_assign("C:\\Temp\\Lumo.40\\sub\\f.dll", std::string("x"));
    EXPECT_TRUE(empty_staging_folder(fake, "C:\\Temp\\Lumo.40"));
    EXPECT_EQ(fake.log, (std::vector<std::string>{"delete_file C:\\Temp\\Lumo.40\\sub\\f.dll",
                                                  "remove_directory C:\\Temp\\Lumo.40\\sub"}));
}

}  // namespace
}  // namespace lumo
