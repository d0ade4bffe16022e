// The port table: device, by-id name and state of each numbered port, and
// the port list entries made from it.
#include "port/PortTable.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>

#include "TestSupport.h"
#include "port/Comport.h"
#include "port/PortDevices.h"

namespace zarvik {
namespace {

using test::MessageStateGuard;
using test::PtyPair;

constexpr int kFreePort = 231;
constexpr int kMissingPort = 232;
constexpr int kBusyPort = 233;
constexpr int kNullPort = 234;
constexpr int kFilePort = 235;
constexpr int kByIdPort = 236;
constexpr int kDeniedPort = 237;
constexpr const char* kAdapterName = "usb-Zarvik_Test_Adapter_0001-if00-port0";
constexpr uid_t kNobody = 65534;

class PortTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(free.Ok());
    ASSERT_TRUE(busy.Ok());
    byId = guard.Dir().File("by-id");
    std::filesystem::create_directory(byId);
    adapterLink = byId + "/" + kAdapterName;
    std::filesystem::create_symlink(free.SlavePath(), adapterLink);
    plainFile = guard.Dir().File("plain-file");
    test::WriteAll(plainFile, "x");
    const std::pair<int, std::string> map[] = {
        {kFreePort, free.SlavePath()}, {kMissingPort, guard.Dir().File("no-such-tty")},
        {kBusyPort, busy.SlavePath()}, {kNullPort, "/dev/null"},
        {kFilePort, plainFile},        {kByIdPort, adapterLink},
    };
    for (const auto& [port, device] : map) SetPortDevice(port, device);
  }
  void TearDown() override {
    for (int p = kFreePort; p <= kDeniedPort; ++p) SetPortDevice(p, "");
  }
  // Our ports of the table, by number.
  std::map<int, TPortEntry> Ours(bool withMissing) const {
    std::map<int, TPortEntry> ours;
    for (TPortEntry& e : PortTable(withMissing, byId))
      if (e.number >= kFreePort && e.number <= kDeniedPort) ours.emplace(e.number, std::move(e));
    return ours;
  }

  MessageStateGuard guard;
  PtyPair free;
  PtyPair busy;
  std::string byId;
  std::string adapterLink;
  std::string plainFile;
};

TEST_F(PortTableTest, EachPortWithItsDeviceByIdNameAndState) {
  // Another open holds the busy port (its lock is what tells).
  TComPort holder;
  ASSERT_TRUE(holder.SetPortNumber(kBusyPort));
  ASSERT_TRUE(holder.Open());

  struct Expected {
    int port;
    std::string node;
    std::string byIdName;
    TPortState state;
    std::string item;
    std::string stateText;
  };
  const std::vector<Expected> expected = {
      {kFreePort, free.SlavePath(), kAdapterName, TPortState::Free, "COM231", "свободен"},
      {kBusyPort, busy.SlavePath(), "", TPortState::Busy, "COM233  BUSY", "BUSY: занят другой программой"},
      {kNullPort, "/dev/null", "", TPortState::NotSerial, "COM234  NOT SERIAL",
       "NOT SERIAL: /dev/null не последовательный порт"},
      {kFilePort, plainFile, "", TPortState::NotSerial, "COM235  NOT SERIAL",
       "NOT SERIAL: " + plainFile + " не последовательный порт"},
      {kByIdPort, free.SlavePath(), kAdapterName, TPortState::Free, "COM236", "свободен"},
  };
  const auto ours = Ours(false);
  ASSERT_EQ(ours.size(), expected.size());  // the missing device is not listed
  for (const Expected& x : expected) {
    SCOPED_TRACE(x.item);
    ASSERT_EQ(ours.count(x.port), 1u);
    const TPortEntry& e = ours.at(x.port);
    EXPECT_EQ(e.node, x.node);
    EXPECT_EQ(e.byId, x.byIdName);
    EXPECT_EQ(e.state, x.state);
    EXPECT_EQ(PortListItem(e), x.item);
    EXPECT_EQ(PortStateText(e), x.stateText);
    // The list entry's characters 4 to 6, cut at the first blank, are the number.
    EXPECT_EQ(std::stoi(PortListItem(e).substr(3, 3)), x.port);
  }
  EXPECT_EQ(ours.at(kByIdPort).device, adapterLink);
  EXPECT_EQ(PortDescription(ours.at(kByIdPort)),
            "COM236: " + adapterLink + " -> " + free.SlavePath() + "\nby-id: " + kAdapterName + "\nсвободен");
  EXPECT_EQ(PortDescription(ours.at(kBusyPort)),
            "COM233: " + busy.SlavePath() + "\nBUSY: занят другой программой");

  // Asked for, a mapped device that is missing is shown as such.
  const auto all = Ours(true);
  ASSERT_EQ(all.count(kMissingPort), 1u);
  EXPECT_EQ(all.at(kMissingPort).state, TPortState::Missing);
  EXPECT_EQ(PortListItem(all.at(kMissingPort)), "COM232  MISSING");
  EXPECT_EQ(PortStateText(all.at(kMissingPort)),
            "MISSING: нет устройства " + guard.Dir().File("no-such-tty"));

  // The port list of the window: the same entries, CR LF after each.
  const std::string list = ListPorts();
  for (const char* line : {"COM231\r\n", "COM233  BUSY\r\n", "COM234  NOT SERIAL\r\n", "COM236\r\n"})
    EXPECT_NE(list.find(line), std::string::npos) << line;
  EXPECT_EQ(list.find("COM232"), std::string::npos);

  // Free again once the holder has closed it.
  holder.Close();
  EXPECT_EQ(ProbePort(kBusyPort, byId).state, TPortState::Free);
  // A port without any device.
  EXPECT_EQ(ProbePort(kDeniedPort, byId).state, TPortState::Missing);
}

