// The interface-mode switch of the device setup panel: the chosen option becomes one command to
// the current device, and its outcome goes to the log.
#include <QAbstractButton>
#include <cstdint>

#include "app/oath/UserPresencePrompt.h"
#include "app/setup/InitDemoToCardUI.h"
#include "app/setup/InterfaceModeOptions.h"
#include "core/Conversions.h"
#include "device/InterfaceMode.h"
#include "ui/Controls.h"

namespace {

std::wstring Widen(const char* text) { return AnsiToWide(text); }

}  // namespace

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

  IDeveiceInterface* device = m_Context.Device();
  if (!interface_mode::OpenFreshConnection(*device)) {
    AskForConnection();
    return;
  }

  // The touch prompt runs a nested loop in which a device change may release the device.
  const std::uint64_t generation = m_Context.DeviceGeneration();
  if (!ConfirmUserPresence(*device, this)) return;
  if (m_Context.DeviceGeneration() != generation) {
    AskForConnection();
    return;
  }

  m_Context.AppendLog(Widen(interface_mode::BuildCommand(option->modeByte).ToHex().c_str()) + L"\n",
                      log_color::kBlue);
  const interface_mode::Answer sent = interface_mode::Send(*device, option->modeByte);
  const std::wstring answer = L"<< " + Widen(sent.response.ToHex().c_str()) + L"\n";
  switch (sent.outcome) {
    case interface_mode::Outcome::ExchangeFailed:
      m_Context.AppendLog(Widen(sent.reason.c_str()) + L"\n", log_color::kRed);
      break;
    case interface_mode::Outcome::Applied:
      m_Context.AppendLog(Widen(option->successMessage) + L"\n", log_color::kBlue);
      m_Context.AppendLog(Widen(interface_mode::kReplugRequest), log_color::kBlue);
      m_Context.AppendLog(answer, log_color::kBlue);
      break;
    case interface_mode::Outcome::TouchTimedOut:
      m_Context.AppendLog(Widen(interface_mode::kTouchTimedOut) + L"\n", log_color::kRed);
      break;
    case interface_mode::Outcome::Refused:
      m_Context.AppendLog(answer, log_color::kBlue);
      m_Context.AppendLog(Widen(interface_mode::kSetDeviceFailed) + L"\n", log_color::kRed);
      break;
  }
  // The transport stays open; nothing else of the panel changes.
}
