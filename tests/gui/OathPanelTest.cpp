// The OATH credentials panel in the real main window, clicked through its real controls, with the
// virtual key behind the PC/SC seam (the in-process reader) or the HID seam (its keyboard
// interface driven by feature reports, or its U2F interface speaking U2FHID).
#include <QAbstractButton>
#include <QAccessible>
#include <QComboBox>
#include <QClipboard>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRegularExpression>
#include <QTest>
#include <QTextDocument>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>

#include "GuiTestSupport.h"
#include "app/oath/CredentialRows.h"
#include "app/oath/OtpOath.h"
#include "app/setup/InitDemoToCardUI.h"
#include "app/DeviceChangeMonitor.h"
#include "app/KeyStatusLine.h"
#include "oath/OathAnswers.h"
#include "oath/OathCommands.h"
#include "oath/OtpCredentialList.h"
#include "tests/support/TestKeys.h"

using namespace guitest;
using namespace readertest;

namespace {

using Bytes = std::vector<std::uint8_t>;

const QString kKey20 = QStringLiteral("31 32 33 34 35 36 37 38 39 30 31 32 33 34 35 36 37 38 39 30");
// The same secret in base32, as services hand it out.
const QString kKey20Base32 = QStringLiteral("GEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQ");
const Bytes& kSecret20 = test_keys::kRfcSecret;
const QColor kRed = QColor(0xFA, 0x00, 0x00);
const QColor kBlack = QColor(0, 0, 0);

enum class Transport { Pcsc, FeatureReports, U2fHid };

VirtualKeyConfig TouchKey() {
  VirtualKeyConfig config;
  config.cosVersion = {0x43, 0x01, 0x00};
  return config;
}

// The window over the virtual key, reached through one transport, listed once.
class OathPanel : public ReaderPanelWindow {
 protected:
  void Start(Transport transport = Transport::Pcsc, VirtualKeyConfig config = {}) {
    key = std::make_shared<VirtualKey>(std::move(config));
    card = key;
    PlugKey(transport == Transport::Pcsc             ? kVirtualCcidInterface
            : transport == Transport::FeatureReports ? kVirtualOtpInterface
                                                     : kVirtualU2fInterface);
    ReaderPanelWindow::Start();
    panel = window->findChild<OtpOath*>();
    ASSERT_NE(panel, nullptr);
    ASSERT_TRUE(window->HasDevice());
    ASSERT_EQ(window->IsHidDevice(), transport != Transport::Pcsc);
    // Listed once, as an operator does first: a write then checks the listed names instead of
    // listing the key itself.
    Click("list_names");
    ClearWindowLog(*window);
    key->ClearReceivedApdus();
  }

  static std::wstring AnsiToWideName(const char* text) { return std::wstring(text, text + std::strlen(text)); }

  // Puts a credential on the key directly, as if written earlier by another program.
  void SeedOnKey(const std::string& name, std::uint8_t digits = 6) {
    key->ProcessApdu(BuildSelectOath());
    const Bytes answer = key->ProcessApdu(BuildPut(oath::kInsPut, name, kSecret20, digits, ""));
    ASSERT_EQ(answer, (Bytes{0x90, 0x00}));
    key->PowerOff();
    key->ClearReceivedApdus();
  }

  void SetDefaultOnKey(const std::string& name) {
    key->ProcessApdu(BuildSelectOath());
    ASSERT_EQ(key->ProcessApdu(BuildSetDefault(std::string_view(name))), (Bytes{0x90, 0x00}));
    key->PowerOff();
    key->ClearReceivedApdus();
  }

  // The secret goes in last, so a URI fills the other fields as it does for the operator.
  void Write(const QString& name, const QString& keyText, const QString& imf = QString(), int digitsIndex = 0,
             int formatIndex = 0) {
    ControlAs<QLineEdit>("personinalize_edit_name")->setText(name);
    ControlAs<QLineEdit>("imf_edit")->setText(imf);
    ControlAs<QComboBox>("hotp_length")->setCurrentIndex(digitsIndex);
    ControlAs<QComboBox>("secret_format")->setCurrentIndex(formatIndex);
    ControlAs<QLineEdit>("personinalize_edit_password")->setText(keyText);
    ControlAs<QAbstractButton>("btn_personalization")->click();
    Settle(*window);
  }

  // Commands the key received, applet selections and version queries left out.
  std::vector<Bytes> Sent() {
    std::vector<Bytes> sent;
    for (const Bytes& apdu : key->ReceivedApdus()) {
      if (apdu.size() > 1 && (apdu[1] == card_os::kInsSelect || apdu[1] == card_os::kInsCosCommand)) continue;
      sent.push_back(apdu);
    }
    return sent;
  }

  std::vector<std::string> KeyNames() {
    std::vector<std::string> names;
    for (const auto& credential : key->Credentials()) names.emplace_back(credential.name.begin(), credential.name.end());
    return names;
  }

