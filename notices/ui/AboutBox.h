// SPDX-License-Identifier: GPL-2.0-or-later
// TAboutBox: the borderless notice that rises out of the work area's bottom-right corner, rests
// for 10 s and sinks back. Each notice is a window of its own; device-found notices take a slot
// on the shared board so that several stack upwards.
#pragma once

#include <QFrame>
#include <QLabel>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <string>

#include "notices/NoticeLayout.h"
#include "platform/Shell.h"

namespace tessaro {

// The geometry and slots every notice shares, taken from the work area once.
struct NoticeBoard {
  explicit NoticeBoard(const NoticeGeometry& area) : geometry(area), taken(area.slotCount) {}
  NoticeGeometry geometry;
  NoticeSlots taken;
};

class TAboutBox : public QWidget {
 public:
  // Closed notices delete themselves when `deleteWhenClosed`.
  TAboutBox(NoticeBoard& board, Shell& shell, bool deleteWhenClosed = true);
  ~TAboutBox() override;

  void ShowAboutNotice(const std::string& version);
  void ShowNewVersionNotice(const std::string& version, const std::string& address);
  // False (nothing shown) when every slot is taken.
  bool ShowDeviceFoundNotice(const std::string& deviceName);

  enum class Phase { Hidden, Rising, Resting, Sinking, Closed };
  Phase CurrentPhase() const { return phase_; }
  int Slot() const { return slot_; }
  int RestingTop() const { return restingLine_ - height(); }
  QString Text() const { return labelVersion_->text(); }
  // Closes at once, without sinking (the close picture).
  void CloseNow();
  // What the 10 s rest ends with: the notice sinks back and closes.
  void Sink();
  // A click on the window, its panel or its text.
  void NoticeClicked();

  // Runs once the notice has closed, by sinking or the close picture.
  std::function<void()> onClosed;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  void Present(const NoticeContent& content, int restingLine);
  void Step();
  void SetCloseLit(bool lit);

  NoticeBoard& board_;
  Shell& shell_;
  bool deleteWhenClosed_;
  QFrame* panel_;
  QLabel* caption_;
  QLabel* labelVersion_;
  QLabel* imageClose_;
  QTimer stepTimer_;
  QTimer closeTimer_;
  Phase phase_ = Phase::Hidden;
  std::string clickAddress_;
  int slot_ = -1;
  int restingLine_ = 0;
  bool closeLit_ = false;
};

}  // namespace tessaro
