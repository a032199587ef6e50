// The helper vindle: it reports the descriptors it inherited (3 to 63
// only), hands its arguments to the engine and returns the engine's status.
#include "tests/support/testutil.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct RUN {
    int Status = -1;
    std::string Err;
};

// vindle with the arguments, descriptors 5 (a file) and 70 open, standard
// error captured; TESSARO_SSH names the program the engine runs.
RUN Vindle(std::vector<std::string> args, std::string const& ssh, std::string const& dir)
{
    std::string const vindle = std::string(getenv("QOR_STAGE_DIR")) + "/bin/vindle";
    args.insert(args.begin(), vindle);
    std::string const errFile = dir + "/err";
    pid_t pid = fork();
    if (pid == 0) {
        int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(err, 2);
        int file = open((dir + "/five").c_str(), O_RDWR | O_CREAT, 0640);
        close_range(3, ~0U, 0);
        (void)file;
        int five = open((dir + "/five").c_str(), O_RDWR);
        if (five != 5)
            dup2(five, 5);
        dup2(5, 70);
        setenv("TESSARO_SSH", ssh.c_str(), 1);
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(vindle.c_str(), argv.data());
        _exit(126);
    }
    RUN r;
    int status = 0;
    waitpid(pid, &status, 0);
    r.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.Err = testutil::ReadFile(errFile);
    return r;
}

} // namespace

TEST(Vindle, ReportsDescriptorsAndReturnsTheEngineStatus)
{
    testutil::TempDir dir;
    std::string const fake = dir.file("fakessh");
    testutil::WriteFile(fake, "#!/bin/sh\necho \"ran: $*\" >&2\nexit 7\n");
    chmod(fake.c_str(), 0700);
    testutil::WriteFile(dir.file("five"), "12345");

    RUN r = Vindle({"-p", "2222", "--", "host"}, fake, dir.path());
    EXPECT_EQ(r.Status, 7);
    EXPECT_EQ(r.Err.find("vindle main\n"), 0u) << r.Err;
    EXPECT_NE(r.Err.find("vindle has lingering fd 5:  (dev= "), std::string::npos) << r.Err;
    EXPECT_NE(r.Err.find("size= 5, mod= 00100"), std::string::npos) << r.Err;
    for (char const* never : {"lingering fd 0:", "lingering fd 1:", "lingering fd 2:", "lingering fd 70:"})
        EXPECT_EQ(r.Err.find(never), std::string::npos) << never;
    EXPECT_NE(r.Err.find("ran: -p 2222 -- host"), std::string::npos) << r.Err;
    EXPECT_NE(r.Err.find("vindle main done, rc= 7\n"), std::string::npos) << r.Err;

    // A destination that is an option never reaches ssh.
    r = Vindle({"--", "-oProxyCommand=touch " + dir.file("touched")}, fake, dir.path());
    EXPECT_EQ(r.Status, 255);
    EXPECT_EQ(r.Err.find("ran:"), std::string::npos) << r.Err;
    EXPECT_NE(r.Err.find("vindle main done, rc= 255"), std::string::npos);
}
