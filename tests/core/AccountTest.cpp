#include "core/Account.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <stdexcept>

#include "core/Blowfish.h"
#include "platform/xmlhttp/XmlDocument.h"
#include "platform/xmlhttp/XmlHttpRequest.h"
#include "tests/core/AccountTestSupport.h"
#include "tests/support/WebServer.h"

namespace {

using zorva_test::Answer;
using zorva_test::ReadBytes;
using XmlHttpRequest = platform::xmlhttp::XmlHttpRequest;

constexpr const char* kNoMatch = "Username and Password do not match our records, Please try again";
constexpr const char* kNoConnection =
    "Zorva could not connect to the internet.\n\n Please check your connection and try again.";

class AccountTest : public zorva_test::AccountFixture {
 protected:
  ~AccountTest() override {
    XmlHttpRequest::SetDefaultTimeouts(XmlHttpRequest::kDefaultConnectTimeoutMs,
                                       XmlHttpRequest::kDefaultTotalTimeoutMs);
  }

  void Reply(const std::string& body, int status = 200) {
    zorva_test::WebAnswer answer;
    answer.status = status;
    answer.headers = {{"Content-Type", "text/xml"}};
    answer.body = body;
    server.Answer(answer);
  }
  zorva_test::RecordedRequest OnlyRequest() {
    const auto requests = server.Requests();
    EXPECT_EQ(requests.size(), 1u);
    return requests.empty() ? zorva_test::RecordedRequest{} : requests.front();
  }
  // Writes `plain` enciphered as it stands (no padding added) as the account file.
  void WriteRawAccountFile(std::string plain) {
    Blowfish(Account::kFileKey, 4).Encrypt(plain);
    zorva_test::WriteFile(AccountFile(), plain);
  }

