#pragma once
// What a task on the key worker uses to reach the window: log entries go to the GUI thread in the
// order they are made, a box is shown there while the task waits on the worker for the operator's
// answer, and the applet selections and the touch prompt are made on the task's own device.
// Lives on the worker, for one task.
#include <QPointer>
#include <QWidget>
#include <chrono>
#include <memory>
#include <string>

#include "app/KeyConnection.h"
#include "app/OutputLog.h"

class KeyWorker;
class PanelContext;

class KeyTaskHost {
 public:
  // `boxOwner`: the window the boxes are modal to (none: they are not modal).
  KeyTaskHost(PanelContext& context, std::shared_ptr<KeyConnection> connection, QPointer<QWidget> boxOwner);
  // Ends a touch countdown the task started.
  ~KeyTaskHost();
  KeyTaskHost(const KeyTaskHost&) = delete;
  KeyTaskHost& operator=(const KeyTaskHost&) = delete;

  IDeveiceInterface& Device() { return *connection_->transport; }
  bool IsHid() const { return connection_->isHid; }
  // False once the window has let go of the device this task started with, or is closing.
  bool IsSameDevice() const;

  // One numbered log entry. A narrow entry may carry what the operator typed: every copy made of
  // it is wiped.
  void Log(std::string entry, COLORREF colour);
  // Shows a box and waits for the answer: 1 confirmed, 0 otherwise (also when the window closes).
  // Modal to the owner's window, or to nothing: the window's own notices about the device leave
  // the window usable.
  enum class Modality { Owner, None };
  unsigned Box(const std::wstring& title, const std::wstring& text, Modality modality = Modality::Owner,
               bool cancelByDefault = false);
  // A box whose answer does not matter.
  void Tell(const std::wstring& title, const std::wstring& text, Modality modality = Modality::Owner) {
    Box(title, text, modality);
  }

  // True when the guarded command may be sent: the key needs no touch, or the operator agreed.
  // The window counts the key's touch window down from then on.
  bool ConfirmUserPresence();
  // Selects the OATH applet on the open device. False when the device is not open, no answer
  // came back, or the answer had no status word; a refusing status word is logged and still
  // counts as selected.
  bool SelectOathApplet();
  // Re-selects the FIDO applet (opening the device if needed) and closes the device; nothing
  // once the device has gone.
  void SelectFidoApplet();

 private:
  // The transport's reason in red and in a "Communication error" box.
  void ReportExchangeFailure(const std::string& reason);

  PanelContext& context_;
  KeyWorker& worker_;
  std::shared_ptr<KeyConnection> connection_;
  QPointer<QWidget> boxOwner_;
  bool counting_ = false;
};
