#include "app/oath/OtpOath.h"

#include <openssl/crypto.h>
#include <openssl/rand.h>

#include <QAbstractButton>
#include <QClipboard>
#include <QKeySequence>
#include <QShortcut>
#include <QComboBox>
#include <QFileDialog>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QKeyEvent>
#include <QMimeData>
#include <QLineEdit>
#include <QListWidget>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <QPointer>
#include <functional>
#include <memory>
#include <optional>

#include "app/KeyTaskHost.h"
#include "app/KeyWorker.h"
#include "app/MsgWnd.h"
#include "app/oath/CredentialRows.h"
#include "core/Conversions.h"
#include "oath/OathActions.h"
#include "oath/OtpCredentialList.h"
#include "oath/QrCode.h"
#include "oath/SecretFormats.h"
#include "oath/TypedKey.h"
#include "ui/Controls.h"
#include "ui/WindowImplBase.h"
#include "ui/SkinTexts.h"

// The window's services for one action, on the key worker, with the device that was current when
// the action started. Boxes are modal to the window of the panel that started it.
class OathPanelHost final : public OathActionHost {
 public:
  OathPanelHost(PanelContext& context, std::shared_ptr<KeyConnection> connection, QPointer<QWidget> boxOwner)
      : task_(context, std::move(connection), std::move(boxOwner)) {}

  IDeveiceInterface& Device() { return task_.Device(); }
  bool IsHid() const { return task_.IsHid(); }

  void LogCommand(const std::string& entry) override { task_.Log(entry, log_color::kBlue); }
  void LogAnswer(const std::string& entry) override { task_.Log(entry, log_color::kBlue); }
  void LogSuccess(const std::string& entry) override { task_.Log(entry, log_color::kBlue); }
  void LogFailure(const std::string& entry) override { task_.Log(entry, log_color::kRed); }
  bool SelectOathApplet() override { return task_.SelectOathApplet(); }
  void SelectFidoApplet() override { task_.SelectFidoApplet(); }
  bool ConfirmUserPresence() override { return task_.ConfirmUserPresence(); }
  bool AskOperator(const std::string& title, const std::string& text) override {
    return task_.Box(AnsiToWide(title), AnsiToWide(text)) == 1;
  }
  void TellOperator(const std::string& title, const std::string& text) override {
    task_.Tell(AnsiToWide(title), AnsiToWide(text));
  }
  bool AskToReplace(const std::string&) override {
    return task_.Box(tokvane::TrW("Warning"), tokvane::TrW(kReplaceQuestion), KeyTaskHost::Modality::Owner,
                     /*cancelByDefault=*/true) == 1;
  }
  bool IsSameDevice() override { return task_.IsSameDevice(); }

 private:
  KeyTaskHost task_;
};

