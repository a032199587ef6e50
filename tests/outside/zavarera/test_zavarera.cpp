// The converter of foreign host lists: CSV and OpenSSH client
// configurations read into hosts, the entries it writes, and its results.
#include "outside/zavarera/converter.h"

#include "tests/support/testutil.h"

#include <gmock/gmock.h>

#include <sys/stat.h>

using namespace zavarera;
using ::testing::ElementsAreArray;

namespace {

std::vector<std::string> Show(std::vector<HOST> const& hosts)
{
    std::vector<std::string> out;
    for (HOST const& h : hosts)
        out.push_back(h.Name + "|" + h.Number + "|" + std::to_string(h.Device) + "|" + h.User);
    return out;
}

} // namespace

TEST(Zavarera, CsvLists)
{
    struct CASE {
        char const* Text;
        bool Ok;
        std::vector<std::string> Hosts;
    };
    std::vector<CASE> const cases = {
        {"name,host,port,device,user\nMail,mail.example.org,,telnet,joe\r\nBox,10.0.0.2,2323,3,\n", true,
         {"Mail|mail.example.org|3|joe", "Box|10.0.0.2:2323|3|"}},
        {"\"Smith, J\",\"h\"\"x\",22,ssh,\"a\nb\"\n", true, {"Smith, J|h\"x|9|a\nb"}},
        {",bare.host\nno host,,\n", true, {"bare.host|bare.host|3|"}},
        {"Serial,5551234,,serial\nOdd,x,,bogus\n", true, {"Serial|5551234|1|", "Odd|x|-1|"}},
        {"just one field\n", false, {}},
        {"a,b,c,d,e,f\n", false, {}},
        {"\n\n", false, {}},
    };
    for (CASE const& c : cases) {
        SCOPED_TRACE(c.Text);
        std::vector<HOST> hosts;
        EXPECT_EQ(ParseCsv(c.Text, hosts), c.Ok);
        if (c.Ok)
            EXPECT_THAT(Show(hosts), ElementsAreArray(c.Hosts));
    }
}

TEST(Zavarera, OpenSshConfigurations)
{
    std::string const text = "# mine\n"
                             "Host *\n  ServerAliveInterval 30\n"
                             "Host work work-alias\n  HostName work.example.org\n  Port 2222\n  User joe\n"
                             "Host *.internal !bad\n  User nobody\n"
                             "Match host x\n  User matched\n"
                             "Host=plain\n  user = \"ann\"\n  port 22\n";
    std::vector<HOST> hosts;
    ASSERT_TRUE(ParseSshConfig(text, hosts));
    EXPECT_THAT(Show(hosts), ElementsAreArray({"work|work.example.org:2222|9|joe", "work-alias|work.example.org:2222|9|joe",
                                               "plain|plain|9|ann"}));
    EXPECT_FALSE(ParseSshConfig("# nothing here\n", hosts));
    EXPECT_TRUE(ParseSshConfig("Host *\n", hosts));
    EXPECT_TRUE(hosts.empty());
}

TEST(Zavarera, EntriesAndResults)
{
    std::vector<HOST> hosts(1);
    hosts[0].Name = "M\xC3\xBC" "ller \"1\"";
    hosts[0].Number = "h\x1b\nx";
    hosts[0].Device = 9;
    hosts[0].User = "\xE2\x82\xAC" "u";
    std::string const text = Entries(hosts);
    EXPECT_NE(text.find("name=utf8:\"M\xC3\xBCller \"1\"\"\n"), std::string::npos) << text;
    EXPECT_NE(text.find("number=\"h\x1b\x1b\x1bnx\"\n"), std::string::npos) << text;
    EXPECT_NE(text.find("username=\"?u\"\n"), std::string::npos) << text;
    EXPECT_NE(text.find("deviceid=9\n"), std::string::npos);
    EXPECT_EQ(text.find("password"), std::string::npos);

    testutil::TempDir dir;
    std::string const out = dir.file("out.txt");
    testutil::WriteFile(dir.file("good.csv"), "a,host.example\n");
    testutil::WriteFile(dir.file("empty.csv"), "");
    testutil::WriteFile(dir.file("binary.csv"), std::string("a,b\0c\n", 6));
    testutil::WriteFile(dir.file("bad.csv"), "one\n");
    EXPECT_EQ(Convert(dir.file("good.csv").c_str(), 0, out.c_str()), kConverted);
    struct stat st;
    ASSERT_EQ(stat(out.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_NE(testutil::ReadFile(out).find("number=\"host.example\""), std::string::npos);
    EXPECT_EQ(Convert(dir.file("empty.csv").c_str(), 0, out.c_str()), kStopped);
    EXPECT_EQ(Convert(dir.file("missing.csv").c_str(), 0, out.c_str()), kBadSource);
    EXPECT_EQ(Convert(dir.path().c_str(), 0, out.c_str()), kBadSource) << "a folder";
    EXPECT_EQ(Convert(dir.file("binary.csv").c_str(), 0, out.c_str()), kBadFormat);
    EXPECT_EQ(Convert(dir.file("bad.csv").c_str(), 0, out.c_str()), kBadFormat);
    EXPECT_EQ(Convert(dir.file("good.csv").c_str(), 7, out.c_str()), kBadFormat);

    // The OpenSSH format reads the user's own file.
    std::string const home = getenv("HOME");
    mkdir((home + "/.ssh").c_str(), 0700);
    testutil::WriteFile(home + "/.ssh/config", "Host box\n  User me\n");
    EXPECT_EQ(Convert("<~/.ssh/config", 1, out.c_str()), kConverted);
    EXPECT_NE(testutil::ReadFile(out).find("name=\"box\""), std::string::npos);
}
