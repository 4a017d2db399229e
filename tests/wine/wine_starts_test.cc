// Run before every test that needs Wine (a CTest fixture): when Wine cannot
// start here, those tests are not run, and this one says why, in seconds.
#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>

#include "wine_session.h"

namespace lumo::wine {
namespace {

TEST(WineStarts, BootsAPrefixAndRunsAProgram) {
    std::unique_ptr<WineSession> session;
    try {
        session = std::make_unique<WineSession>();
    } catch (const std::runtime_error& failure) {
        FAIL() << failure.what()
               << (runs_32bit_programs() ? ""
                                         : "\n(this kernel runs no 32-bit programs: Wine's 32-bit half, wine32:i386, "
                                           "must not be installed; scripts/install-deps.sh test removes it)");
    }
    RunResult run = session->host(
        "env WINEPREFIX=" + shell_quote(session->prefix().string()) + " WINEDEBUG=-all wine cmd /c echo started", 120);
    EXPECT_EQ(run.exit_code, 0) << run.errors;
    EXPECT_NE(run.output.find("started"), std::string::npos) << run.output << run.errors;
}

}  // namespace
}  // namespace lumo::wine