  int RowIndex(const QString& name) { return static_cast<int>(RowNames().indexOf(name)); }
  QLabel* Label(const QString& rowName, const char* child) {
    const int index = RowIndex(rowName);
    return index < 0 ? nullptr : CredentialRow(index)->findChild<QLabel*>(QString::fromLatin1(child));
  }
  QColor NameColor(const QString& rowName) {
    QLabel* label = Label(rowName, credential_rows::kUserName);
    if (label == nullptr) return QColor();
    label->ensurePolished();
    return label->palette().color(QPalette::WindowText);
  }
  QString Code(const QString& rowName) {
    QLabel* label = Label(rowName, credential_rows::kCode);
    return label != nullptr ? label->text() : QStringLiteral("<no row>");
  }
  OtpFreshCButtonUI* Button(const QString& rowName, const char* which) {
    const int index = RowIndex(rowName);
    return index < 0 ? nullptr : CredentialRow(index)->findChild<OtpFreshCButtonUI*>(QString::fromLatin1(which));
  }
  void ClickRow(const QString& rowName, const char* which) {
    OtpFreshCButtonUI* button = Button(rowName, which);
    ASSERT_NE(button, nullptr) << rowName.toStdString();
    button->click();
    Settle(*window);
  }
  OtpOath* panel = nullptr;
};

// ---- listing and the default highlight ----

TEST_F(OathPanel, ListingGivesOneRowPerCredentialAndPaintsTheDefault) {
  Start();
  SeedOnKey("alpha");
  SeedOnKey("beta");  // a new credential becomes the key's default
  Click("list_names");
  EXPECT_EQ(RowNames(), (QStringList{"alpha", "beta"}));
  EXPECT_EQ(NameColor("beta"), kRed);
  EXPECT_EQ(NameColor("alpha"), kBlack);
  EXPECT_FALSE(DeviceIsOpen(*window));

  // A later listing adds no rows, and its default query paints the rows again.
  SetDefaultOnKey("alpha");
  Click("list_names");
  EXPECT_EQ(RowNames(), (QStringList{"alpha", "beta"}));
  EXPECT_EQ(panel->Credentials().Size(), 2u);
  EXPECT_EQ(NameColor("alpha"), kRed);
  EXPECT_EQ(NameColor("beta"), kBlack);

  // A listed credential gets the key's code, but its secret is not known here: never a match.
  for (int round = 0; round < 2; ++round) ClickRow("alpha", credential_rows::kCalculate);
  EXPECT_EQ(Code("alpha"), QString::fromStdString(test_keys::kRfcCodes6[1]));
  EXPECT_TRUE(panel->Credentials().Find("alpha")->LocalCode.empty());
  EXPECT_EQ(panel->Credentials().Find("alpha")->MatchCount, 0u);

  // A default whose name is no text in the locale is still found and painted.
  const std::string latin1("caf\xE9", 4);
  SeedOnKey(latin1);
  Click("list_names");
  ASSERT_EQ(RowNames().size(), 3);
  ASSERT_NE(panel->Credentials().Find(latin1), nullptr);
  EXPECT_EQ(NameColor(RowNames().at(2)), kRed);
  EXPECT_EQ(NameColor("alpha"), kBlack);
}

TEST_F(OathPanel, WithoutADeviceEveryKeyActionIsRefusedInRed) {
  Start();
  window->findChild<InitDemoToCardUI*>()->DisconnectCurrent();
  Settle(*window);
  ClearWindowLog(*window);
  // Even with no mode chosen, the switch asks for a device first once one has been let go of.
  ControlAs<QAbstractButton>("none_select")->setChecked(true);
  for (const char* name : {"list_names", "get_applet_version", "reset_names", "btn_personalization", "btn_apply"}) {
    Click(name);
  }
  ExpectLog(*window, std::vector<ExpectedEntry>(5, {"Please select device.\n", kLogRed}));
  EXPECT_TRUE(key->ReceivedApdus().empty());
}

// ---- personalization ----

TEST_F(OathPanel, PersonalizationInputIsCheckedBeforeThePutIsSent) {
  struct Case {
    const char* label;
    QString name;
    QString keyText;
    QString box;       // the "Warning" box text, "" for none
    QString redEntry;  // the red log entry, "" for none
    bool sent;
    int format = 0;  // the secret format choice: hex, base32, otpauth URI
  };
  // The input rules themselves are the actions' (unit tests); here, how the panel's fields and
  // format choice reach them and where each refusal shows.
  const QString uri = "otpauth://hotp/op?issuer=Maker&secret=" + kKey20Base32 + "&digits=8&counter=1";
  const std::vector<Case> cases = {
      {"17-byte name", QString(17, QLatin1Char('n')), kKey20, "", "Serial number length can not more than 16 bytes.\n\n",
       false},
      {"base32 with spaces and lower case", "b32", kKey20Base32.toLower().replace(4, 0, " "), "", "", true, 1},
      {"base32 chosen but hex typed", "b32hex", kKey20,
       "malformed base32 secret: character 2 is not in the base32 alphabet (A-Z, 2-7)", "", false, 1},
      // A URI is read as one whatever the choice, and its label and issuer fill the name.
      {"URI", "Maker:op", uri, "", "", true, 0},
      {"TOTP URI", "totp", "otpauth://totp/op?secret=" + kKey20Base32,
       "TOTP URIs are not supported: the key's OATH applet holds counter-based (HOTP) credentials only", "", false, 2},
  };
  Start();
  BoxAnswerer answerer;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    key->ClearReceivedApdus();
    ClearWindowLog(*window);
    const std::size_t boxesBefore = answerer.Shown().size();
    Write(c.name, c.keyText, QString(), 0, c.format);
    EXPECT_EQ(Sent().size(), c.sent ? 1u : 0u);
    if (c.box.isEmpty()) {
      EXPECT_EQ(answerer.Shown().size(), boxesBefore);
    } else {
      ASSERT_EQ(answerer.Shown().size(), boxesBefore + 1);
      EXPECT_EQ(answerer.Shown().back(), (ShownBox{"Warning", c.box}));
    }
    if (!c.redEntry.isEmpty()) {
      ASSERT_FALSE(Log().empty());
      EXPECT_EQ(Log().back().text, c.redEntry);
      EXPECT_EQ(Log().back().color, kLogRed);
    }
    // Fields stay as typed either way.
    EXPECT_EQ(ControlAs<QLineEdit>("personinalize_edit_name")->text(), c.name);
  }
  EXPECT_EQ(KeyNames(), (std::vector<std::string>{"b32", "Maker:op"}));
  // The base32 and URI credentials hold the secret of RFC 4226: the key's codes are its vectors
  // (counter 0, six digits; the URI's counter 1, eight digits).
  ClickRow("b32", credential_rows::kCalculate);
  EXPECT_EQ(Code("b32"), QStringLiteral("755224"));
  ClickRow("Maker:op", credential_rows::kCalculate);
  EXPECT_EQ(Code("Maker:op"), QStringLiteral("94287082"));
  EXPECT_EQ(panel->Credentials().Find("Maker:op")->LocalCode, "94287082");
}