namespace {

// Runs `work(host, actions)` as one task on the key worker with the current device, then `apply`
// on the GUI thread. Nothing without a device.
template <class Work>
void StartOathTask(PanelContext& context, QWidget* boxOwner, Work work, std::function<void()> apply) {
  std::shared_ptr<KeyConnection> connection = context.Connection();
  if (connection == nullptr) return;
  context.Worker().Start(
      [&context, connection, owner = QPointer<QWidget>(boxOwner), work = std::move(work)]() mutable {
        OathPanelHost host(context, connection, owner);
        OathActions actions(host.Device(), host);
        work(host, actions);
      },
      std::move(apply));
}

// Whether the action ends by giving the key back to its FIDO applet: after the key answered, or
// the operator or the input stopped the action; not once the key did not open or stopped
// answering (asking it again only adds failure boxes). A gone device is never asked.
bool EndsWithFido(OathOutcome outcome) {
  return outcome == OathOutcome::Done || outcome == OathOutcome::Refused || outcome == OathOutcome::TouchTimeout ||
         outcome == OathOutcome::Declined || outcome == OathOutcome::InvalidInput;
}

// Ends an action on its device: false once the device has gone (nothing more is sent to it);
// otherwise the key goes back to its FIDO applet where EndsWithFido says so.
bool FinishOnKey(OathPanelHost& host, OathOutcome outcome) {
  if (!host.IsSameDevice()) return false;
  if (EndsWithFido(outcome)) host.SelectFidoApplet();
  return true;
}

// After a command that may have changed the key without saying so, the rows may be wrong.
bool KeyMayHaveChanged(OathOutcome outcome) {
  return outcome == OathOutcome::NoAnswer || outcome == OathOutcome::ExchangeFailed;
}

// A field's text in the locale's encoding. The intermediate wide copy is wiped, since the field
// may hold a secret.
std::string FieldText(const QLineEdit* edit) {
  if (edit == nullptr) return std::string();
  std::wstring wide = edit->text().toStdWString();
  std::string narrow = WideToAnsi(wide);
  WipeBuffer(wide);
  return narrow;
}

void SetField(QLineEdit* edit, const std::string& text) {
  if (edit == nullptr) return;
  std::wstring wide = AnsiToWide(text);
  edit->setText(QString::fromStdWString(wide));
  WipeBuffer(wide);
}

// The secret field's text as narrow text, built straight into wiped storage. A key is hex digits
// and spaces only, so any other character stands as '?' and is refused as an invalid key.
SecureString SecretFieldText(const QLineEdit* edit) {
  SecureString text;
  if (edit == nullptr) return text;
  const QString typed = edit->text();
  text.str().reserve(static_cast<std::size_t>(typed.size()));
  for (const QChar c : typed) text.str().push_back(c.unicode() < 0x80 ? static_cast<char>(c.unicode()) : '?');
  return text;
}

// The secret field's text as UTF-8 in wiped storage, for the forms that are not hex (a URI's
// label may hold any character). The intermediate UTF-8 copy is wiped.
SecureString SecretFieldUtf8(const QLineEdit* edit) {
  if (edit == nullptr) return SecureString();
  QByteArray utf8 = edit->text().toUtf8();
  SecureString text(std::string(utf8.constData(), static_cast<std::size_t>(utf8.size())));
  if (!utf8.isEmpty()) OPENSSL_cleanse(utf8.data(), static_cast<std::size_t>(utf8.size()));
  return text;
}

// The entries of the secret format choice, in the skin's order.
enum FormatChoice { kChoiceHex = 0, kChoiceBase32 = 1, kChoiceUri = 2 };

// A URI's counter as the moving factor field shows it: its number, or nothing for 0.
QString CounterText(std::uint32_t counter) { return counter == 0 ? QString() : QString::number(counter); }

// Gives the secret field new text and wipes the old. Once the field holds the new text, the copy
// taken here is normally the last holder of the old characters, so the wipe reaches the buffer
// the field itself used (a copy still shared elsewhere is wiped in a detached copy instead,
// which does no harm). setText, unlike clear(), also drops the field's undo history.
void ReplaceSecretText(QLineEdit* edit, const QString& text) {
  if (edit == nullptr) return;
  QString old = edit->text();
  edit->setText(text);
  if (!old.isEmpty()) OPENSSL_cleanse(old.data(), static_cast<std::size_t>(old.size()) * sizeof(QChar));
}

}  // namespace

OtpOath::OtpOath(PanelContext& context, QWidget* parent)
    : QWidget(parent), m_pfnRandomBytes(RAND_bytes), m_Context(context) {}

OtpOath::~OtpOath() {
  // The field is normally still there (children go after this body): its secret is wiped before
  // it is freed. No notification may leave a window that is being taken apart.
  if (m_pPasswordEdit != nullptr && findChildren<QLineEdit*>().contains(m_pPasswordEdit)) {
    const QSignalBlocker quiet(m_pPasswordEdit);
    ReplaceSecretText(m_pPasswordEdit, QString());
  }
}

