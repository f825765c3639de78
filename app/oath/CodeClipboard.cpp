#include "app/oath/CodeClipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <algorithm>

namespace {

void Wipe(QString& text) {
  std::fill(text.begin(), text.end(), QChar(u'\0'));
  text.clear();
}

}  // namespace

CodeClipboard::CodeClipboard() {
  clearTimer_.setSingleShot(true);
  clearTimer_.setInterval(kDefaultClearDelay);
  connect(&clearTimer_, &QTimer::timeout, this, &CodeClipboard::ClearIfStillOurs);
}

CodeClipboard::~CodeClipboard() {
  if (clearTimer_.isActive()) ClearIfStillOurs();
}

void CodeClipboard::Copy(const QString& code) {
  if (code.isEmpty()) return;
  Wipe(copied_);
  copied_ = code;
  QGuiApplication::clipboard()->setText(code);
  clearTimer_.start();
}

void CodeClipboard::SetClearDelay(std::chrono::milliseconds delay) { clearTimer_.setInterval(delay); }

void CodeClipboard::ClearIfStillOurs() {
  clearTimer_.stop();
  QClipboard* clipboard = QGuiApplication::clipboard();
  // What the operator copied since is theirs: only our own code is taken away.
  if (clipboard != nullptr && !copied_.isEmpty() && clipboard->text() == copied_) clipboard->clear();
  Wipe(copied_);
}
