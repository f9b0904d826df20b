#include "services/FtpUploader.h"

#include <gtest/gtest.h>

using TLevels = std::vector<std::string>;

TEST(FtpPaths, NormalizeRemoteDir)
{
    EXPECT_EQ(NormalizeRemoteDir(""), "/");
    EXPECT_EQ(NormalizeRemoteDir(" \t "), "/");
    EXPECT_EQ(NormalizeRemoteDir(" radio\\site "), "radio/site");
    EXPECT_EQ(NormalizeRemoteDir("\\radio\\"), "/radio/");
}

TEST(FtpPaths, LevelsStartAtTheRootOnlyForALeadingSlash)
{
    EXPECT_EQ(RemoteDirLevels(""), TLevels{"/"});
    EXPECT_EQ(RemoteDirLevels("/"), TLevels{"/"});
    EXPECT_EQ(RemoteDirLevels("/radio/site/"), (TLevels{"/", "radio", "site"}));
    EXPECT_EQ(RemoteDirLevels("radio\\site"), (TLevels{"radio", "site"}));
    // Blank pieces are skipped, the others trimmed.
    EXPECT_EQ(RemoteDirLevels("radio// / site /"), (TLevels{"radio", "site"}));
    EXPECT_EQ(RemoteDirLevels("//"), TLevels{"/"});
}

TEST(FtpPaths, RemoteFileName)
{
    EXPECT_EQ(RemoteFileName(" site.txt ", "/tmp/noar.txt"), "site.txt");
    EXPECT_EQ(RemoteFileName("  ", "/home/radio/tocando.txt"), "tocando.txt");
    EXPECT_EQ(RemoteFileName("", "tocando.txt"), "tocando.txt");
    EXPECT_EQ(RemoteFileName("", "/home/radio/"), "noar.txt");
}
