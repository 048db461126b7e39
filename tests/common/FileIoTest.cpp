#include "common/FileIo.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace vellumar {
namespace {

std::filesystem::path scratchFolder() {
  auto folder = std::filesystem::temp_directory_path() /
                ("vellumar-fileio-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
  std::filesystem::create_directories(folder);
  return folder;
}

TEST(AtomicFile, ReplacesTheTargetOnlyOnCommit) {
  const auto folder = scratchFolder();
  const std::string target = (folder / "result.txt").string();
  ASSERT_TRUE(writeFileAtomically(target, "old"));
  {
    AtomicFile file(target);
    ASSERT_TRUE(file.open());
    ASSERT_TRUE(file.write("new"));
    ASSERT_TRUE(file.finish());
    EXPECT_EQ(*readWholeFile(target), "old");  // not yet committed
    // Abandoned here: the old file stays and no temporary is left behind.
  }
  EXPECT_EQ(*readWholeFile(target), "old");
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++files;
  EXPECT_EQ(files, 1u);
  ASSERT_TRUE(writeFileAtomically(target, "new"));
  EXPECT_EQ(*readWholeFile(target), "new");
  std::filesystem::remove_all(folder);
}

TEST(AtomicFile, FailsInAMissingFolder) {
  EXPECT_FALSE(writeFileAtomically("/nonexistent-folder-vellumar/x.txt", "data"));
  EXPECT_FALSE(readWholeFile("/nonexistent-folder-vellumar/x.txt").has_value());
}

}  // namespace
}  // namespace vellumar