void OtpOath::Init(WindowImplBase& manager) {
  m_pManager = &manager;
  QWidget* root = manager.BuildSkin(QStringLiteral("GetOtp.xml"), nullptr, this);
  if (root == nullptr) return;
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(root);

  auto find = [root](const char* name) { return WindowImplBase::FindSubControlByName(root, QString::fromLatin1(name)); };
  m_pListView = qobject_cast<QListWidget*>(find("listview"));
  ShowRowsToAssistiveTechnology(m_pListView);
  m_pListNames = qobject_cast<QAbstractButton*>(find("list_names"));
  m_pGetAppletVersion = qobject_cast<QAbstractButton*>(find("get_applet_version"));
  m_pResetNames = qobject_cast<QAbstractButton*>(find("reset_names"));
  m_pCalculateAll = find("caculate_all");
  m_pHotpLength = qobject_cast<QComboBox*>(find("hotp_length"));
  m_pPersonalization = qobject_cast<QAbstractButton*>(find("btn_personalization"));
  m_pRandomGenerate = qobject_cast<QAbstractButton*>(find("btn_random_generate"));
  m_pImfEdit = qobject_cast<QLineEdit*>(find("imf_edit"));
  m_pPasswordEdit = qobject_cast<QLineEdit*>(find("personinalize_edit_password"));
  m_pNameEdit = qobject_cast<QLineEdit*>(find("personinalize_edit_name"));
  m_pShowSecret = qobject_cast<QAbstractButton*>(find("show_secret"));
  m_pSecretFormat = qobject_cast<QComboBox*>(find("secret_format"));
  m_pImportQr = qobject_cast<QAbstractButton*>(find("btn_import_qr"));
  AddKeyboardShortcuts();
  if (m_pPasswordEdit != nullptr) {
    connect(m_pPasswordEdit, &QLineEdit::textChanged, this, &OtpOath::FillFieldsFromUri);
    m_pPasswordEdit->installEventFilter(this);  // an image pasted into it is read as a QR code
  }

  // Dots by default, whatever the skin says; the show control reveals the text on demand.
  ShowSecret(false);
  if (m_pShowSecret != nullptr) {
    m_pShowSecret->setCheckable(true);
    m_pShowSecret->setChecked(false);
    connect(m_pShowSecret, &QAbstractButton::toggled, this, &OtpOath::ShowSecret);
  }
}

void OtpOath::FillFieldsFromUri() {
  if (m_pPasswordEdit == nullptr) return;
  const SecureString text = SecretFieldUtf8(m_pPasswordEdit);
  if (!StartsWithOtpauthScheme(text.str())) return;
  CredentialSecret secret;
  std::string error;
  // An unfinished or refused URI fills nothing; writing it names the problem.
  if (!ParseSecret(text.str(), SecretFormat::Uri, secret, error)) return;
  if (m_pNameEdit != nullptr) {
    m_pNameEdit->setText(QString::fromUtf8(secret.name.data(), static_cast<qsizetype>(secret.name.size())));
  }
  if (m_pHotpLength != nullptr) m_pHotpLength->setCurrentIndex(secret.digits.value_or(6) == 8 ? 1 : 0);
  if (m_pImfEdit != nullptr) m_pImfEdit->setText(CounterText(secret.counter));
}