TEST_F(OathPanel, AQrImageFillsTheFieldsAsItsUriDoesOrNamesWhyNot) {
  Start();
  BoxAnswerer answerer;
  const QString sample = QStringLiteral(TOKVANE_TEST_DATA_DIR "/otpauth-hotp-qr.png");
  // What a picture holds is the reader's to judge (unit tests); here, a refusal names it in a box
  // and leaves the fields empty.
  const QString made = QDir::temp().filePath(
      QStringLiteral("tokvane-oath-panel-qr-%1.png").arg(QCoreApplication::applicationPid()));
  QImage white(120, 120, QImage::Format_Grayscale8);
  white.fill(Qt::white);
  ASSERT_TRUE(white.save(made));
  EXPECT_FALSE(panel->ImportQrImageFile(made));
  QFile::remove(made);
  EXPECT_EQ(answerer.Shown(), (std::vector<ShownBox>{{"Warning", "the image holds no QR code that can be read"}}));
  EXPECT_TRUE(ControlAs<QLineEdit>("personinalize_edit_password")->text().isEmpty());
  EXPECT_TRUE(ControlAs<QLineEdit>("personinalize_edit_name")->text().isEmpty());
  const std::size_t boxes = answerer.Shown().size();

  // The committed sample holds the secret of RFC 4226 with 8 digits from counter 1.
  ASSERT_TRUE(panel->ImportQrImageFile(sample));
  EXPECT_EQ(ControlAs<QComboBox>("secret_format")->currentIndex(), 2);
  EXPECT_EQ(ControlAs<QLineEdit>("personinalize_edit_name")->text(), QStringLiteral("Maker:op"));
  EXPECT_EQ(ControlAs<QComboBox>("hotp_length")->currentIndex(), 1);
  EXPECT_EQ(ControlAs<QLineEdit>("imf_edit")->text(), QStringLiteral("1"));
  Click("btn_personalization");
  ClickRow("Maker:op", credential_rows::kCalculate);
  EXPECT_EQ(Code("Maker:op"), QStringLiteral("94287082"));

  // A picture pasted into the secret field is read the same way.
  panel->ClearSecretField();
  ControlAs<QLineEdit>("personinalize_edit_name")->clear();
  QGuiApplication::clipboard()->setImage(QImage(sample));
  ControlAs<QLineEdit>("personinalize_edit_password")->setFocus();
  QTest::keySequence(ControlAs<QLineEdit>("personinalize_edit_password"), QKeySequence::Paste);
  EXPECT_EQ(ControlAs<QLineEdit>("personinalize_edit_name")->text(), QStringLiteral("Maker:op"));
  EXPECT_TRUE(ControlAs<QLineEdit>("personinalize_edit_password")->text().startsWith(QStringLiteral("otpauth://hotp/")));
  QGuiApplication::clipboard()->clear();
  EXPECT_EQ(answerer.Shown().size(), boxes);
}

TEST_F(OathPanel, AUriFillsTheFieldsAndTheOperatorMayStillEditThem) {
  Start();
  ControlAs<QLineEdit>("personinalize_edit_password")
      ->setText("otpauth://hotp/Maker%20Co:op?secret=" + kKey20Base32 + "&digits=8&counter=258");
  EXPECT_EQ(ControlAs<QLineEdit>("personinalize_edit_name")->text(), QStringLiteral("Maker Co:op"));
  EXPECT_EQ(ControlAs<QComboBox>("hotp_length")->currentIndex(), 1);
  EXPECT_EQ(ControlAs<QLineEdit>("imf_edit")->text(), QStringLiteral("258"));
  // While the field shows the URI's counter, its four bytes are the moving factor.
  ControlAs<QLineEdit>("personinalize_edit_name")->setText(QStringLiteral("edited"));
  ControlAs<QComboBox>("hotp_length")->setCurrentIndex(0);
  Click("btn_personalization");
  ASSERT_EQ(Sent(), (std::vector<Bytes>{BuildPut(oath::kInsPut, std::string_view("edited"), kSecret20, 6,
                                                 std::string_view("\x00\x00\x01\x02", 4))}));
  // Text that is no URI leaves the fields alone.
  ControlAs<QLineEdit>("personinalize_edit_password")->setText(QStringLiteral("otpauth://hotp/other?digits=6"));
  EXPECT_EQ(ControlAs<QLineEdit>("personinalize_edit_name")->text(), QStringLiteral("edited"));
  EXPECT_EQ(ControlAs<QLineEdit>("imf_edit")->text(), QStringLiteral("258"));
}

