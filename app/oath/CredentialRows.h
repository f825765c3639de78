#pragma once
// The rows of the credentials list: one per record, with the record's name, the last code the
// key gave, and the buttons that carry the record to the panel's row actions. Every button is
// reached by keyboard in reading order: Tab after the list goes through the first row's buttons
// left to right, then the next row's, whatever order the rows were added or removed in.
#include <QPushButton>
#include <cstdint>
#include <string_view>

struct OtpCredential;
class OtpCredentialList;
class QListWidget;
class QWidget;
class WindowImplBase;

// A row button: a plain button that knows the record of its row (not owned). By keyboard, Enter
// presses it as Space does, and Up and Down move to the same button of the row above or below;
// the row of the focused button is the list's current row (the one the panel's shortcuts act on).
class OtpFreshCButtonUI : public QPushButton {
  Q_OBJECT

 public:
  OtpFreshCButtonUI(OtpCredential* credential, const QString& name, const QString& caption);
  ~OtpFreshCButtonUI() override;

  OtpCredential* m_pCredential = nullptr;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
};

namespace credential_rows {
// Names of the controls inside a row.
inline constexpr const char* kUserName = "otp_user_name";
inline constexpr const char* kCode = "otp_data_from_card";
inline constexpr const char* kCalculate = "refresh_otp_data";
inline constexpr const char* kCopy = "copy_otp_code";
inline constexpr const char* kDelete = "delete_otp_user";
inline constexpr const char* kSetDefault = "set_default_user";
// Skin colours (0xAARRGGBB) of the row.
inline constexpr std::uint32_t kBorderColor = 0xFF00FF00;
inline constexpr std::uint32_t kDefaultNameColor = 0xFA0000;
inline constexpr std::uint32_t kNameColor = 0x000000;
inline constexpr int kRowHeight = 30;
// The keys that get and copy the code of the selected row (the panel's shortcuts, named in the
// row buttons' tooltips).
inline constexpr const char* kGetCodeKeys = "Ctrl+G";
inline constexpr const char* kCopyCodeKeys = "Ctrl+Shift+C";
}  // namespace credential_rows

// Every operation takes the panel's list control, which may be missing: then there are no rows.
// Rows are matched by the record's name as raw bytes, so any name the key holds is found. The
// records are the panel's own list of them.

// Appends a row for `record`; its buttons notify through `manager`'s window. Nothing without a
// list or a record.
void AddCredentialRow(QListWidget* list, WindowImplBase* manager, OtpCredential* record);
// The first row carrying the record's name shows the record's CardCode. A code that differs from
// the one shown is announced to assistive technology ("mail, code 755224").
void UpdateCredentialRow(QListWidget* list, const OtpCredential& record);
// The row carrying `name` turns red, every other row black.
void HighlightDefaultRow(QListWidget* list, std::string_view name);
// Removes the first row carrying the record's name and, only when there was one, destroys the
// record in `records`. The row itself is destroyed once control is back in the event loop, so a
// button of it that is still delivering its click stays valid until then.
void RemoveCredential(QListWidget* list, OtpCredentialList& records, OtpCredential* record);
// Removes every row and destroys every record, with or without a list.
void ClearCredentials(QListWidget* list, OtpCredentialList& records);
// Puts the rows' buttons into the focus chain right after the list, in the rows' order and left
// to right within a row. The operations above and a move or sort of the list's items call it.
void OrderRowFocusChain(QListWidget* list);

// Assistive technology sees the rows of `list` as its items: each named for its credential (with
// its last code, and "default" for the default), holding the name, the code and the three buttons,
// each button named for what it does to which credential.
void ShowRowsToAssistiveTechnology(QListWidget* list);