bool OtpOath::eventFilter(QObject* watched, QEvent* event) {
  if (watched == m_pPasswordEdit && event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->matches(QKeySequence::Paste)) {
    const QMimeData* pasted = QGuiApplication::clipboard()->mimeData();
    if (pasted != nullptr && pasted->hasImage() && !pasted->hasText()) {
      ImportQrImage(qvariant_cast<QImage>(pasted->imageData()));
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

bool OtpOath::ImportQrImageFile(const QString& path) {
  QImageReader reader(path);
  QImage image = reader.read();
  if (image.isNull()) {
    ShowMessageBox(this, tokvane::TrW("Warning"),
                   TrQ("Cannot read the image: %1").arg(reader.errorString()).toStdWString());
    return false;
  }
  return ImportQrImage(std::move(image));
}

bool OtpOath::ImportQrImage(QImage image) {
  QImage grey = image.convertToFormat(QImage::Format_Grayscale8);
  // The picture shows the secret: neither copy of its pixels is left behind.
  if (!image.isNull()) OPENSSL_cleanse(image.bits(), static_cast<std::size_t>(image.sizeInBytes()));
  image = QImage();
  SecretBuffer uri;
  std::string error;
  const bool read = !grey.isNull() && ReadOtpauthQrCode(GreyImage{grey.constBits(), grey.width(), grey.height(),
                                                                  static_cast<int>(grey.bytesPerLine())},
                                                        uri, error);
  if (!grey.isNull()) OPENSSL_cleanse(grey.bits(), static_cast<std::size_t>(grey.sizeInBytes()));
  if (grey.isNull()) error = tokvane::Tr("the image is empty");
  CredentialSecret secret;
  if (!read || !ParseSecret(uri.Text(), SecretFormat::Uri, secret, error)) {
    ShowMessageBox(this, tokvane::TrW("Warning"), AnsiToWide(error));
    return false;
  }
  if (m_pSecretFormat != nullptr) m_pSecretFormat->setCurrentIndex(kChoiceUri);
  // The new text's only buffer becomes the field's own; setting it fills the other fields.
  ReplaceSecretText(m_pPasswordEdit, QString::fromUtf8(uri.Text().data(), static_cast<qsizetype>(uri.Size())));
  return true;
}

void OtpOath::ShowSecret(bool shown) {
  if (m_pPasswordEdit == nullptr) return;
  m_pPasswordEdit->setEchoMode(shown ? QLineEdit::Normal : QLineEdit::Password);
  // Shown or not, the text is no input for prediction or a learning input method.
  m_pPasswordEdit->setInputMethodHints(m_pPasswordEdit->inputMethodHints() | Qt::ImhSensitiveData |
                                       Qt::ImhNoPredictiveText | Qt::ImhNoAutoUppercase);
}

void OtpOath::ClearSecretField() {
  ReplaceSecretText(m_pPasswordEdit, QString());
  if (m_pShowSecret != nullptr && m_pShowSecret->isChecked()) {
    m_pShowSecret->setChecked(false);  // hides the field through the toggled signal
  } else {
    ShowSecret(false);
  }
}

// The panel's main actions one chord away while it is shown; the tooltips name the chords.
void OtpOath::AddKeyboardShortcuts() {
  const auto add = [this](const QKeySequence& keys, auto action) {
    auto* shortcut = new QShortcut(keys, this);
    shortcut->setContext(Qt::WindowShortcut);
    connect(shortcut, &QShortcut::activated, this, action);
  };
  if (m_pListNames != nullptr) {
    const QKeySequence listKeys(QStringLiteral("Ctrl+L"));
    add(listKeys, [this] { m_pListNames->click(); });
    const QString what = m_pListNames->toolTip().isEmpty() ? m_pListNames->accessibleName() : m_pListNames->toolTip();
    m_pListNames->setToolTip(QStringLiteral("%1 (%2)").arg(what, listKeys.toString(QKeySequence::NativeText)));
  }
  add(QKeySequence(QString::fromLatin1(credential_rows::kGetCodeKeys)),
      [this] { ClickSelectedRowButton(credential_rows::kCalculate); });
  add(QKeySequence(QString::fromLatin1(credential_rows::kCopyCodeKeys)),
      [this] { ClickSelectedRowButton(credential_rows::kCopy); });
}

// The selected row's button goes the way of a click, so the action is the button's own.
void OtpOath::ClickSelectedRowButton(const char* which) {
  QListWidgetItem* item = m_pListView != nullptr ? m_pListView->currentItem() : nullptr;
  QWidget* holder = item != nullptr ? m_pListView->itemWidget(item) : nullptr;
  auto* button = holder != nullptr ? holder->findChild<QAbstractButton*>(QString::fromLatin1(which)) : nullptr;
  if (button != nullptr && button->isEnabled()) button->click();
}

void OtpOath::Notify(TNotifyUI& msg) {
  if (msg.sType != notify_type::kClick) return;
  OnClick(msg.pSender);
}

void OtpOath::OnClick(QWidget* sender) {
  if (sender == nullptr) return;
  const QString name = controls::Name(sender);
  using namespace credential_rows;
  if (auto* rowButton = qobject_cast<OtpFreshCButtonUI*>(sender)) {
    // Copying the shown code needs no key.
    if (name == QLatin1String(kCopy)) {
      if (m_Credentials.Contains(rowButton->m_pCredential)) {
        m_CodeClipboard.Copy(QString::fromStdString(rowButton->m_pCredential->CardCode));
      }
      return;
    }
    if (!m_Context.CheckDeviceSelected()) return;
    if (name == QLatin1String(kCalculate)) {
      CalculateCredential(rowButton->m_pCredential);
    } else if (name == QLatin1String(kDelete)) {
      // The row, and this very button, may be gone afterwards: nothing of them is used again.
      DeleteCredential(rowButton->m_pCredential);
    } else if (name == QLatin1String(kSetDefault)) {
      SetDefaultCredential(rowButton->m_pCredential);
    }
  } else if (sender == m_pListNames) {
    if (m_Context.CheckDeviceSelected()) ListCredentials();
  } else if (sender == m_pGetAppletVersion) {
    if (m_Context.CheckDeviceSelected()) ShowVersions();
  } else if (sender == m_pResetNames) {
    if (m_Context.CheckDeviceSelected()) ResetApplet();
  } else if (sender == m_pPersonalization) {
    if (m_Context.CheckDeviceSelected()) Personalize();
  } else if (sender == m_pRandomGenerate) {
    GenerateRandomCredential();
  } else if (sender == m_pImportQr) {
    const QString path = QFileDialog::getOpenFileName(this, TrQ("Import QR code"), QString(),
                                                      TrQ("Images (*.png *.jpg *.jpeg)"));
    if (!path.isEmpty()) ImportQrImageFile(path);
  }
}

bool OtpOath::IsLiveRecord(const OtpCredential* record) const { return m_Credentials.Contains(record); }

void OtpOath::ClearCredentials() {
  ::ClearCredentials(m_pListView, m_Credentials);
  m_bListedSinceConnect = false;
}

void OtpOath::ListCredentials() {
  auto listing = std::make_shared<KeyListing>();
  StartOathTask(
      m_Context, this, [listing](OathPanelHost& host, OathActions& actions) { ListOnKey(host, actions, *listing); },
      [this, listing] { ShowListing(*listing); });
}

void OtpOath::ListOnKey(OathPanelHost& host, OathActions& actions, KeyListing& listing) {
  // The key is asked twice, each time followed by the default-credential query.
  OathOutcome last = OathOutcome::Done;
  bool listed = false;
  for (int pass = 0; pass < 2; ++pass) {
    OathListResult result;
    last = actions.List(host.IsHid(), result);
    if (!host.IsSameDevice()) return;
    listed = listed || last == OathOutcome::Done;
    listing.passes.push_back({std::move(result.Names), std::nullopt});
    if (!result.QueryDefault) continue;
    last = actions.GetDefault(listing.passes.back().defaultName);
    if (!host.IsSameDevice()) return;
  }
  if (EndsWithFido(last)) host.SelectFidoApplet();
  listing.complete = listed;
  listing.same = true;
}

void OtpOath::ShowListing(const KeyListing& listing) {
  if (!listing.same) return;
  for (const KeyListing::Pass& pass : listing.passes) {
    for (const std::string& name : pass.names) {
      if (OtpCredential* record = m_Credentials.AddListed(name)) AddCredentialRow(m_pListView, m_pManager, record);
    }
    if (pass.defaultName) HighlightDefaultRow(m_pListView, *pass.defaultName);
  }
  if (listing.complete) m_bListedSinceConnect = true;
}

void OtpOath::ShowVersions() {
  StartOathTask(m_Context, this, [](OathPanelHost&, OathActions& actions) { actions.ShowVersions(); }, {});
}

void OtpOath::ResetApplet() {
  auto outcome = std::make_shared<std::optional<OathOutcome>>();
  StartOathTask(
      m_Context, this,
      [outcome](OathPanelHost& host, OathActions& actions) {
        const OathOutcome done = actions.Reset();
        if (!FinishOnKey(host, done)) return;
        *outcome = done;
      },
      [this, outcome] {
        if (*outcome == OathOutcome::Done) {
          ClearCredentials();
          // The key holds nothing now: the empty list is its listing.
          m_bListedSinceConnect = true;
        }
        if (*outcome && KeyMayHaveChanged(**outcome)) DropRowsOfUncertainKey();
      });
}

void OtpOath::Personalize() {
  if (m_Context.Connection() == nullptr) return;
  OathPersonalizeInput input;
  input.Name = FieldText(m_pNameEdit);
  input.Imf = FieldText(m_pImfEdit);
  input.EightDigits = m_pHotpLength != nullptr && m_pHotpLength->currentIndex() != 0;
  const bool hex = (m_pSecretFormat == nullptr || m_pSecretFormat->currentIndex() == kChoiceHex) &&
                   !(m_pPasswordEdit != nullptr && StartsWithOtpauthScheme(SecretFieldText(m_pPasswordEdit).str()));
  if (hex) {
    input.Key = ReadTypedHexKey(SecretFieldText(m_pPasswordEdit), &input.KeyError);
  } else if (!ReadFormattedSecret(input)) {
    return;
  }

  // A credential of the same name is written over only once the operator agrees: its secret
  // cannot be read back. The rows hold the key's names once it was listed since connect; otherwise
  // the key is listed first, as the List button does.
  const bool listFirst = !m_bListedSinceConnect;
  if (!listFirst) {
    std::vector<std::string> names;
    for (const auto& record : m_Credentials.Records()) names.push_back(record->Name);
    input.ListedNames = std::move(names);
  }
  struct Written {
    OathOutcome outcome = OathOutcome::DeviceGone;
    OathWrittenCredential credential;
    KeyListing listing;
  };
  auto written = std::make_shared<Written>();
  auto shared = std::make_shared<OathPersonalizeInput>(std::move(input));
  StartOathTask(
      m_Context, this,
      [written, shared, listFirst](OathPanelHost& host, OathActions& actions) {
        if (listFirst) {
          ListOnKey(host, actions, written->listing);
          if (!host.IsSameDevice()) return;
          // A key that could not be listed is written to as before: nothing to compare with.
          if (written->listing.complete) {
            std::vector<std::string> names;
            for (const KeyListing::Pass& pass : written->listing.passes) {
              names.insert(names.end(), pass.names.begin(), pass.names.end());
            }
            shared->ListedNames = std::move(names);
          }
        }
        const OathOutcome outcome = actions.Personalize(*shared, written->credential);
        if (outcome == OathOutcome::NotOpen) written->outcome = outcome;
        if (!KeyAnswered(outcome) || !FinishOnKey(host, outcome)) return;
        written->outcome = outcome;
      },
      [this, written] {
        ShowListing(written->listing);
        if (written->outcome == OathOutcome::NotOpen) m_Context.ShowReaderPanel();
        if (written->outcome != OathOutcome::Done) return;
        const OathWrittenCredential& credential = written->credential;
        bool created = false;
        OtpCredential* record = m_Credentials.ApplyWritten(credential.Name, credential.Key, credential.Digits,
                                                           credential.Imf, created);
        if (created) {
          AddCredentialRow(m_pListView, m_pManager, record);
          // The key makes a new credential its default.
          HighlightDefaultRow(m_pListView, record->Name);
        } else {
          UpdateCredentialRow(m_pListView, *record);
        }
      });
}

bool OtpOath::ReadFormattedSecret(OathPersonalizeInput& input) {
  const SecureString text = SecretFieldUtf8(m_pPasswordEdit);
  const SecretFormat format = StartsWithOtpauthScheme(text.str()) || m_pSecretFormat->currentIndex() == kChoiceUri
                                  ? SecretFormat::Uri
                                  : SecretFormat::Base32;
  CredentialSecret secret;
  std::string error;
  if (!ParseSecret(text.str(), format, secret, error)) {
    // The reason never quotes the secret.
    ShowMessageBox(this, tokvane::TrW("Warning"), AnsiToWide(error));
    return false;
  }
  input.Key = SecureBytes(secret.key.Bytes());
  // The field shows a URI's counter as its number; while it still does, the counter's own bytes
  // are the moving factor. Anything the operator typed over it is read as typed.
  if (secret.fromUri && secret.counter != 0 && m_pImfEdit != nullptr &&
      m_pImfEdit->text() == CounterText(secret.counter)) {
    WipeBuffer(input.Imf);
    input.Imf = secret.imf;
    input.ImfVerbatim = true;
  }
  return true;
}

void OtpOath::GenerateRandomCredential() {
  SecureString keyText;
  std::string name;
  if (!::GenerateRandomCredential(keyText, name, m_pfnRandomBytes)) {
    m_Context.AppendLog(tokvane::TrW("Can't generate random data.\n"), log_color::kRed);
    return;
  }
  // The new text's only buffer becomes the field's own.
  ReplaceSecretText(m_pPasswordEdit, QString::fromLatin1(keyText.str().data(), static_cast<qsizetype>(keyText.size())));
  SetField(m_pNameEdit, name);
  SetField(m_pImfEdit, std::string());
}

void OtpOath::CalculateCredential(OtpCredential* record) {
  if (!IsLiveRecord(record)) return;
  // The task works on a copy: the record stays the panel's, on the GUI thread.
  auto credential = std::make_shared<OtpCredential>(*record);
  auto calculation = std::make_shared<std::optional<OathCalculation>>();
  StartOathTask(
      m_Context, this,
      [credential, calculation](OathPanelHost& host, OathActions& actions) {
        OathCalculation result;
        const OathOutcome outcome = actions.Calculate(*credential, result);
        if (!FinishOnKey(host, outcome)) return;
        if (outcome == OathOutcome::Done) *calculation = std::move(result);
      },
      [this, record, calculation] {
        if (!*calculation || !IsLiveRecord(record)) return;
        record->CardCode = (*calculation)->CardCode;
        record->LocalCode = (*calculation)->LocalCode;
        if ((*calculation)->Matched) ++record->MatchCount;
        UpdateCredentialRow(m_pListView, *record);
      });
}

void OtpOath::DeleteCredential(OtpCredential* record) {
  if (!IsLiveRecord(record)) return;
  auto outcome = std::make_shared<std::optional<OathOutcome>>();
  StartOathTask(
      m_Context, this,
      [name = record->Name, outcome](OathPanelHost& host, OathActions& actions) {
        const OathOutcome done = actions.Delete(name);
        if (!FinishOnKey(host, done)) return;
        *outcome = done;
      },
      [this, record, outcome] {
        if (*outcome == OathOutcome::Done && IsLiveRecord(record)) RemoveCredential(m_pListView, m_Credentials, record);
        if (*outcome && KeyMayHaveChanged(**outcome)) DropRowsOfUncertainKey();
      });
}

void OtpOath::SetDefaultCredential(OtpCredential* record) {
  if (!IsLiveRecord(record)) return;
  auto outcome = std::make_shared<std::optional<OathOutcome>>();
  const std::string name = record->Name;
  StartOathTask(
      m_Context, this,
      [name, outcome](OathPanelHost& host, OathActions& actions) {
        const OathOutcome done = actions.SetDefault(name);
        if (!FinishOnKey(host, done)) return;
        *outcome = done;
      },
      [this, name, outcome] {
        if (*outcome == OathOutcome::Done) HighlightDefaultRow(m_pListView, name);
      });
}

void OtpOath::DropRowsOfUncertainKey() {
  ClearCredentials();
  m_Context.AppendLog(tokvane::TrW("The credential list may be out of date: list the credentials again.\n"),
                      log_color::kRed);
}
