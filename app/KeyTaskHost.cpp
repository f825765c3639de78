#include "app/KeyTaskHost.h"

#include <utility>

#include "app/KeyWorker.h"
#include "app/MsgWnd.h"
#include "app/PanelContext.h"
#include "core/Conversions.h"
#include "core/SecureBytes.h"
#include "device/AppletSelection.h"
#include "oath/UserPresence.h"
#include "core/Translate.h"

namespace {

std::string HexLine(const CApduCommand& command) { return command.ToHex() + "\n"; }

}  // namespace

KeyTaskHost::KeyTaskHost(PanelContext& context, std::shared_ptr<KeyConnection> connection,
                         QPointer<QWidget> boxOwner)
    : context_(context), worker_(context.Worker()), connection_(std::move(connection)), boxOwner_(std::move(boxOwner)) {}

KeyTaskHost::~KeyTaskHost() {
  if (counting_) worker_.PostToGui([worker = &worker_] { emit worker->touchWaitEnded(); });
}

bool KeyTaskHost::IsSameDevice() const { return !connection_->IsReleased() && !worker_.IsClosing(); }

void KeyTaskHost::Log(std::string entry, COLORREF colour) {
  worker_.PostToGui([context = &context_, entry = std::move(entry), colour]() mutable {
    std::wstring text = AnsiToWide(entry);
    context->AppendLog(text, colour);
    WipeBuffer(text);
    WipeBuffer(entry);
  });
}

unsigned KeyTaskHost::Box(const std::wstring& title, const std::wstring& text, Modality modality,
                          bool cancelByDefault) {
  unsigned answer = 0;
  worker_.WaitForGui([&] {
    worker_.OperatorWaitBegins();
    answer = ShowMessageBox(modality == Modality::Owner ? boxOwner_.data() : nullptr, title, text, cancelByDefault);
    worker_.OperatorWaitEnds();
  });
  return answer;
}

bool KeyTaskHost::ConfirmUserPresence() {
  if (!NeedsUserPresence(Device())) return true;
  constexpr unsigned kConfirmed = 1;
  if (Box(tokvane::TrW(kUserPresenceTitle), tokvane::TrW(kUserPresenceText)) != kConfirmed) return false;
  // The guarded command goes out next: the window counts the touch window down while it waits.
  if (IsSameDevice() && !counting_) {
    counting_ = true;
    worker_.PostToGui([worker = &worker_] { emit worker->touchWaitStarted(kUserPresenceWindow); });
  }
  return true;
}

void KeyTaskHost::ReportExchangeFailure(const std::string& reason) {
  Log(reason + "\n", log_color::kRed);
  Tell(tokvane::TrW("Communication error"), AnsiToWide(reason), Modality::None);
}

bool KeyTaskHost::SelectOathApplet() {
  IDeveiceInterface& device = Device();
  if (!device.IsOpen()) {
    Tell(tokvane::TrW("Error"), tokvane::TrW("Please connect device first"), Modality::None);
    return false;
  }
  Log(HexLine(applets::SelectionCommand(applets::Applet::Oath)), log_color::kBlue);
  const applets::SelectionAnswer answer = applets::Select(device, applets::Applet::Oath);
  if (!answer.exchanged) {
    ReportExchangeFailure(answer.reason);
    return false;
  }
  if (!answer.response.HasStatusWord()) {
    // The key stopped answering: nothing was selected, and nothing that follows would reach it.
    ReportExchangeFailure(device.GetLastErrorText());
    return false;
  }
  if (answer.response.IsSuccess()) {
    Log(tokvane::Tr("Select ins successful.\n"), log_color::kBlue);
  } else {
    Log(tokvane::Tr("Select ins error.\n"), log_color::kRed);
  }
  return true;
}

void KeyTaskHost::SelectFidoApplet() {
  // A key that went while the action waited for the operator is not asked again.
  if (!IsSameDevice()) return;
  IDeveiceInterface& device = Device();
  if (!device.IsOpen()) device.Open();
  if (!device.IsOpen()) {
    Tell(tokvane::TrW("Error"), tokvane::TrW("Please connect device first"), Modality::None);
    if (!IsSameDevice()) return;
  }
  Log(HexLine(applets::SelectionCommand(applets::Applet::Fido)), log_color::kBlue);
  const applets::SelectionAnswer answer = applets::Select(device, applets::Applet::Fido);
  if (!answer.exchanged) {
    ReportExchangeFailure(answer.reason);
    if (!IsSameDevice()) return;
  }
  device.Close();
}
