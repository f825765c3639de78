#pragma once
// The OATH credentials panel: the credential list and the fields that write a new HOTP
// credential. Built from "GetOtp.xml" inside the main window. Every action is one task on the key
// worker with the window's current device: it logs what it sends and receives as it goes, and the
// panel shows what it learnt once it is done.
#include <QImage>
#include <QWidget>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "app/oath/CodeClipboard.h"
#include "app/PanelContext.h"
#include "oath/OathActions.h"
#include "oath/OtpCredentialList.h"
#include "ui/Notify.h"

class OathPanelHost;
class QAbstractButton;
class QComboBox;
class QLineEdit;
class QListWidget;
class WindowImplBase;

class OtpOath : public QWidget, public INotifyUI {
  Q_OBJECT

 public:
  // Where the random credential's bytes come from (OpenSSL's RAND_bytes unless replaced).
  using RandomBytesSource = int (*)(unsigned char* buffer, int count);

  OtpOath(PanelContext& context, QWidget* parent);
  ~OtpOath() override;

  // Builds the panel's own skin below it and finds its controls.
  void Init(WindowImplBase& manager);
  void Notify(TNotifyUI& msg) override;
  void OnClick(QWidget* sender);

  // Removes every credential row and destroys every record, also without a list control.
  void ClearCredentials();
  // The records of the credentials the rows show (for a look at what the rows do not show).
  const OtpCredentialList& Credentials() const { return m_Credentials; }
  // Empties the secret field and hides its text again: the key it was meant for has gone.
  void ClearSecretField();
  // Shows the secret field's text (true) or dots in its place (false).
  void ShowSecret(bool shown);

  // The panel's actions, as the buttons start them (after the device check). Each starts a task
  // and returns; the rows change when the task is done.
  void ListCredentials();
  void ShowVersions();
  void ResetApplet();
  void Personalize();
  void GenerateRandomCredential();
  // The row actions; each ignores a record the panel no longer holds.
  void CalculateCredential(OtpCredential* record);
  void DeleteCredential(OtpCredential* record);
  void SetDefaultCredential(OtpCredential* record);

  // An otpauth URI in the secret field fills the name, digits and moving factor fields, which the
  // operator may still edit before writing. Other text leaves them alone.
  void FillFieldsFromUri();
  // Reads the otpauth URI of the one QR code in an image (a PNG or JPEG file, or a pasted
  // picture) into the secret field, which then fills the other fields. False, after a box that
  // names the problem, when there is no such code; the fields stay as they were. The pixels are
  // wiped once read.
  bool ImportQrImageFile(const QString& path);
  bool ImportQrImage(QImage image);

  // Replaces the source of the random credential's bytes.
  void SetRandomBytesSource(RandomBytesSource source) { m_pfnRandomBytes = source; }
  // Tests shorten the time a copied code stays on the clipboard.
  void SetCodeClearDelay(std::chrono::milliseconds delay) { m_CodeClipboard.SetClearDelay(delay); }

 private:
  void AddKeyboardShortcuts();
  void ClickSelectedRowButton(const char* which);
  // What a listing on the worker learnt, shown on the GUI thread by ShowListing.
  struct KeyListing {
    struct Pass {
      std::vector<std::string> names;
      std::optional<std::string> defaultName;
    };
    std::vector<Pass> passes;
    bool complete = false;  // the key answered a list command with 90 00
    bool same = false;      // the device was still the same at the end
  };
  // The List action's steps, on the worker .
  static void ListOnKey(OathPanelHost& host, OathActions& actions, KeyListing& listing);
  void ShowListing(const KeyListing& listing);
  bool IsLiveRecord(const OtpCredential* record) const;
  bool eventFilter(QObject* watched, QEvent* event) override;
  // Reads a base32 or URI secret into `input`; false, after a box naming the problem, when the
  // text is no such secret.
  bool ReadFormattedSecret(OathPersonalizeInput& input);
  // After an answer that never came (the key stopped mid-command) the rows may no longer be true.
  void DropRowsOfUncertainKey();

  WindowImplBase* m_pManager = nullptr;
  QListWidget* m_pListView = nullptr;
  QAbstractButton* m_pListNames = nullptr;
  QAbstractButton* m_pGetAppletVersion = nullptr;
  QAbstractButton* m_pResetNames = nullptr;
  QWidget* m_pCalculateAll = nullptr;
  QComboBox* m_pHotpLength = nullptr;
  QAbstractButton* m_pPersonalization = nullptr;
  QAbstractButton* m_pRandomGenerate = nullptr;
  QLineEdit* m_pImfEdit = nullptr;
  QLineEdit* m_pPasswordEdit = nullptr;
  QComboBox* m_pSecretFormat = nullptr;
  QAbstractButton* m_pImportQr = nullptr;
  QLineEdit* m_pNameEdit = nullptr;
  QAbstractButton* m_pShowSecret = nullptr;
  RandomBytesSource m_pfnRandomBytes;
  PanelContext& m_Context;
  // The records of the key the panel shows; the rows point into it.
  OtpCredentialList m_Credentials;
  CodeClipboard m_CodeClipboard;
  // The key's credentials were listed since the last connect (or the last reset): the rows hold
  // every name a new credential could write over.
  bool m_bListedSinceConnect = false;
};