TEST_F(OathPanel, TheSecretShowsAsDotsStaysForTheNextWriteAndGoesWithTheKey) {
  Start();
  const QString keyText = kKey20;
  Write("hidden", keyText);
  ASSERT_EQ(KeyNames(), std::vector<std::string>{"hidden"});

  QLineEdit* field = ControlAs<QLineEdit>("personinalize_edit_password");
  ASSERT_NE(ControlAs<QAbstractButton>("show_secret"), nullptr);
  // Kept after the write, for a backup key; shown as dots, to the eye and to assistive tools alike.
  EXPECT_EQ(field->text(), keyText);
  const QRegularExpression hexDigit(QStringLiteral("[0-9A-Fa-f]"));
  EXPECT_FALSE(field->displayText().contains(hexDigit)) << field->displayText().toStdString();
  QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(field);
  ASSERT_NE(accessible, nullptr);
  EXPECT_FALSE(accessible->text(QAccessible::Value).contains(hexDigit))
      << accessible->text(QAccessible::Value).toStdString();
  ASSERT_NE(accessible->textInterface(), nullptr);
  EXPECT_FALSE(accessible->textInterface()->text(0, static_cast<int>(keyText.size())).contains(hexDigit));

  // The show control reveals it for reading and copying, and hides it again.
  ControlAs<QAbstractButton>("show_secret")->click();
  EXPECT_EQ(field->displayText(), keyText);
  EXPECT_EQ(accessible->text(QAccessible::Value), keyText);
  ControlAs<QAbstractButton>("show_secret")->click();
  EXPECT_FALSE(field->displayText().contains(hexDigit));

  // A disconnect empties the field for good (no undo brings it back) and hides it again.
  ControlAs<QAbstractButton>("show_secret")->click();
  window->findChild<InitDemoToCardUI*>()->DisconnectCurrent();
  Settle(*window);
  EXPECT_TRUE(field->text().isEmpty());
  field->undo();
  EXPECT_TRUE(field->text().isEmpty());
  EXPECT_FALSE(ControlAs<QAbstractButton>("show_secret")->isChecked());
  EXPECT_EQ(field->echoMode(), QLineEdit::Password);
}

// What a tooltip shows: rich text rendered, plain text as it is.
QString ShownToolTip(const QString& tip) {
  if (!Qt::mightBeRichText(tip)) return tip;
  QTextDocument document;
  document.setHtml(tip);
  return document.toPlainText();
}

TEST_F(OathPanel, NamesFromTheKeyAndReaderNamesShowAsTheCharactersTheyAreNeverAsMarkupOrControls) {
  Start();
  const std::vector<std::string> names = {"<b>x</b>", "<img src=x>", "<i>a</i>&amp;", "a\x1B" "b", "c\xC2\x9B" "d"};
  for (const std::string& name : names) SeedOnKey(name);
  Click("list_names");

  // Markup would render as a few of the characters; plain text needs the width of every one
  // (within rounding), measured on one line.
  const auto showsEveryCharacter = [](QLabel* label) {
    label->ensurePolished();
    const bool wrapped = label->wordWrap();
    label->setWordWrap(false);
    const int width = label->sizeHint().width();
    label->setWordWrap(wrapped);
    return width >= 0.9 * QFontMetrics(label->font()).horizontalAdvance(label->text());
  };
  const QStringList shown = RowNames();
  ASSERT_EQ(shown.size(), 5);
  EXPECT_EQ(shown.mid(0, 3), (QStringList{"<b>x</b>", "<img src=x>", "<i>a</i>&amp;"}));
  EXPECT_EQ(shown[3], QStringLiteral("a\\u001Bb"));
  EXPECT_FALSE(shown[4].contains(QChar(0x9B))) << "U+009B is shown as characters, never sent to the screen";
  for (const QString& name : shown.mid(0, 3)) {
    QLabel* label = Label(name, credential_rows::kUserName);
    ASSERT_NE(label, nullptr) << name.toStdString();
    EXPECT_TRUE(showsEveryCharacter(label)) << name.toStdString();
  }
  const QString name = shown[0];
  const std::vector<std::pair<const char*, QString>> tips{
      {credential_rows::kCalculate, QStringLiteral("Get the next code of ") + name},
      {credential_rows::kCopy, QStringLiteral("Copy the code of ") + name},
      {credential_rows::kDelete, QStringLiteral("Delete ") + name},
      {credential_rows::kSetDefault, QStringLiteral("Make %1 the default").arg(name)},
  };
  for (const auto& [which, what] : tips) {
    OtpFreshCButtonUI* button = Button(name, which);
    ASSERT_NE(button, nullptr) << which;
    EXPECT_TRUE(ShownToolTip(button->toolTip()).startsWith(what)) << button->toolTip().toStdString();
    EXPECT_EQ(button->accessibleName(), what);
  }

  // A reader of that name is taken up (by the reader watcher, or by hand) and shown as it is.
  const std::string markupReader = "<b>R</b> <i>00</i>";
  ASSERT_TRUE(pcsc->AddReader(markupReader));
  ASSERT_TRUE(pcsc->InsertCard(markupReader, std::make_shared<VirtualKey>()));
  window->findChild<InitDemoToCardUI*>()->ConnectReader(AnsiToWideName(markupReader.c_str()));
  Settle(*window);
  auto* inserted = window->FindControlAs<QLabel>(QStringLiteral("inserted_info"));
  ASSERT_NE(inserted, nullptr);
  EXPECT_EQ(inserted->text(), QString::fromStdString(markupReader) + QStringLiteral(" is inserted"));
  EXPECT_TRUE(showsEveryCharacter(inserted)) << inserted->text().toStdString();
}

