// The account file that older installations kept beside the program. This
// program runs from a folder of its own, as the older place is the folder of
// the running program.
#include "core/Account.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/core/AccountTestSupport.h"

namespace {

using zorva_test::Answer;
using zorva_test::ReadBytes;

class AccountTest : public zorva_test::AccountFixture {
 protected:
  AccountTest() { std::filesystem::remove_all(data.Path() + "/Zorva"); }
  ~AccountTest() override { std::filesystem::remove(Account::GetOldAccountFilePath()); }

  static void WriteOld(const std::string& user) {
    EncryptStringToFile(Account::GetOldAccountFilePath(), Account::kFileKey,
                        Answer("<username>" + user + "</username><password>pw</password>"));
  }
};

TEST_F(AccountTest, OldFileMovesOnlyOnceTheNewOneIsInPlace) {
  const std::string oldPath = Account::GetOldAccountFilePath();
  ASSERT_NE(oldPath.find("/account_migration/zorva.auth"), std::string::npos) << oldPath;

  // The data folder cannot be made (a file stands in its place): the move
  // fails and the old file stays.
  zorva_test::WriteFile(data.Path() + "/Zorva", "in the way");
  WriteOld("old-user");
  const std::string oldBytes = ReadBytes(oldPath);
  {
    Account account;
    account.LoadFile();
    EXPECT_EQ(account.GetUserName(), "");
  }
  EXPECT_EQ(ReadBytes(oldPath), oldBytes);

  // The first load with a usable folder moves it there.
  std::filesystem::remove(data.Path() + "/Zorva");
  {
    Account account;
    account.LoadFile();
    EXPECT_EQ(account.GetUserName(), "old-user");
    EXPECT_EQ(account.GetPassword(), "pw");
  }
  EXPECT_FALSE(std::filesystem::exists(oldPath));
  EXPECT_EQ(ReadBytes(AccountFile()), oldBytes);

  // Both present: the current file wins and the old one goes.
  WriteOld("stale-user");
  {
    Account account;
    account.LoadFile();
    EXPECT_EQ(account.GetUserName(), "old-user");
  }
  EXPECT_FALSE(std::filesystem::exists(oldPath));
}

}  // namespace
