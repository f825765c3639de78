// Every action of the credentials panel and the mode switch, pinned entry by entry: the whole log
// (text and colour), every box and the rows left, for each way the key can answer its command:
// 90 00, 69 84, a refusal, no status word, the key pulled out while the action's box is open, the
// key pulled out while it waits for the touch, and the action's box declined. The window handles a key pulled out as it
// happens, and an action never sends anything to a key that has gone.
#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "GuiTestSupport.h"
#include "app/DeviceChangeMonitor.h"
#include "app/oath/CredentialRows.h"
#include "device/CardOsCommands.h"
#include "oath/OathCommands.h"
#include "tests/support/TestKeys.h"

using namespace guitest;
using namespace readertest;

namespace {

using Bytes = std::vector<std::uint8_t>;
using Log = std::vector<ExpectedEntry>;

// Declined: the operator cancels the action's box, and nothing goes to the key.
enum class Answer { Success, TouchTimeout, Refusal, NoStatusWord, PulledDuringBox, PulledDuringTouch, Declined };

using test_keys::kRfcSecret;
constexpr const char* kNoStatusWord = "the key's answer has no status word";
// Every box of an action is modal to the window: its owner is disabled while it is open.
const ShownBox kTouchBox{"Tip", "Please touch the blinking space on FIDO device within 3 seconds after clicking continue.",
                         false};

QString Line(const Bytes& command, const char* ending = "\n") { return Hex(command) + QString::fromLatin1(ending); }

Log Join(std::initializer_list<Log> parts) {
  Log joined;
  for (const Log& part : parts) joined.insert(joined.end(), part.begin(), part.end());
  return joined;
}

const Log kSelectOath = {{Line(BuildSelectOath()), kLogBlue}, {"Select ins successful.\n", kLogBlue}};
const Log kSelectFido = {{Line(BuildSelectFido()), kLogBlue}};
// What the refresh logs when it finds the connected key's reader gone: the closed smart card.
const Log kReleased = {{"Interface already disconnected.\n", kLogRed}};

struct ActionCase {
  const char* name;
  std::uint8_t ins;        // the instruction of the action's own command
  bool guarded;            // a key that wants a touch is asked before it
  std::function<void(CMainWnd&)> start;
};

struct TableCase {
  const char* action;
  Answer answer;
  Log log;
  std::vector<ShownBox> boxes;
};

class ActionLogTable : public ReaderPanelWindow, public ::testing::WithParamInterface<TableCase> {
 protected:
  // The key holds "mail" (listed in the panel) and wants a touch for guarded commands; its answer
  // to the action's own command is the case's.
  void StartWithListedCredential(std::uint8_t ins, Answer answer) {
    key->SetCosVersion({0x43, 0x01, 0x00});
    key->ProcessApdu(BuildSelectOath());
    key->ProcessApdu(BuildPut(oath::kInsPut, "mail", kRfcSecret, 6, ""));
    key->PowerOff();
    card = std::make_shared<ScriptedAnswers>(key, [this, ins, answer](const Bytes& command) -> std::optional<Bytes> {
      if (!scripted_ || command.size() < 2 || command[1] != ins) return std::nullopt;
      switch (answer) {
        case Answer::TouchTimeout:
          return Bytes{0x69, 0x84};
        case Answer::Refusal:
          return Bytes{0x6A, 0x80};
        case Answer::NoStatusWord:
          return Bytes{};
        case Answer::PulledDuringTouch:
          // Pulled out while the key waited for the touch: the answer never comes.
          pcsc->RemoveReader(kKeyReader);
          return Bytes{};
        default:
          return std::nullopt;
      }
    });
    PlugKey(kVirtualCcidInterface);
    Start();
    ClickAndSettle(*window, ControlAs<QAbstractButton>("list_names"));
    ASSERT_EQ(ControlAs<QListWidget>("listview")->count(), 1);
    ClearWindowLog(*window);
    scripted_ = true;
  }

  void PullOutNow() {
    pcsc->RemoveReader(kKeyReader);
    DeviceChangeEvent change;
    QCoreApplication::sendEvent(window.get(), &change);
  }

