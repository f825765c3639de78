#include "app/DemoMode.h"

#include <openssl/crypto.h>
#include <openssl/rand.h>

#include <QCoreApplication>
#include <QTimer>
#include <array>

#include "BuildConfig.h"
#include "device/HidApi.h"
#include "device/PcscApi.h"
#include "keysim/DemoKeySetup.h"
#include "keysim/VirtualHidApi.h"
#include "keysim/VirtualKey.h"
#include "keysim/VirtualPcscApi.h"
#include "oath/OathCommands.h"

DemoMode::DemoMode()
    : key_(std::make_shared<VirtualKey>(demo_key::KeyConfig())),
      pcsc_(std::make_shared<VirtualPcscApi>()),
      hid_(std::make_shared<VirtualHidApi>()),
      guard_(std::make_unique<QObject>()) {
  demo_key::SeedSampleCredentials(*key_);
  hidKey_ = demo_key::AddToHid(*hid_, key_);
  // The HID side starts plugged in; the reader side follows the key's interface set.
  hid_->Unplug(hidKey_);
  PlugIn();

  // The hook runs on a reader's thread before the answer goes back: the re-plug happens later,
  // on the GUI thread.
  QObject* guard = guard_.get();
  key_->SetModeChangedHook([this, guard](std::uint8_t) {
    QMetaObject::invokeMethod(guard, [this] { OnModeChanged(); }, Qt::QueuedConnection);
  });

  InstallPcscApi(pcsc_);
  InstallHidApi(hid_);
}

DemoMode::~DemoMode() {
  key_->SetModeChangedHook(nullptr);
  InstallPcscApi(nullptr);
  InstallHidApi(nullptr);
}

void DemoMode::Unplug() {
  if (!pluggedIn_) return;
  pluggedIn_ = false;
  hid_->Unplug(hidKey_);
  pcsc_->RemoveReader(kReaderName);
  if (onDeviceChange_) onDeviceChange_();
}

void DemoMode::PlugIn() {
  if (pluggedIn_) return;
  pluggedIn_ = true;
  key_->PlugIn();
  // The HID side presents whatever the key's interface set holds at this plug-in.
  hid_->PlugIn(hidKey_);
  if ((key_->PresentInterfaces() & card_os::kInterfaceCcid) != 0) {
    pcsc_->AddReader(kReaderName);
    pcsc_->InsertCard(kReaderName, key_);
  }
  if (onDeviceChange_) onDeviceChange_();
}

void DemoMode::OnModeChanged() {
  // As an operator would: pull the key out, and put it back a little later.
  Unplug();
  QTimer::singleShot(replugDelayMs_, guard_.get(), [this] { PlugIn(); });
}