TEST_F(OathPanel, RandomGenerationFillsTheFieldsOrLeavesThemAlone) {
  Start();
  ControlAs<QLineEdit>("imf_edit")->setText(QStringLiteral("99"));
  ControlAs<QAbstractButton>("btn_random_generate")->click();
  const QString name = ControlAs<QLineEdit>("personinalize_edit_name")->text();
  EXPECT_EQ(name.size(), 13);
  EXPECT_TRUE(name.startsWith(QStringLiteral("000")));
  EXPECT_EQ(ControlAs<QLineEdit>("personinalize_edit_password")->text().size(), 59);
  EXPECT_TRUE(ControlAs<QLineEdit>("imf_edit")->text().isEmpty());
  EXPECT_TRUE(key->ReceivedApdus().empty());
  EXPECT_TRUE(Log().empty());

  // The operator must register the secret with the service: hidden, it cannot be copied; shown, it can.
  QLineEdit* field = ControlAs<QLineEdit>("personinalize_edit_password");
  QGuiApplication::clipboard()->clear();
  field->selectAll();
  field->copy();
  EXPECT_TRUE(QGuiApplication::clipboard()->text().isEmpty());
  ControlAs<QAbstractButton>("show_secret")->click();
  EXPECT_EQ(field->displayText(), field->text());
  field->selectAll();
  field->copy();
  EXPECT_EQ(QGuiApplication::clipboard()->text(), field->text());
  QGuiApplication::clipboard()->clear();
  ControlAs<QAbstractButton>("show_secret")->click();

  panel->SetRandomBytesSource([](unsigned char*, int) { return 0; });
  ControlAs<QLineEdit>("imf_edit")->setText(QStringLiteral("99"));
  ControlAs<QAbstractButton>("btn_random_generate")->click();
  EXPECT_EQ(ControlAs<QLineEdit>("personinalize_edit_name")->text(), name);
  EXPECT_EQ(ControlAs<QLineEdit>("imf_edit")->text(), QStringLiteral("99"));
  ExpectLog(*window, {{"Can't generate random data.\n", kLogRed}});
}

// ---- row actions ----

TEST_F(OathPanel, CalculateMatchesTheKeyAndMovesTheLocalCounterAlong) {
  Start();
  // Typed with a space: written, kept and shown without it (as the key holds it).
  Write("coun ted", kKey20, QStringLiteral("0005"), 1);
  EXPECT_EQ(RowNames(), QStringList{"counted"});
  OtpCredential* record = panel->Credentials().Find("counted");
  ASSERT_NE(record, nullptr);
  // Each local computation starts from the moving factor plus the codes before it; the key agrees.
  for (std::uint32_t round = 0; round < 4; ++round) {
    ClickRow("counted", credential_rows::kCalculate);
    EXPECT_EQ(record->LocalCode, test_keys::Oathtool(test_keys::kRfcSecretHex, 8, 0x30303035 + round));
    EXPECT_EQ(Code("counted").toStdString(), record->LocalCode);
  }
  EXPECT_EQ(record->MatchCount, 4u);
}

TEST_F(OathPanel, WritingOverANameOnTheKeyAsksFirstAndCancelKeepsTheOldSecret) {
  Start();
  SeedOnKey("mail");
  // Connected again: nothing listed since, so the write lists the key first.
  window->findChild<InitDemoToCardUI*>()->ConnectReader(AnsiToWideName(kKeyReader));
  Settle(*window);
  const Bytes newSecret{0x48, 0x65, 0x6C, 0x6C, 0x6F, 0x21, 0xDE, 0xAD, 0xBE, 0xEF};
  const QString newKey = QStringLiteral("48 65 6C 6C 6F 21 DE AD BE EF");
  const Bytes put = BuildPut(oath::kInsPut, std::string_view("mail"), newSecret, 6, std::string_view(""));
  const std::string oldCode = test_keys::kRfcCodes6[0];
  const std::string newCode = test_keys::Oathtool("48656C6C6F21DEADBEEF", 6, 0);

  BoxAnswerer answerer(BoxAnswer::Cancel);
  key->ClearReceivedApdus();
  Write("mail", newKey);
  EXPECT_EQ(answerer.Shown(), (std::vector<ShownBox>{{"Warning", "Replace it? Its old secret cannot be recovered."}}));
  EXPECT_EQ(Sent(), (std::vector<Bytes>{BuildList(), BuildGetDefault(), BuildList(), BuildGetDefault()}))
      << "listed first; cancelled: no write";
  EXPECT_EQ(RowNames(), QStringList{"mail"});
  ClickRow("mail", credential_rows::kCalculate);
  EXPECT_EQ(Code("mail").toStdString(), oldCode) << "the old secret is still there";

  // Listed now: the rows tell, and only the write goes out. The row and its record are updated
  // in place: the new secret counts from its own start, so the panel's own code agrees again.
  OtpCredential* record = panel->Credentials().Find("mail");
  answerer.SetAnswer(BoxAnswer::Confirm);
  key->ClearReceivedApdus();
  Write("mail", newKey);
  ASSERT_EQ(answerer.Shown().size(), 2u);
  EXPECT_EQ(Sent(), std::vector<Bytes>{put});
  EXPECT_EQ(panel->Credentials().Find("mail"), record);
  EXPECT_EQ(record->Key.size(), newSecret.size());
  EXPECT_EQ(record->MatchCount, 0u);
  ClickRow("mail", credential_rows::kCalculate);
  EXPECT_EQ(Code("mail").toStdString(), newCode);
  EXPECT_EQ(record->MatchCount, 1u);
}

