// The VID/PID configuration file missing or in a bad state: malformed, empty, 10 MB, a folder, or a document
// without a usable entry. Start-up takes bounded time, warns once where the file could not be
// used, the default list is in force, and the demo key's HID interfaces are still found with it.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "GuiTestSupport.h"
#include "app/DemoMode.h"
#include "app/MainWnd.h"
#include "device/HidDiscovery.h"
#include "device/PcscInterface.h"
#include "device/VidPidConfig.h"

using namespace guitest;

namespace {

TEST(FaultConfig, AnUnusableConfigurationFileWarnsOnceAndTheDefaultListServes) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QByteArray tenMegabytes =
      "<VidPidConfig>" + QByteArray(10 * 1024 * 1024, ' ') + "<Key VID=\"0x1111\"/></VidPidConfig>";
  struct Case {
    const char* what;
    QByteArray content;
    bool folder;
    bool warns;
    bool absent = false;
  } cases[] = {
      {"missing", "", false, true, true},
      {"malformed", "<VidPidConfig><Key VID=\"0x1111\"></VidPidConfig>", false, true},
      {"empty", "", false, true},
      {"10 MB", tenMegabytes, false, true},
      {"a folder of that name", "", true, true},
      {"binary junk", QByteArray("\x00\xff\xfe<\x01", 5), false, true},
      {"no element with a VID", "<VidPidConfig><Key PID=\"0x0001\"/><Other/></VidPidConfig>", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const QString path = dir.filePath(QStringLiteral("case-%1/Pid_Vid_Config.xml").arg(&c - cases));
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
    if (c.absent) {
      // nothing at that path
    } else if (c.folder) {
      ASSERT_TRUE(QDir().mkpath(path));
    } else {
      QFile file(path);
      ASSERT_TRUE(file.open(QIODevice::WriteOnly));
      file.write(c.content);
    }
    DemoMode demo;
    demo.Backends().models->SetEntries({VidPidEntry::Make(0x1111, 0x2222)});
    CMainWnd window(demo.Backends());
    window.SetVidPidConfigFiles({path.toStdString()});
    BoxAnswerer answerer(BoxAnswer::Confirm);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(window.Create(nullptr, QStringLiteral("Quillon Tokvane"), 990, 690));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
    const std::vector<ShownBox> warning{{"Warning", "Can find the vid and pid config file"}};
    EXPECT_EQ(answerer.Shown(), c.warns ? warning : std::vector<ShownBox>{});
    const DeviceBackends& backends = window.Backends();
    EXPECT_EQ(backends.models->Entries(), std::vector<VidPidEntry>{DefaultVidPidEntry()});
    std::vector<std::wstring> names;
    EXPECT_EQ(EnumerateHidDevices(*backends.hid, *backends.models, names), 2)
        << "the maker's keys are found with the default list";
  }
}

}  // namespace