  bool scripted_ = false;
};

// The rows the panel shows afterwards: a key let go of, or one that may have changed without
// saying so, leaves none; otherwise only a confirmed change shows.
QStringList ExpectedRows(const std::string& action, Answer answer) {
  if (answer == Answer::PulledDuringBox || answer == Answer::PulledDuringTouch) return {};
  if (answer == Answer::NoStatusWord && (action == "reset" || action == "delete")) return {};
  if (answer != Answer::Success) return {"mail"};
  if (action == "reset" || action == "delete") return {};
  if (action == "write") return {"mail", "new"};
  return {"mail"};
}

std::vector<ActionCase> Actions() {
  const auto clickRow = [](const char* which) {
    return [which](CMainWnd& window) {
      auto* rows = window.FindControlAs<QListWidget>(QStringLiteral("listview"));
      ASSERT_EQ(rows->count(), 1);
      auto* button = rows->itemWidget(rows->item(0))->findChild<QAbstractButton*>(QString::fromLatin1(which));
      ASSERT_NE(button, nullptr);
      button->click();
    };
  };
  const auto click = [](const char* name) {
    return [name](CMainWnd& window) {
      auto* button = window.FindControlAs<QAbstractButton>(QString::fromLatin1(name));
      ASSERT_NE(button, nullptr) << name;
      button->click();
    };
  };
  return {
      {"list", oath::kInsList, false, click("list_names")},
      {"versions", oath::kInsAppletVersion, false, click("get_applet_version")},
      {"reset", oath::kInsReset, true, click("reset_names")},
      {"write",
       oath::kInsPut,
       true,
       [](CMainWnd& window) {
         window.FindControlAs<QLineEdit>(QStringLiteral("personinalize_edit_name"))->setText("new");
         window.FindControlAs<QLineEdit>(QStringLiteral("personinalize_edit_password"))
             ->setText(QString::fromStdString(test_keys::kRfcSecretHex));
         window.FindControlAs<QAbstractButton>(QStringLiteral("btn_personalization"))->click();
       }},
      {"calculate", oath::kInsCalculate, true, clickRow(credential_rows::kCalculate)},
      {"delete", oath::kInsDelete, true, clickRow(credential_rows::kDelete)},
      {"default", oath::kInsSetDefault, true, clickRow(credential_rows::kSetDefault)},
      {"mode", 0xE1, true,
       [](CMainWnd& window) {
         window.FindControlAs<QAbstractButton>(QStringLiteral("ccid_select"))->setChecked(true);
         window.FindControlAs<QAbstractButton>(QStringLiteral("btn_apply"))->click();
       }},
  };
}

TEST_P(ActionLogTable, LogsAndBoxesAreExactlyThese) {
  const TableCase& c = GetParam();
  ActionCase action{};
  for (const ActionCase& candidate : Actions()) {
    if (std::string(candidate.name) == c.action) action = candidate;
  }
  ASSERT_NE(action.name, nullptr) << c.action;
  StartWithListedCredential(action.ins, c.answer);
  const Bytes before = key->Credentials().empty() ? Bytes{} : key->Credentials()[0].name;

  BoxAnswerer answerer(c.answer == Answer::Declined ? BoxAnswer::Cancel : BoxAnswer::Confirm, window.get());
  if (c.answer == Answer::PulledDuringBox) {
    bool pulled = false;
    answerer.SetWhileOpen([&](CMsgWnd&) {
      if (pulled) return;
      pulled = true;
      PullOutNow();
      SettleBehindBox(*window);
      EXPECT_FALSE(window->HasDevice()) << "let go of while the box is still open";
    });
  }
  action.start(*window);
  Settle(*window);
  if (c.answer == Answer::PulledDuringTouch) {
    // The device change the pull-out brings is handled once the action has given up.
    DeviceChangeEvent change;
    QCoreApplication::sendEvent(window.get(), &change);
    Settle(*window);
  }

  ExpectLog(*window, c.log);
  EXPECT_EQ(answerer.Shown(), c.boxes);
  EXPECT_EQ(RowNames(), ExpectedRows(action.name, c.answer));
  if (c.answer == Answer::PulledDuringBox || c.answer == Answer::PulledDuringTouch || c.answer == Answer::Declined) {
    // The key kept its credential; after the box, not even the action's command was sent.
    ASSERT_EQ(key->Credentials().size(), 1u);
    EXPECT_EQ(key->Credentials()[0].name, before);
  }
  if ((c.answer == Answer::PulledDuringBox || c.answer == Answer::Declined) && action.guarded) {
    const auto received = std::static_pointer_cast<ScriptedAnswers>(card)->Received();
    EXPECT_TRUE(std::none_of(received.begin(), received.end(),
                             [&](const Bytes& command) { return command.size() > 1 && command[1] == action.ins; }));
  }
}

Log Blue(const QString& text) { return {{text, kLogBlue}}; }
Log Red(const QString& text) { return {{text, kLogRed}}; }

// One pass of the list: the list command answered as given, then the default query.
Log ListPass(const char* failure, const char* answer) {
  const Log listed = failure == nullptr ? Log{{"List ins successfully.\n\n", kLogBlue}, {"00 17 00 00\n\n", kLogBlue}}
                                        : Log{{failure, kLogRed}};
  return Join({kSelectOath, Blue("List ins \n"), Blue("00 17 00 00\n\n"), listed, Blue(answer), kSelectOath,
               Blue("00 E6 00 00\n"), Blue("00 E6 00 00\n"), Blue("<< 6D 61 69 6C 90 00\n")});
}

// An OATH command's whole story for the answers with a status word: `failure` is the refusal
// text (none for 90 00), and the FIDO applet is selected again afterwards.
Log Answered(const QString& command, const char* failure, const char* answer) {
  const Log middle = failure == nullptr ? Blue(command) : Red(QString::fromLatin1(failure));
  return Join({kSelectOath, Blue(command), middle, Blue(QString::fromLatin1(answer)), kSelectFido});
}

const QString kPutLine = QStringLiteral(
    "00 09 00 00 1E 53 16 01 10 06 ** ** ** ** ** ** ** ** ** ** ** ** ** ** ** ** ** ** ** ** 51 03 6E 65 77\n");
const QString kCalculateLine = QStringLiteral("00 A2 01 00 08 54 00 51 04 6D 61 69 6C\n");
const QString kDeleteLine = QStringLiteral("00 08 00 00 06 51 04 6D 61 69 6C\n");
const QString kDefaultLine = QStringLiteral("00 E5 00 00 06 51 04 6D 61 69 6C\n");
const QString kResetLine = QStringLiteral("00 07 00 00\n");
const QString kVersionLine = QStringLiteral("80 E2 80 00 05 DF FF 02 80 01\n");
const QString kModeLine = QStringLiteral("80 E1 FF 00 01 40\n");
const QString kOutOfDate = QStringLiteral("The credential list may be out of date: list the credentials again.\n");

QString NoStatusWord(const char* effect) {
  return QString::fromLatin1(kNoStatusWord) + (effect != nullptr ? QStringLiteral("; ") + effect : QString()) + "\n";
}
// The transport's reason when the key went while it waited for the touch.
QString ReaderGone(const char* effect) {
  return QStringLiteral("Reader is unavailable") + (effect != nullptr ? QStringLiteral("; ") + effect : QStringLiteral(".")) +
         "\n";
}

const ShownBox kWarningBox{"Warning", "The applet will be reset, all stored data will be discarded.", false};
const ShownBox kVersionsBox{"Otp Version  ", "Applet version: 15   Cos version: 4301", false};
const ShownBox kNoVersionBox{"Applet Otp Version", "Can't get the applet version.", false};

std::vector<TableCase> Cases() {
  const Log releasedOpen = Blue("Disconnect successful.\n");  // the refresh closes the open key
  const char* const written = "the credential may or may not have been written";
  const char* const erased = "the credentials may or may not have been erased";
  const char* const deleted = "the credential may or may not have been deleted";
  const char* const changed = "the default credential may or may not have been changed";
  const std::vector<ShownBox> touch{kTouchBox};
  const std::vector<ShownBox> resetBoxes{kWarningBox, kTouchBox};
  const char* const listed = "<< 61 05 06 6D 61 69 6C 90 00\n\n";
  return {
      {"list", Answer::Success, Join({ListPass(nullptr, listed), ListPass(nullptr, listed), kSelectFido}), {}},
      {"list", Answer::TouchTimeout,
       Join({ListPass("List ins error.\n\n", "<< 69 84\n\n"), ListPass("List ins error.\n\n", "<< 69 84\n\n"),
             kSelectFido}),
       {}},
      {"list", Answer::Refusal,
       Join({ListPass("List ins error.\n\n", "<< 6A 80\n\n"), ListPass("List ins error.\n\n", "<< 6A 80\n\n"),
             kSelectFido}),
       {}},
      // Stopped answering: no default query, and no FIDO selection after it.
      {"list", Answer::NoStatusWord,
       Join({kSelectOath, Blue("List ins \n"), Blue("00 17 00 00\n\n"), Red(NoStatusWord(nullptr)), kSelectOath,
             Blue("List ins \n"), Blue("00 17 00 00\n\n"), Red(NoStatusWord(nullptr))}),
       {}},

      {"versions", Answer::Success, Join({kSelectOath, Blue(kVersionLine), kSelectFido}), {kVersionsBox}},
      {"versions", Answer::Refusal, Join({kSelectOath, Blue(kVersionLine), kSelectFido}), {kNoVersionBox}},
      {"versions", Answer::NoStatusWord, Join({kSelectOath, Blue(kVersionLine), kSelectFido}), {kNoVersionBox}},
      // Pulled out while its versions are shown: the key that went is not asked again.
      {"versions", Answer::PulledDuringBox, Join({kSelectOath, Blue(kVersionLine), kReleased}), {kVersionsBox}},

      {"reset", Answer::Success, Answered(kResetLine, nullptr, "<< 90 00\n"), resetBoxes},
      {"reset", Answer::TouchTimeout, Answered(kResetLine, "Confirm Time out.\n\n", "<< 69 84\n"), resetBoxes},
      {"reset", Answer::Refusal, Answered(kResetLine, "Reset int error.\n", "<< 6A 80\n"), resetBoxes},
      {"reset", Answer::NoStatusWord,
       Join({kSelectOath, Blue(kResetLine), Red(NoStatusWord(erased)), Red(kOutOfDate)}), resetBoxes},
      {"reset", Answer::PulledDuringBox, Join({kSelectOath, releasedOpen, Red("Please connect device.\n")}),
       {kWarningBox}},
      {"reset", Answer::PulledDuringTouch,
       Join({kSelectOath, Blue(kResetLine), Red(ReaderGone(erased)), Red(kOutOfDate), kReleased}), resetBoxes},
      {"reset", Answer::Declined, Join({kSelectOath, kSelectFido}), {kWarningBox}},

      {"write", Answer::Success,
       Join({kSelectOath, Blue(kPutLine), Blue("put data successful\n"), Blue("Personalization successful.\n"),
             Blue("<< 90 00\n"), kSelectFido}),
       touch},
      {"write", Answer::TouchTimeout, Answered(kPutLine, "Confirm Time out.\n\n", "<< 69 84\n"), touch},
      {"write", Answer::Refusal, Answered(kPutLine, "Put ins error.\n\n", "<< 6A 80\n"), touch},
      {"write", Answer::NoStatusWord, Join({kSelectOath, Blue(kPutLine), Red(NoStatusWord(written))}), touch},
      {"write", Answer::PulledDuringBox,
       Join({kSelectOath, releasedOpen, Red("The device has been pulled out.\n")}), touch},
      {"write", Answer::PulledDuringTouch,
       Join({kSelectOath, Blue(kPutLine), Red(ReaderGone(written)), kReleased}), touch},
      // A write the key never saw leaves it in the OATH applet (the FIDO applet follows only an answer).
      {"write", Answer::Declined, kSelectOath, touch},

      {"calculate", Answer::Success, Answered(kCalculateLine, nullptr, "<< 62 05 06 4C 93 CF 18 90 00\n"), touch},
      {"calculate", Answer::TouchTimeout, Answered(kCalculateLine, "Confirm Time out.\n\n", "<< 69 84\n"), touch},
      {"calculate", Answer::Refusal, Answered(kCalculateLine, "Calculate fail.\n", "<< 6A 80\n"), touch},
      {"calculate", Answer::NoStatusWord,
       Join({kSelectOath, Blue(kCalculateLine), Red(NoStatusWord(nullptr))}), touch},
      {"calculate", Answer::PulledDuringBox, Join({kSelectOath, releasedOpen, Red("Please connect card\n")}), touch},
      {"calculate", Answer::PulledDuringTouch,
       Join({kSelectOath, Blue(kCalculateLine), Red(ReaderGone(nullptr)), kReleased}), touch},
      {"calculate", Answer::Declined, Join({kSelectOath, kSelectFido}), touch},

      {"delete", Answer::Success, Answered(kDeleteLine, nullptr, "<< 90 00\n"), touch},
      {"delete", Answer::TouchTimeout, Answered(kDeleteLine, "Confirm Time out.\n\n", "<< 69 84\n"), touch},
      {"delete", Answer::Refusal, Answered(kDeleteLine, "Delete ins error.\n", "<< 6A 80\n"), touch},
      {"delete", Answer::NoStatusWord,
       Join({kSelectOath, Blue(kDeleteLine), Red(NoStatusWord(deleted)), Red(kOutOfDate)}), touch},
      {"delete", Answer::PulledDuringBox, Join({kSelectOath, releasedOpen, Red("Please connect card.\n")}), touch},
      {"delete", Answer::PulledDuringTouch,
       Join({kSelectOath, Blue(kDeleteLine), Red(ReaderGone(deleted)), Red(kOutOfDate), kReleased}), touch},
      {"delete", Answer::Declined, Join({kSelectOath, kSelectFido}), touch},

      {"default", Answer::Success, Answered(kDefaultLine, nullptr, "<< 90 00\n"), touch},
      {"default", Answer::TouchTimeout, Answered(kDefaultLine, "Confirm Time out.\n\n", "<< 69 84\n"), touch},
      {"default", Answer::Refusal, Answered(kDefaultLine, "Set default user error.\n", "<< 6A 80\n"), touch},
      {"default", Answer::NoStatusWord, Join({kSelectOath, Blue(kDefaultLine), Red(NoStatusWord(changed))}), touch},
      {"default", Answer::PulledDuringBox, Join({kSelectOath, releasedOpen, Red("Please connect card.\n")}), touch},
      {"default", Answer::PulledDuringTouch,
       Join({kSelectOath, Blue(kDefaultLine), Red(ReaderGone(changed)), kReleased}), touch},
      {"default", Answer::Declined, Join({kSelectOath, kSelectFido}), touch},

      {"mode", Answer::Success,
       Join({Blue(kModeLine), Blue("Apply ccid device successful.\n\n"),
             Blue("Mode switch finish please pull out plug card again.\n"), Blue("<< 90 00\n")}),
       touch},
      {"mode", Answer::TouchTimeout, Join({Blue(kModeLine), Red("Confirm Time out.\n\n")}), touch},
      {"mode", Answer::Refusal, Join({Blue(kModeLine), Blue("<< 6A 80\n"), Red("Set device fail.\n\n")}), touch},
      {"mode", Answer::NoStatusWord,
       Join({Blue(kModeLine), Red(NoStatusWord("its interface mode may or may not have been changed"))}), touch},
      {"mode", Answer::PulledDuringBox, Join({releasedOpen, Red("Please connect device.\n")}), touch},
      // The switch keeps its connection open, so the refresh that follows closes it.
      {"mode", Answer::PulledDuringTouch, Join({Blue(kModeLine), Red(ReaderGone(nullptr)), releasedOpen}), touch},
      {"mode", Answer::Declined, {}, touch},
  };
}

std::string CaseName(const ::testing::TestParamInfo<TableCase>& info) {
  static const char* const kAnswers[] = {"Success",         "TouchTimeout",      "Refusal", "NoStatusWord",
                                         "PulledDuringBox", "PulledDuringTouch", "Declined"};
  return std::string(info.param.action) + "_" + kAnswers[static_cast<int>(info.param.answer)];
}

INSTANTIATE_TEST_SUITE_P(Actions, ActionLogTable, ::testing::ValuesIn(Cases()), CaseName);

}  // namespace