// Every descendant of `node` with `role`, in tree order.
void CollectAccessible(QAccessibleInterface* node, QAccessible::Role role, QList<QAccessibleInterface*>& found) {
  if (node == nullptr) return;
  if (node->role() == role) found << node;
  for (int i = 0; i < node->childCount(); ++i) CollectAccessible(node->child(i), role, found);
}

TEST_F(OathPanel, RowsReachAssistiveTechnologyWithTheirCodesAndNamedButtons) {
  Start();
  Write("mail", kKey20);
  Write("bank", kKey20);
  ClickRow("bank", credential_rows::kSetDefault);

  QAccessibleInterface* list = QAccessible::queryAccessibleInterface(ControlAs<QListWidget>("listview"));
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->role(), QAccessible::List);
  ASSERT_EQ(list->childCount(), 2);
  QAccessibleInterface* getMailCode = nullptr;
  for (int i = 0; i < list->childCount(); ++i) {
    QAccessibleInterface* row = list->child(i);
    ASSERT_NE(row, nullptr);
    const QString name = RowNames()[i];
    SCOPED_TRACE(name.toStdString());
    EXPECT_EQ(row->role(), QAccessible::ListItem);
    EXPECT_EQ(row->parent(), list);
    EXPECT_EQ(list->indexOfChild(row), i);
    EXPECT_EQ(row->text(QAccessible::Name), name == QStringLiteral("bank") ? QStringLiteral("bank, default") : name);
    QList<QAccessibleInterface*> buttons;
    CollectAccessible(row, QAccessible::Button, buttons);
    QStringList buttonNames;
    for (QAccessibleInterface* button : buttons) buttonNames << button->text(QAccessible::Name);
    EXPECT_EQ(buttonNames, (QStringList{QStringLiteral("Get the next code of ") + name,
                                        QStringLiteral("Copy the code of ") + name, QStringLiteral("Delete ") + name,
                                        QStringLiteral("Make %1 the default").arg(name)}));
    if (name == QStringLiteral("mail") && !buttons.isEmpty()) getMailCode = buttons.front();
  }

  // Pressed the way a screen reader presses it, the button gets a code, and the row tells it.
  ASSERT_NE(getMailCode, nullptr);
  ASSERT_NE(getMailCode->actionInterface(), nullptr);
  getMailCode->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
  EXPECT_TRUE(QTest::qWaitFor([&] { return !Code("mail").isEmpty(); }, 2000));
  EXPECT_EQ(Code("mail").toStdString(), test_keys::kRfcCodes6[0]);
  EXPECT_EQ(list->child(RowIndex("mail"))->text(QAccessible::Name), QStringLiteral("mail, code ") + Code("mail"));
}

TEST_F(OathPanel, ACopiedCodeLeavesTheClipboardAfterItsDelayUnlessSomethingElseWasCopied) {
  Start();
  panel->SetCodeClearDelay(std::chrono::milliseconds(50));
  Write("mail", kKey20);
  QClipboard* clipboard = QGuiApplication::clipboard();
  for (const bool operatorCopiesMeanwhile : {false, true}) {
    SCOPED_TRACE(operatorCopiesMeanwhile);
    clipboard->clear();
    ClickRow("mail", credential_rows::kCalculate);
    ASSERT_FALSE(Code("mail").isEmpty());
    const std::size_t logged = Log().size();
    ClickRow("mail", credential_rows::kCopy);
    EXPECT_EQ(clipboard->text(), Code("mail"));
    EXPECT_EQ(Log().size(), logged) << "the copy is not logged";
    if (operatorCopiesMeanwhile) clipboard->setText(QStringLiteral("the operator's own text"));
    QTest::qWait(200);
    EXPECT_EQ(clipboard->text(), operatorCopiesMeanwhile ? QStringLiteral("the operator's own text") : QString());
  }
  clipboard->clear();
}

