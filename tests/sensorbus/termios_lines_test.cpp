// The termios line driver against a fake kernel (linked under it with
// --wrap), and against a real pseudo-terminal for what only a kernel shows:
// the lock that keeps a second process off the port.

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "sensorbus/i2c_bus.h"
#include "tests/sensorbus/fake_kernel.h"
#include "tests/support/test_env.h"

namespace kelvara {
namespace {

using test::FakeKernel;
using test::ScopedEnv;

constexpr const char* kTty = "/fake/ttyS1";

class TermiosLines : public ::testing::Test {
protected:
    FakeKernel kernel;
    ScopedEnv com2{"KELVARA_COM2", kTty};

    void SetUp() override { kernel.add(kTty); }
};

TEST_F(TermiosLines, OpenIsNonBlockingThenBlockingLockedAndPurged)
{
    SerialLinePort port(2);
    ASSERT_TRUE(port.is_open());
    EXPECT_EQ(kernel.joined_log(),
              "open /fake/ttyS1 O_RDWR|O_NOCTTY|O_NONBLOCK\n"
              "flock LOCK_EX|LOCK_NB\n"
              "tcgetattr\n"
              "fcntl F_GETFL\n"
              "fcntl F_SETFL O_RDWR|O_NOCTTY\n"
              "tcgetattr\n"
              "tcgetattr\n"
              "tcflush TCIOFLUSH\n");
}

TEST_F(TermiosLines, EachLineOperationIsOneModemIoctl)
{
    SerialLinePort port(2);
    ASSERT_TRUE(port.is_open());
    struct Case {
        int (*operation)(SerialLinePort&);
        const char* ioctl;
        int result;
    } cases[] = {
        {[](SerialLinePort& p) { return p.set_dtr(1); }, "TIOCMBIS DTR", 0},
        {[](SerialLinePort& p) { return p.set_dtr(0); }, "TIOCMBIC DTR", 0},
        {[](SerialLinePort& p) { return p.set_rts(7); }, "TIOCMBIS RTS", 0},
        {[](SerialLinePort& p) { return p.set_rts(0); }, "TIOCMBIC RTS", 0},
        {[](SerialLinePort& p) { return p.set_break(1); }, "TIOCSBRK", 0},
        {[](SerialLinePort& p) { return p.set_break(0); }, "TIOCCBRK", 0},
        {[](SerialLinePort& p) { return p.read_cts(); }, "TIOCMGET", 0},  // DTR is low: CTS off
    };
    for (const Case& c : cases) {
        kernel.log.clear();
        EXPECT_EQ(c.operation(port), c.result) << c.ioctl;
        ASSERT_EQ(kernel.log.size(), 1u) << kernel.joined_log();
        EXPECT_EQ(kernel.log[0], c.ioctl);
    }
    kernel.log.clear();
    EXPECT_EQ(port.set_dtr_rts(1), 0);
    EXPECT_EQ(kernel.joined_log(), "TIOCMBIS RTS\nTIOCMBIS DTR\n");
}

TEST_F(TermiosLines, CtsReadsSixteenOrZeroAndAFailedReadIsAnError)
{
    SerialLinePort port(2);
    port.set_dtr(1);
    EXPECT_EQ(port.read_cts(), MS_CTS_ON);
    port.set_dtr(0);
    EXPECT_EQ(port.read_cts(), 0);

    kernel.tty(kTty).cts_follows_dtr = false;
    kernel.tty(kTty).modem_bits = TIOCM_CTS | TIOCM_DSR | TIOCM_CD;
    EXPECT_EQ(port.read_cts(), MS_CTS_ON) << "other modem bits must not leak into the result";

    kernel.tty(kTty).fail_modem_ioctls = true;
    EXPECT_EQ(port.read_cts(), SERIAL_ERR_PORT);
    EXPECT_EQ(port.set_dtr(1), SERIAL_ERR_PORT);
    EXPECT_EQ(port.set_rts(1), SERIAL_ERR_PORT);
    EXPECT_EQ(port.set_dtr_rts(1), 0) << "failures inside set_dtr_rts are not reported";
}

TEST_F(TermiosLines, SpeedAndFramingAreNeverWritten)
{
    {
        I2CBus bus;
        bus.open(2);
        const std::uint8_t command[] = {0xEE};
        bus.write_and_stop(0x90, command, 1);
    }
    EXPECT_EQ(kernel.joined_log().find("tcsetattr"), std::string::npos) << kernel.joined_log();
    EXPECT_FALSE(kernel.tty(kTty).in_break) << "closing the bus must take the break off";
}

TEST_F(TermiosLines, CloseRestoresTheTimeoutsItReadAndNothingElse)
{
    SerialLinePort port(2);
    // Someone else changes the time-outs and the speed while the port is open.
    termios& attrs = kernel.tty(kTty).attrs;
    attrs.c_cc[VMIN] = 0;
    attrs.c_cc[VTIME] = 5;
    cfsetospeed(&attrs, B115200);
    kernel.log.clear();

    port.close();
    EXPECT_EQ(kernel.joined_log(), "tcgetattr\ntcsetattr TCSANOW\ntcflush TCIOFLUSH\nclose\n");
    EXPECT_EQ(attrs.c_cc[VMIN], 1);
    EXPECT_EQ(attrs.c_cc[VTIME], 0);
    EXPECT_EQ(cfgetospeed(&attrs), static_cast<speed_t>(B115200)) << "close must not put back the old speed";
    EXPECT_EQ(kernel.open_fds(), 0);
}

TEST_F(TermiosLines, OpenFailuresLeaveThePortClosedAndNoDescriptorBehind)
{
    struct Case {
        const char* name;
        void (*setup)(FakeKernel&);
        int expected_errno;
    } cases[] = {
        {"missing device", [](FakeKernel&) { ::setenv("KELVARA_COM2", "/fake/ttyS9", 1); }, ENOENT},
        {"permission", [](FakeKernel& k) { k.tty(kTty).open_errno = EACCES; }, EACCES},
        {"not a tty", [](FakeKernel& k) { k.tty(kTty).is_tty = false; }, ENOTTY},
    };
    for (const Case& c : cases) {
        ScopedEnv restore("KELVARA_COM2", kTty);
        kernel.add(kTty);
        c.setup(kernel);
        kernel.log.clear();
        SerialLinePort port(2);
        EXPECT_FALSE(port.is_open()) << c.name;
        EXPECT_EQ(port.last_open_errno(), c.expected_errno) << c.name;
        EXPECT_EQ(port.set_dtr(1), SERIAL_ERR_PORT) << c.name;
        EXPECT_EQ(kernel.open_fds(), 0) << c.name;
        EXPECT_EQ(kernel.joined_log().find("TIOCM"), std::string::npos) << c.name;
    }
}

TEST_F(TermiosLines, PortHeldByAnotherObjectFailsWithBusy)
{
    SerialLinePort holder(2);
    ASSERT_TRUE(holder.is_open());
    SerialLinePort second(2);
    EXPECT_FALSE(second.is_open());
    EXPECT_EQ(second.last_open_errno(), EBUSY);
    EXPECT_EQ(kernel.open_fds(), 1) << "the refused open must close its descriptor";
    holder.close();
    EXPECT_EQ(second.open(2), 0);
}

// A pseudo-terminal is a real tty that belongs to the test alone.
class PseudoTerminal : public ::testing::Test {
protected:
    void SetUp() override
    {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(master_, 0);
        ASSERT_EQ(::grantpt(master_), 0);
        ASSERT_EQ(::unlockpt(master_), 0);
        path_ = ::ptsname(master_);
    }
    void TearDown() override { ::close(master_); }

    int master_ = -1;
    std::string path_;
};

TEST_F(PseudoTerminal, SecondProcessCannotOpenAHeldPort)
{
    ScopedEnv com4("KELVARA_COM4", path_);
    termios before{};
    ASSERT_EQ(::tcgetattr(master_, &before), 0);

    SerialLinePort holder(4);
    ASSERT_TRUE(holder.is_open()) << path_ << ": errno " << holder.last_open_errno();

    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        SerialLinePort second(4);
        ::_exit(!second.is_open() && second.last_open_errno() == EBUSY ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a second process got the port";

    holder.close();
    termios after{};
    ASSERT_EQ(::tcgetattr(master_, &after), 0);
    EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before));
    EXPECT_EQ(after.c_cflag, before.c_cflag);

    SerialLinePort again(4);
    EXPECT_TRUE(again.is_open()) << "closing must release the lock";
}

}  // namespace
}  // namespace kelvara