  zorva_test::WebServer server;
  zorva_test::ScopedEnv liveHost{"ZORVA_LIVE_URL", server.BaseUrl()};
};

TEST_F(AccountTest, StartsWithTheMismatchMessageAndNoAccount) {
  Account account;
  EXPECT_EQ(account.GetMessage(), kNoMatch);
  EXPECT_EQ(account.GetUserName(), "");
  EXPECT_EQ(account.GetPassword(), "");
  account.LoadFile();
  EXPECT_EQ(account.GetUserName(), "");
  EXPECT_EQ(Account::GetAccountFilePath(), AccountFile());
}

TEST_F(AccountTest, SuccessfulLoginSendsTheFormAndStoresTheAnswer) {
  Reply(Answer("<status>0</status><username>alice</username><password>from-service</password><id>77</id>"));
  Account account;
  ASSERT_TRUE(account.Authenticate("alice", "secret"));

  const auto request = OnlyRequest();
  EXPECT_EQ(request.method, "POST");
  EXPECT_EQ(request.target, "/user/authenticate");
  EXPECT_EQ(request.Header("Content-Type"), "application/x-www-form-urlencoded");
  EXPECT_FALSE(request.Header("Authorization").has_value());
  EXPECT_EQ(request.body, "username=alice&password=secret&computername=studio-pc");

  EXPECT_EQ(account.GetUserName(), "alice");
  EXPECT_EQ(account.GetPassword(), "secret");
  // The typed password replaces the service's in the stored answer.
  platform::xmlhttp::XmlDocument stored;
  ASSERT_TRUE(stored.LoadXml(account.GetResponseXml()));
  EXPECT_EQ(stored.SelectSingleNode("//response/password").Text(), "secret");
  EXPECT_EQ(stored.SelectSingleNode("//response/id").Text(), "77");

  const std::string file = ReadBytes(AccountFile());
  EXPECT_EQ(file.size() % 8, 0u);
  EXPECT_EQ(file.find("alice"), std::string::npos);  // enciphered
  EXPECT_EQ(DecryptFileToString(AccountFile(), Account::kFileKey), account.GetResponseXml());

  Account reader;
  reader.LoadFile();
  EXPECT_EQ(reader.GetUserName(), "alice");
  EXPECT_EQ(reader.GetPassword(), "secret");
}

TEST_F(AccountTest, SpecialCharactersAreEncodedInTheBodyAndStoredWhole) {
  Reply(Answer("<status>0</status><username>al ice</username><password>x</password>"));
  Account account;
  ASSERT_TRUE(account.Authenticate("al ice", "p&ss<wörd=1"));
  EXPECT_EQ(OnlyRequest().body, "username=al%20ice&password=p%26ss%3Cw%C3%B6rd%3D1&computername=studio-pc");

  Account reader;
  reader.LoadFile();
  EXPECT_EQ(reader.GetUserName(), "al ice");
  EXPECT_EQ(reader.GetPassword(), "p&ss<wörd=1");
}

TEST_F(AccountTest, FailingStatusGivesTheServiceDescription) {
  Reply(Answer("<status>3</status><description>Your account is locked</description>"));
  Account account;
  EXPECT_FALSE(account.Authenticate("bob", "pw"));
  EXPECT_EQ(account.GetMessage(), "Your account is locked");
  EXPECT_EQ(account.GetUserName(), "bob");
  EXPECT_EQ(account.GetPassword(), "pw");
  EXPECT_FALSE(std::filesystem::exists(AccountFile()));

  // A status that is not a number reads as 0 only when it has no leading digits.
  Reply(Answer("<status>2x</status>"));
  Account other;
  EXPECT_FALSE(other.Authenticate("bob", "pw"));
  EXPECT_EQ(other.GetMessage(), kNoMatch);
  EXPECT_FALSE(std::filesystem::exists(AccountFile()));
}

TEST_F(AccountTest, ServerErrorAndNonXmlAnswersFailWithoutChange) {
  Reply("<response><status>0</status></response>", 500);
  Account account;
  EXPECT_FALSE(account.Authenticate("alice", "secret"));
  EXPECT_EQ(account.GetMessage(), kNoMatch);
  EXPECT_EQ(account.GetUserName(), "");

  Reply("<html>Service unavailable");
  EXPECT_FALSE(account.Authenticate("alice", "secret"));
  EXPECT_EQ(account.GetMessage(), kNoMatch);
  EXPECT_EQ(account.GetUserName(), "");
  EXPECT_FALSE(std::filesystem::exists(AccountFile()));
  EXPECT_EQ(server.Requests().size(), 2u);
}

TEST_F(AccountTest, SlowOrClosedServerMeansNoConnection) {
  XmlHttpRequest::SetDefaultTimeouts(2000, 300);
  zorva_test::WebAnswer slow;
  slow.delayMs = 3000;
  slow.body = Answer("<status>0</status>");
  server.Answer(slow);
  Account account;
  EXPECT_FALSE(account.Authenticate("alice", "secret"));
  EXPECT_EQ(account.GetMessage(), kNoConnection);
  EXPECT_EQ(server.Requests().size(), 1u);  // the request did arrive

  zorva_test::WebAnswer dropped;
  dropped.closeWithoutAnswer = true;
  server.Answer(dropped);
  Account other;
  EXPECT_FALSE(other.Authenticate("alice", "secret"));
  EXPECT_EQ(other.GetMessage(), kNoConnection);
  EXPECT_FALSE(std::filesystem::exists(AccountFile()));
}

TEST_F(AccountTest, AnswerWithoutPasswordIsStoredWithout) {
  Reply(Answer("<status>0</status><username>alice</username>"));
  Account account;
  ASSERT_TRUE(account.Authenticate("alice", "secret"));
  Account reader;
  reader.LoadFile();
  EXPECT_EQ(reader.GetUserName(), "alice");
  EXPECT_EQ(reader.GetPassword(), "");
}

TEST_F(AccountTest, ComputerNameFallsBackAndIsCut) {
  {
    zorva_test::ScopedEnv empty("ZORVA_COMPUTER_NAME", "");
    Reply(Answer("<status>1</status>"));
    Account account;
    account.Authenticate("a", "b");
  }
  {
    zorva_test::ScopedEnv longName("ZORVA_COMPUTER_NAME", "a-very-long-host-name");
    Reply(Answer("<status>1</status>"));
    Account account;
    account.Authenticate("a", "b");
  }
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].body, "username=a&password=b&computername=Not%20found");
  EXPECT_EQ(requests[1].body, "username=a&password=b&computername=a-very-long-hos");
}

