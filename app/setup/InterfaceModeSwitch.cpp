// The interface-mode switch of the device setup panel: the chosen option becomes one command to
// the current device, sent by a task on the key worker, and its outcome goes to the log.
#include <QAbstractButton>
#include <QPointer>
#include <cstdint>

#include "app/KeyTaskHost.h"
#include "app/KeyWorker.h"
#include "app/setup/InitDemoToCardUI.h"
#include "app/setup/InterfaceModeOptions.h"
#include "core/Conversions.h"
#include "device/InterfaceMode.h"
#include "ui/Controls.h"
#include "core/Translate.h"

void InitDemoToCardUI::ApplyInterfaceMode() {
  if (!m_Context.CheckDeviceSelected()) return;

  const interface_mode::Option* option = nullptr;
  for (const interface_mode::Option& candidate : interface_mode::kOptions) {
    if (controls::IsSelected(ModeOption(candidate.name))) {
      option = &candidate;
      break;
    }
  }
  if (option == nullptr) return;

  auto askForConnection = std::make_shared<bool>(false);
  m_Context.Worker().Start(
      [context = &m_Context, connection = m_Context.Connection(), owner = QPointer<QWidget>(this), option,
       askForConnection] {
        KeyTaskHost host(*context, connection, owner);
        IDeveiceInterface& device = host.Device();
        if (!interface_mode::OpenFreshConnection(device)) {
          *askForConnection = true;
          return;
        }
        if (!host.ConfirmUserPresence()) return;
        // The key went while the touch prompt was open: nothing is sent.
        if (!host.IsSameDevice()) {
          *askForConnection = true;
          return;
        }
        host.Log(interface_mode::BuildCommand(option->modeByte).ToHex() + "\n", log_color::kBlue);
        const interface_mode::Answer sent = interface_mode::Send(device, option->modeByte);
        const std::string answer = "<< " + sent.response.ToHex() + "\n";
        if (sent.exchanged && !sent.response.HasStatusWord()) {
          host.Log(sent.reason + "; " + tokvane::Tr(interface_mode::kMayHaveChanged) + "\n", log_color::kRed);
          return;
        }
        switch (sent.outcome) {
          case interface_mode::Outcome::ExchangeFailed:
            host.Log(sent.reason + "\n", log_color::kRed);
            break;
          case interface_mode::Outcome::Applied:
            host.Log(std::string(tokvane::Tr(option->successMessage)) + "\n", log_color::kBlue);
            host.Log(tokvane::Tr(interface_mode::kReplugRequest), log_color::kBlue);
            host.Log(answer, log_color::kBlue);
            break;
          case interface_mode::Outcome::TouchTimedOut:
            host.Log(std::string(tokvane::Tr(interface_mode::kTouchTimedOut)) + "\n", log_color::kRed);
            break;
          case interface_mode::Outcome::Refused:
            host.Log(answer, log_color::kBlue);
            host.Log(std::string(tokvane::Tr(interface_mode::kSetDeviceFailed)) + "\n", log_color::kRed);
            break;
        }
        // The transport stays open; nothing else of the panel changes.
      },
      [this, askForConnection] {
        if (*askForConnection) AskForConnection();
      });
}
