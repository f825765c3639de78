#pragma once
// Puts a credential's code on the clipboard and takes it off again after a while, as password
// managers do, unless something else has been copied since. The log never mentions it.
#include <QObject>
#include <QString>
#include <QTimer>
#include <chrono>

class CodeClipboard : public QObject {
  Q_OBJECT

 public:
  static constexpr std::chrono::milliseconds kDefaultClearDelay{30000};

  CodeClipboard();
  // A code still on the clipboard goes with the panel.
  ~CodeClipboard() override;

  void Copy(const QString& code);
  void SetClearDelay(std::chrono::milliseconds delay);

 private:
  void ClearIfStillOurs();

  QTimer clearTimer_;
  QString copied_;
};