TEST_F(OathPanel, KeysAloneListGetAndCopyTheCodeOfTheSelectedRow) {
  Start();
  SeedOnKey("first");
  SeedOnKey("second");
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  EXPECT_TRUE(ControlAs<QAbstractButton>("list_names")->toolTip().contains(QStringLiteral("Ctrl+L")));

  QTest::keyClick(window.get(), Qt::Key_L, Qt::ControlModifier);
  Settle(*window);
  ASSERT_EQ(RowNames(), (QStringList{QStringLiteral("first"), QStringLiteral("second")}));
  auto* list = ControlAs<QListWidget>("listview");
  QTest::keyClick(list, Qt::Key_Home);
  QTest::keyClick(list, Qt::Key_Down);
  ASSERT_EQ(list->currentRow(), 1);

  QTest::keyClick(list, Qt::Key_G, Qt::ControlModifier);
  Settle(*window);
  EXPECT_EQ(Code("first"), QString());
  ASSERT_EQ(Code("second"), QString::fromStdString(test_keys::kRfcCodes6[0]));
  QClipboard* clipboard = QGuiApplication::clipboard();
  clipboard->clear();
  QTest::keyClick(list, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(clipboard->text(), Code("second"));
  clipboard->clear();
}

// ---- a key that goes away while the operator is asked ----

// The other boxes an action shows are in the action table; this one comes from the input check.
TEST_F(OathPanel, AKeyPulledOutWhileTheInvalidNameBoxIsOpenEndsTheWriteCleanly) {
  Start(Transport::Pcsc, TouchKey());
  BoxAnswerer answerer;
  answerer.SetWhileOpen([this](CMsgWnd&) {
    // The key pulled out: its reader goes, and the device change is handled while the box is open.
    ASSERT_TRUE(pcsc->RemoveReader(kKeyReader));
    DeviceChangeEvent change;
    QCoreApplication::sendEvent(window.get(), &change);
    SettleBehindBox(*window);
  });
  Write(QString(), kKey20);
  EXPECT_EQ(answerer.Shown(), (std::vector<ShownBox>{{"Warning", "Invalid name"}}));
  ExpectLog(*window, {{Hex(BuildSelectOath()) + "\n", kLogBlue},
                      {"Select ins successful.\n", kLogBlue},
                      {"Disconnect successful.\n", kLogBlue},
                      {"The device has been pulled out.\n", kLogRed}});
  EXPECT_TRUE(Sent().empty());
  EXPECT_FALSE(window->HasDevice());
}

// ---- the whole story, over every transport ----

class OathPanelStory : public OathPanel, public ::testing::WithParamInterface<Transport> {};

TEST_P(OathPanelStory, WriteListCalculateSetDefaultDeleteAndReset) {
  Start(GetParam());
  BoxAnswerer answerer;

  Write("story", kKey20);
  Write("other", QStringLiteral("00112233445566778899"), QStringLiteral("0100"), 1);
  EXPECT_EQ(RowNames(), (QStringList{"story", "other"}));
  EXPECT_EQ(NameColor("other"), kRed);

  Click("list_names");
  EXPECT_EQ(RowNames(), (QStringList{"story", "other"}));
  EXPECT_EQ(NameColor("other"), kRed);
  EXPECT_EQ(NameColor("story"), kBlack);

  for (const QString& name : {QStringLiteral("story"), QStringLiteral("other")}) {
    ClickRow(name, credential_rows::kCalculate);
    const OtpCredential* record = panel->Credentials().Find(name.toStdString());
    EXPECT_EQ(record->MatchCount, 1u) << name.toStdString();
    EXPECT_EQ(Code(name).toStdString(), record->LocalCode);
  }

  ClickRow("story", credential_rows::kSetDefault);
  EXPECT_EQ(NameColor("story"), kRed);
  EXPECT_EQ(NameColor("other"), kBlack);

  ClickRow("other", credential_rows::kDelete);
  EXPECT_EQ(RowNames(), QStringList{"story"});
  EXPECT_EQ(KeyNames(), std::vector<std::string>{"story"});
  EXPECT_EQ(panel->Credentials().Find("other"), nullptr);

  Click("reset_names");
  EXPECT_EQ(ControlAs<QListWidget>("listview")->count(), 0);
  EXPECT_TRUE(key->Credentials().empty());

  EXPECT_EQ(panel->Credentials().Size(), 0u);

  // Every step went through: nothing was logged in red.
  for (const LogEntry& entry : Log()) EXPECT_NE(entry.color, kLogRed) << entry.text.toStdString();
  EXPECT_EQ(answerer.Shown().size(), 1u);  // the reset warning only: this key needs no touch
}

INSTANTIATE_TEST_SUITE_P(Transports, OathPanelStory,
                         ::testing::Values(Transport::Pcsc, Transport::FeatureReports, Transport::U2fHid),
                         [](const ::testing::TestParamInfo<Transport>& info) {
                           return std::string(std::array{"Pcsc", "FeatureReports", "U2fHid"}[static_cast<int>(info.param)]);
                         });

}  // namespace

// ---- a key that takes its time: the window stays alive ----

// A key that waits for the operator's touch, given by a timer on the GUI thread once it has seen
// what the window shows meanwhile (or after a bound well inside the key's touch window). A window
// that froze while the key waits would never touch it, and the key would answer 69 84.
class SlowKey {
 public:
  SlowKey() {
    config_ = TouchKey();
    config_.touch = TouchMode::Callback;
    config_.touchCallback = [touched = touched_] { return touched->load(); };
  }
  VirtualKeyConfig Config() const { return config_; }
  void SetTouched(bool touched) { touched_->store(touched); }
  // Ticks every 10 ms on the GUI thread; `tick` returns true once it is time to touch.
  void StartTicking(std::function<bool(int tick)> tick) {
    ticks_ = 0;
    QObject::connect(&ticker_, &QTimer::timeout, [this, tick = std::move(tick)] {
      ++ticks_;
      if (tick(ticks_) || ticks_ >= kTickBound) SetTouched(true);
    });
    ticker_.start(10);
  }
  int Ticks() const { return ticks_; }

 private:
  static constexpr int kTickBound = 200;
  std::shared_ptr<std::atomic<bool>> touched_ = std::make_shared<std::atomic<bool>>(true);
  VirtualKeyConfig config_;
  QTimer ticker_;
  int ticks_ = 0;
};