// What a user who may not open the device sees: the table's state with the
// remedy, and the port's own report when it is opened. Run as an ordinary
// user: as root the check runs in a child that has become "nobody" (root
// opens any device whatever its mode); otherwise the device's mode denies
// the test's own user.
TEST_F(PortTableTest, APortTheUserMayNotOpenSaysSoAndNamesTheRemedy) {
  PtyPair denied;
  ASSERT_TRUE(denied.Ok());
  SetPortDevice(kDeniedPort, denied.SlavePath());
  const bool root = ::geteuid() == 0;
  ASSERT_EQ(::chmod(denied.SlavePath().c_str(), root ? 0600 : 0000), 0);

  const auto check = [&]() {
    const TPortEntry e = ProbePort(kDeniedPort, byId);
    std::string out =
        std::to_string(static_cast<int>(e.state)) + "\n" + PortListItem(e) + "\n" + PortStateText(e) + "\n";
    test::RecordingConsole console;
    SetConsole(&console);
    TComPort port;
    port.SetPortNumber(kDeniedPort);
    const bool opened = port.Open();
    out += std::string(opened ? "opened" : "refused") + "\n" + LastErrorMessage + "\n" + console.AllText();
    SetConsole(nullptr);
    return out;
  };
  std::string seen;
  if (root) {
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::close(pipeFds[0]);
      if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) ::_exit(3);
      const std::string text = check();
      (void)!::write(pipeFds[1], text.data(), text.size());
      ::_exit(0);
    }
    ::close(pipeFds[1]);
    char buf[4096];
    ssize_t n = 0;
    while ((n = ::read(pipeFds[0], buf, sizeof buf)) > 0) seen.append(buf, static_cast<std::size_t>(n));
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child could not become nobody";
  } else {
    seen = check();
  }
  const std::string remedy =
      "добавьте пользователя в группу dialout (sudo usermod -aG dialout $USER) и войдите в систему заново";
  // state, list entry, state text, open outcome, last error, then the console.
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < seen.size();) {
    const std::size_t end = lines.size() < 5 ? seen.find('\n', at) : std::string::npos;
    lines.push_back(seen.substr(at, end == std::string::npos ? std::string::npos : end - at));
    at = end == std::string::npos ? seen.size() : end + 1;
  }
  ASSERT_EQ(lines.size(), 6u) << seen;
  const std::string& state = lines[0];
  const std::string& item = lines[1];
  const std::string& text = lines[2];
  const std::string& opened = lines[3];
  const std::string& last = lines[4];
  const std::string& console = lines[5];
  EXPECT_EQ(state, std::to_string(static_cast<int>(TPortState::NoAccess)));
  EXPECT_EQ(item, "COM237  NO ACCESS");
  EXPECT_EQ(text, "NO ACCESS: нет прав на " + denied.SlavePath() + "; " + remedy);
  EXPECT_EQ(opened, "refused");
  EXPECT_EQ(last, "Selected СОМ-port busy!");
  EXPECT_NE(console.find("COM237 (" + denied.SlavePath() + "): Permission denied; " + remedy),
            std::string::npos)
      << console;
  // For the test's own user (root or the owner) the device is still there.
  if (root) {
    EXPECT_EQ(ProbePort(kDeniedPort, byId).state, TPortState::Free);
  }
}

TEST(PortTable, TheGroupNamedIsTheDevicesWhenItMayUseIt) {
  MessageStateGuard guard;
  const std::string file = guard.Dir().File("device");
  test::WriteAll(file, "");
  ASSERT_EQ(::chmod(file.c_str(), 0600), 0);
  EXPECT_EQ(DeviceAccessGroup(file), "dialout");
  EXPECT_EQ(DeviceAccessGroup(guard.Dir().File("missing")), "dialout");
  // A device of group "uucp" or the like (as some systems have), open to it.
  const group* other = ::getgrnam("tty");
  if (other == nullptr || ::chown(file.c_str(), static_cast<uid_t>(-1), other->gr_gid) != 0)
    GTEST_SKIP() << "cannot give the file another group";
  ASSERT_EQ(::chmod(file.c_str(), 0660), 0);
  EXPECT_EQ(DeviceAccessGroup(file), "tty");
  ASSERT_EQ(::chmod(file.c_str(), 0620), 0);  // the group may only write: membership would not help
  EXPECT_EQ(DeviceAccessGroup(file), "dialout");
}

}  // namespace
}  // namespace zarvik