TEST_F(AccountTest, FilePaddingFillsTheLastBlock) {
  const std::string file = data.File("padding.bin");
  EXPECT_EQ(EncryptStringToFile(file, Account::kFileKey, "0123456789abcdef"), 24u);
  std::string bytes = ReadBytes(file);
  ASSERT_EQ(bytes.size(), 24u);
  Blowfish(Account::kFileKey, 4).Decrypt(bytes);
  EXPECT_EQ(bytes.substr(16), std::string(8, '\x08'));
  EXPECT_EQ(DecryptFileToString(file, Account::kFileKey), "0123456789abcdef");

  EXPECT_EQ(EncryptStringToFile(file, Account::kFileKey, "0123456789abcde"), 16u);
  bytes = ReadBytes(file);
  Blowfish(Account::kFileKey, 4).Decrypt(bytes);
  EXPECT_EQ(bytes.back(), '\x01');
  EXPECT_EQ(DecryptFileToString(file, Account::kFileKey), "0123456789abcde");

  // Only the first four key bytes count.
  EXPECT_EQ(DecryptFileToString(file, "tkw3-something-else"), "0123456789abcde");
  EXPECT_THROW(DecryptFileToString(data.File("missing.bin"), Account::kFileKey), std::runtime_error);
}

TEST_F(AccountTest, InvalidFilesLoadNothingAndKeepTheFields) {
  Account account;
  EncryptStringToFile(AccountFile(), Account::kFileKey,
                      Answer("<username>alice</username><password>secret</password>"));
  account.LoadFile();
  ASSERT_EQ(account.GetUserName(), "alice");

  const std::string xml = "<response><username>mallory</username><password>x</password></response>";
  for (const char pad : {'\0', '\x09', '\xff'}) {
    std::string plain = xml;
    plain.resize((plain.size() / 8 + 1) * 8, ' ');
    plain.back() = pad;
    WriteRawAccountFile(plain);
    EXPECT_THROW(DecryptFileToString(AccountFile(), Account::kFileKey), std::runtime_error);
    account.LoadFile();
    EXPECT_EQ(account.GetUserName(), "alice") << int(pad);
    EXPECT_EQ(account.GetPassword(), "secret");
  }

  zorva_test::WriteFile(AccountFile(), "");
  EXPECT_THROW(DecryptFileToString(AccountFile(), Account::kFileKey), std::invalid_argument);
  account.LoadFile();
  EXPECT_EQ(account.GetUserName(), "alice");

  EncryptStringToFile(AccountFile(), Account::kFileKey, "not xml at all");
  account.LoadFile();
  EXPECT_EQ(account.GetUserName(), "alice");

  // A file that lost its last bytes is filled up with zeros and then fails its padding check.
  EncryptStringToFile(AccountFile(), Account::kFileKey, xml);
  std::string cut = ReadBytes(AccountFile());
  cut.resize(cut.size() - 3);
  zorva_test::WriteFile(AccountFile(), cut);
  account.LoadFile();
  EXPECT_EQ(account.GetPassword(), "secret");
}

// The file holds the password: a login writes it for its user alone, whole
// or not at all, and a load closes a file that others could read.
TEST_F(AccountTest, TheFileIsReadableByItsUserAlone) {
  auto mode = [this] {
    struct stat st {};
    EXPECT_EQ(::stat(AccountFile().c_str(), &st), 0);
    return st.st_mode & 0777;
  };
  for (const mode_t before : {0644, 0600}) {
    SCOPED_TRACE(before);
    EncryptStringToFile(AccountFile(), Account::kFileKey, Answer("<username>old</username>"));
    ASSERT_EQ(::chmod(AccountFile().c_str(), before), 0);
    Reply(Answer("<status>0</status><username>alice</username><password>x</password>"));
    Account account;
    ASSERT_TRUE(account.Authenticate("alice", "secret"));
    EXPECT_EQ(mode(), 0600u);
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(data.Path() + "/Zorva")) {
      names.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(names, std::vector<std::string>{"zorva.auth"}) << "nothing left beside it";

    ASSERT_EQ(::chmod(AccountFile().c_str(), before), 0);
    Account reader;
    reader.LoadFile();
    EXPECT_EQ(reader.GetUserName(), "alice");
    EXPECT_EQ(mode(), 0600u);
  }
}

TEST_F(AccountTest, FileWithoutPasswordGivesTheUserName) {
  EncryptStringToFile(AccountFile(), Account::kFileKey, Answer("<username>carol</username>"));
  Account account;
  account.LoadFile();
  EXPECT_EQ(account.GetUserName(), "carol");
  EXPECT_EQ(account.GetPassword(), "");
}

}  // namespace