// The touch wait is counted down and announced to assistive technology, and so is a failure after it.
TEST_F(OathPanel, ASlowKeyLeavesTheWindowAliveAndLogsWhatAQuickKeyLogs) {
  SlowKey slowKey;
  Start(Transport::Pcsc, slowKey.Config());
  BoxAnswerer confirm;
  Write("slow", kKey20);
  ClearWindowLog(*window);

  slowKey.SetTouched(false);
  bool sawDisabled = false;
  bool sawCountdown = false;
  auto* listButton = ControlAs<QAbstractButton>("list_names");
  auto* status = window->findChild<KeyStatusLine*>();
  ASSERT_NE(status, nullptr);
  AccessibleEventRecorder recorder(status);
  slowKey.StartTicking([&](int) {
    sawDisabled = sawDisabled || !listButton->isEnabled();
    sawCountdown = sawCountdown || (status->isVisible() && status->text().startsWith(QStringLiteral("Touch the key: ")));
    return sawDisabled && sawCountdown && !recorder.events.empty();
  });
  ClickRow("slow", credential_rows::kCalculate);

  EXPECT_EQ(Code("slow"), QStringLiteral("755224"));
  EXPECT_TRUE(listButton->isEnabled());
  EXPECT_FALSE(status->isVisible());
  EXPECT_GT(slowKey.Ticks(), 0);
  EXPECT_TRUE(sawDisabled) << "the buttons are disabled while the key works";
  EXPECT_TRUE(sawCountdown) << "the touch window is counted down";
  // The log a quick key gives (as in the action table).
  const QString calculate = QStringLiteral("00 A2 01 00 08 54 00 51 04 73 6C 6F 77\n");
  ExpectLog(*window, {{Hex(BuildSelectOath()) + "\n", kLogBlue},
                      {"Select ins successful.\n", kLogBlue},
                      {calculate, kLogBlue},
                      {calculate, kLogBlue},
                      {"<< 62 05 06 4C 93 CF 18 90 00\n", kLogBlue},
                      {Hex(BuildSelectFido()) + "\n", kLogBlue}});

  window->findChild<InitDemoToCardUI*>()->DisconnectCurrent();
  Settle(*window);
  Click("list_names");  // no device: refused in red
  QStringList alerts;
  for (const auto& [type, name] : recorder.events) {
    if (type == QAccessible::Alert) alerts << name;
  }
  ASSERT_GE(alerts.size(), 2) << alerts.join(QStringLiteral(" / ")).toStdString();
  EXPECT_TRUE(alerts.front().startsWith(QStringLiteral("Touch the key: "))) << alerts.front().toStdString();
  EXPECT_EQ(alerts.back(), QStringLiteral("Please select device."));
}

TEST_F(OathPanel, DeviceChangesDuringAnActionAreListedAfterIt) {
  SlowKey slowKey;
  Start(Transport::Pcsc, slowKey.Config());
  BoxAnswerer confirm;
  Write("slow", kKey20);
  int refreshes = 0;
  QObject::connect(window.get(), &CMainWnd::readerListRefreshed, [&refreshes] { ++refreshes; });

  slowKey.SetTouched(false);
  int refreshesBeforeTouch = -1;
  slowKey.StartTicking([&](int tick) {
    if (tick <= 3) QCoreApplication::postEvent(window.get(), new DeviceChangeEvent);
    if (tick <= 5) return false;
    if (refreshesBeforeTouch < 0) refreshesBeforeTouch = refreshes;
    return true;
  });
  OtpFreshCButtonUI* calculate = Button("slow", credential_rows::kCalculate);
  ASSERT_NE(calculate, nullptr);
  calculate->click();
  // The changes wait behind the running action: no listing reaches the key worker meanwhile.
  ASSERT_TRUE(QTest::qWaitFor([&] { return refreshesBeforeTouch >= 0; }, 10000));
  EXPECT_EQ(refreshesBeforeTouch, 0) << "nothing is refreshed under a running action";
  Settle(*window);
  EXPECT_EQ(Code("slow"), QStringLiteral("755224"));
  EXPECT_EQ(refreshes, 3) << "each change that came meanwhile is listed once the action has ended";
}

TEST_F(OathPanel, ClosingTheWindowDuringASlowWriteEndsTheProgramWithAWholeCredential) {
  SlowKey slowKey;
  Start(Transport::Pcsc, slowKey.Config());
  BoxAnswerer confirm;
  slowKey.SetTouched(false);
  bool closed = false;
  // The operator closes the window while the key waits for the touch of the write, then touches.
  slowKey.StartTicking([&](int) {
    if (!closed && key->TouchRequests() > 0) {
      closed = true;
      ControlAs<QAbstractButton>("closebtn")->click();
      return true;
    }
    return false;
  });
  QTimer::singleShot(0, [this] { Write("closing", kKey20); });
  EXPECT_EQ(RunApplicationLoop(20000), 0) << "the program ends";
  ASSERT_TRUE(closed);
  // As the program does after its loop: the window goes, and its worker ends the task it was in.
  window.reset();
  // The key finished the write it had; nothing else reached it once the program was closing.
  EXPECT_EQ(KeyNames(), std::vector<std::string>{"closing"});
  ASSERT_FALSE(key->ReceivedApdus().empty());
  EXPECT_EQ(key->ReceivedApdus().back()[1], oath::kInsPut);
  key->ProcessApdu(BuildSelectOath());
  const Bytes answer = key->ProcessApdu(BuildCalculate(std::string_view("closing")));
  ASSERT_GE(answer.size(), 2u);
  const std::optional<OathCalcAnswer> code = ParseCalcAnswer(answer.data(), answer.size() - 2);
  ASSERT_TRUE(code.has_value());
  EXPECT_EQ(FormatCode(*code), "755224");
}
