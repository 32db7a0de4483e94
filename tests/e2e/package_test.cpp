// Installing with CMake and the Debian package, checked the way a packager would.
#include <gtest/gtest.h>

#include "x_harness.h"

#include <X11/keysym.h>
#include <unistd.h>

#include <string>

namespace {

const char* const installedFiles[] = {"usr/bin/korvel", "usr/share/man/man6/korvel.6.gz",
                                      "usr/share/applications/korvel.desktop",
                                      "usr/share/icons/hicolor/128x128/apps/korvel.png"};

TEST(Install, PutsTheProgramManualPageDesktopEntryAndIconInPlace)
{
    const std::string dir = makeTempDir();
    std::string output;
    ASSERT_EQ(runShell("cmake --install '" KORVEL_BUILD_DIR "' --prefix '" + dir + "/usr'", output),
              0)
        << output;
    for (const char* file : installedFiles) {
        EXPECT_EQ(access((dir + "/" + file).c_str(), R_OK), 0) << file << " not installed";
    }
    EXPECT_EQ(access((dir + "/usr/bin/korvel").c_str(), X_OK), 0);
    EXPECT_EQ(runShell("desktop-file-validate '" + dir + "/usr/share/applications/korvel.desktop'",
                       output),
              0)
        << output;
    // man -l renders it with groff's warnings turned on, and none may appear.
    EXPECT_EQ(runShell("{ MANWIDTH=80 man --warnings -l '" + dir +
                           "/usr/share/man/man6/korvel.6.gz' 2>&1 >/dev/null; }",
                       output),
              0);
    EXPECT_EQ(output, "");
    runShell("rm -rf '" + dir + "'", output);
}

TEST(Package, BuildsADebianPackageWhoseUnpackedProgramRunsAndEndsWithEsc)
{
    const std::string dir = makeTempDir();
    std::string output;
    ASSERT_EQ(runShell("cd '" + dir +
                           "' && cpack --config '" KORVEL_BUILD_DIR
                           "/CPackConfig.cmake' -G DEB -B '" +
                           dir + "'",
                       output),
              0)
        << output;
    const std::string deb = dir + "/korvel_1.0.0-1_amd64.deb";
    ASSERT_EQ(access(deb.c_str(), R_OK), 0) << output;

    std::string field;
    runShell("dpkg-deb -f '" + deb + "' Package Section Maintainer Depends Description", field);
    EXPECT_NE(field.find("Package: korvel"), std::string::npos) << field;
    EXPECT_NE(field.find("Section: "), std::string::npos) << field;
    EXPECT_NE(field.find("Maintainer: "), std::string::npos) << field;
    EXPECT_NE(field.find("Description: "), std::string::npos) << field;
    EXPECT_NE(field.find("libglut"), std::string::npos) << "Depends not computed: " << field;
    EXPECT_NE(field.find("libc6"), std::string::npos) << "Depends not computed: " << field;

    // Errors make lintian fail; warnings are allowed.
    EXPECT_EQ(runShell("lintian --fail-on error '" + deb + "'", output), 0) << output;

    const std::string unpacked = dir + "/root";
    ASSERT_EQ(runShell("dpkg-deb -x '" + deb + "' '" + unpacked + "'", output), 0) << output;
    for (const char* file : installedFiles) {
        EXPECT_EQ(access((unpacked + "/" + file).c_str(), R_OK), 0) << file << " not packaged";
    }

    VirtualDisplay display;
    ASSERT_TRUE(display.connection());
    Korvel::Options options;
    options.binary = unpacked + "/usr/bin/korvel";
    options.display = display.name();
    Korvel korvel(options);
    const Window window = findWindow(display.connection(), "Korvel (Original)", 10000);
    ASSERT_NE(window, 0u);
    ASSERT_TRUE(waitUntil([&] { return korvel.tap().steps > 10; }, 10000));
    pressKey(display.connection(), window, XK_Escape);
    EXPECT_EQ(korvel.waitExit(5000), 0);
    EXPECT_EQ(korvel.err(), "");
    runShell("rm -rf '" + dir + "'", output);
}

} // namespace
